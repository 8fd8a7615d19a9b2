#include "ui/qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "core/platform_error.h"
#include "ui/qt/num_edit.h"

namespace tolvane {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Keyboard mnemonics of the command buttons: Alt and the underlined letter presses them.
QString withMnemonic(Control c, const std::string& caption) {
    struct Mnemonic {
        Control control;
        const char* text;
    };
    static constexpr Mnemonic kMnemonics[] = {
        {Control::bReadEVO, "Read EVO"},  {Control::bReadXPL, "Read XPL"},
        {Control::bDemux, "Demux"},       {Control::bRebuild, "Rebuild"},
        {Control::bMatroska, "Matroska"}, {Control::bCancel, "Cancel"},
        {Control::bClear, "Clear"},
    };
    static constexpr const char* kMarked[] = {"&Read EVO", "Read &XPL", "&Demux", "Re&build",
                                              "&Matroska", "&Cancel",   "C&lear"};
    for (size_t k = 0; k < std::size(kMnemonics); ++k) {
        if (kMnemonics[k].control == c && caption == kMnemonics[k].text) {
            return QString::fromLatin1(kMarked[k]);
        }
    }
    // The read names what it reads ("Read VOB", "Read title"): Alt+R all the same.
    if (c == Control::bReadEVO && caption.rfind("Read ", 0) == 0) {
        return QStringLiteral("&") + qs(caption);
    }
    QString text = qs(caption);
    return text.replace('&', QStringLiteral("&&"));
}

QPushButton* button(Control c, MainForm& form) {
    return new QPushButton(withMnemonic(c, form.control(c).caption));
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/hicolor/%1x%1/apps/org.quendle.Tolvane.png").arg(size));
    }
    return icon;
}

QToolButton* browseButton() {
    auto* b = new QToolButton;
    b->setText(QStringLiteral("…"));
    b->setMinimumSize(25, 25);
    return b;
}

void addTreeNodes(QTreeWidgetItem* parent, const std::vector<TreeNode>& nodes) {
    for (const TreeNode& node : nodes) {
        auto* item = new QTreeWidgetItem(parent, QStringList{qs(node.text)});
        addTreeNodes(item, node.children);
    }
}

}  // namespace

QColor Main::readableOn(const QColor& colour, const QColor& background) {
    // Pure blue and red are hard to read on a dark background, and light colours on a light
    // one: the hue stays, the lightness moves away from the background's.
    const bool dark = background.lightness() < 128;
    const int lightness = colour.lightness();
    if (dark && lightness < 170) {
        return QColor::fromHsl(colour.hslHue(), colour.hslSaturation(), 170);
    }
    if (!dark && lightness > 110 && colour.hslSaturation() > 0) {
        return QColor::fromHsl(colour.hslHue(), colour.hslSaturation(), std::min(lightness, 128));
    }
    return colour;
}

Main::Main(WindowServices& os, SettingsStore* settings) : form_(os) {
    // One name for the window and its dialogs; the version is in About.
    setWindowTitle(QStringLiteral("Tolvane"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildTopRows());
    layout->addWidget(buildTabs(), 1);
    layout->addWidget(buildBottomRow());
    setCentralWidget(central);
    for (QLabel*& panel : panels_) {
        panel = new QLabel;
        statusBar()->addWidget(panel);
    }
    // The progress line's "position/size" drawn as a bar; the text stays in its panel.
    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(160);
    progress_->hide();
    statusBar()->addPermanentWidget(progress_);
    setWindowIcon(applicationIcon());
    buildMenu();
    // Enter starts Read EVO once a source is chosen, as the default button of the form did.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* enter = new QShortcut(key, this);
        QObject::connect(enter, &QShortcut::activated, [this] {
            if (form_.enabled(Control::bReadEVO) && !form_.jobRunning()) {
                form_.bReadEVOClick();
            }
        });
    }
    setMinimumSize(661, 427);
    resize(661, 427);

    form_.setView(this);
    form_.messageLog().setView(this);
    const QFontMetrics metrics(statusBar()->font());
    form_.messageLog().setTextMeasure(
        [metrics](const std::string& text) { return metrics.horizontalAdvance(qs(text)); });
    form_.setSettingsStore(settings);
    for (size_t k = 0; k < kControlCount; ++k) {
        controlChanged(static_cast<Control>(k));
    }
    statusChanged(StatusPanel::Job);
    statusChanged(StatusPanel::Progress);
    // Start-up before the user can act: settings, empty stream boxes, locale.
    form_.FormActivate();
    applyGeometry();
}

