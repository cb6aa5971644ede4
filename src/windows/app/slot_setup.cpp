// The slot setup dialog OneX_Fwd_GUI_SlotSetup: the 16 slots' traffic, RA and RPC settings
// of the working copy `slot`, edited modally; nothing reaches the parameter set but through
// the caller on OK.

#include <iostream>
#include <string>

#include "OneX/parameters.h"
#include "UI/app_records.h"
#include "UI/slot_setup.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/records.h"
#include "host/text.h"
#include "windows/app/modal.h"
#include "windows/app/module.h"
#include "windows/app/status_line.h"
#include "windows/gui/graphics.h"

namespace windows::app {

// The application's logic without a display (src/UI) and the plot windows, by their short names.
using namespace ::ui;

using host::Array;
using host::Arguments;
using windows::gui::Handle;
namespace gui = windows::gui;

namespace {

constexpr std::size_t kSlots = 16;

Array& slotRecord() { return host::record("slot"); }

Handle tag(const Array& handles, const std::string& name) {
    const Array* h = handles.findField(name);
    if (!h || h->isEmpty()) throw host::Error("The slot setup window has no control tagged " + name + ".");
    return h->realAt(0);
}
Handle tag(const Array& handles, const char* name, std::size_t k) { return tag(handles, name + std::to_string(k)); }

double at(const char* field, std::size_t k) { return slotRecord().field(field).realAt(k - 1); }
void put(const char* field, std::size_t k, double v) { slotRecord().field(field).setReal(k - 1, v); }
void setOn(Handle h, bool on) { gui::set(h, "Enable", on ? "on" : "off"); }

// In packet mode the packets decide which slots carry traffic and how: the slot record's
// traffic switches and modulation do not apply, and their controls rest.
bool packetMode() {
    const Array& p = onex::applicationParameters();
    const Array* mode = p.isStruct() ? p.findField("DATApacketMode") : nullptr;
    const Array* traffic = p.isStruct() ? p.findField("DATAchnActive") : nullptr;
    return mode && traffic && mode->numel() == 1 && traffic->numel() == 1 && mode->realAt(0) == 1 && traffic->realAt(0) == 1;
}

void redrawDataSlot(std::size_t k, const Array& hs) {
    const bool active = at("DATAslotActive", k) != 0;
    const bool packets = packetMode();
    gui::set(tag(hs, "chkDATAslotActive", k), "Value", Array::scalar(active ? 1 : 0));
    setOn(tag(hs, "chkDATAslotActive", k), !packets);
    setOn(tag(hs, "lstDATAslotMod", k), active && !packets);
    gui::set(tag(hs, "lstDATAslotMod", k), "Value", Array::scalar(at("DATAslotMod", k)));
}

void redrawRaSlot(std::size_t k, const Array& hs) {
    const bool active = at("RAslotActive", k) != 0;
    gui::set(tag(hs, "chkRAslotActive", k), "Value", Array::scalar(active ? 1 : 0));
    setOn(tag(hs, "txtRAslotValue", k), active);
    setOn(tag(hs, "txtRAslotGain", k), active);
    gui::set(tag(hs, "txtRAslotValue", k), "String", host::num2str(at("RAslotValue", k)));
    gui::set(tag(hs, "txtRAslotGain", k), "String", host::num2str(at("RAslotGain", k)));
}

void redrawRpcSlot(std::size_t k, const Array& hs) {
    const bool active = at("RPCslotActiveChn", k) != 0;
    gui::set(tag(hs, "chkRPCslotActive", k), "Value", Array::scalar(active ? 1 : 0));
    setOn(tag(hs, "pbPRCslotSetup", k), active);
}

using SlotRedraw = void (*)(std::size_t, const Array&);
void redrawColumn(SlotRedraw redraw, const Array& hs) {
    for (std::size_t k = 1; k <= kSlots; ++k) redraw(k, hs);
}
void redrawAll(const Array& hs) {
    for (const char* fastEdit : {"pldDATAactive", "pldDATAmod"}) setOn(tag(hs, fastEdit), !packetMode());
    redrawColumn(redrawDataSlot, hs);
    redrawColumn(redrawRaSlot, hs);
    redrawColumn(redrawRpcSlot, hs);
}

void initializeFigure(const Array& hs) {
    for (std::size_t k = 1; k <= kSlots; ++k) {
        const std::string n = std::to_string(k);
        gui::set(tag(hs, "chkDATAslotActive", k), "TooltipString", "Enables/disables the\ntraffic channel for slot " + n + ".");
        gui::set(tag(hs, "lstDATAslotMod", k), "TooltipString", "Sets the modulation format\nof the Traffic burst for slot " + n + ".");
        gui::set(tag(hs, "chkRAslotActive", k), "TooltipString", "Enables/disables the\nRA channel for slot " + n + ".");
        gui::set(tag(hs, "txtRAslotValue", k), "TooltipString", "Sets the value of the\nRA burst for slot " + n + ".\nValid Range: 0 or 1");
        gui::set(tag(hs, "txtRAslotGain", k), "TooltipString",
                 "Sets the gain of the\nRA burst for slot " + n + "\nrelative to the pilot channel power.\nValid Range: -30dB to +30dB");
        gui::set(tag(hs, "chkRPCslotActive", k), "TooltipString", "Enables/disables the\nRPC channel for slot " + n + ".");
        gui::set(tag(hs, "pbPRCslotSetup", k), "TooltipString", "Configures the\nRPC channel for slot " + n + ".");
    }
    const std::pair<const char*, const char*> lists[] = {
        {"pldDATAactive", "FastEdit:\nAdjusts the activity status\nfor all traffic slots."},
        {"pldRAactive", "FastEdit:\nAdjusts the activity status\nfor all RA slots."},
        {"pldRPCactive", "FastEdit:\nAdjusts the activity status\nfor all RPC slots."},
        {"pldDATAmod", "FastEdit:\nAdjusts the Modulation\nformat for all traffic slots."},
        {"pldRAvalue", "FastEdit:\nAdjusts the data\nfor all RA slots."},
        {"pldRAgain", "FastEdit:\nAdjusts the gain\nfor all RA slots."},
        {"pldRPCsetup", "FastEdit\nConfigures all RCP slots\nClone 1 - Copies the configuration of Slot 1\n          to all other slots.\n"
                        "Clone 1,2 - Copies the configuration of Slot 1\n            to all odd slots, and the configuration\n"
                        "            of Slot 2 to all even slots.\nDefault - Restore the default values\n          to all slots."},
    };
    for (const auto& [list, tip] : lists) gui::set(tag(hs, list), "TooltipString", tip);
    // Closing the window is Cancel.
    gui::set(tag(hs, "figSlotSetup"), "CloseRequestFcn", "OneX_Fwd_GUI_SlotSetup('close_Callback',gcbo,[],guidata(gcbo))");
}

void closeWith(const char* answer, Arguments a) { modal::resume(a.size() > 2 ? *a[2] : Array::structure(), "figSlotSetup", answer); }

double controlValue(Handle h) { return gui::get(h, "Value").realAt(0); }

// Argument i of a callback or local function.
const Array& arg(Arguments a, std::size_t i) { return modal::argument(a, i); }

std::vector<Array> runDialog(Arguments args) {
    const Handle fig = host::realScalar(*args[0], {"OneX_Fwd_GUI_SlotSetup", "fig"});
    if (modal::alreadyOpen(fig)) return {Array::string("Cancel"), args.size() == 2 ? *args[1] : slotRecord()};
    const Array hs = gui::guihandles(fig);
    slotRecord() = args.size() == 2 ? *args[1] : slotedit::defaultSlotStruct();
    gui::guidata(fig, hs);
    redrawAll(hs);
    const std::string answer = modal::run(fig);
    return {Array::string(answer), slotRecord()};
}

// Slot k's 59 RPC channels in their own dialog; OK puts them back into the slot record.
void editRpcChannels(std::size_t k) {
    Array& s = slotRecord();
    Array chn = Array::structure();
    for (const auto& [field, row] : {std::pair{"Active", "RPCslotActive"}, {"Value", "RPCslotValue"}, {"Gain", "RPCslotGain"}}) {
        const Array& m = s.field(row);
        Array r = Array::zeros(1, m.cols());
        for (std::size_t c = 0; c < m.cols(); ++c) r.pr()[c] = m.pr()[c * m.rows() + k - 1];
        chn.setField(field, r);
    }
    const std::vector<Array> got = host::callFunction(
        "OneX_Fwd_GUI_RPCsetup", 2, {host::record("figureList").field("figRPCsetup"), chn, Array::scalar(static_cast<double>(k))});
    if (!got[0].isChar() || (got[0].text() != "OK")) return;
    for (const auto& [field, row] : {std::pair{"Active", "RPCslotActive"}, {"Value", "RPCslotValue"}, {"Gain", "RPCslotGain"}}) {
        Array& m = s.field(row);
        const Array& r = got[1].field(field);
        for (std::size_t c = 0; c < m.cols() && c < r.numel(); ++c) m.pr()[c * m.rows() + k - 1] = r.realAt(c);
    }
}

// Per-slot callbacks: (control, event, handles).
template <class Action>
void perSlot(Arguments a, const Action& action) {
    const Handle h = host::realScalar(arg(a, 0), {"OneX_Fwd_GUI_SlotSetup", "h"});
    const std::size_t k = modal::rowOf(h, kSlots, "slot");
    action(h, k, arg(a, 2));
}

// The dialog's local functions and callbacks by name (the handles come third, as ever).
Locals slotSetupLocals() {
    auto none = [](auto f) { return [f](int, Arguments a) { f(a); return std::vector<Array>{}; }; };
    auto edited = [](const char* field, SlotRedraw redraw) {
        return [field, redraw](Handle h, std::size_t k, const Array& hs) { put(field, k, controlValue(h)); redraw(k, hs); };
    };
    auto typed = [](const char* field, double (*entry)(std::string_view, double)) {
        return [field, entry](Handle h, std::size_t k, const Array& hs) {
            put(field, k, entry(gui::get(h, "String").text(), at(field, k)));
            redrawRaSlot(k, hs);
        };
    };
    auto fastedit = [](const char* name, void (*edit)(Array&, double), SlotRedraw redraw) {
        return [name, edit, redraw](int, Arguments a) {
            edit(slotRecord(), controlValue(host::realScalar(arg(a, 0), {name, "h"})));
            redrawColumn(redraw, arg(a, 2));
            return std::vector<Array>{};
        };
    };
    auto activity = [](const char* name, const char* field, SlotRedraw redraw) {
        return [name, field, redraw](int, Arguments a) {
            const auto pattern = slotedit::fasteditActive(controlValue(host::realScalar(arg(a, 0), {name, "h"})));
            if (!pattern) throw host::Error("The fast edit has no such pattern.");
            slotRecord().setField(field, *pattern);
            redrawColumn(redraw, arg(a, 2));
            return std::vector<Array>{};
        };
    };
    auto each = [](auto action) { return [action](int, Arguments a) { perSlot(a, action); return std::vector<Array>{}; }; };
    return Locals{
        {"InitializeFigure", none([](Arguments a) { initializeFigure(arg(a, 0)); })},
        {"defaultSlotStruct", [](int, Arguments) { return std::vector<Array>{slotedit::defaultSlotStruct()}; }},
        {"redrawAll", none([](Arguments a) { redrawAll(arg(a, 0)); })},
        {"redrawDATA", none([](Arguments a) { redrawColumn(redrawDataSlot, arg(a, 0)); })},
        {"redrawRA", none([](Arguments a) { redrawColumn(redrawRaSlot, arg(a, 0)); })},
        {"redrawRPC", none([](Arguments a) { redrawColumn(redrawRpcSlot, arg(a, 0)); })},
        {"DATAactive_Callback", each(edited("DATAslotActive", redrawDataSlot))},
        {"DATAmod_Callback", each(edited("DATAslotMod", redrawDataSlot))},
        {"RAactive_Callback", each(edited("RAslotActive", redrawRaSlot))},
        {"RAvalue_Callback", each(typed("RAslotValue", slotedit::raValueEntry))},
        {"RAgain_Callback", each(typed("RAslotGain", slotedit::raGainEntry))},
        {"RPCactive_Callback", each(edited("RPCslotActiveChn", redrawRpcSlot))},
        {"RPCsetup_Callback", each([](Handle, std::size_t k, const Array&) { editRpcChannels(k); })},
        {"fasteditDATAactive_Callback", activity("fasteditDATAactive_Callback", "DATAslotActive", redrawDataSlot)},
        {"fasteditRAactive_Callback", activity("fasteditRAactive_Callback", "RAslotActive", redrawRaSlot)},
        {"fasteditRPCactive_Callback", activity("fasteditRPCactive_Callback", "RPCslotActiveChn", redrawRpcSlot)},
        {"fasteditDATAmod_Callback", fastedit("fasteditDATAmod_Callback", slotedit::fasteditDataMod, redrawDataSlot)},
        {"fasteditRAvalue_Callback", fastedit("fasteditRAvalue_Callback", slotedit::fasteditRaValue, redrawRaSlot)},
        {"fasteditRAgain_Callback", fastedit("fasteditRAgain_Callback", slotedit::fasteditRaGain, redrawRaSlot)},
        {"fasteditRPCsetup_Callback", fastedit("fasteditRPCsetup_Callback", slotedit::fasteditRpcSetup, redrawRpcSlot)},
        {"pbOK_Callback", none([](Arguments a) { closeWith("OK", a); })},
        {"pbCancel_Callback", none([](Arguments a) { closeWith("Cancel", a); })},
        {"close_Callback", none([](Arguments a) { closeWith("Cancel", a); })},
    };
}

}  // namespace

}  // namespace windows::app

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> OneX_Fwd_GUI_SlotSetup(int nargout, Arguments args) {
    static const windows::app::Locals locals = windows::app::slotSetupLocals();
    return windows::app::dispatchDialog("OneX_Fwd_GUI_SlotSetup", locals, windows::app::runDialog, nargout, args);
}

}  // namespace brevia::bind
