#pragma once

#include <cstdint>
#include <string>

#include "core/locale_settings.h"

namespace tolvane {

// Upper-case hexadecimal, zero-padded to at least `width` digits.
std::string hexUpper(uint64_t value, int width);

// A floating-point number in the general format: up to 15 significant digits, no trailing
// zeros, never an exponent, the locale's decimal separator.
std::string formatGeneral(double value, const LocaleSettings& locale);

}  // namespace tolvane