QString Main::readmePath() {
    // Installed beside the program (a package, or a tree moved elsewhere), where the build
    // installs it, or in the source tree of a build that was never installed.
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& path :
         {program + QStringLiteral("/../share/doc/tolvane/README.md"),
          QStringLiteral(TOLVANE_README), QStringLiteral(TOLVANE_SOURCE_README)}) {
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return {};
}

QString Main::aboutText() {
    const QString readme = readmePath();
    const QString where =
        readme.isEmpty() ? QStringLiteral(
                               "<p>The README, with the command line and its options, is not "
                               "installed: see tolvane-cli --help and man tolvane-cli.</p>")
                         : QStringLiteral(
                               "<p>The README, with the command line and its options, is at<br>"
                               "<a href=\"%1\">%2</a></p>")
                               .arg(QUrl::fromLocalFile(readme).toString(), readme.toHtmlEscaped());
    return QStringLiteral(
               "<h3>Tolvane %1</h3>"
               "<p>Takes apart the program streams of HD DVD, DVD-Video and DVD-Audio discs: "
               "reports every stream, demuxes the chosen ones and rebuilds a new .EVO.</p>"
               "<p>Copyright &copy; 2026 Quendle Software. Released under the MIT licence.</p>")
               .arg(QStringLiteral(TOLVANE_VERSION)) +
           where;
}

void Main::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* openDisc = file->addAction(QStringLiteral("Open disc &folder..."));
    QObject::connect(openDisc, &QAction::triggered, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Choose the DVD folder (VIDEO_TS or the folder above it)"),
            qs(form_.paths().sourceDialogFolder));
        form_.bbEVOClick(folder.isEmpty() ? std::nullopt : std::optional(folder.toStdString()));
    });
    openOutput_ = file->addAction(QStringLiteral("Open &output folder"));
    openOutput_->setEnabled(false);
    QObject::connect(openOutput_, &QAction::triggered, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(qs(form_.outputFolder())));
    });
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setObjectName(QStringLiteral("quit"));
    // Closing asks the model first, as the window's own close does.
    QObject::connect(quit, &QAction::triggered, this, &QWidget::close);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Tolvane"));
    about->setShortcut(QKeySequence::HelpContents);
    QObject::connect(about, &QAction::triggered, [this] {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("About Tolvane"), aboutText(),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::RichText);
        box.setTextInteractionFlags(Qt::TextBrowserInteraction);
        box.setIconPixmap(windowIcon().pixmap(64, 64));
        box.exec();
    });
}

void Main::showProgress() {
    const std::optional<int> permille = form_.messageLog().progressPermille();
    if (!permille) {
        progress_->hide();
        return;
    }
    progress_->setRange(0, 1000);
    progress_->setValue(*permille);
    progress_->show();
}

Main::~Main() {
    form_.setView(nullptr);
    form_.messageLog().setView(nullptr);
}

