#include "UI/app_records.h"

#include <cmath>

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

std::vector<host::Array> getTagIndex(int, host::Arguments args) {
    host::requireInputs("getTagIndex", args, 1);
    if (!args[0]->isChar()) throw host::Error("getTagIndex: the tag must be text.");
    return {host::Array::scalar(ui::getTagIndex(args[0]->text()))};
}

}  // namespace brevia::bind
