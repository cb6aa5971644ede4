#pragma once
// What the application's modal dialogs share: showing a reused dialog window until one of its
// closing callbacks resumes it, and those callbacks' storing of the answer.

#include <span>
#include <string>

#include "UI/app_records.h"

#include "host/array.h"
#include "host/error.h"
#include "windows/gui/graphics.h"

namespace windows::app::modal {

// Argument i of a dialog's callback or local function.
inline const host::Array& argument(std::span<const host::Array* const> a, std::size_t i) {
    if (a.size() <= i) throw host::Error("Not enough input arguments.");
    return *a[i];
}

// The row (or slot) 1 ... count a per-row control stands for: the digits its tag ends with.
inline std::size_t rowOf(windows::gui::Handle control, std::size_t count, const char* what) {
    const std::string tag = windows::gui::get(control, "Tag").text();
    const auto r = static_cast<std::size_t>(::ui::getTagIndex(tag));
    if (r < 1 || r > count) throw host::Error("The control " + tag + " names no " + what + ".");
    return r;
}

// Whether the dialog is up and waiting already: a second run would reset its working copy
// under the first. The window is brought to the front instead.
inline bool alreadyOpen(windows::gui::Handle fig) {
    if (!windows::gui::isValid(fig) || !windows::gui::waiting(fig)) return false;
    windows::gui::raise(fig);
    return true;
}

// Shows the dialog application-modal, waits until it is resumed, hides it again for the next
// run, and returns the answer its closing callback stored on it: "Cancel" when the window was
// destroyed or hidden without one.
inline std::string run(windows::gui::Handle fig) {
    namespace gui = windows::gui;
    host::Array state = gui::guidata(fig);
    state.setField("answer", host::Array::string("Cancel"));
    gui::guidata(fig, state);
    gui::set(fig, "WindowStyle", "modal");
    gui::set(fig, "Visible", "on");
    gui::raise(fig);
    gui::uiwait(fig);
    if (!gui::isValid(fig)) return "Cancel";
    state = gui::guidata(fig);
    gui::set(fig, "Visible", "off");
    const host::Array* stored = state.findField("answer");
    return stored && stored->isChar() ? stored->text() : "Cancel";
}

// A closing callback: stores `answer` with the window's handles (whose `windowTag` field is the
// window) and resumes the wait.
inline void resume(host::Array handles, const char* windowTag, const char* answer) {
    const host::Array* window = handles.findField(windowTag);
    if (!window || window->isEmpty()) throw host::Error(std::string("The dialog's handles name no window ") + windowTag + ".");
    handles.setField("answer", host::Array::string(answer));
    windows::gui::guidata(window->realAt(0), handles);
    windows::gui::uiresume(window->realAt(0));
}

}  // namespace windows::app::modal
