// TSetupProgram with options, in process on the real window: the --log file against the log
// area in a window run, and an unattended run that never opens a box. The built-in base URL
// names another port, so the environment's proxy points at nginx, which answers the
// absolute-form requests meant for that URL by their path.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "installer/MainWindow.h"
#include "installer/linux/MainWindowView.h"
#include "installer/SetupProgram.h"
#include "support/NginxFixture.h"
#include "support/TempDir.h"

using namespace qvl;
using qvl::test::NginxFixture;
using qvl::test::RecordingDisplay;
using qvl::test::Sandbox;

namespace {

using Lines = std::vector<std::string>;

QMessageBox* OpenBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

Lines FileLines(const std::string& path) {
    const std::string bytes = qvl::test::ReadFileBytes(path);
    Lines lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start) + "<no line break>");
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// nginx with the four files, the wallet missing; the environment's proxy leads to it.
struct Server {
    explicit Server(Sandbox& box) : nginx(Options()) {
        nginx.WriteFile("qvlloader.exe", "#!/bin/sh\necho launcher\n");
        nginx.WriteFile("version.txt", "1.0\n");
        nginx.WriteFile("qvlchain.exe", "#!/bin/sh\nexit 0\n");
        box.SetEnv("http_proxy", "127.0.0.1:" + std::to_string(nginx.Port()));
        box.SetEnv("HTTP_PROXY", std::nullopt);
        box.SetEnv("no_proxy", std::nullopt);
        box.SetEnv("NO_PROXY", std::nullopt);
        box.SetEnv("XDG_DESKTOP_DIR", box.Path("desktop"));
    }
    static NginxFixture::Options Options() {
        NginxFixture::Options options;
        options.statusReplies.push_back({"/quorvale-qt.exe", 404});
        return options;
    }
    NginxFixture nginx;
};

#define REQUIRE_NGINX() \
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed"

}  // namespace

TEST(SetupProgram, TheLogFileHoldsTheLogAreasLinesAsTheyAreWritten) {
    REQUIRE_NGINX();
    RecordingDisplay display;
    Sandbox box;
    Server server(box);
    const std::string log = box.Path("install.log");
    // An earlier run's lines stay: the file is appended to.
    qvl::test::WriteFileBytes(log, "an earlier line\n");

    TSetupProgram program(std::vector<std::string>{"qvlsetup", "--log", log, "--select", "program"});
    Lines areaAtBox, fileAtBox, areaAtEnd;
    bool ticked = false, pressed = false, timedOut = false;
    int turns = 0;
    // The box comes up inside the run that "Next" started; its own timer answers it.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        if (QMessageBox* open = OpenBox(); open && program.Form1()) {
            areaAtBox = program.Form1()->View().LogLines();
            fileAtBox = FileLines(log);
            open->buttons().first()->click();
        }
    });
    boxes.start(10);
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        MainWindow* form1 = program.Form1();
        if (!pressed && form1 && form1->View().isVisible()) {
            pressed = true;
            MainWindowView& view = form1->View();
            ticked = view.CheckBox1->isChecked() && !view.CheckBox2->isChecked();
            view.Button1->click();
            areaAtEnd = view.LogLines();
            view.close();
        } else if (++turns > 3000) {
            timedOut = true;
            QApplication::quit();
        }
    });
    press.start(10);
    EXPECT_EQ(program.Run(), 0);  // a window run ends with 0 whatever happened in it
    press.stop();
    boxes.stop();
    ASSERT_FALSE(timedOut);
    EXPECT_TRUE(ticked);

    ASSERT_FALSE(areaAtBox.empty());
    EXPECT_EQ(areaAtBox.back(), "HTTP GET Failed");
    // When the box came up, every line above it was in the file already.
    EXPECT_EQ(fileAtBox, [&] { Lines l{"an earlier line"}; l.insert(l.end(), areaAtBox.begin(), areaAtBox.end()); return l; }());
    Lines expected{"an earlier line"};
    expected.insert(expected.end(), areaAtEnd.begin(), areaAtEnd.end());
    EXPECT_EQ(FileLines(log), expected);
    // The proxy line is one of them, right after start-up; the box itself is not.
    EXPECT_EQ(std::count(areaAtEnd.begin(), areaAtEnd.end(), "using proxy 127.0.0.1:" + std::to_string(server.nginx.Port())), 1);
    // The wallet's box ended the run; a window run writes no line for it.
    EXPECT_EQ(areaAtEnd, areaAtBox);
}

TEST(SetupProgram, AnUnattendedRunShowsNoBoxAndReportsTheFailure) {
    REQUIRE_NGINX();
    RecordingDisplay display;
    Sandbox box;
    Server server(box);
    TSetupProgram program(std::vector<std::string>{"qvlsetup", "--unattended", "--select", "program,blockchain"});
    int boxesSeen = 0;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        if (QMessageBox* open = OpenBox()) {
            ++boxesSeen;
            open->buttons().first()->click();
        }
    });
    boxes.start(5);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::quit(); });
    guard.start(60000);
    EXPECT_EQ(program.Run(), TSetupProgram::kExitDownloadFailed);
    EXPECT_TRUE(guard.isActive());  // ended by itself
    guard.stop();
    boxes.stop();
    EXPECT_EQ(boxesSeen, 0);
    EXPECT_TRUE(display.shown.empty());
    EXPECT_EQ(program.Form1(), nullptr);
    // The blockchain task ran after the wallet's failure.
    ASSERT_FALSE(server.nginx.Requests().empty());
    EXPECT_NE(server.nginx.Requests().back().requestLine.find("qvlchain.exe"), std::string::npos);
}

#else
QVL_TESTS_SKIPPED_HERE(SetupProgram, "the Qt window and nginx are the Linux side's")
#endif
