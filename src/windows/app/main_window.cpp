// The application: its entry OneX_Fwd_b, the main window module OneX_Fwd_GUI_b (start-up and
// the guarded dispatcher of its local functions), and of the modules it calls the parts the
// shell needs: the common actions' dispatcher rfCommonUI (window set-up, title, Help, About,
// Exit) and the signal generator panel's set-up and redraw (Orvexconfig).

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <string>

#include <optional>
#include <span>

#include "MexIO/download_play.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "UI/app_records.h"
#include "UI/parameter_file.h"
#include "UI/sig_gen_panel.h"
#include "host/convert.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/records.h"
#include "host/text.h"
#include "windows/gui/graphics.h"
#include "windows/gui/qt_dialogs.h"

namespace ui {

using host::Array;
using host::Arguments;
using host::gui::Handle;
namespace gui = host::gui;

namespace {

using Local = std::function<std::vector<Array>(int nargout, Arguments args)>;
// A control's callback: its own handle and the window's handles.
using Callback = void (*)(Handle h, const Array& handles);
using Locals = std::map<std::string, Local, std::less<>>;

// A guarded dispatcher: the first argument names the local function, the rest are its
// arguments; an error inside is printed on the console and the action ends there.
std::vector<Array> dispatch(const char* module, const Locals& locals, int nargout, Arguments args) {
    if (args.empty() || !args[0]->isChar()) return {};
    const std::string name = args[0]->text();
    try {
        const auto it = locals.find(name);
        if (it == locals.end())
            throw host::Error("Undefined function or variable '" + name + "' in " + module + ".");
        return it->second(nargout, args.subspan(1));
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
    }
    return {};
}

Handle tagged(const Array& handles, const char* tag) {
    const Array* h = handles.findField(tag);
    if (!h || h->isEmpty()) throw host::Error(std::string("The window has no control tagged ") + tag + ".");
    return h->realAt(0);
}

const Array& argument(Arguments args, std::size_t i, const char* function) {
    if (args.size() <= i) throw host::Error(std::string("Not enough input arguments to ") + function + ".");
    return *args[i];
}

double value(Handle h) { return gui::get(h, "Value").realAt(0); }
std::string text(Handle h) { return gui::get(h, "String").text(); }
void setValue(const Array& handles, const char* tag, double v) { gui::set(tagged(handles, tag), "Value", Array::scalar(v)); }
void setText(const Array& handles, const char* tag, const std::string& s) { gui::set(tagged(handles, tag), "String", s); }
void setEnable(const Array& handles, const char* tag, bool on) { gui::set(tagged(handles, tag), "Enable", on ? "on" : "off"); }

Array& parameters() { return onex::applicationParameters(); }
double field(const char* name) { return parameters().field(name).realAt(0); }
void store(const char* name, double v) { parameters().setField(name, Array::scalar(v)); }

void setTooltips(const Array& handles, std::initializer_list<std::pair<const char*, const char*>> tips) {
    for (const auto& [tag, tip] : tips) gui::set(tagged(handles, tag), "TooltipString", tip);
}

std::vector<Array> callModule(const char* module, const char* action, std::vector<Array> rest, int nargout = 0) {
    rest.insert(rest.begin(), Array::string(action));
    return host::callFunction(module, nargout, rest);
}

// ---- the signal generator panel: set-up and redraw -----------------------------------

void redrawSigGenFrequency(double f, Handle box, Handle list) {
    const panel::Shown shown = panel::shownFrequency(f);
    gui::set(list, "Value", Array::scalar(shown.unit));
    gui::set(box, "String", host::num2str(shown.value));
}

void redrawSigGenSettings(const Array& handles) {
    const Array& s = host::record("SigGenSettings");
    redrawSigGenFrequency(s.field("Frequency").realAt(0), tagged(handles, "txtFrequency"), tagged(handles, "pdFrequencyUnits"));
    redrawSigGenFrequency(s.field("SamplingRate").realAt(0), tagged(handles, "txtSamplingRate"), tagged(handles, "pdSamplingRateUnits"));
    setText(handles, "txtWaveformTitle", s.field("Title").text());
    setText(handles, "txtAmplitude", host::num2str(s.field("Amplitude").realAt(0)));
    setValue(handles, "pdReconFilter", s.field("ReconFilter").realAt(0));
    setValue(handles, "chkRFblanking", s.field("RFblanking").realAt(0));
    const double reference = s.field("ArbRefSource").realAt(0), polarity = s.field("MarkerPolarity").realAt(0);
    setValue(handles, "tbArbRefSource", reference);
    setValue(handles, "tbMarkerPolarity", polarity);
    setText(handles, "tbArbRefSource", reference == 0 ? "Int. Ref" : "Ext. Ref");
    setText(handles, "tbMarkerPolarity", polarity == 0 ? "+ Mkrs" : "- Mkrs");
}

void initializeSigGenScreenObjects(const Array& handles) {
    setTooltips(handles,
                {{"txtFrequency", "Sets the carrier frequency.\nValid Range: 100 kHz - 4 GHz\n(Note: Orvex model determines the\nmaximum frequency.)"},
                 {"txtAmplitude", "Sets the output power.\nValid Range: -136 dBm to +20 dBm\n(Note: Orvex model determines the\nmaximum amplitude.)"},
                 {"txtSamplingRate", "Sets the baseband samping rate.\nValid Range: 1 Hz - 40 MHz\n(Configures automatically to be consistent\nwith the selected Oversampling Ratio.)"},
                 {"pdReconFilter", "Selects the Orvex reconstruction filter."},
                 {"chkRFblanking", "Toggles the state of the\nRF Blanking feature."},
                 {"tbArbRefSource", "Toggles the source of the ARB reference\nbetween internal and external.\n(Note: Ensure that an external reference\nis connected to the Orvex before setting\nthe ARB reference source to external.)"},
                 {"tbMarkerPolarity", "Toggles the Event marker polarity.\n(Note: The Event 2 Marker is used by\nthe internal RF Blanking feature, inverting the\npolarity while RF Blanking is active may\nlead to unexpected behaivour.)"},
                 {"txtWaveformTitle", "Enter the title used to store the \nwaveform in the Orvex."}});
}

Array& sigGen() { return host::record("SigGenSettings"); }
void storeSetting(const char* name, double v) { sigGen().setField(name, Array::scalar(v)); }

void updateFrequency(const Array& handles) {
    storeSetting("Frequency", panel::frequencyEntry(text(tagged(handles, "txtFrequency")), value(tagged(handles, "pdFrequencyUnits"))));
    redrawSigGenSettings(handles);
}

void updateSamplingRate(const Array& handles) {
    storeSetting("SamplingRate",
                 panel::samplingRateEntry(text(tagged(handles, "txtSamplingRate")), value(tagged(handles, "pdSamplingRateUnits"))));
    redrawSigGenSettings(handles);
}

// The panel's callbacks: (h, event, handles).
const std::map<std::string, Callback, std::less<>>& panelCallbacks() {
    static const std::map<std::string, Callback, std::less<>> table = {
        {"txtFrequency_Callback", [](Handle, const Array& hs) { updateFrequency(hs); }},
        {"pdFrequencyUnits_Callback", [](Handle, const Array& hs) { updateFrequency(hs); }},
        {"txtSamplingRate_Callback", [](Handle, const Array& hs) { updateSamplingRate(hs); }},
        {"pdSamplingRateUnits_Callback", [](Handle, const Array& hs) { updateSamplingRate(hs); }},
        {"txtAmplitude_Callback", [](Handle h, const Array&) {
             const double dBm = panel::amplitudeEntry(text(h));
             storeSetting("Amplitude", dBm);
             gui::set(h, "String", host::num2str(dBm));
         }},
        {"pdReconFilter_Callback", [](Handle h, const Array&) { storeSetting("ReconFilter", value(h)); }},
        {"chkRFblanking_Callback", [](Handle h, const Array&) { storeSetting("RFblanking", value(h)); }},
        {"tbArbRefSource_Callback", [](Handle h, const Array& hs) { storeSetting("ArbRefSource", value(h)); redrawSigGenSettings(hs); }},
        {"tbMarkerPolarity_Callback", [](Handle h, const Array& hs) { storeSetting("MarkerPolarity", value(h)); redrawSigGenSettings(hs); }},
        {"txtWaveformTitle_Callback", [](Handle h, const Array& hs) {
             sigGen().setField("Title", Array::string(panel::cleanTitle(text(h))));
             redrawSigGenSettings(hs);
         }},
    };
    return table;
}

// Callback locals from a table: the control's handle first, the window's handles third.
void addCallbacks(Locals& locals, const std::map<std::string, Callback, std::less<>>& table) {
    for (const auto& [name, callback] : table)
        locals.emplace(name, [name = name, callback = callback](int, Arguments a) {
            const Handle h = host::realScalar(argument(a, 0, name.c_str()), {name, "h"});
            callback(h, argument(a, 2, name.c_str()));
            return std::vector<Array>{};
        });
}

Locals orvexconfigLocals() {
    Locals l = {
        {"updateFrequency", [](int, Arguments a) { updateFrequency(argument(a, 0, "updateFrequency")); return std::vector<Array>{}; }},
        {"updateSamplingRate", [](int, Arguments a) { updateSamplingRate(argument(a, 0, "updateSamplingRate")); return std::vector<Array>{}; }},
        {"InitializeSigGenScreenObjects", [](int, Arguments a) { initializeSigGenScreenObjects(argument(a, 0, "InitializeSigGenScreenObjects")); return std::vector<Array>{}; }},
        {"redrawSigGenSettings", [](int, Arguments a) { redrawSigGenSettings(argument(a, 0, "redrawSigGenSettings")); return std::vector<Array>{}; }},
        {"redrawSigGenFrequency", [](int, Arguments a) {
             redrawSigGenFrequency(host::realScalar(argument(a, 0, "redrawSigGenFrequency"), {"redrawSigGenFrequency", "value"}),
                                   host::realScalar(argument(a, 1, "redrawSigGenFrequency"), {"redrawSigGenFrequency", "box"}),
                                   host::realScalar(argument(a, 2, "redrawSigGenFrequency"), {"redrawSigGenFrequency", "list"}));
             return std::vector<Array>{};
         }},
    };
    addCallbacks(l, panelCallbacks());
    return l;
}

// ---- the common actions the shell needs ----------------------------------------------

void redrawAppTitle(const Array& handles) {
    std::string title = "Veltrac - " + host::record("appInfo").field("Name").text();
    const Array* last = host::record("configuration").findField("LastParameterFilename");
    if (last && last->isChar() && !last->text().empty()) title += " : " + last->text();
    gui::set(tagged(handles, "main"), "Name", title);
}

void initializeCommonFigure(const Array& handles) {
    try {
        if (Array saved = ui::loadConfig(); !saved.isEmpty()) host::record("configuration") = std::move(saved);
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;  // a damaged saved configuration leaves the defaults
    }
    setTooltips(handles, {{"pbCalculate", "Calculates the waveform based\non current settings."},
                          {"pbDownload", "Downloads the current waveform and\nsettings to the Orvex."},
                          {"pbRefresh", "Downloads just the current settings\nto the Orvex."},
                          {"txtEvent1", "Description of the signal available on\nthe Event 1 Connector of the rear panel."},
                          {"txtEvent2", "Description of the signal available on\nthe Event 2 Connector of the rear panel."},
                          {"txtNumberOfSamples", "The number of samples generated \nby the current settings.\n(An Orvex can hold up to 1 M samples.)"}});
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

// Whether the main window's last Calculate ran to its end: its dispatcher catches errors, so
// the common actions learn of a failure here.
bool calculationSucceeded = false;

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

// Calculate: the frame from the parameter set, then the bookkeeping that tells later actions
// whether the waveform still matches the settings. A failed calculation leaves both as they
// were (and the busy pointer on until the next action).
void executeCalculation(const Array& handles) {
    const Handle fig = gui::gcbo() ? gui::figureOf(gui::gcbo()) : tagged(handles, "main");
    const std::string pointer = gui::get(fig, "Pointer").text();
    gui::set(fig, "Pointer", "watch");
    QApplication::processEvents();
    Array& info = host::record("appInfo");
    host::callFunction(info.field("ApplicationFunction").text(), 0, {Array::string("Calculate")});
    if (!calculationSucceeded) return;  // the dispatcher printed why
    info.setField("LastCalcTimeStamp", clockNow());
    info.setField("LastCaluclatedParameterSet", parameters());
    gui::set(fig, "Pointer", pointer);
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Whether an action may go on with the waveform: offers to calculate first when nothing has
// been calculated, or when the settings changed since.
bool checkWaveformReady(const Array& handles, const std::string& action) {
    const Array& info = host::record("appInfo");
    if (info.field("LastCalcTimeStamp").isEmpty()) {
        const std::string go = "Calculate & " + action;
        const std::string answer = host::dialogs().question(
            "The waveform has not yet been calculated. Do you wish to calculate\nthe waveform and then " + lowerCase(action) + " ?",
            "Waveform Not Calculated", {go, "Cancel"}, go);
        if (answer == "Cancel") return false;
        executeCalculation(handles);
        return true;
    }
    if (!compareStruct(info.field("LastCaluclatedParameterSet"), parameters())) {
        const std::string recalc = "Recalc & " + action;
        const std::string answer = host::dialogs().question(
            "Settings have changed since last calculating the waveform.\n" + action + " will use the last calculated waveform.\nDo you wish to " +
                lowerCase(action) + " anyway ?",
            "Waveform Not Recalculated", {"Yes", recalc, "Cancel"}, recalc);
        if (answer == "Cancel") return false;
        if (answer == recalc) executeCalculation(handles);
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

// The eye and scatter diagrams' two answers, or nothing when cancelled.
std::optional<std::vector<double>> askTwo(const char* title, const char* first, const char* second) {
    const auto answers = host::dialogs().input({first, second}, title, {"1", "0"});
    if (!answers || answers->empty()) return std::nullopt;
    std::string joined;
    for (const std::string& a : *answers) joined += a + " ";
    std::vector<double> numbers = host::parseNumbers(joined);
    numbers.resize(std::max<std::size_t>(numbers.size(), 2), 0.0);
    return numbers;
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
        {"menuPlotCCDF_Callback", plotAction("menuPlotCCDF_Callback", [=](Handle m, const Array& t, const Array& s, double) {
             return host::callFunction("SX_PlotCCDF", 1, {scalar(m), t, s});
         })},
        {"menuPlotEyeDiagram_Callback", plotAction("menuPlotEyeDiagram_Callback", [=](Handle m, const Array& t, const Array& s, double r) {
             const auto tmp = askTwo("Eye Diagram Configuration", "Enter number of symbols:", "Enter symbol delay (0-1):");
             if (!tmp) return std::vector<Array>{};
             const double os = field("OverSampling");
             const double numSym = std::min(std::round(std::max((*tmp)[0], 1.0)), static_cast<double>(s.numel()) / os);
             const double delay = std::round(std::min(std::max((*tmp)[1], 0.0), 1.0) * os);
             return host::callFunction("SX_PlotEyeDiagram", 1, {scalar(m), t, s, scalar(numSym * os), scalar(numSym * os / r), scalar(delay)});
         })},
        {"menuPlotScatterDiagram_Callback", plotAction("menuPlotScatterDiagram_Callback", [=](Handle m, const Array& t, const Array& s, double) {
             const auto tmp = askTwo("Scatter Diagram Configuration", "Trace On (0|1):", "Enter symbol delay (0-1):");
             if (!tmp) return std::vector<Array>{};
             const double os = field("OverSampling");
             const double traceOn = std::min(std::max((*tmp)[0], 0.0), 1.0);
             const double delay = std::round(std::min(std::max((*tmp)[1], 0.0), 1.0) * os);
             return host::callFunction("SX_PlotScatterDiagram", 1, {scalar(m), t, s, scalar(os), scalar(delay), scalar(traceOn)});
         })},
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
        {"executeCalculation", [=](int, Arguments a) { executeCalculation(handlesOf(a, 0, "executeCalculation")); return std::vector<Array>{}; }},
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

// ---- the main window -----------------------------------------------------------------

void redrawFormatParameters(const Array& handles) {
    setValue(handles, "pdMode", field("Mode"));
    const bool full = field("Mode") == 1;
    for (const char* tag : {"chkMACchnActive", "chkDATAchnActive", "chkIdleSlotGainActive"}) setEnable(handles, tag, full);
    setEnable(handles, "pdDATAsourceType", full && field("DATAchnActive") == 1);
    setEnable(handles, "txtIdleSlotGain", full && field("IdleSlotGainActive") != 0);
    setValue(handles, "chkMACchnActive", field("MACchnActive"));
    setValue(handles, "chkDATAchnActive", field("DATAchnActive"));
    setValue(handles, "chkIdleSlotGainActive", field("IdleSlotGainActive"));
    setText(handles, "txtIdleSlotGain", host::num2str(field("IdleSlotGain")));
    setText(handles, "txtOffsetIndex", host::num2str(field("PilotOffsetIndex")));
    setValue(handles, "pdDATAsourceType", field("DATAsourceType"));
    setText(handles, "txtOversampling", host::num2str(field("OverSampling")));
    setValue(handles, "pdFilterType", field("FilterType"));
    setValue(handles, "chkPhaseEq", field("PhaseEq"));
    setValue(handles, "chkMirrorSpectrum", field("MirrorSpectrum"));
    setText(handles, "txtNumberOfSamples", host::num2str(field("ProjectedLength")) + " Samples");
}

void redraw(const Array& handles) {
    redrawFormatParameters(handles);
    callModule("rfCommonUI", "redrawAppTitle", {handles});
    callModule("Orvexconfig", "redrawSigGenSettings", {handles});
}

void initializeFigure(const Array& handles) {
    setTooltips(handles, {{"pdMode", "Selects the format mode."},
                          {"txtOffsetIndex", "Sets the Pilot Channel offset index.\n Valid Range: 0 to 511"},
                          {"chkMACchnActive", "Enables/disables the MAC Channel."},
                          {"chkDATAchnActive", "Enables/disables the Traffic Channel."},
                          {"pdDATAsourceType", "Selects the source data for\nthe Traffic Channel."},
                          {"chkIdleSlotGainActive", "Enables/disables idle slot noise signal."},
                          {"txtIdleSlotGain", "Sets the power of the idle slot noise\nrelative to the pilot channel.\nValid Range: 0 to -80"},
                          {"pbSlotSetup", "Configures each of the\n16 time slots."},
                          {"txtOversampling", "Sets the oversampling rate.\nValid Range: 2 to 30"},
                          {"pdFilterType", "Selects the baseband filter."},
                          {"chkPhaseEq", "Enables/disables the\nphase equalizer stage."},
                          {"chkMirrorSpectrum", "Enable/disables spectrum mirroring."}});
    host::callFunction("resizeAllFonts", 0, {handles});
    callModule("Orvexconfig", "InitializeSigGenScreenObjects", {handles});
}

// A dialog module's set-up, when that module is part of this build.
void initializeDialog(const char* module, Handle dialog) {
    if (host::findFunction(module)) callModule(module, "InitializeFigure", {gui::guihandles(dialog)});
}

Handle initializeFigures() {
    const Handle fig = host::callFunction("loadFigure", 1, {Array::string("OneX_Fwd_GUI_b.fig"), Array::scalar(0)}).front().realAt(0);
    host::callFunction("SX_AddMenu", 1, {Array::scalar(fig)});
    Array handles = gui::guihandles(fig);
    gui::guidata(fig, handles);
    callModule("rfCommonUI", "InitializeFigure", {handles});
    const Handle main = tagged(handles, "main");
    Array list = Array::structure();
    const Handle slot = host::callFunction("loadFigure", 1, {Array::string("OneX_Fwd_GUI_SlotSetup.fig"), Array::scalar(main)}).front().realAt(0);
    list.setField("figSlotSetup", Array::scalar(slot));
    initializeDialog("OneX_Fwd_GUI_SlotSetup", slot);
    const Handle rpc = host::callFunction("loadFigure", 1, {Array::string("OneX_Fwd_GUI_RPCsetup.fig"), Array::scalar(main)}).front().realAt(0);
    list.setField("figRPCsetup", Array::scalar(rpc));
    initializeDialog("OneX_Fwd_GUI_RPCsetup", rpc);
    host::record("figureList") = std::move(list);
    // Closing the main window by its frame is File > Exit.
    gui::set(fig, "CloseRequestFcn", "rfCommonUI('AppShutDown')");
    return fig;
}

void initializeConfiguration() {
    Array c = mexio::initialConfiguration();
    c.setField("LastParameterFilename", Array::string(""));
    host::record("configuration") = std::move(c);
}

void initializeSigGenSettings() { host::record("SigGenSettings") = mexio::initialSigGenSettings(field("OverSampling")); }

// Waits until `seconds` have passed since `from`, handling events so the splash keeps
// painting. A coarse timer may fire a little early; the wait is checked against the clock.
void pauseUntil(std::chrono::steady_clock::time_point from, double seconds) {
    for (;;) {
        const double left = seconds - std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
        if (left <= 0) return;
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(std::ceil(left * 1000)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

Handle startUp() {
    const Handle splash = host::callFunction("SX_Splash", 1, std::vector<Array>{}).front().realAt(0);
    QApplication::processEvents();
    const auto started = std::chrono::steady_clock::now();
    InitializeAppInfo();
    initializeConfiguration();
    onex::InitializeParameters();
    initializeSigGenSettings();
    const Handle fig = initializeFigures();
    const Array handles = gui::guihandles(fig);
    initializeFigure(handles);
    redraw(handles);
    pauseUntil(started, 3.0);
    if (gui::isValid(splash)) gui::deleteObject(splash);
    gui::set(fig, "Visible", "on");
    gui::raise(fig);
    return fig;
}


void pdDATAsourceType(Handle h, const Array& handles) {
    const double chosen = value(h);
    if (chosen == 7) {
        const std::vector<Array> got = host::callFunction("loadUserDataFile", 2, {Array::scalar(102400)});
        if (got.size() == 2 && got[0].realAt(0) > 0) {
            parameters().setField("dataSourceBitstream", got[1]);
            store("DATAsourceType", 7);
        }
    } else {
        store("DATAsourceType", chosen);
    }
    redrawFormatParameters(handles);
}

void pbSlotSetup(Handle, const Array&) {
    const std::vector<Array> got = host::callFunction(
        "OneX_Fwd_GUI_SlotSetup", 2, {host::record("figureList").field("figSlotSetup"), parameters().field("slot")});
    if (got.size() == 2 && got[0].isChar() && got[0].text() == "OK") parameters().setField("slot", got[1]);
}

const std::map<std::string, Callback, std::less<>>& callbacks() {
    static const std::map<std::string, Callback, std::less<>> table = {
        {"pdMode_Callback", [](Handle h, const Array& hs) { store("Mode", value(h)); redrawFormatParameters(hs); }},
        {"txtOffsetIndex_Callback", [](Handle h, const Array& hs) { store("PilotOffsetIndex", onex::pilotOffsetIndexEntry(text(h))); redrawFormatParameters(hs); }},
        {"chkMACchnActive_Callback", [](Handle h, const Array&) { store("MACchnActive", value(h)); }},
        {"chkDATAchnActive_Callback", [](Handle h, const Array& hs) { store("DATAchnActive", value(h)); redrawFormatParameters(hs); }},
        {"pdDATAsourceType_Callback", pdDATAsourceType},
        {"chkIdleSlotGainActive_Callback", [](Handle h, const Array& hs) {
             store("IdleSlotGainActive", value(h));
             host::record("SigGenSettings").setField("RFblanking", Array::scalar(1 - value(h)));
             redraw(hs);
         }},
        {"txtIdleSlotGain_Callback", [](Handle h, const Array& hs) { store("IdleSlotGain", onex::idleSlotGainEntry(text(h))); redrawFormatParameters(hs); }},
        {"txtOversampling_Callback", [](Handle h, const Array& hs) {
             const double os = onex::overSamplingEntry(text(h));
             onex::setOverSampling(parameters(), os);
             host::record("SigGenSettings").setField("SamplingRate", Array::scalar(1228800.0 * os));
             redraw(hs);
         }},
        {"pdFilterType_Callback", [](Handle h, const Array&) { store("FilterType", value(h)); }},
        {"chkPhaseEq_Callback", [](Handle h, const Array&) { store("PhaseEq", value(h)); }},
        {"chkMirrorSpectrum_Callback", [](Handle h, const Array&) { store("MirrorSpectrum", value(h)); }},
        {"pbSlotSetup_Callback", pbSlotSetup},
    };
    return table;
}

Locals mainWindowLocals() {
    auto none = [](auto f) { return [f](int, Arguments) { f(); return std::vector<Array>{}; }; };
    auto withHandles = [](const char* name, void (*f)(const Array&)) {
        return [name, f](int, Arguments a) { f(argument(a, 0, name)); return std::vector<Array>{}; };
    };
    Locals l = {
        {"InitializeFigures", [](int, Arguments) { return std::vector<Array>{Array::scalar(initializeFigures())}; }},
        {"InitializeAppInfo", none([] { InitializeAppInfo(); })},
        {"InitializeConfiguration", none([] { initializeConfiguration(); })},
        {"InitializeSigGenSettings", none([] { initializeSigGenSettings(); })},
        {"InitializeParameters", none([] { onex::InitializeParameters(); })},
        {"InitializeFigure", withHandles("InitializeFigure", initializeFigure)},
        {"redraw", withHandles("redraw", redraw)},
        {"redrawFormatParameters", withHandles("redrawFormatParameters", redrawFormatParameters)},
        {"Calculate", none([] {
             calculationSucceeded = false;
             onex::Calculate();
             calculationSucceeded = true;
         })},
    };
    addCallbacks(l, callbacks());
    return l;
}

}  // namespace

}  // namespace ui

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> OneX_Fwd_b(int, Arguments) {
    // The application asks its questions in boxes on the screen, not on the terminal.
    host::setDialogProvider(std::make_shared<host::gui::QtDialogs>());
    host::callFunction("OneX_Fwd_GUI_b", 0, std::vector<Array>{});
    return {};
}

std::vector<Array> OneX_Fwd_GUI_b(int nargout, Arguments args) {
    if (args.empty()) {
        const ui::Handle fig = ui::startUp();
        return {nargout > 0 ? Array::scalar(fig) : Array()};
    }
    static const ui::Locals locals = ui::mainWindowLocals();
    std::vector<Array> out = ui::dispatch("OneX_Fwd_GUI_b", locals, nargout, args);
    if (out.empty()) out.emplace_back();
    return out;
}

std::vector<Array> rfCommonUI(int nargout, Arguments args) {
    static const ui::Locals locals = ui::rfCommonUILocals();
    std::vector<Array> out = ui::dispatch("rfCommonUI", locals, nargout, args);
    if (out.empty()) out.emplace_back();
    return out;
}

std::vector<Array> Orvexconfig(int nargout, Arguments args) {
    static const ui::Locals locals = ui::orvexconfigLocals();
    std::vector<Array> out = ui::dispatch("Orvexconfig", locals, nargout, args);
    if (out.empty()) out.emplace_back();
    return out;
}

}  // namespace brevia::bind
