#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "TempDir.h"

extern char** environ;

namespace qvl::test {

namespace {

struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* workingDirectory;  // nullptr: keep
    int outputFd;
    int errorFd;
    bool limitFileSize;
    rlimit fileSize;
    pid_t parent;
};

// Only async-signal-safe calls may run between fork and exec in a process with threads.
[[noreturn]] void ExecChild(const ChildSetup& setup) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may already have gone before the line above took effect.
    if (::getppid() != setup.parent) ::_exit(127);
    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(setup.outputFd, 1) < 0 || ::dup2(setup.errorFd, 2) < 0) {
        ::_exit(127);
    }
    // A server the test closes (to play a server that went away) must not live on in a child
    // that inherited its socket.
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
        for (int fd = 3; fd < 4096; ++fd) ::close(fd);
    }
    if (setup.workingDirectory && ::chdir(setup.workingDirectory) != 0) ::_exit(127);
    // Undo what a test framework may have changed that the child would inherit.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.limitFileSize) {
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &setup.fileSize) != 0) ::_exit(127);
    }
    ::execve(setup.program, setup.argv, setup.envp);
    ::_exit(127);
}

class OutputFd {
public:
    explicit OutputFd(const std::string& path) {
        const std::string name = path.empty() ? std::string("/dev/null") : path;
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) throw std::runtime_error("cannot open " + name + ": " + std::strerror(errno));
    }
    ~OutputFd() { ::close(fd_); }
    OutputFd(const OutputFd&) = delete;
    OutputFd& operator=(const OutputFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

std::vector<std::string> ChildEnvironment(const ChildProcess::Options& options) {
    std::vector<std::string> entries;
    if (!options.clearEnvironment) {
        for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
    }
    for (const auto& [name, value] : options.environment) {
        const std::string prefix = name + "=";
        std::erase_if(entries, [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
        if (value) entries.push_back(prefix + *value);
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputPath)
    : ChildProcess(program, arguments, Options{outputPath, {}, {}, false, {}, std::nullopt}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    std::vector<std::string> argumentStorage{program};
    argumentStorage.insert(argumentStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = Pointers(argumentStorage);
    std::vector<std::string> environmentStorage = ChildEnvironment(options);
    std::vector<char*> envp = Pointers(environmentStorage);

    if (::access(program.c_str(), X_OK) != 0) {
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(errno));
    }
    OutputFd output(options.outputPath);
    std::optional<OutputFd> error;
    if (!options.errorPath.empty()) error.emplace(options.errorPath);

    ChildSetup setup{};
    setup.program = program.c_str();
    setup.argv = argv.data();
    setup.envp = envp.data();
    setup.workingDirectory = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
    setup.outputFd = output.get();
    setup.errorFd = error ? error->get() : output.get();
    setup.limitFileSize = options.fileSizeLimit.has_value();
    if (options.fileSizeLimit) {
        setup.fileSize.rlim_cur = static_cast<rlim_t>(*options.fileSizeLimit);
        setup.fileSize.rlim_max = static_cast<rlim_t>(*options.fileSizeLimit);
    }
    setup.parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) ExecChild(setup);
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
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

std::vector<std::string> ReadOnlyFolderWrapper(const std::string& folder) {
    return {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
            "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"", folder};
}

bool ReadOnlyFolderWrapperWorks() {
    const TempDir scratch("qvl-ro-probe");
    std::vector<std::string> args = ReadOnlyFolderWrapper(scratch.Path().string());
    const std::string program = args.front();
    args.erase(args.begin());
    args.insert(args.end(), {"/bin/sh", "-c", "! touch \"$0/x\" 2>/dev/null", scratch.Path().string()});
    ChildProcess probe(program, args);
    return probe.WaitForExit(std::chrono::seconds(10)) && probe.WaitStatus().value_or(-1) == 0;
}

}  // namespace qvl::test
