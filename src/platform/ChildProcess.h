#pragma once
// Starting a program as a child process and waiting for it to end, either blocking or while the
// thread's messages keep being dispatched (the window paints, timers run, input is handled).
#include <cstdint>
#include <optional>
#include <string>

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

    bool Running() const { return process_ != 0; }

    // Blocks until the started child has ended and returns its exit code; a child ended by a
    // signal gives 128 + the signal number, and one whose end the system no longer reports
    // (SIGCHLD ignored by someone) gives -1. Nothing when no child was started. Never throws.
    std::optional<int> Wait() noexcept;

    // As Wait, but the thread's pending messages and events are dispatched while the child runs
    // (repaints, timers, posted messages, input), as ProcessMessages does; in between, the
    // thread sleeps until the child ends or something arrives. A handler that runs meanwhile
    // must not wait on this object itself. Never throws.
    std::optional<int> WaitDispatching() noexcept;

    // Start, then Wait: the exit code, or nothing when the program could not be started.
    static std::optional<int> Run(const std::string& path) noexcept;
    // Start, then WaitDispatching.
    static std::optional<int> RunDispatching(const std::string& path) noexcept;

private:
    // The running child: its process id here, its process handle on Windows; 0 when none.
    std::intptr_t process_ = 0;
};

}  // namespace qvl::platform
