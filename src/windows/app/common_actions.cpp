// The common actions of the application, the same for every signal format: Calculate,
// Download and Refresh, the File, Plot, Configuration, Special and Help menus, the window
// title, whether the stored waveform still matches the settings, and shutdown.

#include <QApplication>
#include <QEventLoop>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>
#include <span>

#include "MexIO/download_action.h"
#include "MexIO/download_play.h"
#include "UI/status_line.h"
#include "windows/app/instrument_work.h"
#include "windows/app/status_line.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/frame_builder.h"
#include "OneX/signal_quality.h"
#include "UI/app_records.h"
#include "UI/file_actions.h"
#include "UI/parameter_file.h"
#include "UI/sig_gen_panel.h"
#include "host/dialogs.h"
#include "host/records.h"
#include "host/text.h"
#include "windows/app/module.h"
#include "windows/plots/plots.h"

namespace windows::app {

// The application's logic without a display (src/UI) and the plot windows, by their short names.
using namespace ::ui;
using namespace windows::plots;

namespace {



std::string textArgument(Arguments a, std::size_t i, const char* function) {
    const Array& v = argument(a, i, function);
    if (!v.isChar()) throw host::Error(std::string(function) + ": argument " + std::to_string(i + 1) + " must be text.");
    return v.text();
}

void redrawAppTitle(const Array& handles) {
    std::string title = "Veltrac - " + host::record("appInfo").field("Name").text();
    const Array* last = host::record("configuration").findField("LastParameterFilename");
    if (last && last->isChar() && !last->text().empty()) title += " : " + last->text();
    gui::set(tagged(handles, "main"), "Name", title);
}

void initializeCommonFigure(const Array& handles) {
    try {
        // A file saved before the dialog ever ran holds the initial form.
        if (Array saved = ui::loadConfig(); !saved.isEmpty()) host::record("configuration") = mexio::structuredConfiguration(saved);
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;  // a damaged saved configuration leaves the defaults
    }
    setTooltips(handles, {{"pbCalculate", "Calculates the waveform based\non current settings."},
                          {"pbDownload", "Downloads the current waveform and\nsettings to the Orvex."},
                          {"pbRefresh", "Downloads just the current settings\nto the Orvex."},
                          {"txtEvent1", "Description of the signal available on\nthe Event 1 Connector of the rear panel."},
                          {"txtEvent2", "Description of the signal available on\nthe Event 2 Connector of the rear panel."},
                          {"txtNumberOfSamples", "The number of samples generated \nby the current settings.\n(An Orvex can hold up to 1 M samples.)"}});
    // The status line's parts show once they have something to say.
    for (const StatusPart part : {StatusPart::Calculation, StatusPart::File, StatusPart::Instrument, StatusPart::Error}) showStatus(part, "");
}

void appShutDown() {
    Array& info = host::record("appInfo");
    const Array windows = info.field("ClientWindows");
    for (std::size_t i = 0; i < windows.numel(); ++i)
        if (gui::isValid(windows.realAt(i)) && gui::kindOf(windows.realAt(i)) == gui::Kind::Figure) gui::deleteObject(windows.realAt(i));
    info.setField("ClientWindows", Array());
    try {
        ui::saveConfig(host::record("configuration"));
    } catch (const std::exception&) {
        // The configuration is saved where it can be; the application closes either way.
    }
    const Handle source = gui::gcbo();
    const Handle fig = source ? gui::figureOf(source) : gui::gcf();
    if (fig && gui::isValid(fig)) {
        const Array handles = gui::guihandles(fig);
        if (const Array* main = handles.findField("main"); main && gui::isValid(main->realAt(0))) gui::deleteObject(main->realAt(0));
    }
}

// The wall clock as the host gives it: year, month, day, hour, minute and seconds.
Array clockNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const double fraction = std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(t)).count();
    return Array::row(std::vector<double>{local.tm_year + 1900.0, local.tm_mon + 1.0, static_cast<double>(local.tm_mday),
                                          static_cast<double>(local.tm_hour), static_cast<double>(local.tm_min), local.tm_sec + fraction});
}

