// The RPC setup dialog OneX_Fwd_GUI_RPCsetup: one slot's 59 RPC channels through 16 scrolled
// rows, edited modally on the working copy `chn`.

#include <QAbstractSlider>
#include <QApplication>
#include <QWheelEvent>
#include <cmath>
#include <iostream>
#include <string>

#include "OneX/common_channels.h"
#include "UI/app_records.h"
#include "UI/slot_setup.h"
#include "host/convert.h"
#include "host/dialogs.h"
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

constexpr std::size_t kRows = 16;
constexpr std::size_t kChannels = onex::kRpcChannels;
constexpr double kScrollMax = kChannels - kRows;  // 43

Array& chn() { return host::record("chn"); }
double scrollIndex() {
    const Array& s = host::record("scrollIndex");
    return s.isEmpty() ? 0 : s.realAt(0);
}

Handle control(const Array& hs, const std::string& tag) {
    const Array* h = hs.findField(tag);
    if (!h || h->isEmpty()) throw host::Error("The RPC setup window has no control tagged " + tag + ".");
    return h->realAt(0);
}
Handle control(const Array& hs, const char* tag, std::size_t r) { return control(hs, tag + std::to_string(r)); }

const Array& argAt(Arguments a, std::size_t i) { return modal::argument(a, i); }

std::vector<double> row(const char* field) {
    const Array& r = chn().field(field);
    return std::vector<double>(r.pr(), r.pr() + r.numel());
}
void setRow(const char* field, const std::vector<double>& v) { chn().setField(field, Array::row(v)); }

Array defaultChnStruct() {
    Array c = Array::structure();
    c.setField("Active", Array::row(std::vector<double>(kChannels, 1)));
    c.setField("Value", Array::row(std::vector<double>(kChannels, 1)));
    c.setField("Gain", Array::row(std::vector<double>(kChannels, 0)));
    return c;
}

void redrawChn(std::size_t r, const Array& hs) {
    const std::size_t c = r + static_cast<std::size_t>(scrollIndex());
    const bool active = chn().field("Active").realAt(c - 1) != 0;
    gui::set(control(hs, "chkRPCchnActive", r), "Value", Array::scalar(active ? 1 : 0));
    for (const char* box : {"txtRPCchnValue", "txtRPCchnGain"}) gui::set(control(hs, box, r), "Enable", active ? "on" : "off");
    gui::set(control(hs, "txtRPCchnValue", r), "String", host::num2str(chn().field("Value").realAt(c - 1)));
    gui::set(control(hs, "txtRPCchnGain", r), "String", host::num2str(chn().field("Gain").realAt(c - 1)));
    gui::set(control(hs, "txtRPCchn", r), "String", host::num2str(static_cast<double>(c) - 1));
    gui::set(control(hs, "txtMACindex", r), "String", host::num2str(static_cast<double>(c) + 4));
}

void redraw(const Array& hs) {
    for (std::size_t r = 1; r <= kRows; ++r) redrawChn(r, hs);
}

// The mouse wheel over the rows scrolls them, as it would over the slider.
class WheelToSlider : public QObject {
public:
    explicit WheelToSlider(QAbstractSlider* slider) : QObject(slider), slider_(slider) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::Wheel) return false;
        QApplication::sendEvent(slider_, e);
        return true;
    }

private:
    QAbstractSlider* slider_;
};

void initializeFigure(const Array& hs) {
    host::record("scrollIndex") = Array::scalar(0);
    const Handle slider = control(hs, "sldrScrollbar");
    gui::set(slider, "Min", Array::scalar(0));
    gui::set(slider, "Max", Array::scalar(kScrollMax));
    gui::set(slider, "Value", Array::scalar(kScrollMax));
    for (std::size_t r = 1; r <= kRows; ++r) {
        gui::set(control(hs, "chkRPCchnActive", r), "TooltipString", "Enables / Disables this\nRPC Channel for the slot");
        gui::set(control(hs, "txtRPCchnValue", r), "TooltipString", "Sets the value of the\nRPC Channel for this slot.\nValid Range: 0 or 1");
        gui::set(control(hs, "txtRPCchnGain", r), "TooltipString",
                 "Sets the gain of the\nRPC channel for this slot\nrelative to the Pilot Channel Power.\nValid Range: -30dB to +30dB");
    }
    gui::set(control(hs, "pldRPCactive"), "TooltipString", "FastEdit\nAdjusts the activity status\nof all RPC channels");
    gui::set(control(hs, "pldRPCvalue"), "TooltipString", "FastEdit\nAdjusts the data\nof all RPC channels");
    gui::set(control(hs, "pldRPCgain"), "TooltipString",
             "FastEdit\nAdjusts all gains\nof all RPC channels\n(Note: Use Normalize to\nset the total power of\nall RPC Channels");
    gui::set(control(hs, "figRPCsetup"), "CloseRequestFcn", "OneX_Fwd_GUI_RPCsetup('Close_Callback',gcbo,[],guidata(gcbo))");
    if (auto* bar = qobject_cast<QAbstractSlider*>(gui::widgetOf(slider))) {
        auto* wheel = new WheelToSlider(bar);
        for (std::size_t r = 1; r <= kRows; ++r)
            for (const char* tag : {"chkRPCchnActive", "txtRPCchnValue", "txtRPCchnGain", "txtRPCchn", "txtMACindex"})
                gui::widgetOf(control(hs, tag, r))->installEventFilter(wheel);
    }
}

