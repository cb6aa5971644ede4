// The application: its entry OneX_Fwd_b, the main window module OneX_Fwd_GUI_b (start-up and
// the guarded dispatcher of its local functions) and the signal generator panel's set-up,
// redraw and callbacks (Orvexconfig). The common actions are in common_actions.cpp.

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
#include "UI/packet_controls.h"
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
#include "windows/app/module.h"

namespace windows::app {

// The application's logic without a display (src/UI) and the plot windows, by their short names.
using namespace ::ui;

using host::Array;
using host::Arguments;
using windows::gui::Handle;
namespace gui = windows::gui;

namespace {


// ---- the signal generator panel: set-up and redraw -----------------------------------

void redrawSigGenFrequency(double f, Handle box, Handle list) {
    const panel::Shown shown = panel::shownFrequency(f);
    gui::set(list, "Value", Array::scalar(static_cast<double>(shown.unit)));
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
double setting(const char* name) { return sigGen().field(name).realAt(0); }

void updateFrequency(const Array& handles) {
    storeSetting("Frequency", panel::frequencyEntry(text(tagged(handles, "txtFrequency")), value(tagged(handles, "pdFrequencyUnits")),
                                                    setting("Frequency")));
    redrawSigGenSettings(handles);
}

void updateSamplingRate(const Array& handles) {
    storeSetting("SamplingRate",
                 panel::samplingRateEntry(text(tagged(handles, "txtSamplingRate")), value(tagged(handles, "pdSamplingRateUnits")),
                                          setting("SamplingRate")));
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
             const double dBm = panel::amplitudeEntry(text(h), setting("Amplitude"));
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

// ---- the main window -----------------------------------------------------------------

// The packet controls: the list of traffic kinds with the traffic on, the rest in packet
// mode only; the frame count always.
void redrawPacketControls(const Array& handles, bool fullFrame) {
    const bool traffic = fullFrame && field("DATAchnActive") == 1;
    const bool packets = traffic && field("DATApacketMode") == 1;
    setEnable(handles, "pdDATApacketMode", traffic);
    for (const char* tag : {"pdDATApacketDRC", "txtDATApacketMAC", "chkDATApacketInterlace1", "chkDATApacketInterlace2",
                            "chkDATApacketInterlace3", "chkDATApacketInterlace4"})
        setEnable(handles, tag, packets);
    setValue(handles, "pdDATApacketMode", field("DATApacketMode") + 1);
    setValue(handles, "pdDATApacketDRC", field("DATApacketDRC"));
    setText(handles, "txtDATApacketMAC", host::num2str(field("DATApacketMAC")));
    const Array& interlaces = parameters().field("DATApacketInterlaces");
    for (std::size_t k = 0; k < 4; ++k)
        setValue(handles, ("chkDATApacketInterlace" + std::to_string(k + 1)).c_str(), k < interlaces.numel() ? interlaces.realAt(k) : 0);
    setText(handles, "txtFrameCount", host::num2str(field("FrameCount")));
}

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
    redrawPacketControls(handles, full);
    onex::updateProjectedLength(parameters());  // a file's may be stale; the frames follow the packets
    setText(handles, "txtNumberOfSamples", ui::waveformLengthText(parameters()));
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
                          {"chkMirrorSpectrum", "Enable/disables spectrum mirroring."},
                          {"pdDATApacketMode", "Modulated bits in each active slot as the slot setup says,\nor coded physical-layer packets a terminal can decode."},
                          {"pdDATApacketDRC", "The data rate (DRC) of the coded packets:\nrate, slots per packet, modulation, preamble chips."},
                          {"txtDATApacketMAC", "The MAC index the packets are addressed to.\nValid Range: 5 to 63"},
                          {"chkDATApacketInterlace1", "Sends packets on interlace 0 (slots 1, 5, 9, ...)."},
                          {"chkDATApacketInterlace2", "Sends packets on interlace 1 (slots 2, 6, 10, ...)."},
                          {"chkDATApacketInterlace3", "Sends packets on interlace 2 (slots 3, 7, 11, ...)."},
                          {"chkDATApacketInterlace4", "Sends packets on interlace 3 (slots 4, 8, 12, ...)."},
                          {"txtFrameCount", "Sets the number of frames in the waveform\n(raised in packet mode to whole packets).\nValid Range: 1 to 16"}});
    std::vector<std::string> rates = ui::drcListItems();
    Array items = Array::cell(1, rates.size());
    for (std::size_t i = 0; i < rates.size(); ++i) items.cellAt(i) = Array::string(rates[i]);
    gui::set(tagged(handles, "pdDATApacketDRC"), "String", items);
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

// The connection in the form the instrument calls take, so that a first Download works
// before the I/O dialog has ever run.
void initializeConfiguration() {
    Array c = mexio::structuredConfiguration(mexio::initialConfiguration());
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

// A packet field from its control: stored as taken (rounded, limited), the waveform's length
// following, the window showing what was stored.
void storePacketField(const char* name, double v, const Array& handles) {
    store(name, *onex::packetFieldEntry(name, v));
    onex::updateProjectedLength(parameters());
    redrawFormatParameters(handles);
}

void storeInterlace(std::size_t k, double on, const Array& handles) {
    Array interlaces = parameters().field("DATApacketInterlaces");
    if (k < interlaces.numel()) interlaces.setReal(k, on != 0 ? 1 : 0);
    parameters().setField("DATApacketInterlaces", interlaces);
    onex::updateProjectedLength(parameters());
    redrawFormatParameters(handles);
}

const std::map<std::string, Callback, std::less<>>& callbacks() {
    static const std::map<std::string, Callback, std::less<>> table = {
        {"pdMode_Callback", [](Handle h, const Array& hs) { store("Mode", value(h)); redrawFormatParameters(hs); }},
        {"txtOffsetIndex_Callback", [](Handle h, const Array& hs) { store("PilotOffsetIndex", onex::pilotOffsetIndexEntry(text(h), field("PilotOffsetIndex"))); redrawFormatParameters(hs); }},
        {"chkMACchnActive_Callback", [](Handle h, const Array&) { store("MACchnActive", value(h)); }},
        {"chkDATAchnActive_Callback", [](Handle h, const Array& hs) { store("DATAchnActive", value(h)); redrawFormatParameters(hs); }},
        {"pdDATAsourceType_Callback", pdDATAsourceType},
        {"chkIdleSlotGainActive_Callback", [](Handle h, const Array& hs) {
             store("IdleSlotGainActive", value(h));
             host::record("SigGenSettings").setField("RFblanking", Array::scalar(1 - value(h)));
             redraw(hs);
         }},
        {"txtIdleSlotGain_Callback", [](Handle h, const Array& hs) { store("IdleSlotGain", onex::idleSlotGainEntry(text(h), field("IdleSlotGain"))); redrawFormatParameters(hs); }},
        {"txtOversampling_Callback", [](Handle h, const Array& hs) {
             const double os = onex::overSamplingEntry(text(h), field("OverSampling"));
             onex::setOverSampling(parameters(), os);
             host::record("SigGenSettings").setField("SamplingRate", Array::scalar(1228800.0 * os));
             redraw(hs);
         }},
        {"pdFilterType_Callback", [](Handle h, const Array&) { store("FilterType", value(h)); }},
        {"chkPhaseEq_Callback", [](Handle h, const Array&) { store("PhaseEq", value(h)); }},
        {"chkMirrorSpectrum_Callback", [](Handle h, const Array&) { store("MirrorSpectrum", value(h)); }},
        {"pbSlotSetup_Callback", pbSlotSetup},
        {"pdDATApacketMode_Callback", [](Handle h, const Array& hs) { storePacketField("DATApacketMode", value(h) - 1, hs); }},
        {"pdDATApacketDRC_Callback", [](Handle h, const Array& hs) { storePacketField("DATApacketDRC", value(h), hs); }},
        {"txtDATApacketMAC_Callback", [](Handle h, const Array& hs) {
             storePacketField("DATApacketMAC", onex::packetFieldEntry("DATApacketMAC", text(h), field("DATApacketMAC")), hs);
         }},
        {"txtFrameCount_Callback", [](Handle h, const Array& hs) {
             storePacketField("FrameCount", onex::packetFieldEntry("FrameCount", text(h), field("FrameCount")), hs);
         }},
        {"chkDATApacketInterlace1_Callback", [](Handle h, const Array& hs) { storeInterlace(0, value(h), hs); }},
        {"chkDATApacketInterlace2_Callback", [](Handle h, const Array& hs) { storeInterlace(1, value(h), hs); }},
        {"chkDATApacketInterlace3_Callback", [](Handle h, const Array& hs) { storeInterlace(2, value(h), hs); }},
        {"chkDATApacketInterlace4_Callback", [](Handle h, const Array& hs) { storeInterlace(3, value(h), hs); }},
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
        // The outcome is the result, so that the caller need not guess it from the console:
        // 1 and "", or 0 and the error (which the console gets as from any action).
        {"Calculate", [](int, Arguments) {
             try {
                 onex::Calculate();
                 return std::vector<Array>{Array::scalar(1), Array::string("")};
             } catch (const std::exception& e) {
                 std::cerr << e.what() << std::endl;
                 return std::vector<Array>{Array::scalar(0), Array::string(e.what())};
             }
         }},
    };
    addCallbacks(l, callbacks());
    return l;
}

}  // namespace

}  // namespace windows::app

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> OneX_Fwd_b(int, Arguments) {
    // The application asks its questions in boxes on the screen, not on the terminal.
    host::setDialogProvider(std::make_shared<windows::gui::QtDialogs>());
    host::callFunction("OneX_Fwd_GUI_b", 0, std::vector<Array>{});
    return {};
}

std::vector<Array> OneX_Fwd_GUI_b(int nargout, Arguments args) {
    if (args.empty()) {
        const windows::app::Handle fig = windows::app::startUp();
        return {nargout > 0 ? Array::scalar(fig) : Array()};
    }
    static const windows::app::Locals locals = windows::app::mainWindowLocals();
    std::vector<Array> out = windows::app::dispatch("OneX_Fwd_GUI_b", locals, nargout, args);
    // A failed action still answers every output asked for, with empties.
    out.resize(std::max<std::size_t>({out.size(), static_cast<std::size_t>(std::max(nargout, 1))}));
    return out;
}

std::vector<Array> Orvexconfig(int nargout, Arguments args) {
    static const windows::app::Locals locals = windows::app::orvexconfigLocals();
    std::vector<Array> out = windows::app::dispatch("Orvexconfig", locals, nargout, args);
    if (out.empty()) out.emplace_back();
    return out;
}

}  // namespace brevia::bind