void Main::bind(Control c, QWidget* widget) {
    widgets_[static_cast<size_t>(c)] = widget;
    if (auto* box = qobject_cast<QRadioButton*>(widget)) {
        QObject::connect(box, &QRadioButton::toggled, [this, c](bool on) {
            if (on) {
                form_.setTicked(c, true);
            }
        });
    } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        QObject::connect(check, &QCheckBox::toggled,
                         [this, c](bool on) { form_.setTicked(c, on); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        QObject::connect(edit, &QLineEdit::textEdited,
                         [this, c](const QString& text) { form_.setText(c, text.toStdString()); });
    }
}

QWidget* Main::buildTopRows() {
    auto* box = new QWidget;
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* source = new QLineEdit;
    auto* playlist = new QLineEdit;
    for (QLineEdit* edit : {source, playlist}) {
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::ClickFocus);
    }
    auto* browseSource = browseButton();
    auto* browsePlaylist = browseButton();
    auto* readSource = button(Control::bReadEVO, form_);
    auto* readPlaylist = button(Control::bReadXPL, form_);
    readSource->setDefault(true);
    grid->addWidget(source, 0, 0);
    grid->addWidget(browseSource, 0, 1);
    grid->addWidget(readSource, 0, 2);
    // A disc's titles, shown when the source is a disc: choosing one reads it.
    titles_ = new QComboBox;
    titles_->setToolTip(QStringLiteral("The titles of the disc: choose one to read it"));
    titles_->hide();
    grid->addWidget(titles_, 1, 0, 1, 3);
    grid->addWidget(playlist, 2, 0);
    grid->addWidget(browsePlaylist, 2, 1);
    grid->addWidget(readPlaylist, 2, 2);
    QObject::connect(titles_, &QComboBox::activated, [this](int index) {
        const std::vector<MainForm::TitleChoice> choices = form_.titleChoices();
        if (index >= 0 && static_cast<size_t>(index) < choices.size()) {
            const MainForm::TitleChoice& choice = choices[static_cast<size_t>(index)];
            form_.chooseTitle(choice.number, choice.angle);
        }
    });
    bind(Control::eEVOfile, source);
    bind(Control::eXPLfile, playlist);
    bind(Control::bbEVO, browseSource);
    bind(Control::bbXPL, browsePlaylist);
    bind(Control::bReadEVO, readSource);
    bind(Control::bReadXPL, readPlaylist);

    QObject::connect(browseSource, &QToolButton::clicked, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Choose the EVO file to demux"),
            qs(form_.paths().sourceDialogFolder),
            QStringLiteral("All supported file (*.aob *.evo *.vob *.mpg *.mpeg *.iso *.img);;"
                           "EVOB files (HD DVD) (*.evo);;AOB files (DVD Audio) (*.aob);;"
                           "VOB files (DVD Video) (*.vob);;MPEG program streams (*.mpg *.mpeg);;"
                           "DVD images (*.iso *.img)"));
        form_.bbEVOClick(path.isEmpty() ? std::nullopt : std::optional(path.toStdString()));
    });
    QObject::connect(browsePlaylist, &QToolButton::clicked, [this] {
        const QString path =
            QFileDialog::getOpenFileName(this, QString(), qs(form_.paths().playlistDialogFolder),
                                         QStringLiteral("XPL (VPLST000.XPL)"));
        form_.bbXPLClick(path.isEmpty() ? std::nullopt : std::optional(path.toStdString()));
    });
    QObject::connect(readSource, &QPushButton::clicked, [this] { form_.bReadEVOClick(); });
    QObject::connect(readPlaylist, &QPushButton::clicked, [this] { form_.bReadXPLClick(); });
    return box;
}

QWidget* Main::streamPage(int boxes, int columns, Control (*box)(int)) {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    const int rows = boxes / columns;
    for (int n = 0; n < boxes; ++n) {
        auto* check = new QCheckBox;
        check->setMinimumWidth(140);
        grid->addWidget(check, n % rows, n / rows);
        bind(box(n), check);
    }
    grid->setRowStretch(rows, 1);
    grid->setColumnStretch(columns, 1);
    return page;
}

