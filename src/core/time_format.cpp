#include "core/time_format.h"

#include <cmath>
#include <cstdint>

namespace tolvane {

namespace {

constexpr int64_t kMsPerDay = 86400000;

void appendNumber(std::string& out, int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) {
        out.append(static_cast<size_t>(width) - digits.size(), '0');
    }
    out += digits;
}

}  // namespace

std::string formatDuration(double seconds, const LocaleSettings& locale) {
    // Rounded as formatDayTime() rounds a day fraction, so both give the same milliseconds.
    const double days = seconds / 86400.0;
    const double ms =
        std::isfinite(days) && days > 0 ? std::nearbyint(days * static_cast<double>(kMsPerDay)) : 0;
    const int64_t total = ms >= 9.0e15 ? 0 : static_cast<int64_t>(ms);
    const double withinHour = static_cast<double>(total % 3600000) / static_cast<double>(kMsPerDay);
    return std::to_string(total / 3600000) + formatDayTime(withinHour, ":mm:ss.zzz", locale);
}

std::string formatDayTime(double days, std::string_view pattern, const LocaleSettings& locale) {
    int64_t ms = 0;
    if (std::isfinite(days) && days > 0) {
        // nearbyint rounds half to even in the default rounding mode.
        const double total = std::nearbyint(days * static_cast<double>(kMsPerDay));
        ms = total >= 9.0e18 ? 0 : static_cast<int64_t>(total) % kMsPerDay;
    }
    const int64_t hours = ms / 3600000;
    const int64_t minutes = ms / 60000 % 60;
    const int64_t seconds = ms / 1000 % 60;
    const int64_t millis = ms % 1000;

    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        size_t count = 1;
        while (i + count < pattern.size() && pattern[i + count] == c) {
            ++count;
        }
        switch (c) {
            case 'h':
            case 'H':
                appendNumber(out, hours, count >= 2 ? 2 : 0);
                break;
            case 'm':
            case 'M':
            case 'n':
            case 'N':
                appendNumber(out, minutes, count >= 2 ? 2 : 0);
                break;
            case 's':
            case 'S':
                appendNumber(out, seconds, count >= 2 ? 2 : 0);
                break;
            case 'z':
            case 'Z':
                appendNumber(out, millis, count >= 2 ? 3 : 0);
                break;
            case ':':
                out.append(count, locale.timeSeparator);
                break;
            default:
                out.append(count, c);
                break;
        }
        i += count;
    }
    return out;
}

}  // namespace tolvane
