#pragma once
// The --log file: every log line is appended to it the moment it is written, so that the file
// tells how far a run got even when the program is stopped in the middle.
#include <cstdint>
#include <string>

namespace qvl {

class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens (creating it when needed) `path` for appending; false, with the reason in `why`,
    // when it cannot be.
    bool Open(const std::string& path, std::string& why);
    bool IsOpen() const { return fd_ != -1; }
    const std::string& Path() const { return path_; }

    // Appends `line` and a line break in one write, so the line is in the file when this
    // returns. Never throws: logging must not change what the installer does. The first
    // failure to write is reported on standard error, later ones are not.
    void WriteLine(const std::string& line) noexcept;

private:
    // The host's file descriptor or handle; -1 when closed.
    intptr_t fd_ = -1;
    std::string path_;
    bool failureReported_ = false;
};

}  // namespace qvl
