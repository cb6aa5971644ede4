#include "UI/app_records.h"

#include <cmath>
#include <complex>
#include <cstdio>

#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/records.h"

namespace ui {

host::Array appInfoDefaults() {
    using host::Array;
    Array a = Array::structure();
    a.setField("Name", Array::string("1xEV Forward Link"));
    a.setField("Platform", Array::string("b"));
    a.setField("IsRelease", Array::scalar(1));
    a.setField("Rev", Array::string("A.01.06.001"));
    a.setField("Date", Array::string("23-Aug-2002"));
    a.setField("Notes", Array::string("Release Notes:"));
    a.setField("NotesLine2", Array::string("1xEV Forward Link Signal Generation Applet for"));
    a.setField("NotesLine3", Array::string("the Orvex-B series of vector signal generators."));
    a.setField("NotesLine4", Array::string("This applet supports all modulation parameters"));
    a.setField("NotesLine5", Array::string("of the 1xEV Forward Link standard."));
    a.setField("ApplicationFunction", Array::string("OneX_Fwd_GUI_b"));
    a.setField("ParameterFileExtension", Array::string(".mat"));
    a.setField("ClientWindows", Array());
    a.setField("LastCaluclatedParameterSet", Array());
    a.setField("LastCalcTimeStamp", Array());
    return a;
}

void InitializeAppInfo() { host::record("appInfo") = appInfoDefaults(); }

namespace {

bool sameValue(const host::Array& x, const host::Array& y) {
    if (x.isEmpty() && y.isEmpty()) return true;
    if (x.isStruct() && y.isStruct()) return compareStruct(x, y);
    if ((x.isNumeric() || x.isLogical()) && (y.isNumeric() || y.isLogical())) {
        if (x.rows() != y.rows() || x.cols() != y.cols()) return false;
        for (std::size_t i = 0; i < x.numel(); ++i) {
            const std::complex<double> u = x.complexAt(i), v = y.complexAt(i);
            const bool nanU = std::isnan(u.real()) || std::isnan(u.imag()), nanV = std::isnan(v.real()) || std::isnan(v.imag());
            if (nanU != nanV || (!nanU && u != v)) return false;
        }
        return true;
    }
    if (x.isChar() && y.isChar()) return x.text() == y.text();
    return false;
}

}  // namespace

bool compareStruct(const host::Array& a, const host::Array& b) {
    if (!a.isStruct() || !b.isStruct() || a.fieldCount() != b.fieldCount()) return false;
    for (std::size_t f = 0; f < a.fieldCount(); ++f) {
        if (a.fieldNames()[f] != b.fieldNames()[f]) return false;
        if (!sameValue(a.fieldAt(static_cast<int>(f), 0), b.fieldAt(static_cast<int>(f), 0))) return false;
    }
    return true;
}

std::string clock2str(const host::Array& c) {
    static const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (c.numel() < 6) throw host::Error("clock2str: the date-time vector must hold year, month, day, hour, minute and seconds.");
    const auto whole = [&](std::size_t i) { return static_cast<long long>(std::floor(c.realAt(i))); };
    const long long month = whole(1);
    if (month < 1 || month > 12) throw host::Error("clock2str: the month must be 1 to 12.");
    char text[64];
    std::snprintf(text, sizeof text, "%02lld%s%lld %lld:%02lld:%02lld", whole(2), months[month - 1], whole(0), whole(3), whole(4), whole(5));
    return text;
}

double getTagIndex(std::string_view tag) {
    double value = 0, weight = 1;
    for (auto it = tag.rbegin(); it != tag.rend() && *it >= '0' && *it <= '9'; ++it) {
        value += (*it - '0') * weight;
        weight *= 10;
    }
    return value;
}

Placed centredOn(const Placed& child, const Placed& parent) {
    return {parent.left + (parent.width - child.width) / 2, parent.bottom + (parent.height - child.height) / 2, child.width,
            child.height};
}

double enlargedFontSize(double size, double pixelsPerInch) { return pixelsPerInch == 96 ? std::round(1.1 * size) : size; }

}  // namespace ui

namespace brevia::bind {

std::vector<host::Array> clock2str(int, host::Arguments args) {
    return {host::Array::string(ui::clock2str(*args[0]))};
}

std::vector<host::Array> getTagIndex(int, host::Arguments args) {
    if (!args[0]->isChar()) throw host::Error("getTagIndex: the tag must be text.");
    return {host::Array::scalar(ui::getTagIndex(args[0]->text()))};
}

}  // namespace brevia::bind
