#pragma once

#include "core/locale_settings.h"

namespace tolvane {

// The few services of the operating system and event loop that the jobs need. The GUI, the
// command-line front end and the tests each provide their own.
class OsServices {
public:
    virtual ~OsServices() = default;
    // Lets the window handle pending input (the Cancel button runs from here).
    virtual void processEvents() = 0;
    virtual void repaint() = 0;
    // The local date and time in days (whole days plus the fraction of the day).
    virtual double now() = 0;
    virtual LocaleSettings locale() = 0;
};

}  // namespace tolvane
