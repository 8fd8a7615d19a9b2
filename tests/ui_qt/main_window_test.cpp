// The Qt window mirrors the model and hands the user's actions to it (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>

#include "form_fixture.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_settings_store.h"

namespace tolvane {
namespace {

using fixture::Bytes;

template <typename T>
T* widgetOf(Main& window, Control c) {
    return qobject_cast<T*>(window.widget(c));
}

TEST(QtWindow, MirrorsTheModelAndHandsClicksToIt) {
    fixture::FakeOs os;
    Main window(os, nullptr);
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bReadEVO)->text(), "Read EVO");
    EXPECT_FALSE(widgetOf<QPushButton>(window, Control::bDemux)->isEnabled());
    EXPECT_EQ(widgetOf<QCheckBox>(window, audioBox(3))->text(), "No audio stream");
    EXPECT_EQ(widgetOf<QLineEdit>(window, Control::eEVOfile)->toolTip(),
              "Drop here the source EVO file");

    // A stream box ticked by the user runs the command rule.
    window.form().setText(Control::eEVOfile, "/d/HVDVD_TS/A.EVO");
    window.form().setEnabled(audioBox(3), true);
    widgetOf<QCheckBox>(window, audioBox(3))->setChecked(true);
    EXPECT_TRUE(window.form().ticked(audioBox(3)));
    EXPECT_TRUE(widgetOf<QPushButton>(window, Control::bDemux)->isEnabled());
    EXPECT_TRUE(widgetOf<QPushButton>(window, Control::bRebuild)->isEnabled());

    widgetOf<QRadioButton>(window, Control::rbAutoDemux)->setChecked(true);
    EXPECT_TRUE(window.form().ticked(Control::rbAutoDemux));
    EXPECT_FALSE(window.form().ticked(Control::rbNoAuto));
    widgetOf<QCheckBox>(window, Control::cbFastCheck)->setChecked(false);
    EXPECT_FALSE(widgetOf<QLineEdit>(window, Control::ieFastSize)->isEnabled());
}

TEST(QtWindow, ShowsTheLogWithItsFormatsAndTheStatusPanels) {
    fixture::FakeOs os;
    fixture::TempDir dir;
    Main window(os, nullptr);
    fixture::ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x1234}, Bytes(100, 0))});
    const std::string source = dir.write("MOVIE.EVO", ps.bytes());
    window.form().WMDropFiles({source});

    QTextDocument* log = window.logView()->document();
    EXPECT_EQ(log->firstBlock().text().toStdString(), "Opening file MOVIE.EVO");
    const QTextBlock found = log->findBlockByNumber(3);
    EXPECT_EQ(found.text().toStdString(), "Dolby Digital audio stream 0 found!");
    EXPECT_EQ(found.begin().fragment().charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(log->blockCount(), static_cast<int>(window.form().messageLog().lines().size()));
    EXPECT_EQ(window.statusPanel(StatusPanel::Job)->text(), " Ready");
    EXPECT_EQ(widgetOf<QCheckBox>(window, audioBox(0))->text(), "DD.stream.00");
    EXPECT_TRUE(widgetOf<QCheckBox>(window, audioBox(0))->isChecked());

    window.form().bClearClick();
    EXPECT_TRUE(window.logView()->toPlainText().isEmpty());
}

TEST(QtWindow, TheFastSizeFieldTakesDigitsAndSignsOnly) {
    fixture::FakeOs os;
    Main window(os, nullptr);
    auto* edit = widgetOf<QLineEdit>(window, Control::ieFastSize);
    edit->clear();
    for (const QString& typed : {QString("1"), QString("2"), QString("x"), QString("3")}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, typed);
        QApplication::sendEvent(edit, &press);
    }
    EXPECT_EQ(edit->text(), "123");
    EXPECT_EQ(window.form().text(Control::ieFastSize), "123");
}

TEST(QtWindow, KeepsTheSettingsBetweenRuns) {
    fixture::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "Tolvane.conf").string());
    fixture::FakeOs os;
    {
        QtSettingsStore store(file);
        Main window(os, &store);
        window.form().setText(Control::eAudioExt, "ac3");
        window.form().setTicked(Control::rbAutoRebuild, true);
        window.close();
    }
    QtSettingsStore store(file);
    Main again(os, &store);
    EXPECT_EQ(widgetOf<QLineEdit>(again, Control::eAudioExt)->text(), "ac3");
    EXPECT_TRUE(widgetOf<QRadioButton>(again, Control::rbAutoRebuild)->isChecked());
    EXPECT_TRUE(store.exists("Install"));
}

}  // namespace
}  // namespace tolvane

// The application object must outlive every window and go before the program's statics do.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");  // no display is needed, nor wanted
    }
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