QWidget* Main::buildTabs() {
    tabs_ = new QTabWidget;
    auto* status = new QWidget;
    auto* statusLayout = new QVBoxLayout(status);
    auto* clearRow = new QHBoxLayout;
    auto* autoClear = new QCheckBox;
    auto* clear = button(Control::bClear, form_);
    clearRow->addStretch(1);
    clearRow->addWidget(autoClear);
    clearRow->addWidget(clear);
    bind(Control::cbAutoClear, autoClear);
    bind(Control::bClear, clear);
    QObject::connect(clear, &QPushButton::clicked, [this] { form_.bClearClick(); });
    log_ = new QTextEdit;
    log_->setReadOnly(true);
    log_->setLineWrapMode(QTextEdit::NoWrap);
    statusLayout->addLayout(clearRow);
    statusLayout->addWidget(log_, 1);
    tabs_->addTab(status, QStringLiteral("Status"));

    tabs_->addTab(streamPage(kVideoBoxes, 1, videoBox), QStringLiteral("Video"));
    tabs_->setTabToolTip(1, QStringLiteral("Check the desired video stream"));
    tabs_->addTab(streamPage(kAudioBoxes, 2, audioBox), QStringLiteral("Audio"));
    tabs_->setTabToolTip(2, QStringLiteral("Check the desired audio streams"));
    tabs_->addTab(streamPage(kSubBoxes, 4, subBox), QStringLiteral("Subpicture"));
    tabs_->setTabToolTip(3, QStringLiteral("Check the desired subpicture streams"));

    splitter_ = new QSplitter;
    tree_ = new QTreeWidget;
    tree_->setHeaderHidden(true);
    tree_->setToolTip(QStringLiteral("Infos from your XPL file"));
    tree_->setIndentation(19);
    tree_->setMinimumWidth(50);
    memo_ = new QPlainTextEdit;
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setFont(QFont(QStringLiteral("Courier New"), 8));
    memo_->setToolTip(QStringLiteral("This is your XPL file (part of it)"));
    splitter_->addWidget(tree_);
    splitter_->addWidget(memo_);
    splitter_->setSizes({220, 500});
    auto* playlistPage = new QWidget;
    auto* playlistLayout = new QVBoxLayout(playlistPage);
    auto* chapterRow = new QHBoxLayout;
    auto* saveChapters = button(Control::bSaveChapters, form_);
    chapterRow->addStretch(1);
    chapterRow->addWidget(saveChapters);
    bind(Control::bSaveChapters, saveChapters);
    QObject::connect(saveChapters, &QPushButton::clicked, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save chapters"),
            qs(form_.paths().playlistDialogFolder + form_.paths().baseName + ".chapters.xml"),
            QStringLiteral("Matroska chapters (*.xml);;OGM chapters (*.txt)"));
        if (path.isEmpty()) {
            return;
        }
        try {
            form_.saveChapters(path.toStdString());
        } catch (const JobError& error) {
            QMessageBox::warning(this, windowTitle(), qs(error.what()));
        }
    });
    playlistLayout->addLayout(chapterRow);
    playlistLayout->addWidget(splitter_, 1);
    tabs_->addTab(playlistPage, QStringLiteral("XPL"));
    playlistChanged();
    tabs_->addTab(buildOptions(), QStringLiteral("Options"));
    return tabs_;
}

