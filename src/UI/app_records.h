#pragma once
// The application shell's own records and the small computations its windows share, kept
// apart from the windows so that they work, and are tested, without a display.

#include <string>
#include <string_view>

#include "host/array.h"

namespace ui {

// appInfo with its fixed values: name, platform, revision, release notes, the module name the
// common actions call back through, and the empty calculation bookkeeping.
host::Array appInfoDefaults();
// Makes the process's appInfo record the defaults.
void InitializeAppInfo();

// Whether two records hold the same fields in the same order with equal values: empties,
// records (compared the same way), numbers (same size, NaN at the same places, nothing else
// different) and texts; any other pair differs.
bool compareStruct(const host::Array& a, const host::Array& b);

// "06DEC2026 9:05:07" from a date-time vector (year, month, day, hour, minute, seconds).
std::string clock2str(const host::Array& clockVector);

// The number the trailing decimal digits of a tag spell ("chkRPCchnActive12" gives 12, a
// tag without trailing digits 0).
double getTagIndex(std::string_view tag);

// A window's position [left bottom width height] centred on its parent's (or the screen's),
// keeping its size.
struct Placed {
    double left, bottom, width, height;
};
Placed centredOn(const Placed& child, const Placed& parent);

// The font size of a control after enlargement for a screen of `pixelsPerInch`: 10 % larger,
// rounded, on 96 pixels per inch screens only.
double enlargedFontSize(double size, double pixelsPerInch);

}  // namespace ui
