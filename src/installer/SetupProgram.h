#pragma once
// The program's start-up: the command line, the application's title and error box, the main
// window, the message loop, and the unattended run. The command line is read here and nowhere
// else; a program started without options behaves as it always has.
#include <memory>
#include <string>
#include <vector>

#include "installer/LogFile.h"
#include "installer/SetupOptions.h"

namespace qvl {

class MainWindow;
namespace platform {
class MessageTarget;
}

class TSetupProgram {
public:
    // Exit statuses. Without --unattended a run ends with kExitSuccess whatever happened in it.
    static constexpr int kExitSuccess = 0;
    static constexpr int kExitDownloadFailed = 1;  // a request failed (OnFailure) or a failure box came up
    static constexpr int kExitError = 2;           // an exception reached the error box
    static constexpr int kExitBadOptions = 3;      // the command line was refused, or --log cannot be opened

    // The whole program. Reads the command line before anything else (a refused one ends it
    // with kExitBadOptions, --help and --version with 0, without a display being needed), opens
    // the log file, makes the application object (which takes the window system's own options) and runs.
    static int Main(int argc, char* argv[]);

    // `arguments` is the command line, the program's own name first.
    explicit TSetupProgram(const std::vector<std::string>& arguments);
    explicit TSetupProgram(SetupOptions options);
    ~TSetupProgram();

    // Names the application "Quorvale Setup" and makes the error box its exception display.
    static void InitApplication();

    const SetupOptions& Options() const { return options_; }

    // Opens the --log file (for appending) when one is asked for and it is not open yet. False,
    // after saying why on standard error, when it cannot be opened.
    bool OpenLog();

    // Creates Form1, with the log file and (unattended) the message box redirect in place, then
    // applies the proxy that the environment names and logs it. An exception raised meanwhile
    // is shown through the application's exception display and leaves no window behind; then
    // the result is false.
    bool CreateForm();
    MainWindow* Form1() const { return form1_.get(); }

    // Creates Form1, ticks what --select names, shows the window and runs the message loop
    // until it is closed; with --unattended it presses "Next" once, saves the picture of the
    // window and closes it when that has returned. When start-up fails the loop is never
    // entered. Returns the exit status.
    int Run();

private:
    // An unattended run's stand-in for a box: "<caption>: <text>" to the log and to stderr.
    void Report(const std::string& caption, const std::string& text);
    void RunUnattended();
    int UnattendedStatus() const;

    SetupOptions options_;
    LogFile log_;
    std::unique_ptr<MainWindow> form1_;
    // Carries the unattended press of "Next" into the message loop.
    std::unique_ptr<platform::MessageTarget> starter_;
    int failures_ = 0;
    int errors_ = 0;
};

}  // namespace qvl
