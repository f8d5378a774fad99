#include "net/http/BodyFraming.h"

#include <algorithm>

namespace qvl {

namespace {

// What a framing asks for when any amount will do; the engine takes at most a chunk anyway.
constexpr int kAnyAmount = 1 << 30;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int TLengthFraming::Wanted() { return static_cast<int>(std::min<int64_t>(left_, kAnyAmount)); }

void TLengthFraming::Take(const char* data, int n, const std::function<void(const char*, int)>& keep) {
    const int kept = static_cast<int>(std::min<int64_t>(n, left_));
    if (kept > 0) keep(data, kept);
    left_ -= kept;
}

int TBoundedFraming::Wanted() {
    if (overran_) return 0;
    const int64_t bound = std::min<int64_t>(left_ + 1, kAnyAmount);
    return static_cast<int>(inner_ ? std::min<int64_t>(inner_->Wanted(), bound) : bound);
}

void TBoundedFraming::Take(const char* data, int n, const std::function<void(const char*, int)>& keep) {
    const auto bounded = [&](const char* d, int m) {
        const int kept = static_cast<int>(std::min<int64_t>(m, left_));
        if (kept > 0) keep(d, kept);
        left_ -= kept;
        if (kept < m) overran_ = true;
    };
    if (overran_) return;
    if (inner_) inner_->Take(data, n, bounded);
    else bounded(data, n);
}

int TChunkedFraming::Wanted() {
    return state_ == State::Done || state_ == State::Failed ? 0 : kAnyAmount;
}

void TChunkedFraming::Fail(const std::string& why) {
    state_ = State::Failed;
    error_ = "Malformed chunked reply body: " + why;
}

void TChunkedFraming::Take(const char* data, int n, const std::function<void(const char*, int)>& keep) {
    int i = 0;
    auto endSizeLine = [&] {
        state_ = chunkLeft_ == 0 ? State::TrailerStart : State::Data;
        sizeDigits_ = 0;
        lineBytes_ = 0;
    };
    while (i < n && state_ != State::Done && state_ != State::Failed) {
        if (state_ == State::Data) {
            const int k = static_cast<int>(std::min<int64_t>(chunkLeft_, n - i));
            keep(data + i, k);
            i += k;
            chunkLeft_ -= k;
            if (chunkLeft_ == 0) state_ = State::DataCr;
            continue;
        }
        const char c = data[i++];
        if (state_ == State::Size || state_ == State::Extension) {
            if (++lineBytes_ > kMaxLine) return Fail("chunk size line too long");
        }
        switch (state_) {
            case State::Size: {
                const int v = HexValue(c);
                if (v >= 0) {
                    // 15 hex digits stay far below the 64-bit limit.
                    if (++sizeDigits_ > 15) return Fail("chunk size too large");
                    chunkLeft_ = chunkLeft_ * 16 + v;
                } else if (sizeDigits_ == 0) {
                    return Fail("no chunk size");
                } else if (c == ';' || c == ' ' || c == '\t') {
                    state_ = State::Extension;
                } else if (c == '\r') {
                    state_ = State::SizeEnd;
                } else if (c == '\n') {
                    endSizeLine();
                } else {
                    return Fail("bad chunk size");
                }
                break;
            }
            case State::Extension:
                if (c == '\n') endSizeLine();
                break;
            case State::SizeEnd:
                if (c != '\n') return Fail("bad chunk size line end");
                endSizeLine();
                break;
            case State::DataCr:
                if (c == '\r') state_ = State::DataLf;
                else if (c == '\n') state_ = State::Size;
                else return Fail("chunk data longer than its size");
                break;
            case State::DataLf:
                if (c != '\n') return Fail("chunk data longer than its size");
                state_ = State::Size;
                break;
            case State::TrailerStart:
            case State::TrailerLine:
                if (++trailerBytes_ > kMaxTrailer) return Fail("trailer too long");
                if (state_ == State::TrailerStart && c == '\r') state_ = State::TrailerEnd;
                else if (state_ == State::TrailerStart && c == '\n') state_ = State::Done;
                else state_ = c == '\n' ? State::TrailerStart : State::TrailerLine;
                break;
            case State::TrailerEnd:
                if (c != '\n') return Fail("bad line end after the trailer");
                state_ = State::Done;
                break;
            default: break;
        }
    }
}

}  // namespace qvl
