#include "core/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tolvane {

std::string hexUpper(uint64_t value, int width) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*llX", width, static_cast<unsigned long long>(value));
    return digits;
}

std::string formatGeneral(double value, const LocaleSettings& locale) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    }
    // 15 significant digits in scientific form, then laid out without the exponent.
    char scientific[40];
    std::snprintf(scientific, sizeof scientific, "%.14e", value);
    std::string out;
    const char* p = scientific;
    if (*p == '-') {
        out += '-';
        ++p;
    }
    std::string digits;
    for (; *p != 'e'; ++p) {
        if (*p != '.') {
            digits += *p;
        }
    }
    const int exponent = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
    if (digits == "0") {
        return "0";
    }
    const int pointAt = exponent + 1;  // digits before the decimal point
    if (pointAt <= 0) {
        out += '0';
        out += locale.decimalSeparator;
        out.append(static_cast<size_t>(-pointAt), '0');
        out += digits;
    } else if (static_cast<size_t>(pointAt) >= digits.size()) {
        out += digits;
        out.append(static_cast<size_t>(pointAt) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<size_t>(pointAt));
        out += locale.decimalSeparator;
        out += digits.substr(static_cast<size_t>(pointAt));
    }
    return out;
}

}  // namespace tolvane
