#pragma once

#include <string>

#include "core/locale_settings.h"

namespace tolvane {

// The few services of the operating system and window toolkit that the jobs need. The GUI, the
// command-line front end and the tests each provide their own.
class OsServices {
public:
    virtual ~OsServices() = default;
    // Lets the window handle pending input (the Cancel button runs from here).
    virtual void processEvents() = 0;
    virtual void repaint() = 0;
    // A modal Yes/No question whose default answer is No; true for Yes.
    virtual bool askYesNo(const std::string& question) = 0;
    virtual void beep() = 0;
    // Shows the message of a platform error that ended a job.
    virtual void showError(const std::string& message) = 0;
    // The local date and time in days (whole days plus the fraction of the day).
    virtual double now() = 0;
    virtual LocaleSettings locale() = 0;
};

}  // namespace tolvane
