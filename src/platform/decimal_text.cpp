// Locale-independent decimal prefixes: an application running in a comma-decimal
// locale must not turn "0.5" into 0 in a record file.

#include "platform/decimal_text.h"

#include <charconv>
#include <climits>
#include <limits>

#include "platform/text_utils.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading number, with end set just past it (0 when there is none).
double ScanLeadingDouble(std::string_view text, size_t& end) {
    end = 0;
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) ++at;
    bool isNegative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) isNegative = text[at++] == '-';
    const size_t start = at;
    size_t digits = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) ++digits;
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && IsDigit(text[at]); ++at) ++digits;
    }
    if (digits == 0) return 0.0;
    bool isTinyExponent = false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        size_t exponent = at + 1;
        const bool isNegativeExponent = exponent < text.size() && text[exponent] == '-';
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (exponent < text.size() && IsDigit(text[exponent])) {
            isTinyExponent = isNegativeExponent;
            at = exponent;
            while (at < text.size() && IsDigit(text[at])) ++at;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data() + start, text.data() + at, value);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on a range error; strtod gives HUGE_VAL or 0.
        value = isTinyExponent ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    end = at;
    return isNegative ? -value : value;
}

}  // namespace

double ParseLeadingDouble(std::string_view text) {
    size_t end = 0;
    return ScanLeadingDouble(text, end);
}

bool ParseWholeDouble(std::string_view text, double& value) {
    size_t end = 0;
    const double number = ScanLeadingDouble(text, end);
    if (end == 0 || end != text.size() || IsSpace(text[0])) return false;
    value = number;
    return true;
}

int ParseLeadingInt(std::string_view text) {
    int value = 0;
    ScanLeadingInt(text, value);
    return value;
}

size_t ScanLeadingInt(std::string_view text, int& value) {
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) ++at;
    bool isNegative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) isNegative = text[at++] == '-';
    if (at == text.size() || !IsDigit(text[at])) return 0;
    long long number = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        number = number * 10 + (text[at] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) number = static_cast<long long>(INT_MAX) + 1;
    }
    if (isNegative) number = -number;
    value = number > INT_MAX ? INT_MAX : static_cast<int>(number);
    return at;
}
