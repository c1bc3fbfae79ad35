// Text helpers of the source readers; what the texts mean stays with each reader.

#include "source_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

int FindIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
    const std::string lower = Lower(name);
    for (size_t i = 0; i < names.size(); ++i) {
        if (Lower(names[i]) == lower) return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> fields;
    size_t start = text.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        const size_t stop = text.find_first_of(delimiters, start);
        fields.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
        start = stop == std::string::npos ? stop : text.find_first_not_of(delimiters, stop);
    }
    return fields;
}

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}
