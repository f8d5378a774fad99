#pragma once
// The program's start-up: the application's title and error box, the main window, the message
// loop. The command line is read here and nowhere else.
#include <QStringList>
#include <memory>

namespace qvl {

class MainWindow;

class TSetupProgram {
public:
    // `arguments` is the command line, the program's own name first.
    explicit TSetupProgram(QStringList arguments);
    ~TSetupProgram();

    // Names the application "Quorvale Setup" and makes the error box its exception display.
    static void InitApplication();

    // Creates Form1. An exception raised meanwhile is shown through the application's
    // exception display and leaves no window behind; then the result is false.
    bool CreateForm();
    MainWindow* Form1() const { return form1_.get(); }

    // Creates Form1, shows it and runs the message loop until it is closed. When start-up fails
    // the loop is never entered. Returns 0 either way.
    int Run();

private:
    QStringList arguments_;
    std::unique_ptr<MainWindow> form1_;
};

}  // namespace qvl
