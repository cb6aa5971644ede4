// The instrument I/O configuration dialog SX_SigGen: how the application reaches the signal
// generator (GPIB, RS-232, TCP/IP, or LAN: the instrument's raw SCPI socket, which needs no
// VISA library), edited on the connection record's structure form, with a check-hardware
// button that pings the instrument.

#include <QApplication>
#include <QEventLoop>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>
#include <iostream>
#include <string>
#include <vector>

#include "MexIO/instrument_wrappers.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/interrupt.h"
#include "host/text.h"
#include "windows/app/instrument_work.h"
#include "windows/app/module.h"
#include "windows/app/status_line.h"
#include "windows/gui/graphics.h"

namespace windows::app {


using host::Array;
using host::Arguments;
using windows::gui::Handle;
namespace gui = windows::gui;

namespace {

// The platform's connections, then the raw socket, which every platform can use.
std::vector<std::string> connectionList(int model) {
    if (model == 1) return {"RS232", "GPIB", "LAN"};
    if (model == 2) return {"GPIB", "TCP/IP", "LAN"};
    return {"RS232", "GPIB", "TCPIP", "LAN"};
}

constexpr double kDefaultLanPort = 5025;

std::vector<std::string> entries(Handle list) {
    const Array items = gui::get(list, "String");
    std::vector<std::string> out;
    if (items.isCell())
        for (std::size_t i = 0; i < items.numel(); ++i) out.push_back(items.cellAt(i).text());
    else if (items.isChar())
        out.push_back(items.text());
    return out;
}

// The first entry equal to the text, case aside ("TCPIP" looked up as "TCP/IP" first), else 1.
double indexOfText(Handle list, const std::string& text) {
    const std::vector<std::string> e = entries(list);
    auto find = [&](const std::string& t) {
        for (std::size_t i = 0; i < e.size(); ++i)
            if (host::upperCase(e[i]) == host::upperCase(t)) return static_cast<double>(i + 1);
        return 0.0;
    };
    if (host::upperCase(text) == "TCPIP")
        if (const double i = find("TCP/IP")) return i;
    const double i = find(text);
    return i ? i : 1;
}

std::string textAt(Handle list, double index) {
    const std::vector<std::string> e = entries(list);
    if (e.empty()) return {};
    const std::string t = index >= 1 && index <= static_cast<double>(e.size()) ? e[static_cast<std::size_t>(index) - 1] : e[0];
    return t == "TCP/IP" ? "TCPIP" : t;
}

Handle control(const Array& state, const char* tag) { return state.field(tag).realAt(0); }
double value(const Array& state, const char* tag) { return gui::get(control(state, tag), "Value").realAt(0); }
void setValue(const Array& state, const char* tag, double v) { gui::set(control(state, tag), "Value", Array::scalar(v)); }
double number(const Array& r, const char* sub, const char* f) { return r.field(sub).field(f).realAt(0); }
std::string text(const Array& r, const char* sub, const char* f) { return r.field(sub).field(f).text(); }

Array initConfig() {
    Array c = Array::structure();
    c.setField("type", Array::string("GPIB"));
    Array gpib = Array::structure();
    gpib.setField("board", Array::scalar(0));
    gpib.setField("primary", Array::scalar(19));
    gpib.setField("secondary", Array::scalar(-1));
    Array rs232 = Array::structure();
    rs232.setField("port", Array::scalar(1));
    rs232.setField("baudrate", Array::scalar(19200));
    rs232.setField("handshake", Array::string("Xon/Xoff"));
    Array tcpip = Array::structure();
    tcpip.setField("address", Array::string("0.0.0.0"));
    tcpip.setField("board", Array::scalar(0));
    Array lan = Array::structure();
    lan.setField("address", Array::string("127.0.0.1"));
    lan.setField("port", Array::int32Scalar(static_cast<std::int32_t>(kDefaultLanPort)));
    c.setField("GPIB", gpib);
    c.setField("RS232", rs232);
    c.setField("TCPIP", tcpip);
    c.setField("LAN", lan);
    return c;
}

// A socket port as typed or stored: rounded half away from zero and limited to 1 ... 65535;
// what is not one number keeps `previous`.
double lanPort(const Array& given, double previous) {
    if (!given.isNumeric() || given.numel() != 1 || std::isnan(given.realAt(0))) return previous;
    return std::clamp(std::round(given.realAt(0)), 1.0, 65535.0);
}

// Step 7: every number into the range its list can show.
void clampRecord(Array& c, Handle baudList) {
    auto clamp = [&](const char* sub, const char* f, double low, double high) {
        Array& s = c.field(sub);
        const Array* v = s.findField(f);
        const double x = v && v->isNumeric() && !v->isEmpty() ? v->realAt(0) : low;
        s.setField(f, Array::scalar(std::min(std::max(x, low), high)));
    };
    clamp("GPIB", "board", 0, 15);
    clamp("GPIB", "primary", 0, 30);
    clamp("GPIB", "secondary", -1, 31);
    clamp("RS232", "port", 1, 9);
    const std::vector<std::string> bauds = entries(baudList);
    const double lowest = bauds.empty() ? 0 : host::parseNumbers(bauds.front()).at(0);
    const double third = bauds.size() < 3 ? lowest : host::parseNumbers(bauds[2]).at(0);
    clamp("RS232", "baudrate", lowest, third);
    c.field("TCPIP").setField("board", Array::scalar(0));
    const Array* address = c.field("LAN").findField("address");
    if (!address || !address->isChar()) c.field("LAN").setField("address", Array::string("127.0.0.1"));
    const Array* port = c.field("LAN").findField("port");
    c.field("LAN").setField("port", Array::int32Scalar(static_cast<std::int32_t>(lanPort(port ? *port : Array(), kDefaultLanPort))));
}

// Fills in whatever the record lacks from the defaults, so a partial record still opens.
Array completeRecord(const Array& given) {
    Array c = initConfig();
    if (!given.isStruct()) return c;
    if (const Array* t = given.findField("type"); t && t->isChar()) c.setField("type", *t);
    for (const char* sub : {"GPIB", "RS232", "TCPIP", "LAN"})
        if (const Array* s = given.findField(sub); s && s->isStruct())
            for (const std::string& f : s->fieldNames()) c.field(sub).setField(f, s->field(f));
    if (const Array* last = given.findField("LastParameterFilename")) c.setField("LastParameterFilename", *last);
    return c;
}

void showControls(const Array& state) {
    const std::string chosen = host::upperCase(textAt(control(state, "pmConnection"), value(state, "pmConnection")));
    for (const auto& [group, type] :
         {std::pair{"configGPIB", "GPIB"}, {"configRS232", "RS232"}, {"configTCPIP", "TCPIP"}, {"configLAN", "LAN"}})
        gui::set(control(state, group), "Visible", chosen == type ? "on" : "off");
}

void updateHandShakeTip(const Array& state) {
    const double entry = value(state, "pmHandShake");
    const std::string tip = std::string("Set the Instrument's RS-232 Pace to:\n  Transmit Pace = None\n") +
                            (entry == 2 ? "  Receive Pace  = Xon\n" : "  Receive Pace  = None\n") +
                            (entry == 3 ? "  RTS/CTS       = RTS/CTS Pacing" : "  RTS/CTS       = Off");
    gui::set(control(state, "pmHandShake"), "TooltipString", tip);
    gui::set(control(state, "lblHandShake"), "TooltipString", tip);
    if (host::upperCase(textAt(control(state, "pmConnection"), value(state, "pmConnection"))) == "RS232")
        gui::set(control(state, "lblStatus"), "String", tip);
}

void updateGuiObjects(const Array& state, Array& c) {
    const double model = state.field("Model").realAt(0);
    const std::string type = host::upperCase(c.field("type").text());
    if ((model == 1 && type == "TCPIP") || (model == 2 && type == "RS232")) c.setField("type", Array::string("GPIB"));
    try {
        const std::vector<std::string> list = connectionList(static_cast<int>(model));
        Array items = Array::cell(1, list.size());
        for (std::size_t i = 0; i < list.size(); ++i) items.cellAt(i) = Array::string(list[i]);
        gui::set(control(state, "pmConnection"), "String", items);
    } catch (const std::exception& e) {
        gui::set(control(state, "lblStatus"), "String", e.what());
    }
    setValue(state, "pmConnection", indexOfText(control(state, "pmConnection"), c.field("type").text()));
    setValue(state, "pmGpibBoard", number(c, "GPIB", "board") + 1);
    setValue(state, "pmPrimaryAddress", number(c, "GPIB", "primary") + 1);
    setValue(state, "pmSecondaryAddress", number(c, "GPIB", "secondary") + 2);
    setValue(state, "pmPortNumber", number(c, "RS232", "port"));
    setValue(state, "pmBaudRate", indexOfText(control(state, "pmBaudRate"), host::num2str(number(c, "RS232", "baudrate"))));
    setValue(state, "pmHandShake", indexOfText(control(state, "pmHandShake"), text(c, "RS232", "handshake")));
    gui::set(control(state, "editTCPIPAddress"), "String", text(c, "TCPIP", "address"));
    gui::set(control(state, "editLANAddress"), "String", text(c, "LAN", "address"));
    gui::set(control(state, "editLANPort"), "String", host::num2str(number(c, "LAN", "port")));
}

// The port the box holds (its last number), or `previous` when it holds none.
double portEntry(const Array& state, double previous) {
    const double shownBefore = state.hasField("lanPort") ? state.field("lanPort").realAt(0) : previous;
    const std::vector<double> typed = host::parseNumbers(gui::get(control(state, "editLANPort"), "String").text());
    return lanPort(typed.empty() ? Array() : Array::scalar(typed.back()), shownBefore);
}

// The record as the controls show it.
Array updateConfig(const Array& state, Array c) {
    c.setField("type", Array::string(textAt(control(state, "pmConnection"), value(state, "pmConnection"))));
    c.field("GPIB").setField("board", Array::scalar(value(state, "pmGpibBoard") - 1));
    c.field("GPIB").setField("primary", Array::scalar(value(state, "pmPrimaryAddress") - 1));
    c.field("GPIB").setField("secondary", Array::scalar(value(state, "pmSecondaryAddress") - 2));
    c.field("RS232").setField("port", Array::scalar(value(state, "pmPortNumber")));
    const std::vector<double> baud = host::parseNumbers(textAt(control(state, "pmBaudRate"), value(state, "pmBaudRate")));
    c.field("RS232").setField("baudrate", Array::scalar(baud.empty() ? 0 : baud.front()));
    c.field("RS232").setField("handshake", Array::string(textAt(control(state, "pmHandShake"), value(state, "pmHandShake"))));
    c.field("TCPIP").setField("address", Array::string(gui::get(control(state, "editTCPIPAddress"), "String").text()));
    c.field("TCPIP").setField("board", Array::scalar(0));
    std::string address = gui::get(control(state, "editLANAddress"), "String").text();
    while (!address.empty() && std::isspace(static_cast<unsigned char>(address.back()))) address.pop_back();
    while (!address.empty() && std::isspace(static_cast<unsigned char>(address.front()))) address.erase(address.begin());
    if (!address.empty()) c.field("LAN").setField("address", Array::string(address));
    c.field("LAN").setField("port", Array::int32Scalar(static_cast<std::int32_t>(portEntry(state, number(c, "LAN", "port")))));
    return c;
}


Handle dialogOf(Arguments a) {
    const Handle h = a.empty() ? 0 : host::realScalar(*a[0], {"SX_SigGen", "h"});
    return gui::figureOf(h);
}

// The port box after an entry: the number typed, rounded and limited, or without a number the
// port it showed before; shown back either way.
void lanPortEntered(Arguments a) {
    const Handle fig = dialogOf(a);
    Array state = gui::guidata(fig);
    const double previous = state.hasField("lanPort") ? state.field("lanPort").realAt(0) : number(state.field("record"), "LAN", "port");
    const double port = portEntry(state, previous);
    state.setField("lanPort", Array::scalar(port));
    gui::set(control(state, "editLANPort"), "String", host::num2str(port));
    gui::guidata(fig, state);
}

void finish(Arguments a, const char* answer) {
    const Handle fig = dialogOf(a);
    Array state = gui::guidata(fig);
    state.setField("answer", Array::string(answer));
    gui::guidata(fig, state);
    gui::uiresume(fig);
}

void connectionChosen(Arguments a) {
    const Handle fig = dialogOf(a);
    Array state = gui::guidata(fig);
    const double model = state.field("Model").realAt(0);
    const std::string chosen = host::upperCase(textAt(control(state, "pmConnection"), value(state, "pmConnection")));
    const bool forbidden = (model == 1 && chosen == "TCPIP") || (model == 2 && chosen == "RS232");
    if (forbidden)
        setValue(state, "pmConnection", state.field("handlesLastConnection").realAt(0));
    else
        state.setField("handlesLastConnection", Array::scalar(value(state, "pmConnection")));
    gui::guidata(fig, state);
    showControls(state);
    gui::set(control(state, "lblStatus"), "String", "");
    if (chosen == "RS232") updateHandShakeTip(state);
}

void checkHardware(Arguments a) {
    const Handle fig = dialogOf(a);
    const Array state = gui::guidata(fig);
    const std::string pointer = gui::get(fig, "Pointer").text();
    gui::set(fig, "Pointer", "watch");
    const Array record = updateConfig(state, state.field("record"));
    gui::set(control(state, "lblStatus"), "String", "... Checking ...");
    // Shown before the wait; a click meanwhile waits its turn rather than running inside this one.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::string shown;
    try {
        runInstrumentWork([&shown, record] {
            host::setProgressStep("Checking the connection");
            const std::vector<Array> r = host::callFunction("VerifyComm", 2, {record});
            shown = r[1].isChar() ? r[1].text() : host::num2str(r[1].isEmpty() ? 0 : r[1].realAt(0));
            // An instrument that answered also says what it is, under the description.
            if (!r[0].isEmpty() && r[0].realAt(0) == 0 && !host::interruptRequested()) {
                host::setProgressStep("Asking the instrument what it is");
                const std::vector<Array> idn = host::callFunction("hwQuery", 2, {record, Array::string("*IDN?")});
                if (!idn[0].isEmpty() && idn[0].realAt(0) == 0 && idn[1].isChar()) {
                    std::string reply = idn[1].text();
                    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r' || reply.back() == ' ')) reply.pop_back();
                    shown += "\n" + reply;
                }
            }
            if (host::interruptRequested()) shown = "Check cancelled";
        });
    } catch (const std::exception& e) {
        shown = e.what();
    }
    gui::set(control(state, "lblStatus"), "String", shown);
    showStatusNow(StatusPart::Instrument, "Check Hardware", shown);
    gui::set(fig, "Pointer", pointer);
}

std::vector<Array> open(int nargout, Arguments args) {
    const Handle fig = gui::openfig("SX_SigGen");
    gui::set(fig, "Color", gui::get(gui::kRoot, "DefaultUicontrolBackgroundColor"));
    Array state = gui::guihandles(fig);
    state.setField("handlesLastConnection", Array::scalar(2));
    std::vector<const Array*> a(args.begin(), args.end());
    double model = 0;
    if (a.size() >= 3 && a[2]->isChar() && (a[2]->text() == "b" || a[2]->text() == "c")) {
        model = a[2]->text() == "b" ? 1 : 2;
        a.pop_back();
    }
    state.setField("Model", Array::scalar(model));
    if (!a.empty() && a[0]->isNumeric() && !a[0]->isEmpty()) {
        const Handle parent = a[0]->realAt(0);
        if (parent != gui::kRoot && gui::isValid(parent) && gui::kindOf(parent) == gui::Kind::Figure) {
            gui::set(fig, "Units", gui::get(parent, "Units"));
            const Array p = gui::get(parent, "Position"), d = gui::get(fig, "Position");
            gui::set(fig, "Position", {p.realAt(0) + p.realAt(2) / 2 - d.realAt(2) / 2, p.realAt(1) + p.realAt(3) - d.realAt(3), d.realAt(2), d.realAt(3)});
        }
    }
    Array record = initConfig();
    if (a.size() >= 2 && a[1]->isStruct()) {
        // An initial-form hand-shake index names an entry of this dialog's list.
        std::optional<std::string> handshake;
        if (const Array* index = a[1]->findField("HandShake"); index && index->isNumeric() && index->numel() == 1)
            handshake = textAt(control(state, "pmHandShake"), index->realAt(0) + 1);
        record = completeRecord(mexio::reStructureConfig(*a[1], handshake));
        clampRecord(record, state.field("pmBaudRate").realAt(0));
    }
    if (a.size() >= 3 && a[2]->isChar()) gui::set(fig, "Name", a[2]->text() + " IO Connection");
    host::callFunction("resizeAllFonts", 0, {state});
    gui::set(control(state, "pmBaudRate"), "TooltipString", "Select the communication baud rate.\r\nNOTE: This must agree with the instrument.");
    gui::set(control(state, "pmPrimaryAddress"), "TooltipString", "Select the primary address of your source.\r\nThe default factory setting is 19.");
    updateGuiObjects(state, record);
    updateHandShakeTip(state);
    showControls(state);
    state.setField("record", record);
    state.setField("answer", Array::string("Cancel"));
    gui::guidata(fig, state);
    // Closing the window is Cancel.
    gui::set(fig, "CloseRequestFcn", "SX_SigGen('pbCancel_Callback',gcbo,[],guidata(gcbo))");
    gui::set(fig, "WindowStyle", "modal");
    gui::set(fig, "Visible", "on");
    gui::uiwait(fig);

    std::vector<Array> out{Array::string("Cancel"), record};
    if (gui::isValid(fig)) {
        const Array after = gui::guidata(fig);
        if (after.field("answer").text() == "OK") out = {Array::string("OK"), updateConfig(after, record)};
        gui::deleteObject(fig);
    }
    (void)nargout;
    return out;
}

}  // namespace

}  // namespace windows::app

