#pragma once
// The installer's window as the user sees it: a sky-blue top panel with the heading, the two
// choices and "Next"; the log below it; a bottom panel with the progress bar. Positions and sizes
// are pixels at 96 dpi; the log takes every change of the window's height.
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "installer/WindowServices.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPixmap;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qvl {

class TProgressBar;

class MainWindowView : public QWidget, public WindowServices {
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

    void ClearLog() override;
    void AppendLog(const std::string& text) override;
    void SetTitle(const std::string& text) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(int32_t value) override;
    void SetProgressPosition(int32_t value) override;
    int32_t GetProgressMax() override;
    int32_t GetProgressPosition() override;
    bool IsProgramTicked() override;
    bool IsBlockchainTicked() override;
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;

    // The log's lines, without the empty line after the last line break; lines still waiting
    // for the next frame included.
    std::vector<std::string> LogLines() const;
    // Puts the lines that wait for the next frame into the log now, and scrolls to its end.
    void FlushLog();
    // The window's picture as the user sees it: queued log lines are in it.
    QPixmap Picture();

    // While this says so, a request to close the window (the title bar's button, the window
    // manager) is remembered instead of carried out: a run goes on to its end with the window
    // shown. CloseIfRequested then carries it out.
    std::function<bool()> CloseDeferred;
    bool CloseRequested() const { return closeRequested_; }
    void CloseIfRequested();

    // When set, AppendLog hands it each line at once (the --log file), before the line is shown.
    std::function<void(const std::string& line)> OnLogLine;
    // When set, ShowMessageBox calls it instead of showing a box and returns its answer (an
    // unattended run, which has nobody to press "OK").
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)> MessageBoxHandler;

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
    void LayOut();
    // Puts the caret behind the log's last line and scrolls it into view.
    void ShowLogEnd();
    void CentreOnDesktop();

    // Appended lines wait at most this long (a frame at 60 Hz) and go into the log together:
    // one insert and one scroll per frame, however many lines a download logs meanwhile.
    static constexpr int kLogFrameMs = 16;
    QTimer* logFrame_ = nullptr;
    // The lines waiting for the frame, each ended by a line break.
    QString queuedLines_;
    bool centred_ = false;
    bool closeRequested_ = false;
};

}  // namespace qvl
