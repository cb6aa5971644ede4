#pragma once
// The graphics objects behind the handles, and what the files that implement them share.
// Internal to the graphics layer.

#include <QEventLoop>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/error.h"
#include "windows/gui/graphics.h"

class QCPAbstractPlottable;
class QCPItemText;
class Q3DSurface;

namespace windows::gui::detail {

struct Object {
    virtual ~Object() = default;
    Kind kind = Kind::Root;
    Handle handle = 0;
    Handle parent = 0;
    std::vector<Handle> children;
    std::string tag;
    Array userData;
};

struct FigureObject : Object {
    QPointer<QMainWindow> window;
    Array guiData;                 // what guidata keeps for the window
    QPointer<QEventLoop> waiting;  // uiwait's loop while it runs
    std::string name;
    Position requested;  // as last set: what Position reads while the window is where it put it
    bool normalized = false;
    bool numberTitle = false;
    bool standardMenuBar = false;
    std::string pointer = "arrow";
    Mode mode = Mode::None;
    std::string closeRequest;  // callback text run instead of closing, when set
};

struct MenuObject : Object {
    QPointer<QMenu> menu;      // a menu of the bar, or an item that holds items
    QPointer<QAction> action;  // how the parent shows it
    QPointer<QAction> separatorBefore;
    std::string label, callback;
    bool separator = false;
};

struct Limits {
    double low = 0, high = 1;
};

struct AxesObject : Object {
    Position position;  // normalised, of the plot box
    QPointer<QCustomPlot> plot;
    QPointer<QCPItemText> title;  // centred above the plot box
    std::string titleText, xLabel, yLabel, zLabel;
    Limits x, y, z;           // as last set by the program: where "zoom out" returns
    bool xSet = false, ySet = false, zSet = false;
    // The three-dimensional view that replaces the plot for a waterfall.
    QPointer<QWidget> container;
    Q3DSurface* surface = nullptr;  // owned by the container
};

struct LineObject : Object {
    QPointer<QCPAbstractPlottable> plottable;  // holds the points
    LineOptions options;
};

struct SurfaceObject : Object {};

// A control of a window loaded from a layout: a button, text box, list, slider, label...
struct ControlObject : Object {
    QPointer<QWidget> widget;
    std::string callback;
    double min = 0, max = 1;  // a check box's off and on values, a slider's range
};

struct Registry {
    std::map<Handle, std::unique_ptr<Object>> objects;
    Handle next = 1;
    Handle currentFigure = 0;
    Handle callbackObject = 0;
};

Registry& registry();
Object* lookup(Handle h);
[[noreturn]] void invalidHandle(Handle h);
Object& object(Handle h);

template <class T>
T& as(Handle h, Kind kind, const char* what) {
    Object& o = object(h);
    if (o.kind != kind) throw Error(std::string("Handle ") + std::to_string(h) + " is not " + what + ".");
    return static_cast<T&>(o);
}

template <class T>
T& add(std::unique_ptr<T> o, Kind kind, Handle parent) {
    Registry& r = registry();
    o->kind = kind;
    o->handle = r.next++;
    o->parent = parent;
    if (Object* p = lookup(parent)) p->children.push_back(o->handle);
    T& ref = *o;
    r.objects.emplace(ref.handle, std::move(o));
    return ref;
}

// Removes an object and everything in it from the table, with its Qt side.
void forget(Handle h);

// Screen positions: bottom-left origin (pixels or normalised) to and from Qt's.
QRect screenRect();
QRect toQt(const Position& p, bool normalized);
Position fromQt(const QRect& g, bool normalized);

// Property values.
std::string textOf(const Array& v, std::string_view property);
bool onOff(const Array& v, std::string_view property);
Array onOffText(bool on);
std::vector<double> numbers(const Array& v, std::string_view property, std::size_t count = 0);
Array positionArray(const Position& p);
Position positionOf(const Array& v, std::string_view property);
[[noreturn]] void unknownProperty(const Object& o, std::string_view property);
Array handleList(const std::vector<Handle>& hs);
const char* typeName(Kind k);

// Controls (controls.cpp).
Array getControl(ControlObject& c, std::string_view property);
void setControl(ControlObject& c, std::string_view property, const Array& value);

}  // namespace windows::gui::detail
