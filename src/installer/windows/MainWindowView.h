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

#include "installer/MainWindowViewBase.h"
#include "installer/windows/ProgressBar.h"
#include "installer/windows/WinHandles.h"

namespace qvl {

class MainWindowView : public MainWindowViewBase {
public:
    // The window's client size and the fixed heights of its two panels.
    static constexpr int kClientWidth = 463;
    static constexpr int kClientHeight = 380;
    static constexpr int kTopPanelHeight = 181;
    static constexpr int kBottomPanelHeight = 28;
    // Control ids; Button1's click arrives as WM_COMMAND with kButton1Id.
    static constexpr int kMemo1Id = 100, kCheckBox1Id = 101, kCheckBox2Id = 102, kButton1Id = 103;

    // Builds the window and every control with its starting content, centred on the desktop and
    // not shown yet. Raises Exception when the system refuses a window (no display).
    MainWindowView();
    ~MainWindowView() override;
    MainWindowView(const MainWindowView&) = delete;
    MainWindowView& operator=(const MainWindowView&) = delete;

    void SetTitle(const std::string& text) override;
    bool IsProgramTicked() override;
    bool IsBlockchainTicked() override;

    // The log's lines, without the empty line after the last line break, as the control holds
    // them once the lines that wait have been written into it.
    std::vector<std::string> LogLines();

    HWND Handle() const { return form_.get(); }
    // Shows the window with the focus in the log; closing it then ends the message loop.
    void Show();
    // Asks the window to close, as the title bar's button does.
    void Close();
    bool IsVisible() const;
    // The window's client area as a PNG file; false when it cannot be saved.
    bool SavePicture(const std::string& file);

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
    void ClearLogControl() override;
    void WriteLogLines(const std::vector<std::string>& lines) override;
    int ShowSystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void RequestClose() override { Close(); }
    ProgressBarRange& Progress() override { return *ProgressBar1; }

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
};

}  // namespace qvl
