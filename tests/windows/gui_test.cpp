#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenuBar>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QKeyEvent>
#include <QTimer>
#include <qcustomplot.h>

#include "error_message.h"
#include "host/console.h"
#include "host/function_table.h"
#include "windows/gui/callback.h"
#include "windows/gui/graphics.h"
#include "windows/gui/qt_dialogs.h"

using host::Array;
using namespace windows::gui;

namespace {

class Graphics : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
    void TearDown() override { closeAllFigures(); }
};

std::vector<double> values(const Array& a) {
    std::vector<double> v(a.numel());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = a.realAt(i);
    return v;
}

}  // namespace

TEST(CallbackText, TheFormsWindowsUse) {
    const ParsedCallback c = parseCallback("rfCommonUI('menuFileNew_Callback',gcbo,[],guidata(gcbo))");
    EXPECT_EQ(c.function, "rfCommonUI");
    ASSERT_EQ(c.arguments.size(), 4u);
    EXPECT_EQ(std::get<std::string>(c.arguments[0]), "menuFileNew_Callback");
    EXPECT_EQ(std::get<CallbackValue>(c.arguments[1]), CallbackValue::Gcbo);
    EXPECT_EQ(std::get<CallbackValue>(c.arguments[2]), CallbackValue::Empty);
    EXPECT_EQ(std::get<CallbackValue>(c.arguments[3]), CallbackValue::GuidataOfGcbo);

    EXPECT_EQ(parseCallback("SX_Zoom").function, "SX_Zoom");
    EXPECT_TRUE(parseCallback("SX_Zoom").arguments.empty());
    EXPECT_EQ(parseCallback("zoom out").words, std::vector<std::string>{"out"});
    EXPECT_EQ(parseCallback("print -dsetup").words, std::vector<std::string>{"-dsetup"});
    EXPECT_EQ(std::get<CallbackValue>(parseCallback("close(gcf)").arguments[0]), CallbackValue::Gcf);
    const ParsedCallback quoted = parseCallback(" f ( 'it''s' , -2.5 ) ; ");
    EXPECT_EQ(std::get<std::string>(quoted.arguments[0]), "it's");
    EXPECT_EQ(std::get<double>(quoted.arguments[1]), -2.5);

    // Nothing outside the grammar is run.
    for (const char* bad : {"system('rm -rf /')x", "f(a+b)", "f('open", "f([1 2])", "f(1) g(2)", "delete(x", "", "x = 1",
                            "guidata(h)"})
        EXPECT_NE(errorMessageOf([&] { parseCallback(bad); }).find("Invalid callback text"), std::string::npos) << bad;
}

TEST_F(Graphics, FiguresHaveHandlesAndProperties) {
    const Handle f = figure({.name = "First", .position = {100, 200, 300, 250}});
    EXPECT_TRUE(isValid(f));
    EXPECT_EQ(kindOf(f), Kind::Figure);
    EXPECT_EQ(gcf(), f);
    EXPECT_EQ(get(f, "Type").text(), "figure");
    EXPECT_EQ(get(f, "Name").text(), "First");
    EXPECT_EQ(values(get(f, "Position")), (std::vector<double>{100, 200, 300, 250}));  // bottom-left origin kept
    EXPECT_EQ(get(f, "Visible").text(), "off");  // hidden until shown
    set(f, "Visible", "on");
    EXPECT_EQ(get(f, "Visible").text(), "on");
    set(f, "Color", {0.8, 0.8, 0.8});
    EXPECT_NEAR(values(get(f, "Color"))[1], 0.8, 0.002);
    EXPECT_EQ(get(kRoot, "DefaultUicontrolBackgroundColor").numel(), 3u);
    EXPECT_GT(get(kRoot, "ScreenPixelsPerInch").realAt(0), 0);
    set(f, "Name", "Renamed");
    EXPECT_EQ(windowOf(f)->windowTitle().toStdString(), "Renamed");

    // Normalised units are fractions of the screen.
    const Handle g = figure({.name = "Second", .position = {0.1, 0.1, 0.5, 0.5}, .normalized = true});
    EXPECT_EQ(get(g, "Units").text(), "normalized");
    const auto p = values(get(g, "Position"));
    EXPECT_NEAR(p[0], 0.1, 0.002);
    EXPECT_NEAR(p[2], 0.5, 0.002);
    const auto screen = values(get(kRoot, "ScreenSize"));
    EXPECT_NEAR(windowOf(g)->width(), 0.5 * screen[2], 1);

    EXPECT_EQ(errorMessageOf([&] { get(f, "Nonsense"); }), "There is no Nonsense property on the figure class.");
    EXPECT_EQ(errorMessageOf([&] { set(f, "Visible", "maybe"); }), "Property Visible takes \"on\" or \"off\", not \"maybe\".");
    EXPECT_EQ(errorMessageOf([&] { set(f, "Position", {1, 2}); }), "Property Position takes 4 numbers, not 2.");
    EXPECT_NE(errorMessageOf([&] { get(12345, "Name"); }).find("Invalid handle"), std::string::npos);
}