QWidget* Main::buildOptions() {
    auto* page = new QWidget;
    auto* layout = new QGridLayout(page);

    auto* files = new QGroupBox;
    auto* fileLayout = new QGridLayout(files);
    fileLayout->addWidget(new QLabel(QStringLiteral("Extensions (video, audio, subtitle)")), 0, 0,
                          1, 3);
    const Control extensions[] = {Control::eVideoExt, Control::eAudioExt, Control::eSubExt};
    for (int k = 0; k < 3; ++k) {
        auto* edit = new QLineEdit;
        edit->setMaxLength(5);
        fileLayout->addWidget(edit, 1, k);
        bind(extensions[k], edit);
    }
    fileLayout->addWidget(new QLabel(QStringLiteral("Output folder")), 2, 0, 1, 3);
    auto* workdir = new QLineEdit;
    auto* browseWorkdir = browseButton();
    fileLayout->addWidget(workdir, 3, 0, 1, 2);
    fileLayout->addWidget(browseWorkdir, 3, 2);
    bind(Control::eWorkdir, workdir);
    bind(Control::bbWorkdir, browseWorkdir);
    int naming = 4;
    for (Control c : {Control::cbExtByCoding, Control::cbDelayNames}) {
        auto* check = new QCheckBox;
        fileLayout->addWidget(check, naming++, 0, 1, 3);
        bind(c, check);
    }
    QObject::connect(browseWorkdir, &QToolButton::clicked, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Select a directory"), qs(form_.workdirDialogStart()));
        form_.bbWorkdirClick(folder.isEmpty() ? std::nullopt : std::optional(folder.toStdString()));
    });
    layout->addWidget(files, 0, 0);

    auto* job = new QGroupBox;
    auto* jobLayout = new QGridLayout(job);
    const Control boxes[] = {Control::cbContinue, Control::cbFastCheck, Control::cbCountFr,
                             Control::cbDetails, Control::cbAutoRead};
    int row = 0;
    for (Control c : boxes) {
        auto* check = new QCheckBox;
        jobLayout->addWidget(check, row++, 0);
        bind(c, check);
        if (c == Control::cbFastCheck) {
            auto* sizeRow = new QHBoxLayout;
            auto* fastSize = new NumEdit;
            // Room for any size a user may store, shown whole.
            fastSize->setMaxLength(6);
            fastSize->setMinimumWidth(
                fastSize->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
            sizeRow->addWidget(new QLabel(QStringLiteral("check only the first")));
            sizeRow->addWidget(fastSize);
            sizeRow->addWidget(new QLabel(QStringLiteral("MB")));
            sizeRow->addStretch(1);
            jobLayout->addLayout(sizeRow, row++, 0);
            bind(Control::ieFastSize, fastSize);
        }
    }
    layout->addWidget(job, 0, 1);

    auto* automatic = new QGroupBox;
    auto* autoLayout = new QVBoxLayout(automatic);
    for (Control c : {Control::rbNoAuto, Control::rbAutoDemux, Control::rbAutoRebuild}) {
        auto* radio = new QRadioButton;
        autoLayout->addWidget(radio);
        bind(c, radio);
    }
    layout->addWidget(automatic, 1, 0);

    auto* rebuild = new QGroupBox;
    auto* rebuildLayout = new QVBoxLayout(rebuild);
    auto* advanced = new QCheckBox;
    rebuildLayout->addWidget(advanced);
    bind(Control::cbRBAdvanced, advanced);
    // Two columns of two boxes each, so that every field keeps its height at the window's first
    // size.
    layout->addWidget(rebuild, 1, 1);
    layout->setRowStretch(2, 1);
    return page;
}

QWidget* Main::buildBottomRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* demux = button(Control::bDemux, form_);
    QFont bold = demux->font();
    bold.setBold(true);
    demux->setFont(bold);
    auto* rebuild = button(Control::bRebuild, form_);
    auto* matroska = button(Control::bMatroska, form_);
    auto* cancel = button(Control::bCancel, form_);
    logo_ = new QLabel;
    logo_->setPixmap(applicationIcon().pixmap(40, 40));
    logo_->setToolTip(QStringLiteral("HD DVD logo :-)"));
    logo_->setAlignment(Qt::AlignCenter);
    layout->addWidget(demux);
    layout->addWidget(rebuild);
    layout->addWidget(matroska);
    layout->addStretch(1);
    layout->addWidget(logo_);
    layout->addStretch(1);
    layout->addWidget(cancel);
    bind(Control::bDemux, demux);
    bind(Control::bRebuild, rebuild);
    bind(Control::bMatroska, matroska);
    bind(Control::bCancel, cancel);
    QObject::connect(demux, &QPushButton::clicked, [this] { form_.bDemuxClick(); });
    QObject::connect(rebuild, &QPushButton::clicked, [this] { form_.bRebuildClick(); });
    QObject::connect(matroska, &QPushButton::clicked, [this] { form_.bMatroskaClick(); });
    QObject::connect(cancel, &QPushButton::clicked, [this] { form_.bCancelClick(); });
    return row;
}

