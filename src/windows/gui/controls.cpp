// Windows loaded from Qt Designer layouts, their controls and menus as graphics objects, the
// data a window keeps for its callbacks, and waiting for a window.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QUiLoader>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "windows/gui/objects.h"

namespace windows::gui {

using namespace detail;

namespace {

// Sliders move in whole steps: this many across Min..Max.
constexpr int kSliderSteps = 10000;

std::string styleOf(const QWidget* w) {
    if (qobject_cast<const QCheckBox*>(w)) return "checkbox";
    if (qobject_cast<const QRadioButton*>(w)) return "radiobutton";
    if (qobject_cast<const QAbstractButton*>(w)) return "pushbutton";
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w)) return "edit";
    if (qobject_cast<const QLabel*>(w)) return "text";
    if (qobject_cast<const QComboBox*>(w)) return "popupmenu";
    if (qobject_cast<const QListWidget*>(w)) return "listbox";
    if (qobject_cast<const QAbstractSlider*>(w)) return "slider";
    if (qobject_cast<const QGroupBox*>(w) || qobject_cast<const QFrame*>(w)) return "frame";
    return {};
}

std::vector<std::string> itemsOf(const Array& v, std::string_view property) {
    std::vector<std::string> items;
    if (v.isCell()) {
        for (std::size_t i = 0; i < v.numel(); ++i) items.push_back(textOf(v.cellAt(i), property));
        return items;
    }
    // One text, the items separated by '|'.
    const std::string text = textOf(v, property);
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t bar = text.find('|', start);
        items.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return items;
}

Array itemsArray(const QStringList& items) {
    Array a = Array::cell(static_cast<std::size_t>(items.size()), 1);
    for (qsizetype i = 0; i < items.size(); ++i) a.cellAt(static_cast<std::size_t>(i)) = Array::string(items[i].toStdString());
    return a;
}

QStringList stringList(const std::vector<std::string>& items) {
    QStringList list;
    for (const auto& s : items) list << QString::fromStdString(s);
    return list;
}

double sliderValue(const ControlObject& c, const QAbstractSlider* s) {
    return c.min + (c.max - c.min) * s->value() / kSliderSteps;
}

// The client area of the window a control is in: positions are measured from its bottom left.
const QWidget* clientArea(const QWidget* w) {
    const auto* main = qobject_cast<const QMainWindow*>(w->window());
    return main && main->centralWidget() ? main->centralWidget() : w->window();
}

// Position in pixels within the window, from its bottom left.
Position controlPosition(const QWidget* w) {
    const QWidget* top = clientArea(w);
    const QPoint at = w->mapTo(top, QPoint(0, 0));
    const int height = top->height();
    return {static_cast<double>(at.x()), static_cast<double>(height - at.y() - w->height()), static_cast<double>(w->width()),
            static_cast<double>(w->height())};
}

Array colour(const QColor& c) { return Array::row(std::vector<double>{c.redF(), c.greenF(), c.blueF()}); }

QColor colourOf(const Array& v, std::string_view property) {
    const auto c = numbers(v, property, 3);
    for (double x : c)
        if (!(x >= 0 && x <= 1)) throw Error("Property " + std::string(property) + " takes three values from 0 to 1.");
    return QColor::fromRgbF(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]));
}

// The folders to look for layouts and their pictures in, then the ones built into the library.
QString findLayoutFile(const QString& file) {
    if (const char* path = std::getenv("BREVIA_LAYOUT_PATH"))
        for (const QString& folder : QString::fromLocal8Bit(path).split(':', Qt::SkipEmptyParts))
            if (QFile::exists(QDir(folder).filePath(file))) return QDir(folder).filePath(file);
    if (QFile::exists(":/layouts/" + file)) return ":/layouts/" + file;
    return {};
}

QString findLayout(const std::string& base) { return findLayoutFile(QString::fromStdString(base) + ".ui"); }