// Restores a window's pointer when the action ends, however it ends.
class BusyPointer {
public:
    explicit BusyPointer(Handle fig) : fig_(fig), previous_(gui::get(fig, "Pointer").text()) {
        gui::set(fig_, "Pointer", "watch");
        // The pointer shows before the work; a second click meanwhile waits its turn rather
        // than running the action again inside this one.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~BusyPointer() {
        if (gui::isValid(fig_)) gui::set(fig_, "Pointer", previous_);
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    Handle fig_;
    std::string previous_;
};

// What the application module's Calculate gave: 1 and no message, or 0 and the error. A
// dispatcher that failed before reaching it gives nothing, which is a failure too.
std::optional<std::string> calculationFailure(const std::vector<Array>& got, const std::string& module) {
    if (!got.empty() && got[0].isNumeric() && got[0].numel() == 1 && got[0].realAt(0) == 1) return std::nullopt;
    if (got.size() > 1 && got[1].isChar() && !got[1].text().empty()) return got[1].text();
    return "The calculation did not run: " + module + " gave no result (the console says why).";
}

// Calculate: the frame from the parameter set, then the bookkeeping that tells later actions
// whether the waveform still matches the settings. A failed calculation leaves both as they
// were, says why in a box, and stops the action that asked for it.
bool executeCalculation(const Array& handles) {
    const Handle fig = gui::gcbo() ? gui::figureOf(gui::gcbo()) : tagged(handles, "main");
    Array& info = host::record("appInfo");
    const std::string module = info.field("ApplicationFunction").text();
    std::optional<std::string> failure;
    const auto started = std::chrono::steady_clock::now();
    {
        const BusyPointer busy(fig);
        try {
            failure = calculationFailure(host::callFunction(module, 2, {Array::string("Calculate")}), module);
        } catch (const std::exception& e) {
            std::cerr << e.what() << std::endl;
            failure = std::string("The calculation did not run: ") + e.what();
        }
    }
    if (failure) {
        showStatusNow(StatusPart::Error, "Calculation failed", *failure);
        host::dialogs().message(*failure, "Calculation Failed", host::MessageIcon::Error);
        return false;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    showStatus(StatusPart::Calculation, status::calculation(std::time(nullptr), took, host::record("waveform").numel()));
    info.setField("LastCalcTimeStamp", clockNow());
    info.setField("LastCaluclatedParameterSet", parameters());
    return true;
}

// Whether an action may go on with the waveform: offers to calculate first when nothing has
// been calculated, or when the settings changed since.
bool checkWaveformReady(const Array& handles, const std::string& action) {
    const Array& info = host::record("appInfo");
    if (info.field("LastCalcTimeStamp").isEmpty()) {
        const std::string go = "Calculate & " + action;
        const std::string answer = host::dialogs().question(
            "The waveform has not yet been calculated. Do you wish to calculate\nthe waveform and then " + host::lowerCase(action) + " ?",
            "Waveform Not Calculated", {go, "Cancel"}, go);
        // Only the button goes ahead: a box closed or escaped is a Cancel.
        return answer == go && executeCalculation(handles);
    }
    if (!compareStruct(info.field("LastCaluclatedParameterSet"), parameters())) {
        const std::string recalc = "Recalc & " + action;
        const std::string answer = host::dialogs().question(
            "Settings have changed since last calculating the waveform.\n" + action + " will use the last calculated waveform.\nDo you wish to " +
                host::lowerCase(action) + " anyway ?",
            "Waveform Not Recalculated", {"Yes", recalc, "Cancel"}, recalc);
        if (answer == recalc) return executeCalculation(handles);
        return answer == "Yes";
    }
    return true;
}

// The plots: the samples on the converter's 14-bit grid, titled with the time, the window
// remembered so that shutdown closes it.
void plot(const Array& handles, const std::function<std::vector<Array>(const Array& title, const Array& samples, double rate)>& draw) {
    if (!checkWaveformReady(handles, "Plot")) return;
    Array now = clockNow();
    now.setReal(5, std::floor(now.realAt(5)));
    const Array title = Array::string(host::record("appInfo").field("Name").text() + " (" + clock2str(now) + ")");
    const host::ComplexVector quantised = mexio::applyDacRes(host::complexVector(host::record("waveform"), {"plot", "waveform"}), 14);
    const Array samples = Array::row(std::span<const std::complex<double>>(quantised));
    const std::vector<Array> got = draw(title, samples, host::record("SigGenSettings").field("SamplingRate").realAt(0));
    if (got.empty() || got[0].isEmpty()) return;
    Array& info = host::record("appInfo");
    std::vector<double> windows;
    const Array& open = info.field("ClientWindows");
    for (std::size_t i = 0; i < open.numel(); ++i) windows.push_back(open.realAt(i));
    windows.push_back(got[0].realAt(0));
    info.setField("ClientWindows", Array::row(windows));
}

// Makes the frame's parameter set the application's for as long as it lives: the
// equaliser's design follows the application's filter choice, which must be the frame's.
class ParametersOfTheFrame {
public:
    explicit ParametersOfTheFrame(const Array& made) : saved_(parameters()) { parameters() = made; }
    ~ParametersOfTheFrame() { parameters() = std::move(saved_); }
    ParametersOfTheFrame(const ParametersOfTheFrame&) = delete;
    ParametersOfTheFrame& operator=(const ParametersOfTheFrame&) = delete;

private:
    Array saved_;
};

// The signal-quality report of the waveform (on the converter's grid, as the plots show it)
// against the ideal chips of the set it was calculated from.
std::vector<Array> plotSignalQuality(Handle main, const Array& title, const Array& samples) {
    onex::quality::Report report;
    {
        const BusyPointer busy(main);
        const Array made = host::record("appInfo").field("LastCaluclatedParameterSet");
        const ParametersOfTheFrame frame(made);
        const onex::FrameInputs in = onex::frameInputsFromParameters(made);
        const onex::ChipFrame chips = onex::buildChipFrame(in);
        report = onex::quality::analyzeFrame(host::complexVector(samples, {"Signal Quality", "waveform"}), chips, in,
                                             onex::quality::deterministicChips(in));
    }
    return {Array::scalar(SX_PlotSignalQuality(main, title.text(), report))};
}

// The eye and scatter diagrams' two answers, or nothing when cancelled. An answer with no
// number in it is taken as its default, as a box keeps its value.
std::optional<std::array<double, 2>> askTwo(const char* title, const char* first, const char* second) {
    const auto answers = host::dialogs().input({first, second}, title, {"1", "0"});
    if (!answers || answers->empty()) return std::nullopt;
    std::array<double, 2> numbers{1, 0};
    for (std::size_t i = 0; i < numbers.size() && i < answers->size(); ++i)
        numbers[i] = host::largestNumber((*answers)[i]).value_or(numbers[i]);
    return numbers;
}

// ---- the instrument --------------------------------------------------------------------

std::string replyText(const mexio::Reply& r) { return r.response.isChar() ? r.response.text() : std::string("The instrument gave no reason."); }

// Download: the waveform, corrected for the instrument when it has correction data, then the
// play settings; one box says how it went.
void download(const Array& handles) {
    if (!checkWaveformReady(handles, "Download")) return;
    mexio::DownloadOutcome out;
    {
        const BusyPointer busy(tagged(handles, "main"));
        // The work has its own copies: the records stay the window thread's.
        runInstrumentWork([&out, waveform = host::record("waveform"), markers = host::record("markers"),
                               settings = host::record("SigGenSettings"), config = host::record("configuration")] {
            out = mexio::downloadWaveform(waveform, markers, settings, config, true);
        });
    }
    if (out.download.status != 0) {
        showStatusNow(StatusPart::Instrument, "Download failed", replyText(out.download));
        host::dialogs().message(replyText(out.download), mexio::kDownloadFailedTitle, host::MessageIcon::Error);
    } else if (out.play.status != 0) {
        showStatusNow(StatusPart::Instrument, "Instrument setup failed", replyText(out.play));
        host::dialogs().message(replyText(out.play), mexio::kSetupFailedTitle, host::MessageIcon::Error);
    } else {
        showStatusNow(StatusPart::Instrument, "Download", mexio::kDownloadCompleted);
        host::dialogs().message(mexio::kDownloadCompleted, "Download Completed", host::MessageIcon::Information);
    }
}

// Refresh: only the settings go to the instrument.
void refresh() {
    mexio::Reply r;
    runInstrumentWork([&r, settings = host::record("SigGenSettings"), config = host::record("configuration")] {
        r = mexio::OrvexPlay(settings.field("Title").text(), settings, config);
    });
    if (r.status != 0) {
        showStatusNow(StatusPart::Instrument, "Refresh failed", replyText(r));
        host::dialogs().message(replyText(r), mexio::kSetupFailedTitle, host::MessageIcon::Error);
    } else {
        showStatusNow(StatusPart::Instrument, "Refresh", "the instrument plays the settings");
    }
}

// ---- files -------------------------------------------------------------------------------

std::string parameterExtension() { return host::record("appInfo").field("ParameterFileExtension").text(); }
void setLastParameterFilename(const std::string& name) { host::record("configuration").setField("LastParameterFilename", Array::string(name)); }
void callApplication(const char* action, std::vector<Array> rest = {}) {
    callModule(host::record("appInfo").field("ApplicationFunction").text().c_str(), action, std::move(rest));
}

// Replaces the parameter set (and the generator settings, when the file has them) by a
// file's, then redraws the window.
bool loadParameters(const std::string& name, const Array& handles) {
    std::optional<ParameterFile> file = ui::loadParameters(name, parameters().field("ParameterFileFormat_ID").text());
    if (!file) return false;
    // A file without generator settings keeps the current ones rather than emptying them.
    const bool withSettings = file->sigGen.isStruct() && file->sigGen.fieldCount() > 0;
    if (withSettings) {
        // Nothing out of the panel's ranges goes on to an instrument; the console says what moved.
        try {
            for (const std::string& note : panel::limitSettings(file->sigGen, false)) std::cerr << name << ": " << note << std::endl;
        } catch (const host::Error& e) {
            host::dialogs().message(name + "\n" + e.what(), kLoadErrorTitle, host::MessageIcon::Error);
            return false;
        }
    }
    parameters() = std::move(file->parameters);
    if (withSettings) host::record("SigGenSettings") = std::move(file->sigGen);
    callApplication("redraw", {handles});
    return true;
}

void showWaveformWritten(const std::string& path) {
    showStatusNow(StatusPart::File, "Exported", std::to_string(host::record("waveform").numel()) + " samples to " + path);
}

void fileNew(const Array& handles) {
    setLastParameterFilename("");
    callApplication("InitializeParameters");
    callApplication("InitializeSigGenSettings");
    callApplication("redraw", {handles});
}

void fileOpen(const Array& handles) {
    const std::string ext = parameterExtension();
    const std::optional<host::FileChoice> choice = host::dialogs().openFile("*" + ext, "Open");
    if (!choice) return;
    const std::string name = addFileExtention(choice->path(), ext);
    if (!loadParameters(name, handles)) return;
    setLastParameterFilename(name);
    redrawAppTitle(handles);
}

void fileSaveAs(const Array& handles, bool mayExport) {
    const std::string ext = parameterExtension();
    const std::optional<host::FileChoice> choice = host::dialogs().saveFile("*" + ext, "Save As");
    if (!choice) return;
    if (const std::optional<std::string> target = mayExport ? exportTarget(*choice) : std::nullopt) {
        // An export is a save of the waveform: stale or never calculated, it asks first.
        if (checkWaveformReady(handles, "Save") && ui::saveWaveform(*target, host::record("waveform"))) showWaveformWritten(*target);
        return;
    }
    const std::string name = addFileExtention(choice->path(), ext);
    // Only a file that was written becomes the window's: a failed Save As leaves the title,
    // and the next Save, with the file it had.
    if (!ui::saveParameters(name, parameters(), host::record("SigGenSettings"))) return;
    showStatusNow(StatusPart::File, "Saved", name);
    setLastParameterFilename(name);
    redrawAppTitle(handles);
}

void fileSave(const Array& handles) {
    const Array* last = host::record("configuration").findField("LastParameterFilename");
    if (!last || !last->isChar() || last->text().empty()) return fileSaveAs(handles, false);
    if (ui::saveParameters(last->text(), parameters(), host::record("SigGenSettings"))) showStatusNow(StatusPart::File, "Saved", last->text());
}

// File > Export Waveform...: the waveform in the file type chosen in the dialog.
void fileExportWaveform(const Array& handles) {
    if (!checkWaveformReady(handles, "Export")) return;
    const std::optional<host::FileChoice> choice = host::dialogs().saveFile(ui::exportFilter(), "Export Waveform");
    if (!choice) return;
    const BusyPointer busy(tagged(handles, "main"));
    const Array& made = host::record("appInfo").field("LastCaluclatedParameterSet");
    if (const auto written = ui::exportWaveform(*choice, host::record("waveform"), made, host::record("SigGenSettings")))
        showWaveformWritten(*written);
}

// Special > Save Wave: the waveform's I and Q with its sample count and rate.
void specialSaveWave(const Array& handles) {
    if (!checkWaveformReady(handles, "Save")) return;
    const std::optional<host::FileChoice> choice = host::dialogs().saveFile("*.txt", "Save Wave");
    if (!choice) return;
    const BusyPointer busy(tagged(handles, "main"));
    if (ui::specialSave(choice->path(), host::record("waveform"), host::record("SigGenSettings").field("SamplingRate").realAt(0)))
        showWaveformWritten(choice->path());
}


Locals rfCommonUILocals() {
    auto handlesOf = [](Arguments a, std::size_t i, const char* f) -> const Array& { return argument(a, i, f); };
    auto plotAction = [=](const char* name, std::function<std::vector<Array>(Handle, const Array&, const Array&, double)> draw) {
        return [=](int, Arguments a) {
            const Array& handles = handlesOf(a, 2, name);
            const Handle main = tagged(handles, "main");
            plot(handles, [&](const Array& title, const Array& samples, double rate) { return draw(main, title, samples, rate); });
            return std::vector<Array>{};
        };
    };
    auto scalar = [](double v) { return Array::scalar(v); };
    Locals l = {
        {"menuPlotSpectrum_Callback", plotAction("menuPlotSpectrum_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             return host::callFunction("SX_PlotSpectrum", 1, {scalar(m), t, scalar(r), s});
         })},
        {"menuPlotWaterfall_Callback", plotAction("menuPlotWaterfall_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             return host::callFunction("SX_PlotWaterfall", 1, {scalar(m), t, scalar(r), scalar(static_cast<double>(s.numel()) / r / 200), s});
         })},
        {"menuPlotIQTime_Callback", plotAction("menuPlotIQTime_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             return host::callFunction("SX_PlotIQTime", 1, {scalar(m), t, scalar(r), scalar(0), s});
         })},
        {"menuPlotIQTimeSameAxes_Callback", plotAction("menuPlotIQTimeSameAxes_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             return host::callFunction("SX_PlotIQTime", 1, {scalar(m), t, scalar(r), scalar(1), s});
         })},
        {"menuPlotSignalQuality_Callback", plotAction("menuPlotSignalQuality_Callback", [=](Handle m, const Array& t, const Array& s, double) {
             return plotSignalQuality(m, t, s);
         })},
        {"menuPlotCCDF_Callback", plotAction("menuPlotCCDF_Callback", [=](Handle m, const Array& t, const Array& s, double) {
             return host::callFunction("SX_PlotCCDF", 1, {scalar(m), t, s});
         })},
        {"menuPlotEyeDiagram_Callback", plotAction("menuPlotEyeDiagram_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             const auto tmp = askTwo("Eye Diagram Configuration", "Enter number of symbols:", "Enter symbol delay (0-1):");
             if (!tmp) return std::vector<Array>{};
             const BusyPointer busy(m);
             const double os = field("OverSampling");
             const double numSym = std::min(std::round(std::max((*tmp)[0], 1.0)), static_cast<double>(s.numel()) / os);
             const double delay = std::round(std::min(std::max((*tmp)[1], 0.0), 1.0) * os);
             return host::callFunction("SX_PlotEyeDiagram", 1, {scalar(m), t, s, scalar(numSym * os), scalar(numSym * os / r), scalar(delay)});
         })},
        {"menuPlotScatterDiagram_Callback", plotAction("menuPlotScatterDiagram_Callback", [=](Handle m, const Array& t, const Array& s, double) {
             const auto tmp = askTwo("Scatter Diagram Configuration", "Trace On (0|1):", "Enter symbol delay (0-1):");
             if (!tmp) return std::vector<Array>{};
             const BusyPointer busy(m);
             const double os = field("OverSampling");
             const double traceOn = std::min(std::max((*tmp)[0], 0.0), 1.0);
             const double delay = std::round(std::min(std::max((*tmp)[1], 0.0), 1.0) * os);
             return host::callFunction("SX_PlotScatterDiagram", 1, {scalar(m), t, s, scalar(os), scalar(delay), scalar(traceOn)});
         })},
        {"pbDownload_Callback", [=](int, Arguments a) { download(handlesOf(a, 2, "pbDownload_Callback")); return std::vector<Array>{}; }},
        {"pbRefresh_Callback", [](int, Arguments) { refresh(); return std::vector<Array>{}; }},
        {"menuFileNew_Callback", [=](int, Arguments a) { fileNew(handlesOf(a, 2, "menuFileNew_Callback")); return std::vector<Array>{}; }},
        {"menuFileOpen_Callback", [=](int, Arguments a) { fileOpen(handlesOf(a, 2, "menuFileOpen_Callback")); return std::vector<Array>{}; }},
        {"menuFileSave_Callback", [=](int, Arguments a) { fileSave(handlesOf(a, 2, "menuFileSave_Callback")); return std::vector<Array>{}; }},
        {"menuFileSaveAs_Callback", [=](int, Arguments a) { fileSaveAs(handlesOf(a, 2, "menuFileSaveAs_Callback"), true); return std::vector<Array>{}; }},
        {"menuFileExportWaveform_Callback", [=](int, Arguments a) {
             fileExportWaveform(handlesOf(a, 2, "menuFileExportWaveform_Callback"));
             return std::vector<Array>{};
         }},
        {"menuSpecialSaveWave_Callback", [=](int, Arguments a) { specialSaveWave(handlesOf(a, 2, "menuSpecialSaveWave_Callback")); return std::vector<Array>{}; }},
        {"addFileExtention", [](int, Arguments a) {
             return std::vector<Array>{Array::string(addFileExtention(textArgument(a, 0, "addFileExtention"), textArgument(a, 1, "addFileExtention")))};
         }},
        {"saveParameters", [](int, Arguments a) {
             ui::saveParameters(textArgument(a, 0, "saveParameters"), argument(a, 1, "saveParameters"), argument(a, 2, "saveParameters"));
             return std::vector<Array>{};
         }},
        {"loadParameters", [=](int, Arguments a) {
             return std::vector<Array>{Array::scalar(loadParameters(textArgument(a, 0, "loadParameters"), handlesOf(a, 1, "loadParameters")))};
         }},
        {"saveWaveform", [](int, Arguments a) { ui::saveWaveform(textArgument(a, 0, "saveWaveform"), host::record("waveform")); return std::vector<Array>{}; }},
        {"saveConfig", [](int, Arguments a) { ui::saveConfig(argument(a, 0, "saveConfig")); return std::vector<Array>{}; }},
        {"loadConfig", [](int, Arguments) { return std::vector<Array>{ui::loadConfig()}; }},
        {"InitializeFigure", [=](int, Arguments a) { initializeCommonFigure(handlesOf(a, 0, "InitializeFigure")); return std::vector<Array>{}; }},
        {"redrawAppTitle", [=](int, Arguments a) { redrawAppTitle(handlesOf(a, 0, "redrawAppTitle")); return std::vector<Array>{}; }},
        {"menuHelpHelp_Callback", [](int, Arguments) {
             host::dialogs().message("HTML help is not available in this version.", "Option unavailable", host::MessageIcon::None);
             return std::vector<Array>{};
         }},
        {"menuHelpAbout_Callback", [=](int, Arguments a) {
             const Array& handles = handlesOf(a, 2, "menuHelpAbout_Callback");
             host::callFunction("SX_About", 0, {Array::scalar(tagged(handles, "main")), host::record("appInfo")});
             return std::vector<Array>{};
         }},
        {"menuFileExit_Callback", [](int, Arguments) { appShutDown(); return std::vector<Array>{}; }},
        {"executeCalculation", [=](int, Arguments a) {
             return std::vector<Array>{Array::scalar(executeCalculation(handlesOf(a, 0, "executeCalculation")))};
         }},
        {"pbCalculate_Callback", [=](int, Arguments a) { executeCalculation(handlesOf(a, 2, "pbCalculate_Callback")); return std::vector<Array>{}; }},
        {"checkWaveformReady", [=](int, Arguments a) {
             return std::vector<Array>{Array::scalar(checkWaveformReady(handlesOf(a, 0, "checkWaveformReady"), argument(a, 1, "checkWaveformReady").text()))};
         }},
        {"menuConfigSigGenIO_Callback", [=](int, Arguments a) {
             try {
                 const Array& handles = handlesOf(a, 2, "menuConfigSigGenIO_Callback");
                 Array& configuration = host::record("configuration");
                 const std::vector<Array> got = host::callFunction(
                     "SX_SigGen", 2, {Array::scalar(tagged(handles, "main")), configuration, host::record("appInfo").field("Platform")});
                 if (got[0].isChar() && got[0].text() == "OK") configuration = got[1];
             } catch (const std::exception&) {
                 // As specified: the connection stays as it was.
             }
             return std::vector<Array>{};
         }},
        {"menuConfigSpecAnIO_Callback", [=](int, Arguments a) {
             // The same dialog, titled for the analyzer by its title argument rather than by
             // rewriting its layout file, on the analyzer's connection (never saved).
             try {
                 const Array& handles = handlesOf(a, 2, "menuConfigSpecAnIO_Callback");
                 Array& analyzer = host::record("configurationSA");
                 const std::vector<Array> got =
                     host::callFunction("SX_SigGen", 2, {Array::scalar(tagged(handles, "main")), analyzer, Array::string("Spectrum Analyzer")});
                 if (got[0].isChar() && got[0].text() == "OK") analyzer = got[1];
             } catch (const std::exception&) {
             }
             return std::vector<Array>{};
         }},
        {"AppShutDown", [](int, Arguments) { appShutDown(); return std::vector<Array>{}; }},
    };
    return l;
}

}  // namespace

}  // namespace windows::app

namespace brevia::bind {

std::vector<host::Array> rfCommonUI(int nargout, host::Arguments args) {
    static const windows::app::Locals locals = windows::app::rfCommonUILocals();
    std::vector<host::Array> out = windows::app::dispatch("rfCommonUI", locals, nargout, args);
    if (out.empty()) out.emplace_back();
    return out;
}

}  // namespace brevia::bind
