// Text helpers: line reading, tokenising, trimming, 16-bit reading, bounded copies.

#include "platform/text_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

namespace {

Lines ReadAllLines(std::string text, unsigned int size) {
    Lines lines;
    auto* cursor = reinterpret_cast<unsigned char*>(text.data());
    unsigned char* const end = cursor + text.size();
    std::vector<char> line(size + 1, 'X');
    while (ReadTextLine(cursor, end, line.data(), size)) lines.emplace_back(line.data());
    return lines;
}

Lines Tokens(const char* text, const char* separators) {
    Lines tokens;
    StringToken(text, separators, tokens);
    return tokens;
}

}  // namespace

// Blank lines are skipped and trailing blanks cut; a line keeps size - 1 characters and the rest is consumed.
TEST(ReadTextLine, SkipsBlankLinesAndCutsLongOnes) {
    EXPECT_EQ(ReadAllLines("  \n\nabc  ", 256), Lines{"abc"});
    EXPECT_EQ(ReadAllLines("a\r\nb\rc\n\n\r\nd", 256), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(ReadAllLines(" \t\r\n  ", 256), Lines{});
    EXPECT_EQ(ReadAllLines("abcdef\nxy", 4), (Lines{"abc", "xy"}));
    EXPECT_EQ(ReadAllLines("abcd\nabc", 4), (Lines{"abc", "abc"}));
    EXPECT_EQ(ReadAllLines("x", 2), Lines{"x"});
    std::string text = "xy";
    auto* cursor = reinterpret_cast<unsigned char*>(text.data());
    unsigned char* const end = cursor + text.size();
    char line[4];
    ASSERT_TRUE(ReadTextLine(cursor, end, line, sizeof line));
    EXPECT_FALSE(ReadTextLine(cursor, end, line, sizeof line));
    EXPECT_STREQ(line, "") << "cleared at the end";
    EXPECT_FALSE(ReadTextLine(cursor, end, line, 0));
}

TEST(StringToken, SkipsEmptyTokensAndAppends) {
    Lines tokens{"kept"};
    char text[] = "a,,b";
    StringToken(text, ",", tokens);
    EXPECT_EQ(tokens, (Lines{"kept", "a", "b"}));
    EXPECT_STREQ(text, "a,,b");
    EXPECT_EQ(Tokens(" , 1 2,,3 ", ", "), (Lines{"1", "2", "3"}));
    EXPECT_EQ(Tokens(",,,", ","), Lines{});
}

TEST(StringTrim, TrimsInPlaceAndReadsInt16) {
    char both[] = " \t x y \r\n", right[] = "  a  ", left[] = "  a  ", blank[] = "   ";
    StringTrim(both);
    StringTrimRight(right);
    StringTrimLeft(left);
    StringTrim(blank);
    EXPECT_EQ((Lines{both, right, left, blank}), (Lines{"x y", "  a", "a  ", ""}));
    for (const auto& [in, out] : {std::make_pair(65535, -1), std::make_pair(32767, 32767), std::make_pair(32768, -32768), std::make_pair(0x190, 400)})
        EXPECT_EQ(ToInt16(in), out) << in;
}

TEST(StrncpyS, CopiesWholeOrNothing) {
    char buffer[32];
    std::memset(buffer, 'Q', sizeof buffer);
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, std::string(40, 'a').c_str(), kCopyWhole), -1);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(32, 'Q')) << "a refused copy leaves the buffer";
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, std::string(31, 'b').c_str(), kCopyWhole), 0);
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, std::string(32, 'c').c_str(), kCopyWhole), -1);
    EXPECT_EQ(std::string(buffer), std::string(31, 'b'));
    EXPECT_EQ(strncpy_s(nullptr, 8, "a", kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 8, nullptr, kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 0, "a", kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 8, "abcdefghij", 8), -1);
    // A source at least count long: count - 1 characters, when count is below the size.
    for (const auto& [source, count, copied] : {std::make_tuple("abc", 0, ""), std::make_tuple("abcdef", 4, "abc"), std::make_tuple("ab", 4, "ab")}) {
        EXPECT_EQ(strncpy_s(buffer, 8, source, count), 0);
        EXPECT_STREQ(buffer, copied);
    }
}
