#include "ui/qt/qt_os_services.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>

namespace tolvane {

void QtOsServices::processEvents() {
    QCoreApplication::processEvents();
}

// Dialogs carry the window's own title.
QString QtOsServices::title() const {
    return window_ != nullptr ? window_->windowTitle() : QApplication::applicationName();
}

bool QtOsServices::askYesNo(const std::string& question) {
    return QMessageBox::question(window_, title(), QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void QtOsServices::showError(const std::string& message) {
    QMessageBox::critical(window_, title(), QString::fromStdString(message));
}

double QtOsServices::now() {
    // Local date and time in days, so that the time of day is the fraction.
    const QDateTime local = QDateTime::currentDateTime();
    const qint64 offset = local.offsetFromUtc();
    return (static_cast<double>(local.toMSecsSinceEpoch()) / 1000.0 + static_cast<double>(offset)) /
           86400.0;
}

LocaleSettings QtOsServices::locale() {
    LocaleSettings settings;
    const QLocale system = QLocale::system();
    const QString decimal = system.decimalPoint();
    if (decimal.size() == 1 && decimal[0].unicode() < 128) {
        settings.decimalSeparator = static_cast<char>(decimal[0].unicode());
    }
    // The time separator is the first character of the time format that is not a field.
    for (const QChar c : system.timeFormat(QLocale::ShortFormat)) {
        if (!c.isLetter() && !c.isSpace() && c.unicode() < 128) {
            settings.timeSeparator = static_cast<char>(c.unicode());
            break;
        }
    }
    return settings;
}

}  // namespace tolvane
