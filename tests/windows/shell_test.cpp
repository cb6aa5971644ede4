// The shared window functions of the application shell, on real windows (offscreen).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include "UI/app_records.h"
#include "host/error.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"

using host::Array;
namespace gui = windows::gui;

namespace {

std::string text(gui::Handle h, const char* property) { return gui::get(h, property).text(); }

std::vector<gui::Handle> figures() {
    const Array children = gui::get(gui::kRoot, "Children");
    std::vector<gui::Handle> out;
    for (std::size_t i = 0; i < children.numel(); ++i) out.push_back(children.realAt(i));
    return out;
}

}  // namespace

TEST(ShellMenus, TheMenuBarHasEveryItemInOrderWithItsActionAndVisibility) {
    const gui::Handle fig = gui::figure({.name = "menus"});
    const Array headers = host::callFunction("SX_AddMenu", 1, {Array::scalar(fig)}).front();
    EXPECT_EQ(headers.fieldNames(), (std::vector<std::string>{"File", "Plot", "Config", "Special", "Help"}));
    struct Item {
        const char* label;
        const char* tag;
        const char* separator;
        const char* visible;
    };
    const std::vector<std::pair<const char*, std::vector<Item>>> expected = {
        {"File",
         {{"&New", "menuFileNew", "off", "on"},
          {"&Open...", "menuFileOpen", "off", "on"},
          {"&Save", "menuFileSave", "off", "on"},
          {"Save &As...", "menuFileSaveAs", "off", "on"},
          {"&Export Waveform...", "menuFileExportWaveform", "off", "on"},
          {"E&xit", "menuFileExit", "on", "on"}}},
        {"Plot",
         {{"&Spectrum", "menuPlotSpectrum", "off", "on"},
          {"&Waterfall", "menuPlotWaterfall", "off", "off"},
          {"&I(t) Q(t)", "menuPlotIQTime", "on", "on"},
          {"I(t) Q(t) &Overlayed", "menuPlotIQTimeSameAxes", "off", "on"},
          {"&Eye Diagram", "menuPlotEyeDiagram", "off", "off"},
          {"S&catter Diagram", "menuPlotScatterDiagram", "off", "off"},
          {"&CCDF", "menuPlotCCDF", "on", "on"},
          {"Signal &Quality...", "menuPlotSignalQuality", "off", "on"}}},
        {"Config", {{"&Sig Gen I/O", "menuConfigSigGenIO", "off", "on"}, {"Spec &An I/O", "menuConfigSpecAnIO", "off", "off"}}},
        {"Special", {{"Save &Wave...", "menuSpecialSaveWave", "off", "on"}}},
        {"Help", {{"&Help", "menuHelpHelp", "off", "on"}, {"&About", "menuHelpAbout", "off", "on"}}},
    };
    const char* topLabels[] = {"&File", "&Plot", "&Configuration", "&Special", "&Help"};
    for (std::size_t m = 0; m < expected.size(); ++m) {
        const gui::Handle top = headers.field(expected[m].first).realAt(0);
        EXPECT_EQ(text(top, "Label"), topLabels[m]);
        EXPECT_EQ(text(top, "Visible"), m == 3 ? "off" : "on") << topLabels[m];
        const std::vector<gui::Handle> items = gui::childrenOf(top);
        ASSERT_EQ(items.size(), expected[m].second.size()) << topLabels[m];
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Item& e = expected[m].second[i];
            EXPECT_EQ(text(items[i], "Label"), e.label);
            EXPECT_EQ(text(items[i], "Tag"), e.tag);
            EXPECT_EQ(text(items[i], "Separator"), e.separator) << e.tag;
            EXPECT_EQ(text(items[i], "Visible"), e.visible) << e.tag;
            EXPECT_EQ(text(items[i], "Callback"), std::string("rfCommonUI('") + e.tag + "_Callback',gcbo,[],guidata(gcbo))");
        }
    }
    EXPECT_THROW(host::callFunction("SX_AddMenu", 1, {Array::scalar(987654)}), host::Error);
    gui::deleteObject(fig);
}