void normalise() {
    const auto answer = host::dialogs().input({"Enter value (in dB) to Normalize to (-30db to + 30db)"}, "Normalizing RPC Chn Power", {"0"});
    if (!answer || answer->empty()) return;
    const std::vector<double> numbers = host::parseNumbers(answer->front());
    if (numbers.empty() || std::isnan(numbers.front())) {
        host::dialogs().message("Only numercial values between -30 and +30 are accepted", "Invaild User Input", host::MessageIcon::Error);
        return;
    }
    setRow("Gain", slotedit::normalisedGains(row("Active"), row("Gain"), numbers.front()));
}

std::vector<Array> runDialog(Arguments args) {
    const Handle fig = host::realScalar(*args[0], {"OneX_Fwd_GUI_RPCsetup", "fig"});
    if (modal::alreadyOpen(fig)) return {Array::string("Cancel"), args.size() >= 2 && args[1]->isStruct() ? *args[1] : chn()};
    const Array hs = gui::guihandles(fig);
    chn() = args.size() >= 2 && args[1]->isStruct() ? *args[1] : defaultChnStruct();
    if (args.size() >= 3) gui::set(fig, "Name", "RPC Setup: Slot #" + host::num2str(host::realScalar(*args[2], {"OneX_Fwd_GUI_RPCsetup", "slotNumber"})));
    gui::guidata(fig, hs);
    redraw(hs);
    const std::string answer = modal::run(fig);
    return {Array::string(answer), chn()};
}

void closeWith(const char* answer, Arguments a) { modal::resume(argAt(a, 2), "figRPCsetup", answer); }

// Row callbacks: the row from the control's tag, the channel from the scroll position.
void perRow(Arguments a, const char* field, double (*read)(Handle, double previous)) {
    const Handle h = host::realScalar(argAt(a, 0), {"OneX_Fwd_GUI_RPCsetup", "h"});
    const std::size_t r = modal::rowOf(h, kRows, "row");
    const std::size_t c = r + static_cast<std::size_t>(scrollIndex());
    Array& values = chn().field(field);
    values.setReal(c - 1, read(h, values.realAt(c - 1)));
    redrawChn(r, argAt(a, 2));
}

double listValue(Arguments a) { return gui::get(host::realScalar(argAt(a, 0), {"OneX_Fwd_GUI_RPCsetup", "h"}), "Value").realAt(0); }

// A fast edit of one column: the pattern its list chose (the gain list's last entry asks for
// a total power instead), then the rows redrawn.
std::vector<Array> fastEdit(const char* field, Arguments a) {
    const double v = listValue(a);
    if (std::string_view(field) == "Gain" && v == 7) {
        normalise();
    } else {
        const auto pattern = std::string_view(field) == "Active" ? slotedit::activityPattern(v, kChannels)
                             : std::string_view(field) == "Value" ? slotedit::rpcValuePattern(v)
                                                                  : slotedit::rpcGainPattern(v);
        if (!pattern) throw host::Error("The fast edit has no such pattern.");
        setRow(field, *pattern);
    }
    redraw(argAt(a, 2));
    return {};
}

// The dialog's local functions and callbacks by name (the handles come third, as ever).
Locals rpcSetupLocals() {
    auto none = [](auto f) { return [f](int, Arguments a) { f(a); return std::vector<Array>{}; }; };
    auto row = [](const char* field, double (*read)(Handle, double)) {
        return [field, read](int, Arguments a) { perRow(a, field, read); return std::vector<Array>{}; };
    };
    return Locals{
        {"InitializeFigure", none([](Arguments a) { initializeFigure(argAt(a, 0)); })},
        {"defaultChnStruct", [](int, Arguments) { return std::vector<Array>{defaultChnStruct()}; }},
        {"redraw", none([](Arguments a) { redraw(argAt(a, 0)); })},
        {"RPCactive_Callback", row("Active", [](Handle h, double) { return gui::get(h, "Value").realAt(0); })},
        {"RPCvalue_Callback", row("Value", [](Handle h, double was) { return slotedit::raValueEntry(gui::get(h, "String").text(), was); })},
        {"RPCgain_Callback", row("Gain", [](Handle h, double was) { return slotedit::raGainEntry(gui::get(h, "String").text(), was); })},
        {"sldrScrollbar_Callback", none([](Arguments a) {
             const Handle slider = host::realScalar(argAt(a, 0), {"sldrScrollbar_Callback", "h"});
             const double max = gui::get(slider, "Max").realAt(0), value = gui::get(slider, "Value").realAt(0);
             host::record("scrollIndex") = Array::scalar(std::max(0.0, std::min(kScrollMax, std::round(max - value))));
             redraw(argAt(a, 2));
         })},
        {"fasteditRPCactive_Callback", [](int, Arguments a) { return fastEdit("Active", a); }},
        {"fasteditRPCvalue_Callback", [](int, Arguments a) { return fastEdit("Value", a); }},
        {"fasteditRPCgain_Callback", [](int, Arguments a) { return fastEdit("Gain", a); }},
        {"pbOK_Callback", none([](Arguments a) { closeWith("OK", a); })},
        {"pbCancel_Callback", none([](Arguments a) { closeWith("Cancel", a); })},
        {"Close_Callback", none([](Arguments a) { closeWith("Cancel", a); })},
    };
}

}  // namespace

}  // namespace windows::app

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> OneX_Fwd_GUI_RPCsetup(int nargout, Arguments args) {
    static const windows::app::Locals locals = windows::app::rpcSetupLocals();
    return windows::app::dispatchDialog("OneX_Fwd_GUI_RPCsetup", locals, windows::app::runDialog, nargout, args);
}

}  // namespace brevia::bind
