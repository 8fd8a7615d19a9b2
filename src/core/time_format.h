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

// A length of time as h:mm:ss.zzz, its hours whole however many days it spans (a 25-hour title
// is 25:00:00.000, not 1:00:00.000); milliseconds rounded as formatDayTime() rounds them.
std::string formatDuration(double seconds, const LocaleSettings& locale);

}  // namespace tolvane
