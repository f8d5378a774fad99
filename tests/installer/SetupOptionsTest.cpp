// The command line of qvlsetup: each option, how values are given, what is refused and why, and
// Qt's own options passing through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/SetupOptions.h"

using qvl::SetupOptions;

namespace {

SetupOptions Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "qvlsetup");
    return SetupOptions::Parse(args);
}

}  // namespace

TEST(SetupOptions, NoneIsThePlainWindow) {
    const SetupOptions o = Parse({});
    EXPECT_TRUE(o.error.empty());
    EXPECT_FALSE(o.selectProgram || o.selectBlockchain || o.unattended || o.help || o.version);
    EXPECT_TRUE(o.logFile.empty());
    EXPECT_TRUE(o.screenshotFile.empty());
}

TEST(SetupOptions, SelectTicksEitherOrBothInAnyOrder) {
    struct Case {
        std::vector<std::string> args;
        bool program, blockchain;
    };
    for (const Case& c : std::vector<Case>{
             {{"--select", "program"}, true, false},
             {{"--select=blockchain"}, false, true},
             {{"--select", "program,blockchain"}, true, true},
             {{"--select=blockchain,program"}, true, true},
         }) {
        const SetupOptions o = Parse(c.args);
        EXPECT_TRUE(o.error.empty()) << c.args.back() << ": " << o.error;
        EXPECT_EQ(o.selectProgram, c.program) << c.args.back();
        EXPECT_EQ(o.selectBlockchain, c.blockchain) << c.args.back();
        EXPECT_FALSE(o.unattended);
    }
}

TEST(SetupOptions, UnattendedLogAndScreenshotTakeTheirValuesEitherWay) {
    SetupOptions o = Parse({"--unattended", "--select", "program", "--log", "/tmp/a b.log", "--screenshot=w.png"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.unattended);
    EXPECT_EQ(o.logFile, "/tmp/a b.log");
    EXPECT_EQ(o.screenshotFile, "w.png");
    o = Parse({"--log=x=y.log"});
    EXPECT_EQ(o.logFile, "x=y.log");
    // A GUI run writes the log file too.
    EXPECT_TRUE(o.error.empty());
}

TEST(SetupOptions, HelpAndVersion) {
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
    // They answer even where a run would be refused for a missing --select.
    EXPECT_TRUE(Parse({"--unattended", "--help"}).error.empty());
    const std::string help = SetupOptions::HelpText();
    for (const char* option : {"--select", "--unattended", "--log", "--screenshot", "--help", "--version",
                               "http_proxy", "no_proxy"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(SetupOptions, RefusedCommandLinesSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    for (const Case& c : std::vector<Case>{
             {{"--bogus"}, "unknown option '--bogus'"},
             {{"-unattended"}, "unknown option '-unattended'"},
             {{"install"}, "unexpected argument 'install'"},
             {{"--", "x"}, "unexpected argument 'x'"},
             {{"--select"}, "--select needs program, blockchain or program,blockchain"},
             {{"--select="}, "--select needs"},
             {{"--select", "wallet"}, "--select takes program, blockchain or program,blockchain, not 'wallet'"},
             {{"--select", "program,"}, "not 'program,'"},
             {{"--select", "Program"}, "not 'Program'"},
             {{"--select", "program", "--select", "blockchain"}, "--select is given more than once"},
             {{"--log"}, "--log needs a file name"},
             {{"--log="}, "--log needs a file name"},
             {{"--log", "--unattended"}, "--log needs a file name"},
             {{"--log", "a", "--log", "b"}, "--log is given more than once"},
             {{"--screenshot"}, "--screenshot needs a file name"},
             {{"--unattended=yes", "--select", "program"}, "--unattended takes no value"},
             {{"--unattended"}, "--unattended needs --select"},
             {{"--select", "program", "--screenshot", "w.png"}, "it needs --unattended"},
             {{"-platform"}, "-platform needs a value"},
         }) {
        const SetupOptions o = Parse(c.args);
        EXPECT_NE(o.error.find(c.says), std::string::npos) << c.args[0] << " gave: " << o.error;
    }
}

TEST(SetupOptions, QtsOwnOptionsPassThroughWithTheirValues) {
    const SetupOptions o = Parse({"-platform", "offscreen", "--style=fusion", "-reverse", "--unattended",
                                  "-qwindowtitle", "--select", "--select", "program"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.unattended);
    // "-qwindowtitle" took the next argument, "--select", as its value.
    EXPECT_TRUE(o.selectProgram);
}