namespace windows::app {

// The dialog's callbacks by name; the choices of the lists and boxes are read when it closes.
Locals ioDialogLocals() {
    auto none = [](auto f) { return [f](int, Arguments a) { f(a); return std::vector<Array>{}; }; };
    auto readAtClose = [](int, Arguments) { return std::vector<Array>{}; };
    Locals l{
        {"pbOK_Callback", none([](Arguments a) { finish(a, "OK"); })},
        {"pbCancel_Callback", none([](Arguments a) { finish(a, "Cancel"); })},
        {"pmConnection_Callback", none([](Arguments a) { connectionChosen(a); })},
        {"pbCheckHardware_Callback", none([](Arguments a) { checkHardware(a); })},
        {"editLANPort_Callback", none([](Arguments a) { lanPortEntered(a); })},
        {"pmHandShake_Callback", none([](Arguments a) { updateHandShakeTip(windows::gui::guidata(dialogOf(a))); })},
        {"initConfig", [](int, Arguments) { return std::vector<Array>{initConfig()}; }},
    };
    for (const char* name : {"pmGpibBoard_Callback", "pmPrimaryAddress_Callback", "pmSecondaryAddress_Callback", "pmPortNumber_Callback",
                             "pmBaudRate_Callback", "editTCPIPAddress_Callback", "editLANAddress_Callback", "UpdateIoAddress"})
        l.emplace(name, readAtClose);
    return l;
}

}  // namespace windows::app

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> SX_SigGen(int nargout, Arguments args) {
    if (args.empty() || !args[0]->isChar()) return windows::app::open(nargout, args);
    static const windows::app::Locals locals = windows::app::ioDialogLocals();
    std::vector<Array> out = windows::app::dispatch("SX_SigGen", locals, nargout, args);
    if (out.empty()) out = {Array(), Array()};  // the dialog's two results, empty after an action
    return out;
}

}  // namespace brevia::bind
