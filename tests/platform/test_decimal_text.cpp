// Decimal prefixes as strtod, atoi and "%d" read them in the C locale.

#include "platform/decimal_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

// isWhole: ParseWholeDouble takes the text as one number (it refuses blanks and anything after).
TEST(DecimalText, ReadsTheLeadingNumberAndTellsAWholeOne) {
    struct Case { const char* text; double value; bool isWhole; };
    for (const Case& c : {Case{"0.5", 0.5, true}, Case{"-0.5", -0.5, true}, Case{".5", 0.5, true}, Case{"1.", 1.0, true},
                          Case{" \t\v12", 12.0, false}, Case{"+7,8", 7.0, false}, Case{"1e3", 1000.0, true}, Case{"2E-1x", 0.2, false},
                          Case{"1e", 1.0, false}, Case{"1e+", 1.0, false}, Case{"12 ", 12.0, false}, Case{"abc", 0.0, false},
                          Case{"-", 0.0, false}, Case{".", 0.0, false}, Case{"", 0.0, false}, Case{"- 1", 0.0, false},
                          Case{"1e-400", 0.0, true}, Case{"0x10", 0.0, false}, Case{"-1e400", -INFINITY, true}}) {
        EXPECT_EQ(ParseLeadingDouble(c.text), c.value) << '"' << c.text << '"';
        double whole = 7.0;
        EXPECT_EQ(ParseWholeDouble(c.text, whole), c.isWhole) << '"' << c.text << '"';
        EXPECT_EQ(whole, c.isWhole ? c.value : 7.0) << '"' << c.text << '"';
    }
    EXPECT_EQ(ParseLeadingDouble(std::string_view("12345", 2)), 12.0) << "bounded by the view, not a terminator";
}

// taken: the characters "%d" consumes; 0 leaves the value as it was (here 5), and atoi reads 0.
TEST(DecimalText, ReadsTheLeadingIntegerSaturated) {
    struct Case { const char* text; int value; size_t taken; };
    for (const Case& c : {Case{"600     ", 600, 3}, Case{" -1     ", -1, 3}, Case{"+12x", 12, 3}, Case{"8.9", 8, 1},
                          Case{"\f\r\n 7", 7, 5}, Case{"", 5, 0}, Case{"x1", 5, 0}, Case{"- 1", 5, 0}, Case{"+", 5, 0},
                          Case{"99999999999", 2147483647, 11}, Case{"-99999999999", -2147483647 - 1, 12}}) {
        int value = 5;
        EXPECT_EQ(ScanLeadingInt(c.text, value), c.taken) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(ParseLeadingInt(c.text), c.taken == 0 ? 0 : c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(ParseLeadingInt(std::string_view("12345", 3)), 123);
}
