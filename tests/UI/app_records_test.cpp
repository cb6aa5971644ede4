#include "UI/app_records.h"

#include <gtest/gtest.h>

#include <limits>

#include "host/error.h"
#include "host/function_table.h"
#include "host/records.h"

using host::Array;

TEST(AppInfo, HoldsTheFixedFactsAndEmptyBookkeeping) {
    ui::InitializeAppInfo();
    const Array& a = host::record("appInfo");
    const struct {
        const char* field;
        const char* text;
    } texts[] = {
        {"Name", "1xEV Forward Link"},
        {"Platform", "b"},
        {"Rev", "A.01.06.001"},
        {"Date", "23-Aug-2002"},
        {"Notes", "Release Notes:"},
        {"NotesLine2", "1xEV Forward Link Signal Generation Applet for"},
        {"NotesLine4", "This applet supports all modulation parameters"},
        {"NotesLine5", "of the 1xEV Forward Link standard."},
        {"ApplicationFunction", "OneX_Fwd_GUI_b"},
        {"ParameterFileExtension", ".mat"},
    };
    for (const auto& t : texts) EXPECT_EQ(a.field(t.field).text(), t.text) << t.field;
    EXPECT_NE(a.field("NotesLine3").text().find("Orvex-B"), std::string::npos);
    EXPECT_EQ(a.field("IsRelease").realAt(0), 1);
    for (const char* f : {"ClientWindows", "LastCaluclatedParameterSet", "LastCalcTimeStamp"}) EXPECT_TRUE(a.field(f).isEmpty()) << f;
    EXPECT_EQ(a.fieldNames().front(), "Name");
    EXPECT_EQ(a.fieldNames().back(), "LastCalcTimeStamp");
}

TEST(ShellArithmetic, TagNumbersCentringAndFontEnlargement) {
    const struct {
        const char* tag;
        double index;
    } tags[] = {{"chkRPCchnActive12", 12}, {"txtEvent1", 1}, {"pbOK", 0}, {"slot007", 7}, {"", 0}, {"42", 42}, {"a1b2", 2}};
    for (const auto& t : tags) {
        EXPECT_EQ(ui::getTagIndex(t.tag), t.index) << t.tag;
        EXPECT_EQ(host::callFunction("getTagIndex", 1, {Array::string(t.tag)}).front().realAt(0), t.index) << t.tag;
    }
    EXPECT_THROW(host::callFunction("getTagIndex", 1, {Array::scalar(3)}), host::Error);

    const ui::Placed dialog = ui::centredOn({0, 0, 300, 200}, {100, 50, 700, 400});
    EXPECT_EQ(dialog.left, 300);
    EXPECT_EQ(dialog.bottom, 150);
    EXPECT_EQ(dialog.width, 300);
    EXPECT_EQ(ui::centredOn({5, 5, 200, 100}, {1, 1, 1920, 1080}).left, 861);

    EXPECT_EQ(ui::enlargedFontSize(8, 96), 9);
    EXPECT_EQ(ui::enlargedFontSize(10, 96), 11);
    EXPECT_EQ(ui::enlargedFontSize(8, 120), 8);
    EXPECT_EQ(ui::enlargedFontSize(8, 72), 8);
}

TEST(ShellRecords, ComparisonAndTimeStamps) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto record = [](Array value) {
        Array r = Array::structure();
        r.setField("a", Array::scalar(1));
        r.setField("b", std::move(value));
        return r;
    };
    Array nested = Array::structure();
    nested.setField("x", Array::string("t"));
    const struct {
        Array a, b;
        bool equal;
    } cases[] = {
        {record(Array::scalar(2)), record(Array::scalar(2)), true},
        {record(Array::scalar(2)), record(Array::scalar(3)), false},
        {record(Array::row(std::vector<double>{1, nan})), record(Array::row(std::vector<double>{1, nan})), true},
        {record(Array::row(std::vector<double>{1, nan})), record(Array::row(std::vector<double>{nan, 1})), false},
        {record(Array::row(std::vector<double>{1, 2})), record(Array::column(std::vector<double>{1, 2})), false},
        {record(Array::string("abc")), record(Array::string("abc")), true},
        {record(Array::string("abc")), record(Array::scalar(3)), false},
        {record(Array()), record(Array::string("")), true},
        {record(nested), record(nested), true},
        {record(Array::scalar(1)), Array::scalar(1), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(ui::compareStruct(cases[i].a, cases[i].b), cases[i].equal) << i;
    Array swapped = Array::structure();
    swapped.setField("b", Array::scalar(2));
    swapped.setField("a", Array::scalar(1));
    EXPECT_FALSE(ui::compareStruct(record(Array::scalar(2)), swapped));

    EXPECT_EQ(ui::clock2str(Array::row(std::vector<double>{2026, 12, 6, 9, 5, 7.8})), "06DEC2026 9:05:07");
    EXPECT_EQ(host::callFunction("clock2str", 1, {Array::row(std::vector<double>{2002, 8, 23, 14, 30, 0})}).front().text(),
              "23AUG2002 14:30:00");
    EXPECT_THROW(ui::clock2str(Array::row(std::vector<double>{2026, 13, 1, 0, 0, 0})), host::Error);
}
