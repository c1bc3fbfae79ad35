// Text helpers: line reading, tokenising, trimming, 16-bit reading, bounded copies.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/text_utils.h"

namespace {

std::vector<std::string> ReadAllLines(std::string text, unsigned int size) {
    std::vector<std::string> lines;
    auto* cursor = reinterpret_cast<unsigned char*>(text.data());
    auto* end = cursor + text.size();
    std::vector<char> line(size + 1, 'X');
    while (ReadTextLine(cursor, end, line.data(), size)) lines.emplace_back(line.data());
    return lines;
}

}  // namespace

TEST(ReadTextLine, SkipsBlankLinesAndCutsTrailingBlanks) {
    EXPECT_EQ(ReadAllLines("  \n\nabc  ", 256), std::vector<std::string>{"abc"});
    EXPECT_EQ(ReadAllLines("a\r\nb\rc\n\n\r\nd", 256), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(ReadAllLines("", 256).empty());
    EXPECT_TRUE(ReadAllLines(" \t\r\n  ", 256).empty());
}

TEST(ReadTextLine, KeepsSizeMinusOneCharactersAndConsumesTheRest) {
    std::string text = "abcdef\nxy";
    auto* cursor = reinterpret_cast<unsigned char*>(text.data());
    auto* end = cursor + text.size();
    char line[4];
    ASSERT_TRUE(ReadTextLine(cursor, end, line, sizeof line));
    EXPECT_STREQ(line, "abc");
    EXPECT_EQ(*cursor, '\n') << "the cursor stands on the line end";
    ASSERT_TRUE(ReadTextLine(cursor, end, line, sizeof line));
    EXPECT_STREQ(line, "xy");
    EXPECT_FALSE(ReadTextLine(cursor, end, line, sizeof line));
    EXPECT_STREQ(line, "");
    EXPECT_FALSE(ReadTextLine(cursor, end, line, 0));
}

TEST(ReadTextLine, LineOfExactlyTheBufferSizeIsCutByOne) {
    EXPECT_EQ(ReadAllLines("abcd\nabc", 4), (std::vector<std::string>{"abc", "abc"}));
    EXPECT_EQ(ReadAllLines("x", 2), std::vector<std::string>{"x"});
}

TEST(StringToken, SkipsEmptyTokensAndAppends) {
    std::vector<std::string> tokens{"kept"};
    char text[] = "a,,b";
    StringToken(text, ",", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"kept", "a", "b"}));
    EXPECT_STREQ(text, "a,,b");
    tokens.clear();
    StringToken(" , 1 2,,3 ", ", ", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"1", "2", "3"}));
    tokens.clear();
    StringToken(",,,", ",", tokens);
    EXPECT_TRUE(tokens.empty());
}

TEST(StringTrim, TrimsBothSidesInPlace) {
    char both[] = " \t x y \r\n";
    StringTrim(both);
    EXPECT_STREQ(both, "x y");
    char right[] = "  a  ";
    StringTrimRight(right);
    EXPECT_STREQ(right, "  a");
    char left[] = "  a  ";
    StringTrimLeft(left);
    EXPECT_STREQ(left, "a  ");
    char blank[] = "   ";
    StringTrim(blank);
    EXPECT_STREQ(blank, "");
}

TEST(ToInt16, ReadsTheLow16BitsAsSigned) {
    EXPECT_EQ(ToInt16(65535), -1);
    EXPECT_EQ(ToInt16(32767), 32767);
    EXPECT_EQ(ToInt16(32768), -32768);
    EXPECT_EQ(ToInt16(0), 0);
    EXPECT_EQ(ToInt16(0x190), 400);
}

TEST(StrncpyS, CopiesWholeOrNothing) {
    char buffer[32];
    std::memset(buffer, 'Q', sizeof buffer);
    const std::string forty(40, 'a');
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, forty.c_str(), kCopyWhole), -1);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(32, 'Q')) << "a refused copy leaves the buffer";

    const std::string fits(31, 'b');
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, fits.c_str(), kCopyWhole), 0);
    EXPECT_EQ(std::string(buffer), fits);
    const std::string oneTooMany(32, 'c');
    EXPECT_EQ(strncpy_s(buffer, sizeof buffer, oneTooMany.c_str(), kCopyWhole), -1);
    EXPECT_EQ(std::string(buffer), fits);
}

TEST(StrncpyS, HandlesCountsAndNullArguments) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(strncpy_s(nullptr, 8, "a", kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 8, nullptr, kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 0, "a", kCopyWhole), -1);
    EXPECT_EQ(strncpy_s(buffer, 8, "abc", 0), 0);
    EXPECT_STREQ(buffer, "");
    // A source at least count long: count - 1 characters, when count is below the size.
    EXPECT_EQ(strncpy_s(buffer, 8, "abcdef", 4), 0);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(strncpy_s(buffer, 8, "abcdefghij", 8), -1);
    EXPECT_EQ(strncpy_s(buffer, 8, "ab", 4), 0);
    EXPECT_STREQ(buffer, "ab");
}
