#include "framework/FileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/HostPath.h"

// Every stream is binary: text mode, where a C runtime has one, would turn each LF into CR LF
// and corrupt every download. Descriptors are not inherited by programs we start.
#ifndef O_BINARY
#define O_BINARY 0
#endif
#if !defined(O_CLOEXEC) && defined(O_NOINHERIT)
#define O_CLOEXEC O_NOINHERIT
#endif

namespace qvl {

namespace {

// read and write may move fewer bytes than asked, or be interrupted: the whole count is moved
// piece by piece, up to the end of the file or an error. Returns the bytes moved.
template <class Byte, class Call>
int64_t MoveAll(Byte* p, int64_t count, Call call) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = call(p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
    const std::string host = HostPath(path);
    switch (mode) {
        case Mode::Create:
            fd_ = ::open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_BINARY, 0666);
            if (fd_ < 0) throw EFCreateError(path);
            break;
        case Mode::OpenRead:
            fd_ = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_BINARY);
            if (fd_ < 0) throw EFOpenError(path);
            break;
        case Mode::OpenReadWrite:
            fd_ = ::open(host.c_str(), O_RDWR | O_CLOEXEC | O_BINARY);
            if (fd_ < 0) throw EFOpenError(path);
            break;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        if (mode == Mode::Create) throw EFCreateError(path);
        throw EFOpenError(path);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throw EWriteError("Stream write error");
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    return MoveAll(static_cast<char*>(buffer), count, [this](char* p, size_t n) { return ::read(fd_, p, n); });
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    return MoveAll(static_cast<const char*>(buffer), count,
                   [this](const char* p, size_t n) { return ::write(fd_, p, n); });
}

int64_t TFileStream::Seek(int64_t offset, Origin origin) {
    const int whence = origin == Origin::Beginning ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return at < 0 ? -1 : static_cast<int64_t>(at);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw EWriteError("Stream write error");
    if (Position() > size) Seek(size, Origin::Beginning);
}

}  // namespace qvl