TEST_F(Graphics, DeletingAFigureTakesEverythingInIt) {
    const Handle f = figure({.name = "Doomed"});
    const Handle menu = uimenu(f, {.label = "&Tools"});
    const Handle item = uimenu(menu, {.label = "&Zoom", .tag = "SX_Zoom"});
    const Handle ax = axes(f);
    const std::vector<double> x{0, 1, 2}, y{1, 0, 1};
    const Handle l = line(ax, x, y);
    EXPECT_EQ(findByTag(f, "SX_Zoom"), item);
    EXPECT_EQ(figureOf(l), f);
    EXPECT_EQ(childrenOf(f), (std::vector<Handle>{menu, ax}));
    deleteObject(f);
    for (Handle h : {f, menu, item, ax, l}) EXPECT_FALSE(isValid(h)) << h;
    EXPECT_EQ(gcf(), 0);
    EXPECT_NE(errorMessageOf([&] { deleteObject(f); }).find("Invalid handle"), std::string::npos);
}

TEST_F(Graphics, MenusRunTheirCallbackTexts) {
    const Handle f = figure({.name = "Menus"});
    const Handle file = uimenu(f, {.label = "&File"});
    const Handle tools = uimenu(f, {.label = "&Tools"});
    const Handle broken = uimenu(tools, {.label = "&Broken", .callback = "NoSuchFunction('x',gcbo)"});
    const Handle off = uimenu(tools, {.label = "&Off", .callback = "x", .separator = true, .enabled = false});
    const Handle close = uimenu(file, {.label = "&Close", .callback = "close(gcf)"});
    auto* bar = static_cast<QMainWindow*>(windowOf(f))->menuBar();
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text().toStdString(), "&File");
    EXPECT_EQ(get(off, "Enable").text(), "off");
    EXPECT_EQ(get(off, "Separator").text(), "on");
    set(off, "Checked", "on");
    EXPECT_EQ(get(off, "Checked").text(), "on");

    // An error inside a callback is printed on the console; the window stays usable.
    host::clearLastWarning();
    invokeCallback(broken);
    EXPECT_NE(host::lastWarning().find("NoSuchFunction"), std::string::npos) << host::lastWarning();
    EXPECT_TRUE(isValid(f));
    EXPECT_EQ(gcbo(), 0);  // only set while a callback runs

    // Copy puts the figure's picture on the clipboard.
    QApplication::clipboard()->clear();
    invokeCallback(uimenu(tools, {.label = "&Copy", .callback = "print -dmeta"}));
    EXPECT_FALSE(QApplication::clipboard()->pixmap().isNull());

    // Chosen from the menu: the item closes its own window from within its signal.
    static_cast<QMainWindow*>(windowOf(f))->menuBar()->actions()[0]->menu()->actions().back()->trigger();
    EXPECT_FALSE(isValid(f));
    EXPECT_FALSE(isValid(close));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(Graphics, AxesLimitsScalesAndZoomOut) {
    const Handle f = figure({.name = "Axes"});
    const Handle ax = axes(f, {0.2, 0.2, 0.6, 0.6});
    const std::vector<double> x{1, 10, 100}, y{1e-3, 1, 100};
    const Handle l = line(ax, x, y, {.red = 1, .green = 0, .blue = 1});
    set(ax, "XLim", {0, 120});
    set(ax, "YLim", {1e-3, 100});
    set(ax, "YScale", "log");
    set(ax, "Title", "T");
    EXPECT_EQ(values(get(ax, "XLim")), (std::vector<double>{0, 120}));
    EXPECT_EQ(get(ax, "YScale").text(), "log");
    EXPECT_EQ(get(ax, "Title").text(), "T");
    EXPECT_EQ(values(get(l, "Color")), (std::vector<double>{1, 0, 1}));
    EXPECT_EQ(values(get(l, "YData")), y);
    EXPECT_EQ(get(l, "Type").text(), "line");
    EXPECT_NE(errorMessageOf([&] { set(ax, "XLim", {5, 1}); }).find("two increasing finite limits"), std::string::npos);

    // The user zooms in; zoom out returns to the limits the program set.
    setMode(f, Mode::Zoom, true);
    EXPECT_EQ(mode(f), Mode::Zoom);
    plotOf(ax)->xAxis->setRange(10, 20);
    EXPECT_EQ(values(get(ax, "XLim")), (std::vector<double>{10, 20}));
    zoomOut(f);
    EXPECT_EQ(values(get(ax, "XLim")), (std::vector<double>{0, 120}));
    setMode(f, Mode::Rotate, true);  // one mode at a time
    EXPECT_EQ(mode(f), Mode::Rotate);
    setMode(f, Mode::Zoom, false);   // switching off a mode that is not on changes nothing
    EXPECT_EQ(mode(f), Mode::Rotate);
}

