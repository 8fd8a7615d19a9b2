// The Qt window mirrors the model and hands the user's actions to it (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest/QTest>

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
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bReadEVO)->text(), "&Read EVO");
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bRebuild)->text(), "Re&build");
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bMatroska)->text(), "&Matroska");
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(Main::aboutText().contains(TOLVANE_VERSION_TEXT));
    EXPECT_TRUE(Main::aboutText().contains("MIT licence"));
    // About names a README that is there, and the dialogs and the window share one name.
    ASSERT_FALSE(Main::readmePath().isEmpty());
    EXPECT_TRUE(QFileInfo(Main::readmePath()).isFile());
    EXPECT_TRUE(Main::aboutText().contains(Main::readmePath()));
    EXPECT_EQ(window.windowTitle(), "Tolvane");
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
    EXPECT_TRUE(widgetOf<QPushButton>(window, Control::bMatroska)->isEnabled());

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
    EXPECT_EQ(widgetOf<QCheckBox>(window, audioBox(0))->text(), "DD.stream.00  ac3");
    EXPECT_TRUE(widgetOf<QCheckBox>(window, audioBox(0))->isChecked());

    // After a demux, File offers to open the folder the log names.
    EXPECT_FALSE(window.openOutputAction()->isEnabled());
    window.form().setText(Control::eWorkdir, dir.path().string());
    window.form().bDemuxClick();
    EXPECT_TRUE(window.openOutputAction()->isEnabled());
    EXPECT_EQ(window.openOutputAction()->toolTip().toStdString(), dir.path().string());

    window.form().bClearClick();
    EXPECT_TRUE(window.logView()->toPlainText().isEmpty());

    // A DVD's VOB file: the read says what it reads, and the playlist row goes.
    window.show();
    const std::string vob = dir.write("VTS_01_1.VOB", ps.bytes());
    window.form().chooseSource(vob);
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bReadEVO)->text(), "&Read VOB");
    EXPECT_FALSE(window.widget(Control::eXPLfile)->isVisible());
    EXPECT_FALSE(window.widget(Control::bReadXPL)->isVisible());
    window.form().chooseSource(source);
    EXPECT_EQ(widgetOf<QPushButton>(window, Control::bReadEVO)->text(), "&Read EVO");
    EXPECT_TRUE(window.widget(Control::eXPLfile)->isVisible());

    // File > Quit, also Ctrl+Q, closes the window as its close button does.
    window.show();
    auto* quit = window.findChild<QAction*>(QStringLiteral("quit"));
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST(QtWindow, LogColoursReadWellOnLightAndDarkThemesAndThePlaylistTreeShowsItsEntries) {
    // Each colour of the log keeps its hue and reads on either background.
    for (const QColor& colour : {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 128, 0)}) {
        const QColor onDark = Main::readableOn(colour, QColor(30, 30, 30));
        EXPECT_GE(onDark.lightness(), 170) << colour.name().toStdString();
        EXPECT_EQ(onDark.hslHue(), colour.hslHue());
        EXPECT_LE(Main::readableOn(colour, Qt::white).lightness(), 128);
    }
    fixture::FakeOs os;
    fixture::TempDir dir;
    Main window(os, nullptr);
    QPalette dark = window.logView()->palette();
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    window.logView()->setPalette(dark);
    fixture::ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x1234}, Bytes(100, 0))});
    window.form().WMDropFiles({dir.write("MOVIE.EVO", ps.bytes())});
    const QTextBlock firstPts = window.logView()->document()->findBlockByNumber(4);
    ASSERT_TRUE(firstPts.text().startsWith("   First PTS = ")) << firstPts.text().toStdString();
    EXPECT_GE((--firstPts.end()).fragment().charFormat().foreground().color().lightness(), 170);

    // A playlist's entries are shown whole, however narrow the tree was left.
    window.resize(900, 600);
    window.show();
    window.playlistSplitter()->setSizes({60, 800});
    const std::string text =
        std::string(R"(<Playlist><TitleSet timeBase="60fps"><Title titleNumber="1" )") +
        R"(displayName="A title whose name is long" titleDuration="00:00:09:00">)" +
        R"(<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/MOVIE.MAP"/>)" +
        "</Title></TitleSet></Playlist>";
    const std::string playlist = dir.write("ADV_OBJ/VPLST000.XPL", Bytes(text.begin(), text.end()));
    window.form().setText(Control::eXPLfile, playlist);
    window.form().bReadXPLClick();
    QTreeWidget* tree = window.playlistTree();
    ASSERT_GT(tree->topLevelItemCount(), 0);
    int widest = 0;
    for (QTreeWidgetItemIterator item(tree); *item != nullptr; ++item) {
        widest = std::max(widest, tree->visualItemRect(*item).left() +
                                      tree->fontMetrics().horizontalAdvance((*item)->text(0)));
    }
    EXPECT_GE(window.playlistSplitter()->sizes().value(0), widest);
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

