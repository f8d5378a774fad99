#pragma once
// A user's machine for one run of qvlsetup as a child process: HOME ("C:\"), APPDATA, the XDG
// folders and the working folder in a fresh temporary folder, no display, no proxy, and the
// run's exit status, standard output and standard error collected.
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace qvl::test {

struct RunResult {
    // The exit status; -1 when the program did not end by itself within the bound, or was
    // killed by a signal (then `signal` says which).
    int status = -1;
    int signal = 0;
    std::string out;
    std::string err;
};

class UserMachine {
public:
    using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

    UserMachine();

    std::string Path(const std::string& relative) const;
    std::string Home() const { return Path("home"); }
    std::string AppData() const { return Path("appdata"); }
    std::string Desktop() const { return Path("home/Desktop"); }

    // Runs `program` with `arguments` in the machine (working folder: the sandbox), with
    // QT_QPA_PLATFORM=offscreen unless `environment` changes it; waits at most `bound`.
    RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
                  const Environment& environment = {},
                  std::chrono::milliseconds bound = std::chrono::seconds(120)) const;

    // Every file and folder below the sandbox, relative, sorted (the run's own output files
    // excluded).
    std::vector<std::string> Tree() const;

private:
    TempDir dir_;
};

// The lines of a text file (none when it does not exist).
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace qvl::test
