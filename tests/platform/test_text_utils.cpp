// Text helpers: line reading, tokenising, trimming, 16-bit reading, bounded copies.

#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// Blank lines are skipped and trailing blanks cut; a line keeps size - 1 characters and the
// rest is consumed. The line is cleared when no line is left.
TEST(ReadTextLine, SkipsBlankLinesAndCutsLongOnes) {
    for (auto [text, size, lines] : {std::tuple{std::string("  \n\nabc  "), 256u, Lines{"abc"}}, {"a\r\nb\rc\n\n\r\nd", 256u, Lines{"a", "b", "c", "d"}},
                                     {" \t\v\f\r\n  ", 256u, Lines{}}, {"abcdef\nxy", 4u, Lines{"abc", "xy"}},
                                     {"abcd\nabc", 4u, Lines{"abc", "abc"}}, {"x", 2u, Lines{"x"}}}) {
        auto* cursor = reinterpret_cast<unsigned char*>(text.data());
        unsigned char* const end = cursor + text.size();
        std::vector<char> line(size + 1, 'X');
        Lines read;
        while (ReadTextLine(cursor, end, line.data(), size)) read.emplace_back(line.data());
        EXPECT_EQ(read, lines) << text;
        EXPECT_STREQ(line.data(), "") << text;
    }
    unsigned char* cursor = nullptr;
    EXPECT_FALSE(ReadTextLine(cursor, cursor, nullptr, 0));
}

// Tokens are appended; the text is left as it was.
TEST(StringToken, SkipsEmptyTokensAndAppends) {
    for (const auto& [text, separators, tokens] : {std::tuple{"a,,b", ",", Lines{"kept", "a", "b"}},
                                                   {" , 1 2,,3 ", ", ", Lines{"kept", "1", "2", "3"}},
                                                   {",,,", ",", Lines{"kept"}}, {nullptr, ",", Lines{"kept"}}}) {
        Lines read{"kept"};
        StringToken(text, separators, read);
        EXPECT_EQ(read, tokens) << separators;
    }
}

// Blanks are the six ASCII ones in every locale; 0xA0 (a no-break space in Latin-1) is text.
TEST(StringTrim, TrimsInPlaceAndReadsInt16) {
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
