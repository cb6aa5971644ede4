#include "host/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <limits>
#include <numbers>

using host::num2str;
using host::parseNumbers;
using V = std::vector<double>;

TEST(Num2str, WritesNumbersAsTheHostDoes) {
    EXPECT_EQ(num2str(163840), "163840");
    EXPECT_EQ(num2str(-3), "-3");
    EXPECT_EQ(num2str(-0.0), "0");
    EXPECT_EQ(num2str(1e20), "100000000000000000000");
    EXPECT_EQ(num2str(-12.5), "-12.5");
    EXPECT_EQ(num2str(1.2345678), "1.2346");
    EXPECT_EQ(num2str(9.8304), "9.8304");
    EXPECT_EQ(num2str(4915200.5), "4915200.5");
    EXPECT_EQ(num2str(123456.789), "123456.789");
    EXPECT_EQ(num2str(0.1), "0.1");
    // Below 1 the host keeps five significant digits.
    EXPECT_EQ(num2str(0.012345678), "0.012346");
    EXPECT_EQ(num2str(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(num2str(std::numeric_limits<double>::infinity()), "Inf");
    EXPECT_EQ(num2str(-std::numeric_limits<double>::infinity()), "-Inf");
}

TEST(ParseNumbers, ReadsListsOfNumbers) {
    EXPECT_EQ(parseNumbers("3 700"), (V{3, 700}));
    EXPECT_EQ(parseNumbers("1e3"), (V{1000}));
    EXPECT_EQ(parseNumbers("-12.5"), (V{-12.5}));
    EXPECT_EQ(parseNumbers("  42  "), (V{42}));
    EXPECT_EQ(parseNumbers("1,2 , 3"), (V{1, 2, 3}));
    EXPECT_EQ(parseNumbers("[4 5]"), (V{4, 5}));
    EXPECT_EQ(parseNumbers("3;4"), (V{3, 4}));
    EXPECT_EQ(parseNumbers(".5"), (V{0.5}));
    EXPECT_EQ(parseNumbers("+7"), (V{7}));
    EXPECT_EQ(parseNumbers("2.5E-1"), (V{0.25}));
    EXPECT_EQ(parseNumbers("1d2"), (V{100}));
}

TEST(ParseNumbers, SignsAfterSpacesFollowTheBracketRules) {
    EXPECT_EQ(parseNumbers("1 -2"), (V{1, -2}));
    EXPECT_EQ(parseNumbers("1 - 2"), (V{-1}));
    EXPECT_EQ(parseNumbers("1-2"), (V{-1}));
    EXPECT_EQ(parseNumbers("1 +2"), (V{1, 2}));
    EXPECT_EQ(parseNumbers("(1 -2)"), (V{-1}));
}

TEST(ParseNumbers, SimpleArithmeticAndConstants) {
    EXPECT_EQ(parseNumbers("2*3+1"), (V{7}));
    EXPECT_EQ(parseNumbers("2^-1"), (V{0.5}));
    EXPECT_EQ(parseNumbers("-(3+1)/2"), (V{-2}));
    EXPECT_EQ(parseNumbers("-2^2"), (V{-4}));
    EXPECT_DOUBLE_EQ(parseNumbers("2*pi")[0], 2 * std::numbers::pi);
    EXPECT_EQ(parseNumbers("-Inf")[0], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(parseNumbers("NaN")[0]));
}

TEST(ParseNumbers, NeverRunsCodeAndRefusesAnythingElse) {
    for (const char* text : {"", "abc", "exit", "quit", "system('rm -rf /')", "!ls", "eval('1')", "x=3", "1+",
                             "1e", "(1", "1)", "1..2", "3 abc", "pi()", "2**3", "[1 2", "1 2]", "'5'", "0x10"})
        EXPECT_TRUE(parseNumbers(text).empty()) << "\"" << text << "\"";
}

TEST(ParseNumbers, SurvivesHostileInput) {
    EXPECT_TRUE(parseNumbers(std::string(100000, '(')).empty());
    EXPECT_TRUE(parseNumbers(std::string(4000, '(') + "1" + std::string(4000, ')')).empty());
    EXPECT_TRUE(parseNumbers(std::string(3000, '-') + "1").empty());
    EXPECT_EQ(parseNumbers(std::string(60, '(') + "1" + std::string(60, ')')), (V{1}));
    EXPECT_TRUE(parseNumbers(std::string("1\0 2", 4)).empty());
}

// An entry box reads a comma between two digits as a decimal comma; other commas and spaces
// still separate numbers, of which the box takes the largest.
TEST(LargestNumber, DecimalCommasAndSeparators) {
    const struct {
        const char* text;
        double largest;
    } cases[] = {{"-12,5", -12.5}, {"6,144", 6.144}, {"1,2 , 3", 3}, {"1,2,3", 3}, {"3 700", 700}, {"3, 700", 700},
                 {"1.5,2", 2},     {"2,2e3", 2200},  {"-1,5 -2", -1.5}};
    for (const auto& c : cases) EXPECT_EQ(host::largestNumber(c.text), c.largest) << c.text;
    EXPECT_EQ(host::withDecimalCommas("1,2,3"), "1.2,3");
    EXPECT_FALSE(host::largestNumber("abc,").has_value());
}

// Numbers are written and read with a decimal point while the C library's locale writes a
// decimal comma (a German one, made here from the system's locale sources).
TEST(Num2str, ADecimalCommaLocaleChangesNoNumberText) {
    const std::string folder = testing::TempDir() + "brevia_locales";
    std::filesystem::create_directories(folder);
    const std::string make = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
    (void)std::system(make.c_str());  // warnings give a non-zero status; the setlocale below decides
    setenv("LOCPATH", folder.c_str(), 1);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "no de_DE locale could be made in " << folder;
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");  // the locale is really in force
    EXPECT_EQ(num2str(2.2), "2.2");
    EXPECT_EQ(num2str(-12.5), "-12.5");
    EXPECT_EQ(num2str(1234567890.5), "1234567890.5");
    EXPECT_EQ(host::fixedText(0.97994, 3), "0.980");
    EXPECT_EQ(parseNumbers("6.144"), (V{6.144}));
    EXPECT_EQ(parseNumbers("2.5E-1 1e400"), (V{0.25, std::numeric_limits<double>::infinity()}));
    EXPECT_EQ(host::largestNumber(num2str(6.144)), 6.144);  // a box reads back what it shows
    std::setlocale(LC_ALL, before.c_str());
    unsetenv("LOCPATH");
}
