#pragma once
// Text helpers on caller-owned, NUL-terminated buffers.

#include <string>
#include <vector>

// Space, tab, line feed, vertical tab, form feed or carriage return, in every locale.
bool IsSpace(char c);

// Cut trailing / leading / both runs of IsSpace characters in place.
void StringTrimRight(char* s);
void StringTrimLeft(char* s);
void StringTrim(char* s);

// Appends each non-empty token of text, split at any delimiter character, to tokens.
// The text is left unchanged and the vector is not cleared.
void StringToken(const char* text, const std::string& delimiters, std::vector<std::string>& tokens);

// The low 16 bits of value as a signed 16-bit number.
int ToInt16(int value);

// Copies the next line that holds a non-whitespace character from [cursor, end)
// into line (zero-filled first, at most size - 1 characters kept, trailing
// whitespace cut) and leaves cursor on that line's end character. CR and LF are
// each one line end. False when end is reached without such a line, or size is 0.
bool ReadTextLine(unsigned char*& cursor, unsigned char* end, char* line, unsigned int size);

// Bounded copy. With count 0xFFFFFFFF (the value every caller uses): the whole
// source when it fits in destSize with its terminator, else -1 and dest unchanged.
// Returns 0 on success, -1 on a null argument, destSize 0, or a source that does not fit.
int strncpy_s(char* dest, unsigned int destSize, const char* src, unsigned int count);

// strncpy_s with the whole-or-nothing count.
constexpr unsigned int kCopyWhole = 0xFFFFFFFF;
