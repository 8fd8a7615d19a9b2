// Tolvane's desktop window.
#include <csignal>

#include <QApplication>

#include "ui/qt/main_window.h"
#include "ui/qt/qt_os_services.h"
#include "ui/qt/qt_settings_store.h"

int main(int argc, char** argv) {
    // A file-size limit fails the write with its message instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HD DVD Tolvane"));
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
