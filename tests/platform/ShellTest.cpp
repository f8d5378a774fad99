// Special folders, shortcuts as desktop entries and child processes, tested against the real
// things: the file system, desktop-file-validate, GLib's launcher and real child processes.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/MessageTarget.h"
#include "platform/ShellLink.h"
#include "platform/ShellFolders.h"

namespace fs = std::filesystem;
using namespace qvl::platform;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qvl-shell-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or unsets) an environment variable for the life of the guard.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    EnvVar(const char* name, const std::string& value) : EnvVar(name, value.c_str()) {}
    ~EnvVar() {
        if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

class WorkingDir {
public:
    explicit WorkingDir(const std::string& path) : old_(fs::current_path()) { fs::current_path(path); }
    ~WorkingDir() { fs::current_path(old_); }

private:
    fs::path old_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    fs::permissions(path, perms);
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

struct CommandResult {
    int status = -1;
    std::string output;
};

// Runs a command line through the shell, stdout and stderr together.
CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null").status == 0;
}

void ExpectValid(const std::string& file) {
    const CommandResult r = RunCommand("desktop-file-validate " + ShellQuote(file));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "") << ReadFile(file);
}

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::size_t EntriesIn(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

std::string ExecLine(const std::string& text) {
    const auto at = text.find("\nExec=");
    if (at == std::string::npos) return {};
    return text.substr(at + 6, text.find('\n', at + 1) - at - 6);
}

ShellLink QuorvaleLink(const std::string& target) {
    ShellLink link("Quorvale");
    link.SetPath(target);
    link.SetDescription("qvl QT Wallet");
    link.SetShowCmd(kSwShow);
    return link;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Special folders

TEST(SpecialFolders, DesktopFollowsXdgDesktopDirThenUserDirsThenHome) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path());
    EnvVar config("XDG_CONFIG_HOME", home / "config");
    fs::create_directories(home / "config");

    // The environment variable wins; a trailing "/" is dropped.
    fs::create_directories(home / "env-desktop");
    {
        EnvVar desk("XDG_DESKTOP_DIR", home / "env-desktop/");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlDesktopDirectory), home / "env-desktop");
    }
    // Set but missing: no desktop, so no shortcut there.
    {
        EnvVar desk("XDG_DESKTOP_DIR", home / "nowhere");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlDesktopDirectory), std::nullopt);
    }
    // A relative value is not a valid XDG directory: the user's user-dirs.dirs decides.
    fs::create_directories(home / "Schreibtisch");
    WriteFile(home / "config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    {
        EnvVar desk("XDG_DESKTOP_DIR", "relative/desk");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlDesktopDirectory), home / "Schreibtisch");
    }
    // Nothing configured: ~/Desktop, only once it exists.
    fs::remove(home / "config/user-dirs.dirs");
    EnvVar desk("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(GetSpecialFolderPath(kCsidlDesktopDirectory), std::nullopt);
    fs::create_directories(home / "Desktop");
    EXPECT_EQ(GetSpecialFolderPath(kCsidlDesktopDirectory), home / "Desktop");
}

TEST(SpecialFolders, ProgramsIsTheApplicationsFolderOfTheDataHomeCreatedWhenMissing) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path());
    {
        EnvVar data("XDG_DATA_HOME", home / "data/deeper");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlPrograms), home / "data/deeper/applications");
        struct stat st {};
        ASSERT_EQ(::stat((home / "data/deeper/applications").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // A second lookup finds it and leaves what is inside alone.
        WriteFile(home / "data/deeper/applications/keep.desktop", "x");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlPrograms), home / "data/deeper/applications");
        EXPECT_EQ(ReadFile(home / "data/deeper/applications/keep.desktop"), "x");
    }
    {
        EnvVar data("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(GetSpecialFolderPath(kCsidlPrograms), home / ".local/share/applications");
    }
    {
        // A file where a folder must be: the folder cannot be had.
        WriteFile(home / "blocked", "not a folder");
        EnvVar data("XDG_DATA_HOME", home / "blocked");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlPrograms), std::nullopt);
    }
}

