#pragma once
// Form1: the window's view and its logic, made and destroyed together. The controls exist before
// the logic runs its construction; "Next" reaches the logic through the application's guard, so
// an exception of a task ends up in the error box and the window stays usable.
// The view is the host's own (Qt widgets or Win32 controls); what the program's start-up needs of
// it is here, so that start-up is the same code on every host.
#include <functional>
#include <memory>
#include <string>

namespace qvl {

class MainWindowView;
class TForm1;
class WindowServices;

class MainWindow {
public:
    // What the view is given before the logic's construction writes its first line.
    struct Hooks {
        // Each log line, after it went into the log area (the --log file).
        std::function<void(const std::string& line)> onLogLine;
        // Instead of a message box: gets text, caption and flags and returns the button (an
        // unattended run, which has nobody to press "OK").
        std::function<int(const std::string& text, const std::string& caption, unsigned flags)> messageBoxHandler;
    };

    // Builds the controls, hands the view the hooks, then makes TForm1 (components and
    // construction logic). Raises whatever TForm1 raises; nothing is left over then and nothing
    // has been shown.
    explicit MainWindow(Hooks hooks = {});
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    MainWindowView& View() const { return *view_; }
    WindowServices& Services() const;
    TForm1& Form() const { return *form_; }

    // Ticks or unticks "program" and "blockchain" as the user would.
    void Tick(bool program, bool blockchain);
    // Shows the window; closing it ends the application's message loop.
    void Show();
    // Presses "Next" as the user does: through the application's guard.
    void PressNext();
    // Saves the picture of the window's contents as PNG; false when it cannot be saved.
    bool SavePicture(const std::string& file);
    // Closes the window (as the title bar's button does).
    void Close();

private:
    std::unique_ptr<MainWindowView> view_;
    std::unique_ptr<TForm1> form_;
};

}  // namespace qvl
