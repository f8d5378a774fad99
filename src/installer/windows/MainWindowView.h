#pragma once
// The installer's window as the user sees it, made of the system's own controls: a sky-blue top
// panel with the heading, the two choices and "Next"; the log below it; a bottom panel with the
// progress bar. Positions and sizes are pixels at 96 dpi; the log takes every change of the
// window's height.
#include "platform/windows/Win32.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "installer/WindowServices.h"
#include "installer/windows/ProgressBar.h"
#include "installer/windows/WinHandles.h"

namespace qvl {

class MainWindowView : public WindowServices {
public:
    // The window's client size and the fixed heights of its two panels.
    static constexpr int kClientWidth = 463;
    static constexpr int kClientHeight = 380;
    static constexpr int kTopPanelHeight = 181;
    static constexpr int kBottomPanelHeight = 28;
    // Control ids; Button1's click arrives as WM_COMMAND with kButton1Id.
    static constexpr int kMemo1Id = 100, kCheckBox1Id = 101, kCheckBox2Id = 102, kButton1Id = 103;
    // The log is written into the control at most once per this many milliseconds while lines
    // keep coming.
    static constexpr unsigned kLogPaintIntervalMs = 40;

    // Builds the window and every control with its starting content, centred on the desktop and
    // not shown yet. Raises Exception when the system refuses a window (no display).
    MainWindowView();
    ~MainWindowView() override;
    MainWindowView(const MainWindowView&) = delete;
    MainWindowView& operator=(const MainWindowView&) = delete;

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

    // The log's lines, without the empty line after the last line break (lines still waiting
    // for the next paint included).
    std::vector<std::string> LogLines();
    // Writes the lines that wait for the next paint into the log control now.
    void FlushLog();

    HWND Handle() const { return form_.get(); }
    // Shows the window with the focus in the log; closing it then ends the message loop.
    void Show();
    // Asks the window to close, as the title bar's button does.
    void Close();
    bool IsVisible() const;
    // The window's client area as a PNG file; false when it cannot be saved.
    bool SavePicture(const std::string& file);

    // While this says so, a request to close the window is remembered instead of carried out: a
    // run goes on to its end with the window shown. CloseIfRequested then carries it out.
    std::function<bool()> CloseDeferred;
    bool CloseRequested() const { return closeRequested_; }
    void CloseIfRequested();

    // Button1's click.
    std::function<void()> OnNext;
    // When set, AppendLog hands it each line after adding it to the log (the --log file).
    std::function<void(const std::string& line)> OnLogLine;
    // When set, ShowMessageBox calls it instead of showing a box and returns its answer.
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)> MessageBoxHandler;

    // The controls, in the order they are created. The window owns them.
    HWND Panel2 = nullptr;
    std::unique_ptr<TProgressBar> ProgressBar1;
    HWND Memo1 = nullptr;
    HWND Panel1 = nullptr;
    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND Label3 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND CheckBox2 = nullptr;
    HWND Button1 = nullptr;

private:
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleForm(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandlePanel(HWND panel, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND MakeControl(const char* className, const char* text, DWORD style, DWORD exStyle, HWND parent,
                     int x, int y, int width, int height, int id, HFONT font);
    HWND MakeLabel(const char* text, HFONT font, int x, int y, int width, int height, DWORD align);
    void LayOut(int width, int height);
    void CentreOnDesktop();
    void CloseNow();

    Font windowFont_, headingFont_, labelFont_, checkFont_, buttonFont_;
    Brush skyBlue_;
    Window form_;
    std::string pendingLog_;
    bool logTimerRunning_ = false;
    bool closeRequested_ = false;
};

}  // namespace qvl
