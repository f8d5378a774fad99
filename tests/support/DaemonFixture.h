#pragma once
// The base of the nginx, tinyproxy and squid fixtures: a server program started for one test, in
// the foreground (so it is the test's child and dies with it), on a free port of the loopback,
// with its configuration, logs and output in a private folder. A start writes the configuration
// for a port, starts the program and waits until it is ready; when the port turns out to be
// taken by then (something else bound it after it was picked), it tries another.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

namespace qvl::test {

class DaemonFixture {
protected:
    struct Program {
        std::string name;  // "squid": in messages, and the files <name>.conf and <name>.out
        std::string path;  // "/usr/sbin/squid"
        // Its arguments, given the path of the configuration file; they must keep it in the
        // foreground.
        std::function<std::vector<std::string>(const std::string& configPath)> arguments;
        std::function<std::string(uint16_t port)> config;
        // Logs (names in Dir()) that say how a start went: what one start added to them is its
        // StartLog(), which tells a taken port and is shown when the start fails.
        std::vector<std::string> startLogs;
        // Whether the running program serves `port` by now (asked until startTimeout).
        std::function<bool(uint16_t port)> ready;
        // Texts of a start log or of the output that mean the port was taken.
        std::vector<std::string> portTaken = {"Address already in use"};
        std::function<uint16_t()> pickPort;  // PickFreeLoopbackPort when empty
        std::chrono::milliseconds startTimeout = std::chrono::seconds(15);
    };

    explicit DaemonFixture(std::string_view folderPrefix);
    ~DaemonFixture();  // stops the program
    DaemonFixture(const DaemonFixture&) = delete;
    DaemonFixture& operator=(const DaemonFixture&) = delete;

    // Starts `program` on `firstPort` when not 0, else (and after a taken port) on a picked one,
    // at most 8 times. Throws std::runtime_error, with the logs, when it cannot be started.
    void Start(const Program& program, uint16_t firstPort = 0);

    // Whether the file at `path` exists and may be run.
    static bool Runnable(const char* path);

public:
    const TempDir& Dir() const { return dir_; }
    uint16_t Port() const { return port_; }
    std::filesystem::path ConfigPath() const { return dir_ / (name_ + ".conf"); }
    // A file of Dir() as it stands now; empty when it does not exist (yet).
    std::string ReadLog(const std::string& name) const;
    // What the last start added to a log of Program::startLogs (or to <name>.out).
    std::string StartLog(const std::string& name) const;
    // A Program::ready for a program that writes `line` to start log `log` once it listens: that
    // line from this start, and a connection to 127.0.0.1:port.
    std::function<bool(uint16_t port)> ReadyLine(std::string log, std::string line) const;
    // Waits at most `timeout` for `text` to appear in log `name`.
    bool WaitForLog(const std::string& name, std::string_view text, std::chrono::milliseconds timeout) const;

    // SIGTERM, at most `grace` to finish, SIGKILL.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    bool Running();
    pid_t Pid() const { return process_ ? process_->Pid() : -1; }

private:
    bool TryStart(const Program& program, uint16_t port);
    std::vector<std::string> StartLogNames(const Program& program) const;

    TempDir dir_;
    std::string name_;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
    std::map<std::string, size_t> startOffsets_;
};

}  // namespace qvl::test