void connectCallback(ControlObject& c) {
    const Handle h = c.handle;
    QWidget* w = c.widget;
    auto run = [h] { invokeCallback(h); };
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QObject::connect(b, &QAbstractButton::clicked, run);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        QObject::connect(e, &QLineEdit::editingFinished, run);
    } else if (auto* p = qobject_cast<QComboBox*>(w)) {
        QObject::connect(p, &QComboBox::activated, run);
    } else if (auto* l = qobject_cast<QListWidget*>(w)) {
        QObject::connect(l, &QListWidget::itemClicked, run);
    } else if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
        s->setRange(0, kSliderSteps);
        QObject::connect(s, &QAbstractSlider::sliderReleased, run);
        // A drag reports once, on release; clicks, keys and the wheel (a move without the
        // handle held) report each step.
        QObject::connect(s, &QAbstractSlider::actionTriggered, [s, run](int action) {
            if (action != QAbstractSlider::SliderMove || !s->isSliderDown()) QMetaObject::invokeMethod(s, run, Qt::QueuedConnection);
        });
    }
}

void addControl(Handle figure, QWidget* w) {
    auto owned = std::make_unique<ControlObject>();
    ControlObject& c = add(std::move(owned), Kind::Control, figure);
    c.widget = w;
    c.tag = w->objectName().toStdString();
    c.callback = w->property("Callback").toString().toStdString();
    connectCallback(c);
}

void addMenuItems(Handle parent, QMenu* menu);

void addMenuAction(Handle parent, QAction* action) {
    if (action->isSeparator()) return;
    auto owned = std::make_unique<MenuObject>();
    MenuObject& m = add(std::move(owned), Kind::Menu, parent);
    m.action = action;
    m.menu = action->menu();
    m.label = action->text().toStdString();
    m.tag = (m.menu ? m.menu->objectName() : action->objectName()).toStdString();
    m.callback = (m.menu ? m.menu->property("Callback") : action->property("Callback")).toString().toStdString();
    const Handle h = m.handle;
    if (m.menu)
        addMenuItems(h, m.menu);
    else
        QObject::connect(action, &QAction::triggered, [h] { invokeCallback(h); });
}

void addMenuItems(Handle parent, QMenu* menu) {
    for (QAction* a : menu->actions()) addMenuAction(parent, a);
}

FigureObject& figureOfObject(Handle h) {
    const Handle f = figureOf(h);
    if (!f) throw Error("Handle " + std::to_string(h) + " is in no figure.");
    return as<FigureObject>(f, Kind::Figure, "a figure");
}

}  // namespace