TEST(ShellWindows, LoadingCentresOnTheParentAndFontsGrowOnlyAt96Dpi) {
    const gui::Handle parent = gui::figure({.name = "parent", .position = {100, 120, 700, 500}});
    const gui::Handle box = host::callFunction("loadFigure", 1, {Array::string("SX_About.fig"), Array::scalar(parent)}).front().realAt(0);
    const Array p = gui::get(box, "Position");
    EXPECT_NEAR(p.realAt(0), 100 + (700 - p.realAt(2)) / 2, 1.0);
    EXPECT_NEAR(p.realAt(1), 120 + (500 - p.realAt(3)) / 2, 1.0);
    EXPECT_EQ(text(box, "Visible"), "off");
    const Array handles = gui::guidata(box);
    ASSERT_TRUE(handles.hasField("lblRevision"));

    const gui::Handle label = handles.field("lblDate").realAt(0);
    gui::set(label, "FontSize", Array::scalar(8));
    host::callFunction("resizeAllFonts", 0, {handles});
    const double dpi = gui::get(gui::kRoot, "ScreenPixelsPerInch").realAt(0);
    EXPECT_EQ(gui::get(label, "FontSize").realAt(0), ui::enlargedFontSize(8, dpi));
    gui::deleteObject(box);
    gui::deleteObject(parent);
}

TEST(ShellWindows, AboutShowsTheRevisionByReleaseFlagAndRefusesABadParent) {
    const gui::Handle parent = gui::figure({.name = "parent", .position = {100, 100, 700, 500}});
    for (const bool release : {true, false}) {
        ui::InitializeAppInfo();
        Array app = ui::appInfoDefaults();
        app.setField("IsRelease", Array::scalar(release ? 1 : 0));
        std::string shown, title, date;
        // The box waits for its OK button: press it once the box is up.
        QTimer::singleShot(0, [&] {
            for (gui::Handle f : figures())
                if (gui::get(f, "Tag").text() == "SX_About") {
                    shown = text(gui::findByTag(f, "lblRevision"), "String");
                    title = text(f, "Name");
                    date = text(gui::findByTag(f, "lblDate"), "String");
                    qobject_cast<QAbstractButton*>(gui::widgetOf(gui::findByTag(f, "pbOK")))->click();
                }
        });
        host::callFunction("SX_About", 0, {Array::scalar(parent), app});
        EXPECT_EQ(shown, release ? "A.01.06" : "A.01.06.001  Proto");
        EXPECT_EQ(title, "1xEV Forward Link");
        EXPECT_EQ(date, "23-Aug-2002");
    }
    for (const auto& f : figures()) EXPECT_NE(gui::get(f, "Tag").text(), "SX_About");
    try {
        host::callFunction("SX_About", 0, {Array::scalar(424242)});
        ADD_FAILURE() << "a bad parent was taken";
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "Input argument must be a handle to parent");
    }
    for (const auto& f : figures()) EXPECT_NE(gui::get(f, "Tag").text(), "SX_About");
    gui::deleteObject(parent);
}

TEST(ShellWindows, SplashIsCentredVisibleAndShowsItsPicture) {
    const gui::Handle splash = host::callFunction("SX_Splash", 1, std::vector<Array>{}).front().realAt(0);
    EXPECT_EQ(text(splash, "Visible"), "on");
    const Array p = gui::get(splash, "Position");
    const Array screen = gui::get(gui::kRoot, "ScreenSize");
    EXPECT_NEAR(p.realAt(0), 1 + (screen.realAt(2) - p.realAt(2)) / 2, 1.0);
    // Reuse mode: a second call takes the same window.
    EXPECT_EQ(host::callFunction("SX_Splash", 1, std::vector<Array>{}).front().realAt(0), splash);
    gui::deleteObject(splash);
}
