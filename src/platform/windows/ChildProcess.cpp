#include "platform/ChildProcess.h"

#include <string>
#include <vector>

#include "platform/MessageTarget.h"
#include "platform/windows/Win32.h"

namespace qvl::platform {
namespace {

HANDLE HandleOf(std::intptr_t process) { return reinterpret_cast<HANDLE>(process); }

// The exit code of an ended process, and its handle closed.
std::optional<int> Collect(HANDLE process) {
    DWORD code = 0;
    const bool known = GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!known) return -1;
    return static_cast<int>(code);
}

// The command line of a program started without arguments: the path's short form where the
// volume gives one without blanks, else the path in quotes. NUL-terminated and writable, as
// CreateProcessA wants it.
std::vector<char> CommandLineOf(const std::string& path) {
    std::vector<char> shortPath(MAX_PATH + 1);
    DWORD n = GetShortPathNameA(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (n >= shortPath.size()) {
        shortPath.resize(n + 1);
        n = GetShortPathNameA(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    }
    if (n > 0 && n < shortPath.size()) {
        const std::string shortForm(shortPath.data(), n);
        if (shortForm.find_first_of(" \t") == std::string::npos)
            return std::vector<char>(shortForm.c_str(), shortForm.c_str() + shortForm.size() + 1);
    }
    const std::string quoted = "\"" + path + "\"";
    return std::vector<char>(quoted.c_str(), quoted.c_str() + quoted.size() + 1);
}

}  // namespace

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::Start(const std::string& path) noexcept {
    if (process_ != 0 || path.empty()) return false;
    try {
        // The program is named on its own, so a blank in the path can never make the system
        // run a shorter path; the command line still names the program as its first word.
        std::vector<char> commandLine = CommandLineOf(path);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        // The child inherits what the installer made inheritable (its sockets are not).
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &info))
            return false;
        CloseHandle(info.hThread);
        process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<int> ChildProcess::Wait() noexcept {
    if (process_ == 0) return std::nullopt;
    const HANDLE process = HandleOf(process_);
    process_ = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
        CloseHandle(process);
        return -1;
    }
    return Collect(process);
}

std::optional<int> ChildProcess::WaitDispatching() noexcept {
    if (process_ == 0) return std::nullopt;
    const HANDLE process = HandleOf(process_);
    process_ = 0;
    // What is already pending is handled first, whether or not the child is quick.
    ProcessMessages();
    for (;;) {
        // Asleep until the child ends or a message arrives; the messages are dispatched and
        // the wait goes on.
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) return Collect(process);
        if (woke != WAIT_OBJECT_0 + 1) {
            CloseHandle(process);
            return -1;
        }
        ProcessMessages();
    }
}

}  // namespace qvl::platform