namespace detail {

Array getControl(ControlObject& c, std::string_view p) {
    QWidget* w = c.widget;
    if (!w) invalidHandle(c.handle);
    if (p == "Style") return Array::string(styleOf(w));
    if (p == "Callback") return Array::string(c.callback);
    if (p == "Min") return Array::scalar(c.min);
    if (p == "Max") return Array::scalar(c.max);
    if (p == "Enable") return Array::string(!w->isEnabled() ? "off" : w->property("inactive").toBool() ? "inactive" : "on");
    if (p == "Visible") return onOffText(!w->isHidden());
    if (p == "TooltipString") return Array::string(w->toolTip().toStdString());
    if (p == "FontSize") return Array::scalar(w->font().pointSizeF());
    if (p == "Position") return positionArray(controlPosition(w));
    if (p == "BackgroundColor") return colour(w->palette().color(w->backgroundRole()));
    if (p == "ForegroundColor") return colour(w->palette().color(w->foregroundRole()));
    if (p == "String") {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return Array::string(b->text().toStdString());
        if (auto* e = qobject_cast<QLineEdit*>(w)) return Array::string(e->text().toStdString());
        if (auto* t = qobject_cast<QPlainTextEdit*>(w)) return Array::string(t->toPlainText().toStdString());
        if (auto* l = qobject_cast<QLabel*>(w)) return Array::string(l->text().toStdString());
        if (auto* g = qobject_cast<QGroupBox*>(w)) return Array::string(g->title().toStdString());
        QStringList items;
        if (auto* box = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        if (auto* list = qobject_cast<QListWidget*>(w))
            for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
        return itemsArray(items);
    }
    if (p == "Value") {
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) return Array::scalar(b->isChecked() ? c.max : c.min);
        if (auto* box = qobject_cast<QComboBox*>(w)) return Array::scalar(box->currentIndex() + 1);
        if (auto* list = qobject_cast<QListWidget*>(w)) return Array::scalar(list->currentRow() + 1);
        if (auto* s = qobject_cast<QAbstractSlider*>(w)) return Array::scalar(sliderValue(c, s));
        return Array::scalar(0);
    }
    unknownProperty(c, p);
}

void setControl(ControlObject& c, std::string_view p, const Array& v) {
    QWidget* w = c.widget;
    if (!w) invalidHandle(c.handle);
    if (p == "Callback") {
        c.callback = textOf(v, p);
    } else if (p == "Min" || p == "Max") {
        const double x = numbers(v, p, 1)[0];
        if (!std::isfinite(x)) throw Error("Property " + std::string(p) + " takes a finite number.");
        auto* s = qobject_cast<QAbstractSlider*>(w);
        const double value = s ? sliderValue(c, s) : 0;
        (p == "Min" ? c.min : c.max) = x;
        if (s && c.max > c.min) s->setValue(static_cast<int>(std::lround((value - c.min) / (c.max - c.min) * kSliderSteps)));
    } else if (p == "Enable") {
        const std::string e = textOf(v, p);
        if (e != "on" && e != "off" && e != "inactive") throw Error("Enable must be \"on\", \"off\" or \"inactive\", not \"" + e + "\".");
        w->setEnabled(e != "off");
        w->setProperty("inactive", e == "inactive");
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setReadOnly(e == "inactive");
    } else if (p == "Visible") {
        w->setVisible(onOff(v, p));
    } else if (p == "TooltipString") {
        w->setToolTip(QString::fromStdString(textOf(v, p)));
    } else if (p == "FontSize") {
        const double size = numbers(v, p, 1)[0];
        if (!(size > 0 && size < 500)) throw Error("FontSize takes a size from 0 to 500 points.");
        QFont f = w->font();
        f.setPointSizeF(size);
        w->setFont(f);
    } else if (p == "Position") {
        const Position pos = positionOf(v, p);
        const QWidget* area = clientArea(w);
        const int height = area->height();
        const QPoint topLeft = w->parentWidget()->mapFrom(area, QPoint(static_cast<int>(std::lround(pos.left)),
                                                                               height - static_cast<int>(std::lround(pos.bottom + pos.height))));
        w->setGeometry(QRect(topLeft, QSize(static_cast<int>(std::lround(pos.width)), static_cast<int>(std::lround(pos.height)))));
    } else if (p == "BackgroundColor" || p == "ForegroundColor") {
        QPalette palette = w->palette();
        palette.setColor(p == "BackgroundColor" ? w->backgroundRole() : w->foregroundRole(), colourOf(v, p));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
    } else if (p == "String") {
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            const QSignalBlocker quiet(box);
            box->clear();
            box->addItems(stringList(itemsOf(v, p)));
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            const QSignalBlocker quiet(list);
            list->clear();
            list->addItems(stringList(itemsOf(v, p)));
        } else {
            // A list of lines shows as lines; one text as it is.
            std::string text;
            if (v.isCell()) {
                for (const auto& item : itemsOf(v, p)) text += (text.empty() ? "" : "\n") + item;
            } else {
                text = textOf(v, p);
            }
            const QString q = QString::fromStdString(text);
            if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(q);
            else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(q);
            else if (auto* t = qobject_cast<QPlainTextEdit*>(w)) t->setPlainText(q);
            else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(q);
            else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(q);
        }
    } else if (p == "Value") {
        const double x = numbers(v, p, 1)[0];
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
            const QSignalBlocker quiet(b);
            b->setChecked(x == c.max);
        } else if (auto* box = qobject_cast<QComboBox*>(w)) {
            if (!(x >= 1 && x <= box->count() && x == std::floor(x)))
                throw Error("Value of a pop-up list must be an item number from 1 to " + std::to_string(box->count()) + ".");
            const QSignalBlocker quiet(box);
            box->setCurrentIndex(static_cast<int>(x) - 1);
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            if (!(x >= 1 && x <= list->count() && x == std::floor(x)))
                throw Error("Value of a list must be an item number from 1 to " + std::to_string(list->count()) + ".");
            const QSignalBlocker quiet(list);
            list->setCurrentRow(static_cast<int>(x) - 1);
        } else if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
            if (!(x >= c.min && x <= c.max)) throw Error("Value of a slider must lie within Min and Max.");
            const QSignalBlocker quiet(s);
            s->setValue(c.max > c.min ? static_cast<int>(std::lround((x - c.min) / (c.max - c.min) * kSliderSteps)) : 0);
        }
    } else {
        unknownProperty(c, p);
    }
}

}  // namespace detail

