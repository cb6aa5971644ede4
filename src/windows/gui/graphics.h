#pragma once
// The host's graphics objects on Qt 6 Widgets: figure windows, their menus, axes, lines and
// surfaces, each reached by a numeric handle and described by named properties, as the
// application's window and plot code expects of its host. Only the user-interface thread
// touches them.
//
// Positions are [left bottom width height] with the origin at the bottom left: of the screen
// for figures (in pixels, or normalised to the screen when a figure's Units are
// "normalized"), of the figure for axes (always normalised).

#include <QWidget>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"
#include "host/error.h"

class QCustomPlot;

namespace windows::gui {

// The host's value type and error by their short names, as everywhere in the window code.
using host::Array;
using host::Error;

using Handle = double;
inline constexpr Handle kRoot = 0;  // the screen

enum class Kind { Root, Figure, Menu, Axes, Line, Surface, Control };

// The process's Qt application, made on first need: on the offscreen platform when there is
// no display (or QT_QPA_PLATFORM says so).
void ensureApplication();
bool offscreen();
// Whether a three-dimensional view can be drawn here (an OpenGL context can be made).
bool threeDimensionalViewsAvailable();

struct Position {
    double left = 0, bottom = 0, width = 0, height = 0;
};

struct FigureOptions {
    std::string name;
    Position position{150, 150, 340, 340};
    bool normalized = false;  // position normalised to the screen rather than in pixels
    bool standardMenuBar = false;
};
// A new figure window, hidden until its Visible property is set to "on".
Handle figure(const FigureOptions& options);

struct MenuOptions {
    std::string label;     // "&File": the & marks the access key
    std::string callback;  // callback text, run when chosen
    std::string tag;
    bool separator = false;  // a separator line before the item
    bool enabled = true;
};
// A menu in a figure's menu bar, or an item of a menu.
Handle uimenu(Handle parent, const MenuOptions& options);

// Axes in a figure at the default normalised position, or at `position`.
Handle axes(Handle figure);
Handle axes(Handle figure, const Position& position);

struct LineOptions {
    double red = 0, green = 0.447, blue = 0.741;  // the default line colour
    std::string lineStyle = "-";                  // "-", ":", "--" or "none"
    std::string marker = "none";                  // "none", "." or "o"
    bool keepOrder = false;  // a trajectory: points joined in the given order, not sorted by x
};
Handle line(Handle axes, std::span<const double> x, std::span<const double> y, const LineOptions& options = {});
// A surface of levels z (x.size() rows by y.size() columns, column-major) over the grid of x
// and y: three-dimensional when the display can draw it, else a flat colour map.
Handle waterfall(Handle axes, std::span<const double> x, std::span<const double> y, std::span<const double> z);

// Named properties. Every object: Type, Tag, Parent, Children, Visible, UserData. Controls:
// Style, String, Value, Min, Max, Enable, Visible, TooltipString, FontSize, Position,
// Callback, BackgroundColor, ForegroundColor. The screen (kRoot): Units, ScreenSize,
// ScreenPixelsPerInch, DefaultUicontrolBackgroundColor, CurrentFigure, Children. Figures:
// Name, Position, Units, MenuBar, NumberTitle, Pointer, Color (background), CloseRequestFcn
// (a callback text run instead of closing when the user closes the window), WindowStyle
// ("modal": while shown, the application's other windows take no input). Menus: Label, Callback,
// Checked, Enable, Separator. Axes: Position, XLim, YLim, ZLim, XScale, YScale, XGrid, YGrid,
// XTick, Title, XLabel, YLabel, ZLabel. Lines: XData, YData, Color, LineStyle, Marker.
// An unknown property or a value of the wrong kind raises a host error naming both.
Array get(Handle h, std::string_view property);
void set(Handle h, std::string_view property, const Array& value);
void set(Handle h, std::string_view property, std::string_view text);
void set(Handle h, std::string_view property, std::initializer_list<double> numbers);

bool isValid(Handle h);
Kind kindOf(Handle h);
Handle parentOf(Handle h);
std::vector<Handle> childrenOf(Handle h);
Handle figureOf(Handle h);
// The object of `figure` (or any of its descendants) with this Tag; 0 when none.
Handle findByTag(Handle figure, std::string_view tag);
// Deletes an object and everything in it; deleting a figure closes its window.
void deleteObject(Handle h);
// Brings a figure's window to the front.
void raise(Handle figure);
// Shows a picture (a JPEG or PNG file looked for like the layouts: $BREVIA_LAYOUT_PATH, then
// the built-in ones) on a label or button, as the host's CData image does. Throws a host
// error naming the file when it cannot be found or read.
void setImage(Handle control, const std::string& file);
void closeAllFigures();

// The current figure: the last one made or acted on; 0 when there is none.
Handle gcf();
void setCurrentFigure(Handle figure);
// The object whose callback is running; 0 outside callbacks.
Handle gcbo();

// Runs an object's callback as the user choosing it would. An error raised inside is caught
// and its message printed on the console; the application keeps running.
void invokeCallback(Handle object);

// The interactive modes of a figure: zoom (drag a rectangle or wheel to zoom, drag to pan)
// and rotate (turn three-dimensional views). At most one is on.
enum class Mode { None, Zoom, Rotate };
void setMode(Handle figure, Mode mode, bool on);
Mode mode(Handle figure);
// Back to the limits the axes had when they were drawn.
void zoomOut(Handle figure);

// Renders a figure into a PNG file of its size (or width x height pixels when given).
void savePng(Handle figure, const std::string& path, int width = 0, int height = 0);

// ---- windows from layouts ----------------------------------------------------------------

// Opens the window of layout `name` ("OneX_Fwd_GUI_b.fig" or "OneX_Fwd_GUI_b"): the Qt
// Designer file OneX_Fwd_GUI_b.ui from $BREVIA_LAYOUT_PATH (folders separated by ':') or
// else the layouts built into the library. Every named button, text box, label, list,
// slider or group becomes a control and every named menu action a menu item, each tagged
// with its objectName; a widget's or action's string property "Callback" is its callback
// text. The window is hidden and titled by the layout's window title. Throws a host error
// naming the layout when it cannot be found or read.
Handle openfig(std::string_view name);
// A layout of our own (name.ui) as plain Qt widgets, for windows that are no figure (the
// progress window); the caller owns it. Throws host::Error when it cannot be loaded.
QWidget* loadLayoutWidget(std::string_view name, QWidget* parent = nullptr);
// A record with one field per tagged object of the figure (its own tag included), each
// holding the object's handle, in the order the objects were made.
Array guihandles(Handle figure);
// Data kept with the figure of `object` for its callbacks (guidata(gcbo) in callback texts).
void guidata(Handle object, const Array& data);
Array guidata(Handle object);
// Handles events until uiresume(figure), or until the figure is deleted or hidden; returns at
// once for a hidden figure, which nothing on the screen could answer.
void uiwait(Handle figure);
void uiresume(Handle figure);
// Whether a uiwait on the figure is running.
bool waiting(Handle figure);

// The window of a figure (tests and the window code use it to drive Qt directly).
QWidget* windowOf(Handle figure);
// The widget of a control.
QWidget* widgetOf(Handle control);
// The 2-D plot widget of axes, or nullptr for a three-dimensional view.
QCustomPlot* plotOf(Handle axes);
// The three-dimensional view of axes, or nullptr.
QWidget* view3dOf(Handle axes);

}  // namespace windows::gui
