#pragma once
// Numbers in record text, read the same whatever locale the application has set.

#include <string_view>

// The leading decimal number of text as strtod reads it in the C locale (leading white
// space skipped, optional sign, digits with one '.', optional exponent); 0 when the
// text does not start with one. Overflow gives +-infinity, as strtod's HUGE_VAL.
double ParseLeadingDouble(std::string_view text);

// The number that is the whole of text, read as ParseLeadingDouble reads it. False, and
// value unchanged, when text is empty or holds anything else (blanks included).
bool ParseWholeDouble(std::string_view text, double& value);

// The leading integer of text as atoi reads it (leading white space, optional sign,
// digits), saturated at the int range instead of overflowing; 0 when there is none.
int ParseLeadingInt(std::string_view text);

// The same reading as "%d" scans it: the characters taken up to the last digit, or 0
// (value unchanged) when text does not start with an integer.
size_t ScanLeadingInt(std::string_view text, int& value);
