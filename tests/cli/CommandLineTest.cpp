// qvlsetup's command line as users meet it: --help and --version answer without a display, and
// a command line that is refused ends with status 3 and a clear message before any window,
// folder or file has been made. Run without a display or a Qt platform: the options are read
// before Qt starts, so none is needed for any of this.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UserMachine.h"

using qvl::test::RunResult;
using qvl::test::UserMachine;

namespace {

const UserMachine::Environment kNoPlatform = {{"QT_QPA_PLATFORM", std::nullopt}};

}  // namespace

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplayAndMakeNothing) {
    UserMachine machine;
    const auto before = machine.Tree();

    const RunResult help = machine.Run(QVLSETUP, {"--help"}, kNoPlatform);
    EXPECT_EQ(help.status, 0) << help.err;
    for (const char* option : {"--select", "--unattended", "--log", "--screenshot", "--help", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    const RunResult version = machine.Run(QVLSETUP, {"--version"}, kNoPlatform);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.rfind("qvlsetup (Quorvale Setup) ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("download server: http://"), std::string::npos) << version.out;

    EXPECT_EQ(machine.Tree(), before);
}

TEST(CommandLine, RefusedCommandLinesEndWithThreeBeforeAnythingIsMade) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-platform", "offscreen", "--bogus"}, "unknown option '--bogus'"},
        {{"install"}, "unexpected argument 'install'"},
        {{"--select", "wallet"}, "--select takes program, blockchain or program,blockchain, not 'wallet'"},
        {{"--select"}, "--select needs"},
        {{"--unattended"}, "--unattended needs --select"},
        {{"--unattended=1", "--select", "program"}, "--unattended takes no value"},
        {{"--select", "program", "--screenshot", "w.png"}, "needs --unattended"},
        {{"--log", "out.log", "--log", "other.log", "--unattended", "--select", "program"}, "--log is given more than once"},
        {{"--unattended", "--select", "program", "--log", "no/such/folder/x.log"},
         "cannot open the log file no/such/folder/x.log: No such file or directory"},
    };
    for (const Case& c : cases) {
        UserMachine machine;
        const auto before = machine.Tree();
        const RunResult run = machine.Run(QVLSETUP, c.args, kNoPlatform);
        const std::string what = c.args.back();
        EXPECT_EQ(run.status, 3) << what << ": " << run.err;
        EXPECT_EQ(run.err.rfind("qvlsetup: ", 0), 0u) << what << " said: " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << what << " said: " << run.err;
        EXPECT_NE(run.err.find("Try 'qvlsetup --help'"), std::string::npos) << what;
        EXPECT_TRUE(run.out.empty()) << what;
        // No folder of the installer, no log file, nothing at all.
        EXPECT_EQ(machine.Tree(), before) << what;
    }
}
