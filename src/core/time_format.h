#pragma once

#include <string>
#include <string_view>

#include "core/locale_settings.h"

namespace tolvane {

// Writes the time of day held in a day fraction with a pattern of h, hh, m, mm (minutes), s,
// ss, z and zzz (milliseconds); a ':' in the pattern stands for the locale's time separator and
// every other character is copied. Whole days are dropped; milliseconds are rounded half to
// even.
std::string formatDayTime(double days, std::string_view pattern, const LocaleSettings& locale);

}  // namespace tolvane
