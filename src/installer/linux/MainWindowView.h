#pragma once
// The installer's window as the user sees it: a sky-blue top panel with the heading, the two
// choices and "Next"; the log below it; a bottom panel with the progress bar. Positions and sizes
// are pixels at 96 dpi; the log takes every change of the window's height.
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "installer/MainWindowViewBase.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPixmap;
class QPlainTextEdit;
class QPushButton;

namespace qvl {

class TProgressBar;

class MainWindowView : public QWidget, public MainWindowViewBase {
    Q_OBJECT
public:
    // The window's client size and the fixed heights of its two panels.
    static constexpr int kClientWidth = 463;
    static constexpr int kClientHeight = 380;
    static constexpr int kTopPanelHeight = 181;
    static constexpr int kBottomPanelHeight = 28;

    // Builds every control with its starting content; the window is centred on the desktop and
    // not shown yet.
    MainWindowView();
    ~MainWindowView() override;

    void SetTitle(const std::string& text) override;
    bool IsProgramTicked() override;
    bool IsBlockchainTicked() override;

    // The log's lines, without the empty line after the last line break; lines still waiting
    // for the next write included (reading them writes nothing, so that a burst read line by
    // line still goes in at once).
    std::vector<std::string> LogLines() const;
    // The window's picture as the user sees it: queued log lines are in it.
    QPixmap Picture();

    // The controls, in the order they are created. The window owns them.
    QFrame* Panel2 = nullptr;
    TProgressBar* ProgressBar1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ClearLogControl() override;
    void WriteLogLines(const std::vector<std::string>& lines) override;
    int ShowSystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void RequestClose() override { close(); }
    ProgressBarRange& Progress() override;

    void LayOut();
    // Puts the caret behind the log's last line and scrolls it into view.
    void ShowLogEnd();
    void CentreOnDesktop();

    bool centred_ = false;
};

}  // namespace qvl
