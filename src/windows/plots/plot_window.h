#pragma once
// What the analysis plot windows share: where a new one opens relative to the window that
// asked for it, the compact File/Edit/Tools menus, and the "Plot Error" box.

#include <string>

#include "UI/plot_data.h"
#include "host/array.h"
#include "windows/gui/graphics.h"

namespace windows::plots {

using windows::gui::Handle;

// The parent's place and units, or the screen's when `parent` is 0. Throws a host error for
// a handle that is not a window.
struct ParentPlacement {
    std::optional<::ui::plot::Rect> position;
    bool pixels = true;
};
ParentPlacement parentPlacement(Handle parent);

// A hidden plot window named `name`, placed by `placement` from its parent.
Handle newPlotWindow(const std::string& name, Handle parent, ::ui::plot::Placement placement, bool standardMenuBar = false);

// File (Print, Print Setup, Close), Edit (Copy) and Tools (Zoom, Rotate, Zoom Reset). Rotate
// is created disabled in windows that have nothing to turn; `separateZoomReset` puts a
// separator line before Zoom Reset.
void addPlotMenus(Handle figure, bool rotateEnabled, bool separateZoomReset);

// The title, axis labels and limits of a 2-D plot.
struct AxesLook {
    std::string title, xLabel, yLabel;
    double xMin = 0, xMax = 1, yMin = 0, yMax = 1;
};
void dressAxes(Handle axes, const AxesLook& look);

// Axes at the default position moved as every single-axes plot moves them.
Handle plotAxes(Handle figure);

windows::gui::Position toPosition(const ::ui::plot::Rect& r);

// The "Plot Error" box: `what` ("Unable to Plot Eye Diagram"), a line break, the reason.
void showPlotError(const std::string& what, const std::string& reason);

// The samples of a waveform argument and whether they are all real (an empty array or text
// is no waveform: empty). Throws a host error naming `function` for anything else.
struct Waveform {
    host::ComplexVector samples;
    bool real = true;
};
Waveform waveformArgument(const host::Array& a, const char* function);

// A label argument: text, or [] for none.
std::string labelArgument(const host::Array& a, const char* function);

// A handle argument: a real scalar, 0 for the screen.
Handle handleArgument(const host::Array& a, const char* function, const char* name);

// A figure handle as the host form returns it ([] when there is no window).
host::Array figureResult(Handle figure);

}  // namespace windows::plots
