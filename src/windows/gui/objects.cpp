#include "windows/gui/objects.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace windows::gui::detail {

Registry& registry() {
    static Registry r;
    return r;
}

Object* lookup(Handle h) {
    auto& objects = registry().objects;
    const auto it = objects.find(h);
    return it == objects.end() ? nullptr : it->second.get();
}

[[noreturn]] void invalidHandle(Handle h) {
    throw Error("Invalid handle: " + std::to_string(h) + " is not a graphics object.");
}

Object& object(Handle h) {
    Object* o = lookup(h);
    if (!o) invalidHandle(h);
    return *o;
}

// ---- geometry -----------------------------------------------------------------------------

QRect screenRect() {
    ensureApplication();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1280, 1024);
}

// A position from the bottom left of the screen to a Qt geometry (from the top left).
QRect toQt(const Position& p, bool normalized) {
    const QRect s = screenRect();
    double left = p.left, bottom = p.bottom, width = p.width, height = p.height;
    if (normalized) {
        left *= s.width();
        bottom *= s.height();
        width *= s.width();
        height *= s.height();
    }
    const int w = std::max(1, static_cast<int>(std::lround(width)));
    const int h = std::max(1, static_cast<int>(std::lround(height)));
    return {static_cast<int>(std::lround(left)), s.height() - static_cast<int>(std::lround(bottom)) - h, w, h};
}

Position fromQt(const QRect& g, bool normalized) {
    const QRect s = screenRect();
    Position p{static_cast<double>(g.x()), static_cast<double>(s.height() - g.y() - g.height()),
               static_cast<double>(g.width()), static_cast<double>(g.height())};
    if (normalized) {
        p.left /= s.width();
        p.bottom /= s.height();
        p.width /= s.width();
        p.height /= s.height();
    }
    return p;
}

// ---- values -------------------------------------------------------------------------------

std::string textOf(const Array& v, std::string_view property) {
    if (!v.isChar() && !v.isEmpty()) throw Error("Property " + std::string(property) + " takes text.");
    return v.isChar() ? v.text() : std::string();
}

bool onOff(const Array& v, std::string_view property) {
    const std::string t = textOf(v, property);
    if (t == "on") return true;
    if (t == "off") return false;
    throw Error("Property " + std::string(property) + " takes \"on\" or \"off\", not \"" + t + "\".");
}

Array onOffText(bool on) { return Array::string(on ? "on" : "off"); }

std::vector<double> numbers(const Array& v, std::string_view property, std::size_t count) {
    if (!(v.isNumeric() || v.isLogical()) || v.isComplex())
        throw Error("Property " + std::string(property) + " takes real numbers.");
    if (count && v.numel() != count)
        throw Error("Property " + std::string(property) + " takes " + std::to_string(count) + " numbers, not " +
                    std::to_string(v.numel()) + ".");
    std::vector<double> out(v.numel());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = v.realAt(i);
    return out;
}

Array positionArray(const Position& p) { return Array::row(std::vector<double>{p.left, p.bottom, p.width, p.height}); }
Position positionOf(const Array& v, std::string_view property) {
    const auto n = numbers(v, property, 4);
    if (!(n[2] > 0) || !(n[3] > 0)) throw Error("Property " + std::string(property) + " needs a positive width and height.");
    return {n[0], n[1], n[2], n[3]};
}

[[noreturn]] void unknownProperty(const Object& o, std::string_view property) {
    static const char* names[] = {"root", "figure", "uimenu", "axes", "line", "surface", "uicontrol"};
    throw Error("There is no " + std::string(property) + " property on the " + names[static_cast<int>(o.kind)] + " class.");
}

Array handleList(const std::vector<Handle>& hs) {
    Array a = Array::zeros(hs.size(), hs.empty() ? 0 : 1);
    for (std::size_t i = 0; i < hs.size(); ++i) a.setReal(i, hs[i]);
    return a;
}

}  // namespace windows::gui::detail
