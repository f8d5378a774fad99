#pragma once
// TReceiveBuffer: the bytes the engine has received and not yet handed out. Lines, captures and
// DataAvailable read from here, never from the socket: under TLS the socket holds ciphertext.
// One fill drains what the transport has ready, up to a bound, so a fast stream costs one trip
// through the message queue per fill instead of one per receive.
#include <memory>

#include "net/socket/Transport.h"

namespace qvl {

class TReceiveBuffer {
public:
    // Room for a full drain after a line that is not complete yet.
    static constexpr int kCapacity = 262144;
    // Receives per fill at most (a TLS session returns one record, up to 16 KiB, per receive).
    static constexpr int kDrainReads = 16;

    TReceiveBuffer();

    const char* Data() const { return data_.get() + start_; }
    int Size() const { return end_ - start_; }
    // Hands out the first `n` bytes; they stay readable at their place until the next Fill.
    void Consume(int n);
    // Forgets everything, also an outcome held back: the connection is gone.
    void Clear();
    // Receives from `transport` into the free room until it would block, ends, fails, the room
    // is full, or kDrainReads receives were made; returns the bytes added. When it got none:
    // 0 at the end of the stream, or -1 with the transport's error in *error. An end or a
    // failure met after some bytes is held back for the next Fill (once), so the bytes come first.
    int Fill(TTransport& transport, int* error);

private:
    std::unique_ptr<char[]> data_;
    int start_ = 0;
    int end_ = 0;
    bool held_ = false;  // an end (heldError_ 0) or a failure waits behind the bytes
    int heldError_ = 0;
};

}  // namespace qvl
