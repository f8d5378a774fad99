#pragma once
// How an HTTP reply body ends (RFC 9112 section 6): at its Content-Length, at the last chunk of
// a chunked body, or at the peer's close. Each is a capture framing for the socket engine.
#include <cstdint>
#include <string>

#include "net/socket/CaptureFraming.h"

namespace qvl {

// The body is exactly `total` bytes: nothing beyond them is received or kept.
class TLengthFraming : public TCaptureFraming {
public:
    explicit TLengthFraming(int64_t total) : left_(total) {}
    int Wanted() override;
    void Take(const char* data, int n, const std::function<void(const char*, int)>& keep) override;
    bool Complete() const { return left_ == 0; }

private:
    int64_t left_;
};

// Transfer-Encoding: chunked. Chunk extensions and trailer fields are read and ignored; the
// chunk data is kept. Bytes after the last chunk's trailer are dropped.
class TChunkedFraming : public TCaptureFraming {
public:
    // Longest size line (with its extensions) and longest trailer taken before the body is
    // called malformed, so a peer cannot make the client read framing forever.
    static constexpr int64_t kMaxLine = 65536;
    static constexpr int64_t kMaxTrailer = 1048576;

    int Wanted() override;
    void Take(const char* data, int n, const std::function<void(const char*, int)>& keep) override;
    // The last chunk and its trailer arrived.
    bool Complete() const { return state_ == State::Done; }
    // Why the framing is malformed; empty while it is not.
    const std::string& Error() const { return error_; }

private:
    enum class State { Size, Extension, SizeEnd, Data, DataCr, DataLf, TrailerStart, TrailerLine, TrailerEnd, Done, Failed };
    void Fail(const std::string& why);

    State state_ = State::Size;
    int64_t chunkLeft_ = 0;
    int sizeDigits_ = 0;
    int64_t lineBytes_ = 0;
    int64_t trailerBytes_ = 0;
    std::string error_;
};

// A bound on another framing's data (or, without one, on a body that ends at the close): at
// most `limit` data bytes are kept. It asks for one byte beyond the limit, so that a body
// running past it is seen, never kept, and wants nothing more from then on.
class TBoundedFraming : public TCaptureFraming {
public:
    TBoundedFraming(TCaptureFraming* inner, int64_t limit) : inner_(inner), left_(limit) {}
    int Wanted() override;
    void Take(const char* data, int n, const std::function<void(const char*, int)>& keep) override;
    // Data came beyond the limit (and was dropped).
    bool Overran() const { return overran_; }

private:
    TCaptureFraming* inner_;
    int64_t left_;
    bool overran_ = false;
};

}  // namespace qvl
