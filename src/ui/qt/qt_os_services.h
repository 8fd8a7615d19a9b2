#pragma once

#include "core/os_services.h"

class QWidget;

namespace tolvane {

// The OS services of the desktop window: Qt's event loop, message boxes, beep, clock and locale.
class QtOsServices : public OsServices {
public:
    void setWindow(QWidget* window) { window_ = window; }
    void processEvents() override;
    void repaint() override;
    bool askYesNo(const std::string& question) override;
    void beep() override;
    void showError(const std::string& message) override;
    double now() override;
    LocaleSettings locale() override;

private:
    QWidget* window_ = nullptr;
};

}  // namespace tolvane
