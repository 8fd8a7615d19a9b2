// Tolvane's desktop window.
#include <csignal>

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "ui/qt/main_window.h"
#include "ui/qt/qt_os_services.h"
#include "ui/qt/qt_settings_store.h"

namespace {

// TOLVANE_THEME=dark or light picks the Fusion style with a palette of that kind, for desktops
// whose theme Qt does not follow; without it the desktop's own theme is taken.
void applyTheme() {
    const QByteArray theme = qgetenv("TOLVANE_THEME");
    if (theme != "dark" && theme != "light") {
        return;
    }
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    if (theme == "dark") {
        const QColor window(45, 45, 48);
        const QColor base(30, 30, 32);
        const QColor text(225, 225, 225);
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::AlternateBase, window);
        palette.setColor(QPalette::ToolTipBase, base);
        palette.setColor(QPalette::ToolTipText, text);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Button, window);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::Highlight, QColor(64, 120, 200));
        palette.setColor(QPalette::HighlightedText, Qt::white);
        palette.setColor(QPalette::Link, QColor(110, 170, 255));
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
            palette.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
        }
    }
    QApplication::setPalette(palette);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit fails the write with its message instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    applyTheme();
    tolvane::QtOsServices os;
    tolvane::QtSettingsStore settings;
    tolvane::Main window(os, &settings);
    os.setWindow(&window);
    window.show();
    // A file named on the command line is taken as if it had been dropped on the window.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        window.form().WMDropFiles({args.at(1).toStdString()});
    }
    return app.exec();
}
