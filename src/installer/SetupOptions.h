#pragma once
// The command line of qvlsetup. Parsing needs nothing of Qt, so that a bad command line is
// refused (and --help answered) before the application object, a window or a folder exists.
//
//   --select LIST       tick "program", "blockchain" or both ("program,blockchain")
//   --unattended        press "Next" once by itself, no modal boxes, close at the end;
//                       needs --select
//   --log FILE          append every log line to FILE as it is written
//   --screenshot FILE   with --unattended: a PNG picture of the window at the end of the run
//   --help, -h, --version
//
// A value follows its option as the next argument or after "=" ("--log=FILE"). Qt's own
// options (-platform NAME, -style NAME, -reverse, ...) are let through untouched, with one dash
// or two, for the application object to take.
#include <string>
#include <vector>

namespace qvl {

struct SetupOptions {
    bool selectProgram = false;
    bool selectBlockchain = false;
    bool unattended = false;
    std::string logFile;
    std::string screenshotFile;
    bool help = false;
    bool version = false;
    // Not empty when the command line was refused: what was wrong, in one sentence.
    std::string error;

    // `arguments` is the command line with the program's name first.
    static SetupOptions Parse(const std::vector<std::string>& arguments);

    // The text of --help.
    static std::string HelpText();
};

}  // namespace qvl
