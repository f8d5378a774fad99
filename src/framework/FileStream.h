#pragma once
// TFileStream: a stream over a file of the host, opened by a (possibly Windows-style) path.
#include <string>

#include "framework/Stream.h"

namespace qvl {

class TFileStream : public TStream {
public:
    enum class Mode {
        Create,         // create, or empty an existing file; read and write
        OpenRead,       // existing file, reading only
        OpenReadWrite,  // existing file, reading and writing
    };

    // Raises EFCreateError "Cannot create file <path>" (Create) or EFOpenError
    // "Cannot open file <path>" (the open modes), with the path as given.
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, Origin origin) override;
    void SetSize(int64_t size) override;

    const std::string& FileName() const { return path_; }
    int Handle() const { return fd_; }
    // Closes the file now, raising EWriteError if the system reports a failure on close.
    void Close();

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace qvl