TEST_F(Graphics, SavesAPicture) {
    const Handle f = figure({.name = "Picture"});
    const Handle ax = axes(f);
    const std::vector<double> x{0, 1}, y{0, 1};
    line(ax, x, y);
    const std::string path = (std::filesystem::temp_directory_path() / ("brevia_picture_" + std::to_string(::getpid()) + ".png")).string();
    savePng(f, path, 320, 240);
    std::ifstream in(path, std::ios::binary);
    char magic[8] = {};
    in.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    const QImage image(QString::fromStdString(path));
    EXPECT_EQ(image.width(), 320);
    EXPECT_GT(image.height(), 200);  // the window less its (empty) menu bar
    EXPECT_LE(image.height(), 240);
    std::filesystem::remove(path);
    EXPECT_NE(errorMessageOf([&] { savePng(f, "/nonexistent/dir/x.png"); }).find("Cannot write the picture"), std::string::npos);
}

namespace {

class Layouts : public Graphics {
protected:
    void SetUp() override {
        Graphics::SetUp();
        setenv("BREVIA_LAYOUT_PATH", BREVIA_TEST_DATA_DIR "/layouts", 1);
    }
    void TearDown() override {
        unsetenv("BREVIA_LAYOUT_PATH");
        Graphics::TearDown();
    }
};

}  // namespace

