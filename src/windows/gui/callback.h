#pragma once
// Callback texts of controls and menus, such as
//   rfCommonUI('menuFileNew_Callback',gcbo,[],guidata(gcbo))
//   SX_Zoom
//   zoom out
// read into a call by name. Only this small grammar is understood and nothing is ever
// evaluated: a text outside it is refused with a message naming it.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace windows::gui {

// The values a callback can pass: text, a number, the empty matrix [], the object whose
// callback runs (gcbo), its figure (gcbf, gcf) and that figure's stored data.
enum class CallbackValue { Empty, Gcbo, Gcbf, Gcf, GuidataOfGcbo, GuidataOfGcbf };
using CallbackArgument = std::variant<std::string, double, CallbackValue>;

struct ParsedCallback {
    std::string function;
    std::vector<CallbackArgument> arguments;  // function(a, b, ...) form
    std::vector<std::string> words;           // command form: "zoom out", "print -dsetup"
};

// Throws host::Error("Invalid callback text: ...") for anything else.
ParsedCallback parseCallback(std::string_view text);

}  // namespace windows::gui