namespace {

class EscapeToWindow : public QObject {
public:
    EscapeToWindow(QWidget* window, QObject* parent) : QObject(parent), window_(window) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape || !window_) return false;
        QApplication::sendEvent(window_, e);
        return true;
    }

private:
    QPointer<QWidget> window_;
};

}  // namespace

QWidget* loadLayoutWidget(std::string_view name, QWidget* parent) {
    ensureApplication();
    const QString path = findLayout(std::string(name));
    if (path.isEmpty()) throw Error("Cannot find the window layout " + std::string(name) + ".ui.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw Error("Cannot read the window layout " + path.toStdString() + ".");
    QUiLoader loader;
    QWidget* form = loader.load(&file, parent);
    if (!form) throw Error("The window layout " + path.toStdString() + " is not valid: " + loader.errorString().toStdString());
    return form;
}

Handle openfig(std::string_view nameText) {
    ensureApplication();
    std::string base(nameText);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".fig") == 0) base.resize(base.size() - 4);
    if (base.empty() || base.find('/') != std::string::npos)
        throw Error("Invalid layout name \"" + std::string(nameText) + "\".");
    const QString path = findLayout(base);
    if (path.isEmpty()) throw Error("Cannot find the window layout " + base + ".ui (searched BREVIA_LAYOUT_PATH and the built-in layouts).");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw Error("Cannot read the window layout " + path.toStdString() + ".");
    QUiLoader loader;
    QWidget* form = loader.load(&file);
    if (!form) throw Error("The window layout " + path.toStdString() + " is not valid: " + loader.errorString().toStdString());

    const Handle fig = figure({.name = form->windowTitle().toStdString()});
    auto& f = as<FigureObject>(fig, Kind::Figure, "a figure");
    f.tag = form->objectName().toStdString();
    QWidget* canvas = f.window->centralWidget();
    const QSize size = form->size();
    // A main-window layout gives its menu bar to the figure and its central widget to the canvas.
    QWidget* content = form;
    if (auto* main = qobject_cast<QMainWindow*>(form)) {
        if (QMenuBar* bar = main->menuBar(); bar && !bar->actions().isEmpty()) {
            for (QAction* a : bar->actions()) addMenuAction(fig, a);
            f.window->setMenuBar(main->menuBar());
        }
        content = main->takeCentralWidget();
        // The layout's actions belong to its window, which goes now: they move to the figure.
        for (QAction* a : main->findChildren<QAction*>(Qt::FindDirectChildrenOnly)) a->setParent(f.window);
        delete main;
    }
    // A dialog layout would hide its own content on Escape and leave an empty window: the key
    // goes to the window, which treats it as any window does.
    if (qobject_cast<QDialog*>(content)) content->installEventFilter(new EscapeToWindow(f.window, content));
    auto* layout = new QVBoxLayout(canvas);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    for (QWidget* w : content->findChildren<QWidget*>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") && !styleOf(w).empty()) addControl(fig, w);
    const int menuHeight = f.window->menuBar()->actions().isEmpty() ? 0 : f.window->menuBar()->sizeHint().height();
    f.window->resize(size.width(), size.height() + menuHeight);
    // Lay the window out now, hidden as it is, so that controls know their places at once.
    f.window->layout()->activate();
    canvas->layout()->activate();
    return fig;
}

