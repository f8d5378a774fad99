#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace qvl::test {

namespace {

// Only async-signal-safe calls may run between fork and exec in a process with threads.
[[noreturn]] void ExecChild(const char* program, char* const* argv, int outputFd, pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may already have gone before the line above took effect.
    if (::getppid() != parent) ::_exit(127);
    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(outputFd, 1) < 0 || ::dup2(outputFd, 2) < 0) ::_exit(127);
    // A server the test closes (to play a server that went away) must not live on in a child
    // that inherited its socket.
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
        for (int fd = 3; fd < 4096; ++fd) ::close(fd);
    }
    // Undo what a test framework may have changed that the child would inherit.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(program, argv);
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputPath) {
    std::vector<std::string> storage;
    storage.reserve(arguments.size() + 1);
    storage.push_back(program);
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::string output = outputPath.empty() ? std::string("/dev/null") : outputPath;
    const int outputFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (outputFd < 0) throw std::runtime_error("cannot open " + output + ": " + std::strerror(errno));
    if (::access(program.c_str(), X_OK) != 0) {
        ::close(outputFd);
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) ExecChild(program.c_str(), argv.data(), outputFd, parent);
    const int forkError = errno;
    ::close(outputFd);
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(forkError));
    pid_ = pid;
}

ChildProcess::~ChildProcess() { StopNoThrow(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
    other.status_.reset();
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        StopNoThrow();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
        other.status_.reset();
    }
    return *this;
}

bool ChildProcess::Running() {
    if (pid_ < 0 || status_) return false;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        status_ = status;
        return false;
    }
    if (result < 0) {
        // Collected elsewhere (a test reaping every child): it is gone all the same.
        status_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (!Running()) return true;
    ::kill(pid_, SIGTERM);
    if (WaitForExit(grace)) return true;
    ::kill(pid_, SIGKILL);
    // SIGKILL cannot be ignored; the bound only guards against a child stuck in the kernel.
    WaitForExit(std::chrono::seconds(30));
    return false;
}

void ChildProcess::StopNoThrow() noexcept {
    try {
        Stop();
    } catch (...) {
        // A destructor must not throw; the child is killed with this thread at the latest.
    }
}

}  // namespace qvl::test