// What stands for APPDATA where the host sets none: the data home, made with its parents (0700
// for the levels made, as XDG asks) so that the chain directory below it can be created.
TEST(SpecialFolders, AppDataIsTheDataHomeMadeWithItsParentsWhenMissing) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path() + "/");
    const auto mode = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? (st.st_mode & 0777) : 0u;
    };
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/data"}) {
        EnvVar data("XDG_DATA_HOME", ignored);
        EXPECT_EQ(GetSpecialFolderPath(kCsidlAppData), home / ".local/share");
        EXPECT_EQ(mode(home / ".local"), 0700u);
        EXPECT_EQ(mode(home / ".local/share"), 0700u);
    }
    {
        // An existing folder is taken as it is.
        fs::create_directories(home / "data");
        fs::permissions(home / "data", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        EnvVar data("XDG_DATA_HOME", home / "data/");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlAppData), home / "data");
        EXPECT_EQ(mode(home / "data"), 0750u);
    }
    {
        // A file in the way: the path is still named, so the folder below it fails with a name.
        WriteFile(home / "blocked", "not a folder");
        EnvVar data("XDG_DATA_HOME", home / "blocked/share");
        EXPECT_EQ(GetSpecialFolderPath(kCsidlAppData), home / "blocked/share");
        EXPECT_EQ(ReadFile(home / "blocked"), "not a folder");
    }
    EnvVar data("XDG_DATA_HOME", nullptr);
    EnvVar noHome("HOME", nullptr);
    EXPECT_EQ(GetSpecialFolderPath(kCsidlAppData), std::nullopt);
}

TEST(SpecialFolders, OtherNumbersAreUnknown) {
    EXPECT_EQ(GetSpecialFolderPath(0), std::nullopt);
    EXPECT_EQ(GetSpecialFolderPath(5), std::nullopt);
    EXPECT_EQ(GetSpecialFolderPath(-1), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Shell links as desktop entries

TEST(ShellLink, SavedEntryNamesTheLauncherAndPassesTheValidator) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path());
    const std::string file = home / "Quorvale.desktop";
    ASSERT_TRUE(QuorvaleLink("C:\\Quorvale\\qvlloader.exe").Save(file));

    EXPECT_EQ(ReadFile(file), "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Quorvale\n"
                              "Comment=qvl QT Wallet\n"
                              "Exec=" + home.Path() + "/Quorvale/qvlloader.exe\n"
                              "Terminal=false\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ExpectValid(file);
    EXPECT_EQ(EntriesIn(home.Path()), 1u) << "no temporary file may be left";
}

TEST(ShellLink, ExecQuotesReservedCharactersAndDoublesPercent) {
    // Exec quoting on its own: only arguments with reserved characters are quoted.
    EXPECT_EQ(QuoteExecArgument("/opt/qvl/loader"), "/opt/qvl/loader");
    EXPECT_EQ(QuoteExecArgument("/opt/a%b"), "/opt/a%%b");
    EXPECT_EQ(QuoteExecArgument("/my apps/x"), "\"/my apps/x\"");
    EXPECT_EQ(QuoteExecArgument("/a\"b`c$d\\e"), "\"/a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(QuoteExecArgument("/a'b;c&d(e)|f<g>h~i*j?k#l"), "\"/a'b;c&d(e)|f<g>h~i*j?k#l\"");
    EXPECT_EQ(QuoteExecArgument("/a b%c"), "\"/a b%%c\"");
    // The file's string escapes come on top: a quoted backslash is four in the file.
    EXPECT_EQ(EscapeDesktopValue(QuoteExecArgument("/a\\b")), "\"/a\\\\\\\\b\"");
    EXPECT_EQ(EscapeDesktopValue("a\tb\nc\rd"), "a\\tb\\nc\\rd");
    EXPECT_EQ(EscapeDesktopValue("  mid dle "), "\\s\\smid dle\\s");

    // Whole entries with awkward targets are what the validator accepts.
    TempDir dir;
    const struct {
        std::string target;
        std::string exec;
    } cases[] = {
        {"/opt/my apps/qvl loader", "\"/opt/my apps/qvl loader\""},
        {"/opt/\"quoted\"/x", "\"/opt/\\\\\"quoted\\\\\"/x\""},
        {"/opt/$HOME/`id`/x", "\"/opt/\\\\$HOME/\\\\`id\\\\`/x\""},
        {"/opt/100%/x", "/opt/100%%/x"},
        {"/opt/50% off/x", "\"/opt/50%% off/x\""},
        {"/opt/tab\there/x", "\"/opt/tab\\there/x\""},
        {"/opt/line\nbreak/x", "\"/opt/line\\nbreak/x\""},
        {"/opt/ü ñ/x", "\"/opt/ü ñ/x\""},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string file = dir / ("e" + std::to_string(i++) + ".desktop");
        ASSERT_TRUE(QuorvaleLink(c.target).Save(file)) << c.target;
        EXPECT_EQ(ExecLine(ReadFile(file)), c.exec) << c.target;
        ExpectValid(file);
    }
}

TEST(ShellLink, GlibLaunchesTheTargetThroughTheQuoting) {
    if (!HaveProgram("gio")) GTEST_SKIP() << "gio is not installed";
    // GLib checks the program before expanding field codes, so a "%" in the path cannot be
    // launched by it whatever the quoting; every other reserved character is exercised here.
    TempDir dir;
    const std::string folder = dir / "my apps $HOME `id` \"q\" 'a' ;&()|<>~*?#";
    fs::create_directories(folder);
    const std::string marker = dir / "launched";
    WriteFile(folder + "/qvl loader", "#!/bin/sh\necho launched > " + ShellQuote(marker) + "\n",
              fs::perms::owner_all);
    const std::string file = dir / "Quorvale.desktop";
    ASSERT_TRUE(QuorvaleLink(folder + "/qvl loader").Save(file));
    ExpectValid(file);
    const CommandResult r = RunCommand("gio launch " + ShellQuote(file));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(marker) == "launched\n"; }));
}

