#include "installer/LogFile.h"

#include <cstdio>

#include "platform/windows/Win32.h"

namespace qvl {
namespace {

HANDLE HandleOf(intptr_t fd) { return reinterpret_cast<HANDLE>(fd); }

std::string SystemMessage(DWORD error) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                     sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

LogFile::~LogFile() {
    if (fd_ != -1) ::CloseHandle(HandleOf(fd_));
}

bool LogFile::Open(const std::string& path, std::string& why) {
    // Appending only, shared for reading (someone may follow the log while it grows); the bytes
    // go out as they are, "\n" included, so the file reads as the Linux build's does.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = SystemMessage(::GetLastError());
        return false;
    }
    if (fd_ != -1) ::CloseHandle(HandleOf(fd_));
    fd_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    failureReported_ = false;
    return true;
}

void LogFile::WriteLine(const std::string& line) noexcept {
    if (fd_ == -1) return;
    try {
        const std::string bytes = line + "\n";
        DWORD written = 0;
        if (!::WriteFile(HandleOf(fd_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            if (!failureReported_) {
                failureReported_ = true;
                std::fprintf(stderr, "qvlsetup: cannot write to the log file %s: %s\n", path_.c_str(),
                             SystemMessage(::GetLastError()).c_str());
            }
        }
    } catch (...) {
        // Out of memory for the line: the log file misses it, the installer goes on.
    }
}

}  // namespace qvl
