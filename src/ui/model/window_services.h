#pragma once

#include <string>

#include "core/os_services.h"

namespace tolvane {

// What the window adds to the services the jobs need: its event loop and dialogs.
class WindowServices : public OsServices {
public:
    // Lets the window handle pending input (the Cancel button runs from here).
    virtual void processEvents() = 0;
    // A modal Yes/No question whose default answer is No; true for Yes.
    virtual bool askYesNo(const std::string& question) = 0;
    // Shows the message of a platform error that ended a job.
    virtual void showError(const std::string& message) = 0;
};

}  // namespace tolvane