TEST(ShellLink, SavingTwiceGivesTheSameFileAndReplacesAnOldOne) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path());
    const std::string file = home / "Quorvale.desktop";
    WriteFile(file, "[Desktop Entry]\nType=Application\nName=Old\nExec=/old\n", fs::perms::owner_read);
    ASSERT_TRUE(QuorvaleLink("C:\\Quorvale\\qvlloader.exe").Save(file));
    const std::string first = ReadFile(file);
    ASSERT_TRUE(QuorvaleLink("C:\\Quorvale\\qvlloader.exe").Save(file));
    EXPECT_EQ(ReadFile(file), first);
    EXPECT_NE(first.find("Name=Quorvale\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(EntriesIn(home.Path()), 1u);
    ExpectValid(file);
}

TEST(ShellLink, FailedSaveLeavesNothingAndKeepsAGoodLink) {
    TempDir dir;
    const ShellLink good = QuorvaleLink("/opt/qvl/loader");

    // Into a folder that is not there.
    EXPECT_FALSE(good.Save(dir / "missing/Quorvale.desktop"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_FALSE(good.Save(""));

    // Over a folder of that name: refused, folder untouched, no temporary file left.
    fs::create_directories(dir / "Taken.desktop/inner");
    EXPECT_FALSE(good.Save(dir / "Taken.desktop"));
    EXPECT_TRUE(fs::is_directory(dir / "Taken.desktop/inner"));

    // Links that would not be valid entries are not written, and an existing good link stays.
    const std::string file = dir / "Quorvale.desktop";
    ASSERT_TRUE(good.Save(file));
    const std::string before = ReadFile(file);
    EXPECT_FALSE(QuorvaleLink("").Save(file));                      // no program to start
    EXPECT_FALSE(QuorvaleLink("/opt/\x01/x").Save(file));            // control character
    EXPECT_FALSE(QuorvaleLink("/opt/\xff\xfe/x").Save(file));        // not UTF-8
    EXPECT_FALSE(QuorvaleLink("/opt/\xc0\xaf/x").Save(file));        // overlong "/"
    ShellLink badName("Quor\x7fvale");
    badName.SetPath("/opt/qvl/loader");
    EXPECT_FALSE(badName.Save(file));
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(EntriesIn(dir.Path()), 2u) << "only Taken.desktop and Quorvale.desktop";
    EXPECT_EQ(QuorvaleLink("").Contents(), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Child processes

TEST(ChildProcess, RunsADownloadedScriptWithItsPathAloneAndReturnsItsExitCode) {
    TempDir home;
    EnvVar homeVar("HOME", home.Path());
    EnvVar probe("QVL_CHILD_PROBE", "inherited value");
    fs::create_directories(home / "Quorvale");
    fs::create_directories(home / "work");
    // No execute bit, as a download leaves it. The marker is written relative to the current
    // folder, so it also shows that the folder is inherited.
    const std::string script = home / "Quorvale/qvlchain.exe";
    WriteFile(script,
              "#!/bin/sh\n"
              "printf '%s|%s|%s' \"$0\" \"$#\" \"$QVL_CHILD_PROBE\" > marker\n"
              "exit 7\n");
    WorkingDir cwd(home / "work");

    EXPECT_EQ(ChildProcess::Run("C:\\Quorvale\\qvlchain.exe"), 7);
    EXPECT_EQ(ReadFile(home / "work/marker"), script + "|0|inherited value");
    struct stat st {};
    ASSERT_EQ(::stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the owner's execute bit is added";

    WriteFile(script, "#!/bin/sh\nexit 0\n", fs::perms::owner_all);
    EXPECT_EQ(ChildProcess::Run(script), 0);
}

TEST(ChildProcess, WhatCannotBeStartedIsReportedNotThrown) {
    TempDir dir;
    WorkingDir cwd(dir.Path());
    EXPECT_EQ(ChildProcess::Run(dir / "missing.exe"), std::nullopt);
    EXPECT_EQ(ChildProcess::Run(""), std::nullopt);
    EXPECT_EQ(ChildProcess::Run(dir.Path()), std::nullopt);  // a folder

    // A script without "#!" is not a program for exec; it must not be run by a shell either.
    WriteFile(dir / "noshebang", "echo ran > marker\n");
    EXPECT_EQ(ChildProcess::Run(dir / "noshebang"), std::nullopt);
    WriteFile(dir / "garbage.exe", std::string("MZ\x90\0\x03\0\0\0garbage", 16));
    EXPECT_EQ(ChildProcess::Run(dir / "garbage.exe"), std::nullopt);
    EXPECT_FALSE(fs::exists(dir / "marker"));

    // Nothing was left to reap.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ChildProcess, ChildStartsWithDefaultSignalsAndEndsBySignalAreReported) {
    TempDir dir;
    // This process ignores SIGPIPE (as network programs do); the child must not inherit that.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
    WriteFile(dir / "pipe", "#!/bin/sh\nkill -PIPE $$\nexit 0\n", fs::perms::owner_all);
    const auto piped = ChildProcess::Run(dir / "pipe");
    ::sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(piped, 128 + SIGPIPE);

    WriteFile(dir / "term", "#!/bin/sh\nkill -TERM $$\nexit 0\n", fs::perms::owner_all);
    EXPECT_EQ(ChildProcess::Run(dir / "term"), 128 + SIGTERM);
}

TEST(ChildProcess, AnUnwaitedChildIsReapedByTheOwnerAndOnlyOneRunsAtATime) {
    TempDir dir;
    const std::string marker = dir / "done";
    WriteFile(dir / "slow", "#!/bin/sh\nsleep 0.2\necho done > " + ShellQuote(marker) + "\n",
              fs::perms::owner_all);
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(dir / "slow"));
        EXPECT_TRUE(child.Running());
        EXPECT_FALSE(child.Start(dir / "slow"));
    }
    // The destructor waited: the child has finished its work and is no zombie.
    EXPECT_EQ(ReadFile(marker), "done\n");
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    ChildProcess idle;
    EXPECT_EQ(idle.Wait(), std::nullopt);
}

TEST(ChildProcess, IgnoredChildSignalDoesNotHangTheWait) {
    TempDir dir;
    WriteFile(dir / "quick", "#!/bin/sh\nexit 3\n", fs::perms::owner_all);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &old), 0);
    const auto code = ChildProcess::Run(dir / "quick");
    const auto dispatched = ChildProcess::RunDispatching(dir / "quick");
    ::sigaction(SIGCHLD, &old, nullptr);
    // The system reaped the child itself; the wait still ends and says the code is unknown.
    EXPECT_EQ(code, -1);
    EXPECT_EQ(dispatched, -1);
}

// The child ends only once a timer of this thread has let it go, so the wait must deliver timer
// events; a message posted before the wait is delivered during it too. (Should the wait not
// dispatch, the child gives up after about 30 s with 9 instead of hanging the test.)
TEST(ChildProcess, WaitingDispatchesMessagesAndTimersWhileTheChildRuns) {
    TempDir dir;
    const std::string release = dir / "release";
    EnvVar releaseVar("QVL_TEST_RELEASE", release);
    WriteFile(dir / "held",
              "#!/bin/sh\ni=0\nwhile [ ! -e \"$QVL_TEST_RELEASE\" ]; do\n"
              "  i=$((i + 1)); [ $i -gt 1500 ] && exit 9\n  sleep 0.02\ndone\nexit 7\n",
              fs::perms::owner_all);
    ChildProcess child;
    ASSERT_TRUE(child.Start(dir / "held"));
    std::vector<std::string> seen;
    MessageTarget target([&](const Message& m) {
        if (m.msg == kTimerMessage) {
            if (!fs::exists(release)) WriteFile(release, "go");
            seen.push_back("timer");
        } else {
            seen.push_back(fs::exists(release) ? "message after release" : "message");
        }
    });
    ASSERT_TRUE(target.SetTimer(1, 20));
    PostMessage(target.Id(), 1024, 0, 0);
    EXPECT_EQ(child.WaitDispatching(), 7);
    target.KillTimer(1);
    EXPECT_FALSE(child.Running());
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], "message");
    EXPECT_EQ(seen[1], "timer");
    EXPECT_EQ(child.WaitDispatching(), std::nullopt);
    EXPECT_EQ(ChildProcess::RunDispatching(dir / "missing"), std::nullopt);
}

#else
QVL_TESTS_SKIPPED_HERE(Shell, "desktop entries, the HOME/XDG folders and POSIX processes are Linux's; WindowsShell tests the Win32 shell")
#endif
