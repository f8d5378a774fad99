#pragma once
// TStream: the runtime's byte stream with a position and a size.
#include <cstdint>
#include <string>

#include "framework/Exception.h"

namespace qvl {

class EReadError : public Exception {
public:
    using Exception::Exception;
};

// Raised when a stream takes fewer bytes than it was given, e.g. on a full disk: "Stream write
// error" from a stream, or "Cannot write file <path>[: <reason>]" where the file is known, with
// the path and the system's reason (empty when it gave none) kept apart from the text.
class EWriteError : public Exception {
public:
    explicit EWriteError(std::string message) : Exception(std::move(message)) {}
    EWriteError(const std::string& path, const std::string& reason)
        : Exception("Cannot write file " + path + (reason.empty() ? std::string() : ": " + reason)),
          path_(path), reason_(reason) {}
    const std::string& Path() const noexcept { return path_; }
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

class TStream {
public:
    enum class Origin { Beginning, Current, End };

    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Read up to `count` bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Write up to `count` bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; returns the new position.
    virtual int64_t Seek(int64_t offset, Origin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t size) = 0;

    int64_t Position() { return Seek(0, Origin::Current); }
    void SetPosition(int64_t position) { Seek(position, Origin::Beginning); }

    // Read or write exactly `count` bytes; raise EReadError "Stream read error" or
    // EWriteError "Stream write error" when the stream falls short.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies `count` bytes from `source`'s position (all of it from position 0 when 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

}  // namespace qvl