void Main::controlChanged(Control c) {
    QWidget* widget = widgets_[static_cast<size_t>(c)];
    if (widget == nullptr) {
        return;
    }
    const ControlState& state = form_.control(c);
    widget->setEnabled(state.enabled);
    // The part of a hint after "|" is a long hint that is not shown.
    widget->setToolTip(qs(state.hint.substr(0, state.hint.find('|'))));
    const QSignalBlocker quiet(widget);
    if (auto* box = qobject_cast<QAbstractButton*>(widget)) {
        if (qobject_cast<QPushButton*>(widget) != nullptr && !state.caption.empty()) {
            box->setText(withMnemonic(c, state.caption));
        } else if (!state.caption.empty() || qobject_cast<QCheckBox*>(widget) != nullptr) {
            // A caption may come from playlist text: an "&" in it is shown, not a mnemonic.
            box->setText(qs(state.caption).replace('&', QStringLiteral("&&")));
        }
        if (box->isCheckable()) {
            box->setChecked(state.ticked);
        }
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        if (edit->text() != qs(state.text)) {
            edit->setText(qs(state.text));
        }
    }
}

void Main::pageShown(int index) {
    tabs_->setCurrentIndex(index);
}

void Main::logoMoved(int /*left*/) {
    // The bottom row's layout keeps the logo centred.
}

void Main::playlistChanged() {
    tree_->clear();
    for (const TreeNode& node : form_.xplTree()) {
        auto* item = new QTreeWidgetItem(tree_, QStringList{qs(node.text)});
        addTreeNodes(item, node.children);
    }
    tree_->expandAll();
    fitTree();
    // One text built line by line: no second copy of the playlist as a list of lines.
    const PlaylistMemo& memo = form_.xplMemo();
    QString text;
    for (size_t k = 0; k < memo.size(); ++k) {
        if (k > 0) {
            text += QLatin1Char('\n');
        }
        text += qs(memo.line(k));
    }
    memo_->setPlainText(text);
}

void Main::outputFolderChanged() {
    openOutput_->setEnabled(!form_.outputFolder().empty());
    openOutput_->setToolTip(qs(form_.outputFolder()));
}

int Main::treeWidthNeeded() const {
    tree_->resizeColumnToContents(0);
    const int entries = tree_->columnWidth(0) + tree_->frameWidth() * 2 +
                        tree_->verticalScrollBar()->sizeHint().width() + 4;
    return std::max(entries, 200);
}

void Main::fitTree() {
    // Widened to show its entries whole, up to half the page; never narrowed under the user.
    const int total = splitter_->width();
    const int wanted = std::min(treeWidthNeeded(), std::max(total / 2, 200));
    if (splitter_->sizes().value(0) < wanted) {
        splitter_->setSizes({wanted, std::max(100, total - wanted)});
    }
}

void Main::discChanged() {
    const QSignalBlocker quiet(titles_);
    titles_->clear();
    const std::vector<MainForm::TitleChoice> choices = form_.titleChoices();
    for (const MainForm::TitleChoice& choice : choices) {
        titles_->addItem(qs(choice.entry));
        if (choice.number == form_.discTitle() && choice.angle == form_.discAngle()) {
            titles_->setCurrentIndex(titles_->count() - 1);
        }
    }
    titles_->setVisible(!choices.empty());
    // A DVD's files and discs have no HD DVD playlist: its row goes.
    for (const Control c : {Control::eXPLfile, Control::bbXPL, Control::bReadXPL}) {
        if (QWidget* widget = widgets_[static_cast<size_t>(c)]) {
            widget->setVisible(form_.playlistApplies());
        }
    }
}

