#include "platform/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/HostPath.h"

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

}  // namespace

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::Start(const std::string& path) noexcept {
    try {
        if (pid_ > 0) return false;
        std::string host = HostPath(path);
        struct stat st {};
        if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        // If the bit cannot be set (not our file, read-only mount) the spawn below decides.
        if ((st.st_mode & S_IXUSR) == 0) ::chmod(host.c_str(), (st.st_mode & 07777) | S_IXUSR);

        SpawnAttributes attributes;
        if (!attributes.ResetSignals()) return false;
        char* argv[] = {host.data(), nullptr};
        pid_t pid = -1;
        // glibc reports a failed exec (ENOENT, EACCES, ENOEXEC) as posix_spawn's result, and
        // does not fall back to running the file with /bin/sh, so "not a program" is an error
        // here rather than a child that exits with 127.
        if (::posix_spawn(&pid, host.c_str(), nullptr, attributes.Get(), argv, environ) != 0) return false;
        pid_ = pid;
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<int> ChildProcess::Wait() noexcept {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    pid_ = -1;
    if (r < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::optional<int> ChildProcess::Run(const std::string& path) noexcept {
    ChildProcess child;
    if (!child.Start(path)) return std::nullopt;
    return child.Wait();
}

}  // namespace qvl::platform
