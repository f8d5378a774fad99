#pragma once
// The window system's application object as the program needs it: made once from the command
// line, then a message loop that runs until the window is closed or Quit is called.
#include <memory>

namespace qvl {

class ViewApplication {
public:
    // `argc`/`argv` may be changed: the window system takes its own options out. An unattended
    // run needs no screen; where the host would refuse to start without one, it gets a screen
    // that is not shown.
    ViewApplication(int& argc, char** argv, bool unattended);
    ~ViewApplication();
    ViewApplication(const ViewApplication&) = delete;
    ViewApplication& operator=(const ViewApplication&) = delete;

    // Runs the message loop until the main window is closed or Quit is called.
    static int Exec();
    static void Quit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvl
