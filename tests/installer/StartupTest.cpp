// Start-up as the program runs it: the error box, a start-up that fails before the window is
// shown, and a start-up that shows the window centred and runs the loop until it is closed.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <optional>
#include <string>
#include <vector>

#include "BoxWatcher.h"
#include "Sandbox.h"
#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/ErrorBox.h"
#include "installer/MainWindow.h"
#include "installer/linux/MainWindowView.h"
#include "installer/SetupProgram.h"
#include "platform/Sockets.h"

using namespace qvl;
using qvl::test::BoxWatcher;
using qvl::test::Sandbox;

namespace {

bool AnyWindowVisible() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return true;
    return false;
}

struct WindowRun {
    int result = -1;        // what Run() returned
    bool shown = false;     // the window came up
    bool timedOut = false;  // it did not within 10 s, and the loop was ended
};

// Runs the program's own loop; once its window is shown, `look` sees it and the window is closed,
// which ends the loop.
template <class Look>
WindowRun RunUntilShown(TSetupProgram& program, Look look) {
    WindowRun run;
    QTimer poll;
    int turns = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        MainWindow* form1 = program.Form1();
        if (form1 && form1->View().isVisible()) {
            run.shown = true;
            look(form1->View());
            form1->View().close();
        } else if (++turns > 1000) {
            run.timedOut = true;
            QApplication::quit();
        }
    });
    poll.start(10);
    run.result = program.Run();
    return run;
}

}  // namespace

TEST(Startup, TheErrorBoxHasTheTitleAStopIconAndOneOk) {
    TSetupProgram::InitApplication();
    EXPECT_EQ(Application::Title(), "Quorvale Setup");
    BoxWatcher watcher;
    Application::ShowException(std::make_exception_ptr(Exception("Cannot create C:\\Quorvale\\")));
    const auto* box = watcher.OnlyOkBox(QStringLiteral("Quorvale Setup"), QStringLiteral("Cannot create C:\\Quorvale\\."));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->icon, QMessageBox::Critical);
}

TEST(Startup, AnythingButAnExceptionIsShownWithAnEmptyMessage) {
    test::RecordingDisplay display;
    Sandbox box;
    Application::ShowException(std::make_exception_ptr(std::runtime_error("not ours")));
    EXPECT_EQ(display.shown, std::vector<std::string>{""});
}

TEST(Startup, AFolderThatCannotBeCreatedIsShownAndNoWindowAppears) {
    test::RecordingDisplay display;
    Sandbox box;
    const std::string appdata = box.Path("missing/appdata");
    box.SetEnv("APPDATA", appdata);
    TSetupProgram program(std::vector<std::string>{"qvlsetup"});
    EXPECT_FALSE(program.CreateForm());
    EXPECT_EQ(program.Form1(), nullptr);
    EXPECT_EQ(display.shown, std::vector<std::string>{"Cannot create " + appdata + "\\Quorvale\\."});
    EXPECT_FALSE(AnyWindowVisible());
}

TEST(Startup, FailedStartUpReturnsZeroWithoutEnteringTheLoop) {
    test::RecordingDisplay display;
    Sandbox box;
    box.SetEnv("HOME", box.Path("no-such-home"));
    bool loopRan = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { loopRan = true; QApplication::quit(); });
    guard.start(0);
    EXPECT_EQ(TSetupProgram(std::vector<std::string>{"qvlsetup"}).Run(), 0);
    EXPECT_FALSE(loopRan);
    EXPECT_EQ(display.shown, std::vector<std::string>{"Cannot create C:\\Quorvale\\."});
    guard.stop();
}

TEST(Startup, SocketServiceThatCannotStartEndsStartUp) {
    test::RecordingDisplay display;
    Sandbox box;
    platform::FailSocketStartupForTesting(true);
    TSetupProgram program(std::vector<std::string>{"qvlsetup"});
    const bool created = program.CreateForm();
    platform::FailSocketStartupForTesting(false);
    EXPECT_FALSE(created);
    ASSERT_EQ(display.shown.size(), 1u);
    EXPECT_FALSE(display.shown[0].empty());
    EXPECT_FALSE(AnyWindowVisible());
    EXPECT_FALSE(Sandbox::IsDir(box.Home() + "/Quorvale"));
}

TEST(Startup, ShowsTheWindowCentredAndReturnsZeroWhenItIsClosed) {
    test::RecordingDisplay display;
    Sandbox box;
    TSetupProgram program(std::vector<std::string>{"qvlsetup"});
    QString title;
    QRect frame;
    const WindowRun run = RunUntilShown(program, [&](MainWindowView& view) {
        title = view.windowTitle();
        frame = view.frameGeometry();
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.shown);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(display.shown.empty());
    EXPECT_EQ(title, QStringLiteral("Quorvale Installer - Updater"));
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(frame.center().x() - desktop.center().x()), 1);
    EXPECT_LE(std::abs(frame.center().y() - desktop.center().y()), 1);
    EXPECT_EQ(program.Form1(), nullptr);
}

// A fresh account: no ~/.local/share, and APPDATA empty or not set. The program opens its window
// with the log of a first run, the data home made and the two folders in it and in HOME.
TEST(Startup, AFreshAccountWithoutDataHomeGetsTheWindowAndItsFolders) {
    for (const std::optional<std::string>& appdata : {std::optional<std::string>(""), std::optional<std::string>()}) {
        test::RecordingDisplay display;
        Sandbox box;
        box.SetEnv("APPDATA", appdata);
        box.SetEnv("XDG_DATA_HOME", std::nullopt);
        const std::string dataHome = box.Home() + "/.local/share";
        TSetupProgram program(std::vector<std::string>{"qvlsetup"});
        std::vector<std::string> lines;
        const WindowRun run = RunUntilShown(program, [&](MainWindowView& view) { lines = view.LogLines(); });
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.shown) << (appdata ? "empty" : "unset");
        EXPECT_TRUE(display.shown.empty());
        const std::vector<std::string> firstRun{
            "ticker is qvl", "inipath is Quorvale", "datapath is " + dataHome,
            "looking for file " + dataHome + "\\Quorvale\\", "attribs= 4294967295",
            "AppData\\Quorvale\\ chain directory found is: false", "I will now create it.",
            "looking for file C:\\Quorvale\\", "attribs= 4294967295",
            "C:\\Quorvale\\ app directory found is: false", "I will now create it."};
        // The proxy lines of the environment may follow; the first run's lines come first.
        ASSERT_GE(lines.size(), firstRun.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(firstRun.size())), firstRun);
        EXPECT_TRUE(Sandbox::IsDir(dataHome + "/Quorvale"));
        EXPECT_TRUE(Sandbox::IsDir(box.Home() + "/Quorvale"));
    }
}

#else
QVL_TESTS_SKIPPED_HERE(Startup, "the Qt window is the Linux side's")
#endif
