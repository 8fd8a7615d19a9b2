#pragma once

#include <QString>

#include "ui/model/window_services.h"

class QWidget;

namespace tolvane {

// The OS services of the desktop window: Qt's event loop, message boxes, clock and locale.
class QtOsServices : public WindowServices {
public:
    void setWindow(QWidget* window) { window_ = window; }
    void processEvents() override;
    bool askYesNo(const std::string& question) override;
    void showError(const std::string& message) override;
    double now() override;
    LocaleSettings locale() override;

private:
    QString title() const;
    QWidget* window_ = nullptr;
};

}  // namespace tolvane
