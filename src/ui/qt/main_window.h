#pragma once

#include <QColor>
#include <QMainWindow>
#include <array>

#include "ui/model/main_form.h"

class QAction;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTextEdit;
class QTreeWidget;

namespace tolvane {

// The desktop window: Qt widgets that mirror the window model and hand every user action to
// it. All logic lives in MainForm.
class Main : public QMainWindow, public FormView, public MessageLogView {
public:
    Main(WindowServices& os, SettingsStore* settings);
    ~Main() override;

    MainForm& form() { return form_; }
    QWidget* widget(Control c) const { return widgets_[static_cast<size_t>(c)]; }
    QTextEdit* logView() const { return log_; }
    QLabel* statusPanel(StatusPanel panel) const { return panels_[static_cast<size_t>(panel)]; }
    QTreeWidget* playlistTree() const { return tree_; }
    QComboBox* titleList() const { return titles_; }
    QProgressBar* progressBar() const { return progress_; }
    // The About box's text: version, licence and where the README is.
    static QString aboutText();
    // The README that is installed (or the source tree's); empty when there is none.
    static QString readmePath();
    // `colour` moved in lightness until it reads well on `background`.
    static QColor readableOn(const QColor& colour, const QColor& background);
    QAction* openOutputAction() const { return openOutput_; }
    QSplitter* playlistSplitter() const { return splitter_; }

    // FormView
    void controlChanged(Control control) override;
    void pageShown(int index) override;
    void logoMoved(int left) override;
    void playlistChanged() override;
    void discChanged() override;
    void outputFolderChanged() override;
    void focus(Control control) override;
    // MessageLogView
    void lineAppended(const LogLine& line) override;
    void cleared() override;
    void statusChanged(StatusPanel panel) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildTopRows();
    QWidget* buildTabs();
    QWidget* buildOptions();
    QWidget* buildBottomRow();
    QWidget* streamPage(int boxes, int columns, Control (*box)(int));
    void bind(Control c, QWidget* widget);
    void applyGeometry();
    void keepGeometry();
    void buildMenu();
    // The bar follows how far the running job has read, and hides when nothing says.
    void showProgress();
    // The playlist tree's width that shows its entries whole.
    int treeWidthNeeded() const;
    void fitTree();

    MainForm form_;
    std::array<QWidget*, kControlCount> widgets_{};
    QTabWidget* tabs_ = nullptr;
    QTextEdit* log_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QComboBox* titles_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QLabel* logo_ = nullptr;
    std::array<QLabel*, 2> panels_{};
    QProgressBar* progress_ = nullptr;
    QAction* openOutput_ = nullptr;
    bool logEmpty_ = true;
};

}  // namespace tolvane
