// Text helpers: line reading, tokenising, trimming, 16-bit reading, bounded copies, and decimal
// prefixes as strtod, atoi and "%d" read them in the C locale.

#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/decimal_text.h"

using Lines = std::vector<std::string>;

// isWhole: ParseWholeDouble takes the text as one number (it refuses blanks and anything after). Both
// are bounded by the view, not a terminator.
TEST(DecimalText, ReadsTheLeadingNumberAndTellsAWholeOneAndTheLeadingIntegerSaturated) {
    struct Case { const char* text; double value; bool isWhole; };
    for (const Case& c : {Case{"0.5", 0.5, true}, Case{"-0.5", -0.5, true}, Case{".5", 0.5, true}, Case{"1.", 1.0, true},
                          Case{" \t\v12", 12.0, false}, Case{"+7,8", 7.0, false}, Case{"1e3", 1000.0, true}, Case{"2E-1x", 0.2, false},
                          Case{"1e", 1.0, false}, Case{"1e+", 1.0, false}, Case{"12 ", 12.0, false}, Case{"abc", 0.0, false},
                          Case{"-", 0.0, false}, Case{".", 0.0, false}, Case{"", 0.0, false}, Case{"- 1", 0.0, false},
                          Case{"1e-400", 0.0, true}, Case{"0x10", 0.0, false}, Case{"-1e400", -INFINITY, true}}) {
        double whole = 7.0;
        EXPECT_EQ(ParseWholeDouble(c.text, whole), c.isWhole) << '"' << c.text << '"';
        EXPECT_EQ(std::pair(ParseLeadingDouble(c.text), whole), std::pair(c.value, c.isWhole ? c.value : 7.0)) << '"' << c.text << '"';
    }
    EXPECT_TRUE(ParseLeadingDouble(std::string_view("12345", 2)) == 12.0 && ![] { double v = 0; return ParseWholeDouble(std::string_view("1e5", 2), v); }());
    // taken: the characters "%d" consumes; 0 leaves the value as it was (here 5), and atoi reads 0.
    struct Row { const char* text; int value; size_t taken; };
    for (const Row& c : {Row{"600     ", 600, 3}, {" -1     ", -1, 3}, {"+12x", 12, 3}, {"8.9", 8, 1}, {"\f\r\n 7", 7, 5}, {"", 5, 0},
                         {"x1", 5, 0}, {"- 1", 5, 0}, {"+", 5, 0}, {"99999999999", 2147483647, 11}, {"-99999999999", -2147483647 - 1, 12},
                         {"-2147483647", -2147483647, 11}}) {
        int value = 5;
        EXPECT_EQ(ScanLeadingInt(c.text, value), c.taken) << '"' << c.text << '"';
        EXPECT_EQ(std::pair(value, ParseLeadingInt(c.text)), std::pair(c.value, c.taken == 0 ? 0 : c.value)) << '"' << c.text << '"';
    }
    EXPECT_EQ(ParseLeadingInt(std::string_view("12345", 3)), 123);
}

// Blank lines are skipped and trailing blanks cut; a line keeps size - 1 characters and the
// rest is consumed. The line is cleared when no line is left.
TEST(ReadTextLine, SkipsBlankLinesAndCutsLongOnes) {
    for (auto [text, size, lines] : {std::tuple{std::string("  \n\nabc  "), 256u, Lines{"abc"}}, {"a\r\nb\rc\n\n\r\nd", 256u, Lines{"a", "b", "c", "d"}},
                                     {" \t\v\f\r\n  ", 256u, Lines{}}, {"abcdef\nxy", 4u, Lines{"abc", "xy"}},
                                     {"abcd\nabc", 4u, Lines{"abc", "abc"}}, {"x", 2u, Lines{"x"}}}) {
        auto* cursor = reinterpret_cast<unsigned char*>(text.data());
        std::vector<char> line(size + 1, 'X');
        Lines read;
        while (ReadTextLine(cursor, reinterpret_cast<unsigned char*>(text.data()) + text.size(), line.data(), size)) read.emplace_back(line.data());
        EXPECT_TRUE(read == lines && line[0] == '\0') << text;
    }
    unsigned char* cursor = nullptr;
    EXPECT_FALSE(ReadTextLine(cursor, cursor, nullptr, 0));
}

// Tokens are appended, empty ones skipped; the text is left as it was. Blanks are the six ASCII
// ones in every locale; 0xA0 (a no-break space in Latin-1) is text.
TEST(StringToken, SplitsAndTrimsInPlaceAndReadsInt16) {
    for (const auto& [text, separators, tokens] : {std::tuple{"a,,b", ",", Lines{"kept", "a", "b"}}, {" , 1 2,,3 ", ", ", Lines{"kept", "1", "2", "3"}},
                                                   {",,,", ",", Lines{"kept"}}, {nullptr, ",", Lines{"kept"}}}) {
        Lines read{"kept"};
        StringToken(text, separators, read);
        EXPECT_EQ(read, tokens) << separators;
    }
    for (const auto& [text, both, right, left] : {std::tuple{" \t\v x y \f\r\n", "x y", " \t\v x y", "x y \f\r\n"},
                                                  {"   ", "", "", ""}, {"\xA0" "a\xA0", "\xA0" "a\xA0", "\xA0" "a\xA0", "\xA0" "a\xA0"}}) {
        std::string trimmed[3] = {text, text, text};
        StringTrim(trimmed[0].data());
        StringTrimRight(trimmed[1].data());
        StringTrimLeft(trimmed[2].data());
        EXPECT_EQ((Lines{trimmed[0].c_str(), trimmed[1].c_str(), trimmed[2].c_str()}), (Lines{both, right, left}));
    }
    for (const auto& [in, out] : {std::pair{65535, -1}, {32767, 32767}, {32768, -32768}, {0x190, 400}}) EXPECT_EQ(ToInt16(in), out) << in;
}

// With kCopyWhole the source fits whole with its terminator or nothing is written; a shorter
// count copies count - 1 characters of a longer source.
TEST(StrncpyS, CopiesWholeOrNothing) {
    const std::string fill(32, 'Q'), longest(31, 'b'), tooLong(32, 'c');
    for (const auto& [size, source, count, result, buffer] :
         {std::tuple{32u, longest.c_str(), kCopyWhole, 0, longest}, {32u, tooLong.c_str(), kCopyWhole, -1, fill}, {8u, "abc", 0u, 0, std::string()},
          {8u, "abcdef", 4u, 0, std::string("abc")}, {8u, "ab", 4u, 0, std::string("ab")}, {8u, "abcdefghij", 8u, -1, fill},
          {0u, "a", kCopyWhole, -1, fill}, {8u, nullptr, kCopyWhole, -1, fill}}) {
        char dest[32];
        std::memcpy(dest, fill.data(), sizeof dest);
        EXPECT_EQ(strncpy_s(dest, size, source, count), result) << size << " " << count;
        EXPECT_EQ(result == 0 ? std::string(dest) : std::string(dest, sizeof dest), buffer) << size << " " << count;
    }
    EXPECT_EQ(strncpy_s(nullptr, 8, "a", kCopyWhole), -1);
}
