#pragma once
// A server or helper program that a test starts and that must not outlive it.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvl::test {

class ChildProcess {
public:
    struct Options {
        // Standard output, appended to (/dev/null when empty); standard error goes to the same
        // file unless errorPath names another.
        std::string outputPath;
        std::string errorPath;
        // The child's folder; the caller's when empty.
        std::string workingDirectory;
        // The caller's environment (or none, with clearEnvironment), then these changes in
        // order: a value sets the variable, std::nullopt removes it.
        bool clearEnvironment = false;
        std::vector<std::pair<std::string, std::optional<std::string>>> environment;
        // RLIMIT_FSIZE in bytes: no file can grow past it. SIGXFSZ is ignored in the child, so
        // a write past the limit fails with EFBIG instead of killing the program.
        std::optional<unsigned long long> fileSizeLimit;
    };

    // Starts `program` (a path; argv[0] is the program itself) with `arguments`, standard
    // input from /dev/null and the options above. The child inherits no other descriptor, and
    // the kernel kills it should the starting thread die without stopping it.
    // Throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const Options& options);
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& outputPath = {});
    // Stops the child as Stop() does.
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Whether the child is still running; collects it when it has ended.
    bool Running();
    // The wait status (as from waitpid) once the child has ended and been collected.
    std::optional<int> WaitStatus() const { return status_; }
    // Waits at most `timeout` for the child to end by itself; returns whether it did.
    bool WaitForExit(std::chrono::milliseconds timeout);
    // SIGTERM, then at most `grace` for it to end, then SIGKILL and collect it. Returns true
    // when it ended before SIGKILL was needed. Does nothing once the child has been collected.
    bool Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    void StopNoThrow() noexcept;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A folder that even root cannot write: the program and arguments that run a command (appended
// to them) with `folder` bound read-only over itself in a mount namespace of its own, which goes
// away with it. Permissions do not stop root; this does.
std::vector<std::string> ReadOnlyFolderWrapper(const std::string& folder);
// Whether ReadOnlyFolderWrapper works here, tried once on a folder of its own: a container may
// allow the namespace but not the mounts.
bool ReadOnlyFolderWrapperWorks();

}  // namespace qvl::test
