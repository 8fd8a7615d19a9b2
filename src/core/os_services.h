#pragma once

#include "core/locale_settings.h"

namespace tolvane {

// The few services of the operating system that the jobs need. The GUI, the command-line front
// end and the tests each provide their own.
class OsServices {
public:
    virtual ~OsServices() = default;
    // The local date and time in days (whole days plus the fraction of the day).
    virtual double now() = 0;
    virtual LocaleSettings locale() = 0;
};

}  // namespace tolvane
