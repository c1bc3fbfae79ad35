// Trimming, tokenising, line reading and bounded copies.

#include "platform/text_utils.h"

#include <cstdint>
#include <cstring>

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void StringTrimRight(char* s) {
    if (s == nullptr) return;
    size_t length = std::strlen(s);
    while (length > 0 && IsSpace(s[length - 1])) --length;
    s[length] = '\0';
}

void StringTrimLeft(char* s) {
    if (s == nullptr) return;
    size_t skip = 0;
    while (s[skip] != '\0' && IsSpace(s[skip])) ++skip;
    if (skip > 0) std::memmove(s, s + skip, std::strlen(s + skip) + 1);
}

void StringTrim(char* s) {
    StringTrimRight(s);
    StringTrimLeft(s);
}

void StringToken(const char* text, const std::string& delimiters, std::vector<std::string>& tokens) {
    if (text == nullptr) return;
    const std::string copy(text);
    size_t start = copy.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        const size_t stop = copy.find_first_of(delimiters, start);
        tokens.push_back(copy.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
        start = stop == std::string::npos ? stop : copy.find_first_not_of(delimiters, stop);
    }
}

int ToInt16(int value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

bool ReadTextLine(unsigned char*& cursor, unsigned char* end, char* line, unsigned int size) {
    if (line == nullptr || size == 0) return false;
    std::memset(line, 0, size);
    while (cursor != nullptr && cursor < end) {
        unsigned int stored = 0;
        bool hasText = false;
        while (cursor < end && *cursor != '\r' && *cursor != '\n') {
            if (!IsSpace(static_cast<char>(*cursor))) hasText = true;
            if (stored + 1 < size) line[stored++] = static_cast<char>(*cursor);
            ++cursor;
        }
        line[stored] = '\0';
        if (hasText) {
            StringTrimRight(line);
            return true;
        }
        if (cursor < end) ++cursor;
    }
    line[0] = '\0';
    return false;
}

int strncpy_s(char* dest, unsigned int destSize, const char* src, unsigned int count) {
    if (dest == nullptr || src == nullptr || destSize == 0) return -1;
    if (count == 0) {
        dest[0] = '\0';
        return 0;
    }
    const size_t length = strnlen(src, count);
    if (length < count) {
        if (length + 1 > destSize) return -1;
        std::memcpy(dest, src, length + 1);
        return 0;
    }
    if (count >= destSize) return -1;
    std::memcpy(dest, src, count - 1);
    dest[count - 1] = '\0';
    return 0;
}
