#include "platform/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/HostPath.h"
#include "platform/MessageTarget.h"

extern char** environ;

namespace qvl::platform {

namespace {

// Spawn attributes, released on every path.
class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attr_) == 0; }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() {
        if (ok_) ::posix_spawnattr_destroy(&attr_);
    }

    // The child should not inherit signals this process ignores or blocks (an ignored SIGPIPE,
    // for one, would change how the child's own pipes fail).
    bool ResetSignals() {
        if (!ok_) return false;
        sigset_t all, none;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        sigemptyset(&none);
        return ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
               ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
               ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0;
    }

    const posix_spawnattr_t* Get() const { return &attr_; }

private:
    posix_spawnattr_t attr_{};
    bool ok_ = false;
};

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A descriptor that becomes readable when the process ends (Linux 5.3 on); closed on every path.
class ProcessDescriptor {
public:
    explicit ProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
        fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
        (void)pid;
#endif
    }
    ProcessDescriptor(const ProcessDescriptor&) = delete;
    ProcessDescriptor& operator=(const ProcessDescriptor&) = delete;
    ~ProcessDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_ = -1;
};

// How long one wait for the child lasts at most before its end is asked for again: long with a
// process descriptor (which wakes the wait itself; the bound only covers a child reaped behind
// our back), short without one (a kernel before 5.3), where only the bound notices the end.
constexpr int kWaitBoundWithDescriptorMs = 1000;
constexpr int kWaitBoundWithoutDescriptorMs = 50;

}  // namespace

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::Start(const std::string& path) noexcept {
    try {
        if (process_ != 0) return false;
        std::string host = HostPath(path);
        struct stat st {};
        if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        // If the bit cannot be set (not our file, read-only mount) the spawn below decides.
        if ((st.st_mode & S_IXUSR) == 0) ::chmod(host.c_str(), (st.st_mode & 07777) | S_IXUSR);

        SpawnAttributes attributes;
        if (!attributes.ResetSignals()) return false;
        char* argv[] = {host.data(), nullptr};
        pid_t pid = 0;
        // glibc reports a failed exec (ENOENT, EACCES, ENOEXEC) as posix_spawn's result, and
        // does not fall back to running the file with /bin/sh, so "not a program" is an error
        // here rather than a child that exits with 127.
        if (::posix_spawn(&pid, host.c_str(), nullptr, attributes.Get(), argv, environ) != 0) return false;
        process_ = pid;
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<int> ChildProcess::Wait() noexcept {
    if (process_ == 0) return std::nullopt;
    const auto pid = static_cast<pid_t>(process_);
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    process_ = 0;
    if (r < 0) return -1;
    return ExitCode(status);
}

std::optional<int> ChildProcess::WaitDispatching() noexcept {
    if (process_ == 0) return std::nullopt;
    const auto pid = static_cast<pid_t>(process_);
    try {
        const ProcessDescriptor descriptor(pid);
        const int bound = descriptor.Get() >= 0 ? kWaitBoundWithDescriptorMs : kWaitBoundWithoutDescriptorMs;
        for (;;) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                process_ = 0;
                return ExitCode(status);
            }
            if (r < 0 && errno != EINTR) {
                process_ = 0;
                return -1;
            }
            // Sleeps until the child ends (its descriptor turns readable), a message or event
            // arrives, or the bound passes; then dispatches what is pending.
            WaitForSocketOrMessage(descriptor.Get(), bound);
        }
    } catch (...) {
        // Only the wait's own bookkeeping can fail (memory); the child is still ours to reap.
        return Wait();
    }
}

}  // namespace qvl::platform
