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

// Records what the error box would show, for the life of the test.
class RecordingDisplay {
public:
    RecordingDisplay() {
        TSetupProgram::InitApplication();
        Application::SetExceptionDisplay([this](const std::string& text) { shown.push_back(text); });
    }
    ~RecordingDisplay() { TSetupProgram::InitApplication(); }
    std::vector<std::string> shown;
};

bool AnyWindowVisible() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return true;
    return false;
}

}  // namespace

TEST(Startup, TheErrorBoxHasTheTitleAStopIconAndOneOk) {
    TSetupProgram::InitApplication();
    EXPECT_EQ(Application::Title(), "Quorvale Setup");
    BoxWatcher watcher;
    Application::ShowException(std::make_exception_ptr(Exception("Cannot create C:\\Quorvale\\")));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    const auto& box = watcher.Seen()[0];
    EXPECT_EQ(box.title, QStringLiteral("Quorvale Setup"));
    EXPECT_EQ(box.text, QStringLiteral("Cannot create C:\\Quorvale\\."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(box.modal);
}

TEST(Startup, AnythingButAnExceptionIsShownWithAnEmptyMessage) {
    RecordingDisplay display;
    Sandbox box;
    Application::ShowException(std::make_exception_ptr(std::runtime_error("not ours")));
    EXPECT_EQ(display.shown, std::vector<std::string>{""});
}

TEST(Startup, AFolderThatCannotBeCreatedIsShownAndNoWindowAppears) {
    RecordingDisplay display;
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
    RecordingDisplay display;
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
    RecordingDisplay display;
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
    RecordingDisplay display;
    Sandbox box;
    TSetupProgram program(std::vector<std::string>{"qvlsetup"});
    bool seen = false, timedOut = false;
    QString title;
    QRect frame;
    QTimer poll;
    int turns = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        MainWindow* form1 = program.Form1();
        if (form1 && form1->View().isVisible()) {
            seen = true;
            title = form1->View().windowTitle();
            frame = form1->View().frameGeometry();
            form1->View().close();
        } else if (++turns > 1000) {
            timedOut = true;
            QApplication::quit();
        }
    });
    poll.start(10);
    EXPECT_EQ(program.Run(), 0);
    poll.stop();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(timedOut);
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
        RecordingDisplay display;
        Sandbox box;
        box.SetEnv("APPDATA", appdata);
        box.SetEnv("XDG_DATA_HOME", std::nullopt);
        const std::string dataHome = box.Home() + "/.local/share";
        TSetupProgram program(std::vector<std::string>{"qvlsetup"});
        bool seen = false;
        std::vector<std::string> lines;
        QTimer poll;
        int turns = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            MainWindow* form1 = program.Form1();
            if (form1 && form1->View().isVisible()) {
                seen = true;
                lines = form1->View().LogLines();
                form1->View().close();
            } else if (++turns > 1000) {
                QApplication::quit();
            }
        });
        poll.start(10);
        EXPECT_EQ(program.Run(), 0);
        poll.stop();
        EXPECT_TRUE(seen) << (appdata ? "empty" : "unset");
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