TEST(QtWindow, EveryFieldOfTheOptionsTabIsWholeAtTheFirstSize) {
    fixture::FakeOs os;
    Main window(os, nullptr);
    window.show();
    auto* tabs = window.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(5);
    QApplication::processEvents();
    QWidget* options = tabs->currentWidget();

    if (const char* grab = std::getenv("TOLVANE_GRAB")) {
        window.grab().save(QString::fromLocal8Bit(grab));
    }
    // Shrunk as far as a user can (asked for 480x360), it stays at its smallest size, where
    // nothing is cut.
    window.resize(480, 360);
    QApplication::processEvents();
    EXPECT_GE(window.width(), window.minimumSizeHint().width());
    EXPECT_GE(window.height(), window.minimumSizeHint().height());
    for (QWidget* field : options->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(field) || qobject_cast<QAbstractButton*>(field) ||
            qobject_cast<QLineEdit*>(field)) {
            EXPECT_GE(field->height(), field->minimumSizeHint().height())
                << field->metaObject()->className();
            EXPECT_GE(field->width(), field->minimumSizeHint().width())
                << field->metaObject()->className() << " "
                << (qobject_cast<QAbstractButton*>(field)
                        ? qobject_cast<QAbstractButton*>(field)->text().toStdString()
                        : std::string());
        }
    }
    // The fast-check field shows six digits whole.
    auto* size = widgetOf<QLineEdit>(window, Control::ieFastSize);
    EXPECT_GE(size->width(), size->fontMetrics().horizontalAdvance("000000"));
}

TEST(QtWindow, ComesBackWhereItWasClosedAfterTenRestarts) {
    fixture::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "Tolvane.conf").string());
    fixture::FakeOs os;
    const QRect placed(120, 90, 760, 560);
    {
        QtSettingsStore store(file);
        Main window(os, &store);
        window.show();
        window.setGeometry(placed);
        window.form().setText(Control::ieFastSize, "1000");
        window.close();
    }
    for (int start = 0; start < 10; ++start) {
        QtSettingsStore store(file);
        Main window(os, &store);
        window.show();
        EXPECT_EQ(window.geometry(), placed) << "start " << start;
        // A stored fast-check size is shown whole.
        EXPECT_EQ(widgetOf<QLineEdit>(window, Control::ieFastSize)->text(), "1000");
        window.close();
    }
}

TEST(QtWindow, EnterReadsTheChosenSourceAndTheBarFollowsTheProgressLine) {
    fixture::FakeOs os;
    fixture::TempDir dir;
    Main window(os, nullptr);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_TRUE(window.form().messageLog().lines().empty()) << "no source: nothing to read";

    fixture::ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x1234}, Bytes(100, 0))});
    ps.fillTo(5 * 1048576);
    window.form().setTicked(Control::cbAutoRead, false);
    window.form().WMDropFiles({dir.write("MOVIE.EVO", ps.bytes())});
    std::vector<int> seen;
    os.onEvents = [&] {
        if (window.progressBar()->isVisible()) {
            seen.push_back(window.progressBar()->value());
        }
    };
    QTest::keyClick(&window, Qt::Key_Return);
    ASSERT_FALSE(window.form().messageLog().lines().empty());
    EXPECT_EQ(window.form().messageLog().lines()[0].text, "Opening file MOVIE.EVO");
    EXPECT_EQ(seen, std::vector<int>{800}) << "4 of 5 MiB when events were processed";
    EXPECT_FALSE(window.progressBar()->isVisible()) << "hidden once the job is done";
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