// A tag that can name a record field: a letter, then letters, digits and underscores.
bool fieldName(const std::string& tag) {
    if (tag.empty() || std::isalpha(static_cast<unsigned char>(tag[0])) == 0) return false;
    return std::all_of(tag.begin(), tag.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; });
}

Array guihandles(Handle figureHandle) {
    as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    Array handles = Array::structure();
    std::vector<Handle> pending{figureHandle};
    while (!pending.empty()) {
        const Handle h = pending.front();
        pending.erase(pending.begin());
        const Object& o = object(h);
        if (fieldName(o.tag) && !handles.hasField(o.tag)) handles.setField(o.tag, Array::scalar(h));
        pending.insert(pending.end(), o.children.begin(), o.children.end());
    }
    return handles;
}

void guidata(Handle h, const Array& data) { figureOfObject(h).guiData = data; }
Array guidata(Handle h) { return figureOfObject(h).guiData; }

namespace {

// Ends a wait when its window is hidden: nothing on the screen could answer it any more.
class EndWaitWhenHidden : public QObject {
public:
    explicit EndWaitWhenHidden(QEventLoop* loop) : loop_(loop) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Hide && loop_) loop_->quit();
        return false;
    }

private:
    QPointer<QEventLoop> loop_;
};

}  // namespace

void uiwait(Handle figureHandle) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    if (f.waiting) return;                          // already waited on further up
    if (!f.window || !f.window->isVisible()) return;  // a hidden window would be waited on forever
    const QPointer<QWidget> before = QApplication::activeWindow();
    QEventLoop loop;
    f.waiting = &loop;
    EndWaitWhenHidden watcher(&loop);
    const QPointer<QMainWindow> window = f.window;
    window->installEventFilter(&watcher);
    loop.exec();
    if (window) window->removeEventFilter(&watcher);
    // The window that had the keyboard gets it back once the dialog has gone: without a window
    // manager to hand it on, its access keys would stay dead until it was clicked.
    if (before && before != window)
        QTimer::singleShot(0, before, [before] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!before || !before->isVisible() || (modal && modal != before)) return;
            before->activateWindow();
            // Where the keyboard focus never left it, no focus event will tell Qt so.
            QApplication::setActiveWindow(before);
        });
    // The figure may be gone by now: look it up again rather than trusting `f`.
    if (Object* o = lookup(figureHandle); o && o->kind == Kind::Figure) static_cast<FigureObject*>(o)->waiting = nullptr;
}

bool waiting(Handle figureHandle) { return as<FigureObject>(figureHandle, Kind::Figure, "a figure").waiting != nullptr; }

void uiresume(Handle figureHandle) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    if (f.waiting) f.waiting->quit();
}

QWidget* widgetOf(Handle h) { return as<ControlObject>(h, Kind::Control, "a control").widget; }

void setImage(Handle control, const std::string& file) {
    QWidget* w = widgetOf(control);
    const QString path = findLayoutFile(QString::fromStdString(file));
    if (path.isEmpty()) throw Error("Cannot find the picture " + file + " (searched BREVIA_LAYOUT_PATH and the built-in layouts).");
    const QPixmap picture(path);
    if (picture.isNull()) throw Error("Cannot read the picture " + path.toStdString() + ".");
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setPixmap(picture);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.size());
    } else {
        throw Error("A picture can be shown on a label or a button, not on " + std::string(w->metaObject()->className()) + ".");
    }
}

void raise(Handle figureHandle) {
    QWidget* w = windowOf(figureHandle);
    w->raise();
    w->activateWindow();
}

}  // namespace windows::gui
