#pragma once

namespace tolvane {

// The parts of the user's locale that the reports use.
struct LocaleSettings {
    char timeSeparator = ':';
    char decimalSeparator = '.';
};

}  // namespace tolvane