TEST_F(Layouts, WindowsFromLayoutsWithTaggedControls) {
    const Handle fig = openfig("TestPanel.fig");
    EXPECT_EQ(get(fig, "Name").text(), "Test Panel");
    EXPECT_EQ(get(fig, "Visible").text(), "off");
    const Array h = guihandles(fig);
    EXPECT_EQ(h.fieldNames(), (std::vector<std::string>{"TestPanel", "menuTools", "pbPlot", "txtFrequency", "pdUnits", "cbActive",
                                                        "slGain", "txtInfo", "SX_Zoom", "SX_Rotate"}));
    const Handle edit = h.field("txtFrequency").realAt(0), popup = h.field("pdUnits").realAt(0);
    const Handle check = h.field("cbActive").realAt(0), slider = h.field("slGain").realAt(0);
    EXPECT_EQ(get(edit, "Style").text(), "edit");
    EXPECT_EQ(get(edit, "String").text(), "2.2");
    set(edit, "String", "1.9");
    EXPECT_EQ(static_cast<QLineEdit*>(widgetOf(edit))->text().toStdString(), "1.9");
    EXPECT_EQ(get(popup, "Style").text(), "popupmenu");
    EXPECT_EQ(get(popup, "Value").realAt(0), 1);
    set(popup, "Value", Array::scalar(3));
    EXPECT_EQ(get(popup, "String").cellAt(2).text(), "MHz");
    set(popup, "String", "one|two");
    EXPECT_EQ(get(popup, "String").numel(), 2u);
    EXPECT_NE(errorMessageOf([&] { set(popup, "Value", Array::scalar(5)); }).find("from 1 to 2"), std::string::npos);
    set(check, "Max", Array::scalar(5));
    set(check, "Value", Array::scalar(5));
    EXPECT_EQ(get(check, "Value").realAt(0), 5);
    set(slider, "Min", Array::scalar(-80));
    set(slider, "Max", Array::scalar(0));
    set(slider, "Value", Array::scalar(-20));
    EXPECT_NEAR(get(slider, "Value").realAt(0), -20, 0.01);
    set(edit, "Enable", "inactive");
    EXPECT_EQ(get(edit, "Enable").text(), "inactive");
    EXPECT_EQ(values(get(edit, "Position")), (std::vector<double>{10, 300 - 50 - 24, 120, 24}));
    set(edit, "TooltipString", "Sets the carrier.");
    EXPECT_EQ(widgetOf(edit)->toolTip().toStdString(), "Sets the carrier.");
    set(edit, "FontSize", Array::scalar(12));
    EXPECT_EQ(widgetOf(edit)->font().pointSizeF(), 12);
    set(edit, "Visible", "off");
    EXPECT_EQ(get(edit, "Visible").text(), "off");
    set(edit, "BackgroundColor", {1, 1, 1});
    EXPECT_EQ(values(get(edit, "BackgroundColor")), (std::vector<double>{1, 1, 1}));
    set(fig, "Pointer", "watch");
    EXPECT_EQ(windowOf(fig)->cursor().shape(), Qt::WaitCursor);
    EXPECT_NE(errorMessageOf([&] { set(edit, "FontSize", Array::scalar(-1)); }).find("FontSize"), std::string::npos);
    EXPECT_EQ(errorMessageOf([&] { get(edit, "Label"); }), "There is no Label property on the uicontrol class.");

    EXPECT_NE(errorMessageOf([] { openfig("NoSuchLayout.fig"); }).find("Cannot find the window layout NoSuchLayout.ui"), std::string::npos);
    EXPECT_NE(errorMessageOf([] { openfig("../etc/passwd"); }).find("Invalid layout name"), std::string::npos);
}

TEST_F(Layouts, ControlsAndMenusRunTheirCallbacks) {
    const Handle fig = openfig("TestPanel");
    set(fig, "Position", {100, 100, 420, 300});
    const Array h = guihandles(fig);
    guidata(fig, Array::scalar(42));
    EXPECT_EQ(guidata(h.field("txtInfo").realAt(0)).realAt(0), 42);  // any object reaches its window's data

    // The button's callback passes its window and a text: a CCDF window placed from this one.
    static_cast<QPushButton*>(widgetOf(h.field("pbPlot").realAt(0)))->click();
    const Handle plot = gcf();
    ASSERT_NE(plot, fig);
    EXPECT_EQ(get(plot, "Name").text(), "CCDF From button");
    EXPECT_EQ(values(get(plot, "Position")), (std::vector<double>{133.6, 76, 336, 240}));

    // The layout's own menu actions dispatch by name, acting on their window.
    setCurrentFigure(fig);
    invokeCallback(h.field("SX_Zoom").realAt(0));
    EXPECT_EQ(mode(fig), Mode::Zoom);
    EXPECT_EQ(get(h.field("SX_Zoom").realAt(0), "Checked").text(), "on");
}