void Main::focus(Control control) {
    if (QWidget* widget = widgets_[static_cast<size_t>(control)]) {
        widget->setFocus();
    }
}

void Main::lineAppended(const LogLine& line) {
    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::End);
    if (!logEmpty_) {
        cursor.insertBlock();  // each log line is a paragraph of its own
    }
    logEmpty_ = false;
    for (const FormatRun& run : line.runs) {
        QTextCharFormat format;
        format.setFontWeight(run.format.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(run.format.italic);
        format.setFontUnderline(run.format.underline);
        format.setFontPointSize(run.format.pointSize);
        if (run.format.hasColour) {
            format.setForeground(readableOn(
                QColor(run.format.colour.red, run.format.colour.green, run.format.colour.blue),
                log_->palette().color(QPalette::Base)));
        }
        cursor.insertText(qs(line.text.substr(run.start, run.length)), format);
    }
    log_->ensureCursorVisible();
}

void Main::cleared() {
    log_->clear();
    logEmpty_ = true;
}

void Main::statusChanged(StatusPanel panel) {
    const StatusPanelState& state = form_.messageLog().panel(panel);
    QLabel* label = panels_[static_cast<size_t>(panel)];
    if (label == nullptr) {
        return;
    }
    label->setText(qs(state.text));
    // The job panel keeps its measured width; the last panel may grow to show its whole text.
    if (panel == StatusPanel::Job) {
        label->setFixedWidth(state.width);
    } else {
        label->setMinimumWidth(state.width);
    }
    statusBar()->setToolTip(qs(form_.messageLog().hint()));
    if (panel == StatusPanel::Progress) {
        showProgress();
        progress_->repaint();
    }
    label->repaint();  // long passes keep the window from idle painting
}

// The stored geometry is the client area's, read and written alike: mixing the frame's
// position with the client's size moved the window by its title bar at every start.
void Main::applyGeometry() {
    const WindowGeometry& g = form_.geometry();
    if (g.width > 0 && g.height > 0) {
        setGeometry(g.left, g.top, g.width, g.height);
    }
    const int tree = g.treeWidth > 0 ? g.treeWidth : treeWidthNeeded();
    splitter_->setSizes({tree, std::max(100, width() - tree)});
    if (g.state == 2) {
        setWindowState(Qt::WindowMaximized);
    }
}

void Main::keepGeometry() {
    WindowGeometry& g = form_.geometry();
    g.state = isMaximized() ? 2 : isMinimized() ? 1 : 0;
    if (g.state == 0) {
        const QRect client = geometry();
        g.top = client.y();
        g.left = client.x();
        g.width = client.width();
        g.height = client.height();
    }
    g.treeWidth = tree_->width();
}

void Main::closeEvent(QCloseEvent* event) {
    if (!form_.FormCloseQuery()) {
        event->ignore();
        return;
    }
    keepGeometry();
    try {
        form_.RegWrite();
    } catch (const PlatformError& error) {
        QMessageBox::critical(this, windowTitle(), qs(error.what()));
    }
    event->accept();
}

void Main::showEvent(QShowEvent* event) {
    // The first size, 661x427, grows where this platform's fonts and the menu need more, so that
    // every tab's fields are whole; the sizes are known once the widgets are polished.
    const QSize needed = minimumSizeHint().expandedTo(QSize(661, 427));
    setMinimumSize(needed);
    resize(size().expandedTo(needed));
    setAcceptDrops(true);  // files may be dropped once the window is shown
    QMainWindow::showEvent(event);
}

void Main::resizeEvent(QResizeEvent* event) {
    form_.FormResize(width());
    QMainWindow::resizeEvent(event);
}

void Main::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void Main::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(url.toLocalFile().toStdString());
        }
    }
    event->acceptProposedAction();
    form_.WMDropFiles(paths);
}

}  // namespace tolvane
