#pragma once
// What the application's window modules share: the guarded dispatcher of their local
// functions, reaching controls through the window's handles, and the parameter set.

#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "OneX/parameters.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "windows/app/status_line.h"
#include "windows/gui/graphics.h"

namespace windows::app {

using host::Array;
using host::Arguments;
using windows::gui::Handle;
namespace gui = windows::gui;

using Local = std::function<std::vector<Array>(int nargout, Arguments args)>;
// A control's callback: its own handle and the window's handles.
using Callback = void (*)(Handle h, const Array& handles);
using Locals = std::map<std::string, Local, std::less<>>;

// A guarded dispatcher: the first argument names the local function, the rest are its
// arguments; an error inside is printed on the console and the action ends there.
inline std::vector<Array> dispatch(const char* module, const Locals& locals, int nargout, Arguments args) {
    if (args.empty() || !args[0]->isChar()) return {};
    const std::string name = args[0]->text();
    try {
        const auto it = locals.find(name);
        if (it == locals.end())
            throw host::Error("Undefined function or variable '" + name + "' in " + module + ".");
        return it->second(nargout, args.subspan(1));
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        showStatusNow(StatusPart::Error, "Error", e.what());
    }
    return {};
}

// A dialog module's function: without an action name it runs the dialog (`run`, which
// answers with the button and the record edited), else the action by name, whose two
// results are empty unless it gives some.
inline std::vector<Array> dispatchDialog(const char* module, const Locals& locals, std::vector<Array> (*run)(Arguments), int nargout,
                                         Arguments args) {
    if (args.empty() || !args[0]->isChar()) {
        if (args.empty()) throw host::Error(std::string(module) + ": the dialog window is missing.");
        return run(args);
    }
    std::vector<Array> out = dispatch(module, locals, nargout, args);
    if (out.empty()) out = {Array(), Array()};
    return out;
}

inline Handle tagged(const Array& handles, const char* tag) {
    const Array* h = handles.findField(tag);
    if (!h || h->isEmpty()) throw host::Error(std::string("The window has no control tagged ") + tag + ".");
    return h->realAt(0);
}

inline const Array& argument(Arguments args, std::size_t i, const char* function) {
    if (args.size() <= i) throw host::Error(std::string("Not enough input arguments to ") + function + ".");
    return *args[i];
}

inline double value(Handle h) { return gui::get(h, "Value").realAt(0); }
inline std::string text(Handle h) { return gui::get(h, "String").text(); }
inline void setValue(const Array& handles, const char* tag, double v) { gui::set(tagged(handles, tag), "Value", Array::scalar(v)); }
inline void setText(const Array& handles, const char* tag, const std::string& s) { gui::set(tagged(handles, tag), "String", s); }
inline void setEnable(const Array& handles, const char* tag, bool on) { gui::set(tagged(handles, tag), "Enable", on ? "on" : "off"); }

inline Array& parameters() { return onex::applicationParameters(); }
inline double field(const char* name) { return parameters().field(name).realAt(0); }
inline void store(const char* name, double v) { parameters().setField(name, Array::scalar(v)); }

inline void setTooltips(const Array& handles, std::initializer_list<std::pair<const char*, const char*>> tips) {
    for (const auto& [tag, tip] : tips) gui::set(tagged(handles, tag), "TooltipString", tip);
}

inline std::vector<Array> callModule(const char* module, const char* action, std::vector<Array> rest, int nargout = 0) {
    rest.insert(rest.begin(), Array::string(action));
    return host::callFunction(module, nargout, rest);
}

// Callback locals from a table: the control's handle first, the window's handles third.
inline void addCallbacks(Locals& locals, const std::map<std::string, Callback, std::less<>>& table) {
    for (const auto& [name, callback] : table)
        locals.emplace(name, [name = name, callback = callback](int, Arguments a) {
            const Handle h = host::realScalar(argument(a, 0, name.c_str()), {name, "h"});
            callback(h, argument(a, 2, name.c_str()));
            return std::vector<Array>{};
        });
}

}  // namespace windows::app