// A wait ends by resume, by the window hidden or deleted; one on a hidden window, which
// nothing could answer, does not start. Escape in a modal window runs its close request.
TEST_F(Layouts, WaitingEndsWithResumeOrWithTheWindow) {
    const Handle fig = openfig("TestPanel");
    bool waited = false;
    QTimer::singleShot(0, [&] { waited = true; });
    uiwait(fig);
    EXPECT_FALSE(waited);
    set(fig, "WindowStyle", "modal");
    set(fig, "Visible", "on");
    EXPECT_EQ(get(fig, "WindowStyle").text(), "modal");
    EXPECT_EQ(windowOf(fig)->windowModality(), Qt::ApplicationModal);
    QTimer::singleShot(0, [fig] {
        EXPECT_TRUE(waiting(fig));
        uiresume(fig);
    });
    uiwait(fig);
    EXPECT_FALSE(waiting(fig));
    set(fig, "CloseRequestFcn", "uiresume(gcbf)");
    QTimer::singleShot(0, [fig] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(windowOf(fig), &escape);
    });
    bool rescued = false;  // a wait Escape did not end is ended here, and fails the test
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] { rescued = true; uiresume(fig); });
    rescue.start(3000);
    uiwait(fig);
    rescue.stop();
    EXPECT_FALSE(rescued);
    EXPECT_TRUE(isValid(fig));
    QTimer::singleShot(0, [fig] { set(fig, "Visible", "off"); });
    uiwait(fig);
    EXPECT_FALSE(waiting(fig));
    set(fig, "Visible", "on");
    QTimer::singleShot(0, [fig] { deleteObject(fig); });
    uiwait(fig);
    EXPECT_FALSE(isValid(fig));
}

// A layout made as a dialog (the About box) is closed whole by Escape from any of its
// controls, not left behind as an empty window.
TEST_F(Layouts, EscapeInADialogLayoutClosesItsWindow) {
    const Handle box = openfig("SX_About");
    set(box, "WindowStyle", "modal");
    set(box, "Visible", "on");
    QTimer::singleShot(0, [box] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(widgetOf(findByTag(box, "pbOK")), &escape);
    });
    QTimer rescue;  // a wait Escape did not end is ended here, and fails the test
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [box] { uiresume(box); });
    rescue.start(3000);
    uiwait(box);
    EXPECT_FALSE(isValid(box));
}

namespace {

// Acts on the modal box once it is up, as the user would; a box that never comes up is given
// up on after two seconds, and any box still open then is closed, so a test cannot hang.
void whenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        } else if (++*tries > 200) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal box came up";
        }
    });
    timer->start(10);
}

// A button's text as the user sees it: "&&" is an "&", a lone "&" marks the access key.
QString shownText(const QString& label) {
    QString out;
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i] == QLatin1Char('&') && i + 1 < label.size()) ++i;
        out += label[i];
    }
    return out;
}

void click(QWidget* modal, const QString& button) {
    for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
        if (shownText(b->text()) == button) return b->click();
    ADD_FAILURE() << "no button " << button.toStdString();
    modal->close();
}

}  // namespace

TEST_F(Graphics, QtBoxesGiveTheButtonChosenOrNothing) {
    QtDialogs boxes;
    whenModal([](QWidget* m) { click(m, "Recalc & Plot"); });
    EXPECT_EQ(boxes.question("Settings have changed.", "Waveform Not Recalculated", {"Yes", "Recalc & Plot", "Cancel"}, "Recalc & Plot"),
              "Recalc & Plot");
    whenModal([](QWidget* m) { m->close(); });
    EXPECT_EQ(boxes.question("Q", "T", {"Yes", "No"}, "Yes"), "");  // closed without a choice
    whenModal([](QWidget* m) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(m, &escape);
    });
    EXPECT_EQ(boxes.question("Q", "T", {"Calculate & Download", "Cancel"}, "Calculate & Download"), "");  // escaped

    whenModal([](QWidget* m) {
        const auto edits = m->findChildren<QLineEdit*>();
        if (edits.size() == 2) edits[1]->setText("0.5");
        static_cast<QDialog*>(m)->accept();
    });
    const auto answers = boxes.input({"Enter number of symbols:", "Enter symbol delay (0-1):"}, "Eye Diagram Configuration", {"1", "0"});
    ASSERT_TRUE(answers);
    EXPECT_EQ(*answers, (std::vector<std::string>{"1", "0.5"}));
    whenModal([](QWidget* m) { static_cast<QDialog*>(m)->reject(); });
    EXPECT_FALSE(boxes.input({"A"}, "T", {"x"}));
}
