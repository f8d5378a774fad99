#include "platform/ChildProcess.h"

#include <vector>

#include "platform/windows/Win32.h"

namespace qvl::platform {
namespace {

// The process handle is kept in the pid field of the shared interface: a handle is what
// Windows waits on, and it fits there on both pointer sizes.
HANDLE HandleOf(pid_t pid) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(pid)); }

}  // namespace

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::Start(const std::string& path) noexcept {
    if (pid_ > 0 || path.empty()) return false;
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
    pid_ = static_cast<pid_t>(reinterpret_cast<intptr_t>(info.hProcess));
    return true;
}

std::optional<int> ChildProcess::Wait() noexcept {
    if (pid_ <= 0) return std::nullopt;
    const HANDLE process = HandleOf(pid_);
    pid_ = -1;
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!ended) return -1;
    return static_cast<int>(code);
}

std::optional<int> ChildProcess::Run(const std::string& path) noexcept {
    ChildProcess child;
    if (!child.Start(path)) return std::nullopt;
    return child.Wait();
}

}  // namespace qvl::platform
