#include "platform/ChildProcess.h"

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

}  // namespace

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::Start(const std::string& path) noexcept {
    if (process_ != 0 || path.empty()) return false;
    // The short form has no blanks, so the path is a command line as it stands.
    std::vector<char> shortPath(MAX_PATH + 1);
    DWORD n = GetShortPathNameA(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (n >= shortPath.size()) {
        shortPath.resize(n + 1);
        n = GetShortPathNameA(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    }
    if (n == 0 || n >= shortPath.size()) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, shortPath.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    return true;
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
