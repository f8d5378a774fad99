#pragma once
// Starting a program as a child process and waiting for it to end.
#include <optional>
#include <string>
#include <sys/types.h>

namespace qvl::platform {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child that was started and not waited for is waited for here (blocking), so that no
    // process is ever left behind as a zombie.
    ~ChildProcess();

    // Starts the program at `path` (a Windows or host path, mapped with HostPath) with no
    // arguments: argv[0] is the host path. The child gets this process's environment and
    // current folder, default signal dispositions and an empty signal mask. The owner's execute
    // bit is set on the file first, since a downloaded program has none.
    // False when the program cannot be started: the file is missing, is not a program (a
    // script without "#!" included), cannot be executed, or a child is already running here.
    // Never throws.
    bool Start(const std::string& path) noexcept;

    bool Running() const { return pid_ > 0; }

    // Blocks until the started child has ended and returns its exit code; a child ended by a
    // signal gives 128 + the signal number, and one whose end the system no longer reports
    // (SIGCHLD ignored by someone) gives -1. Nothing when no child was started. Never throws.
    std::optional<int> Wait() noexcept;

    // Start, then Wait: the exit code, or nothing when the program could not be started.
    static std::optional<int> Run(const std::string& path) noexcept;

private:
    pid_t pid_ = -1;
};

}  // namespace qvl::platform
