// Decimal prefixes as strtod reads them in the C locale.

#include "platform/decimal_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

TEST(DecimalText, ReadsTheLeadingNumberOnly) {
    struct Case { const char* text; double value; };
    for (const Case& c : {Case{"0.5", 0.5}, Case{"-0.5", -0.5}, Case{".5", 0.5}, Case{"1.", 1.0}, Case{" \t12", 12.0},
                          Case{"+7,8", 7.0}, Case{"1e3", 1000.0}, Case{"2E-1x", 0.2}, Case{"1e", 1.0}, Case{"1e+", 1.0},
                          Case{"12,5", 12.0}, Case{"abc", 0.0}, Case{"-", 0.0}, Case{".", 0.0}, Case{"", 0.0},
                          Case{"- 1", 0.0}, Case{"1e-400", 0.0}, Case{"0x10", 0.0}}) {
        EXPECT_EQ(ParseLeadingDouble(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(ParseLeadingDouble("1e400"), INFINITY);
    EXPECT_EQ(ParseLeadingDouble("-1e400"), -INFINITY);
    // Bounded by the view, not by a terminator.
    EXPECT_EQ(ParseLeadingDouble(std::string_view("12345", 2)), 12.0);
}

TEST(DecimalText, ReadsTheLeadingIntegerSaturated) {
    struct Case { const char* text; int value; };
    for (const Case& c : {Case{"600     ", 600}, Case{" -1     ", -1}, Case{"+12x", 12}, Case{"8.9", 8}, Case{"", 0},
                          Case{"x1", 0}, Case{"99999999999", 2147483647}, Case{"-99999999999", -2147483647 - 1}}) {
        EXPECT_EQ(ParseLeadingInt(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(ParseLeadingInt(std::string_view("12345", 3)), 123);
}
