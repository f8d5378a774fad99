#include "net/socket/ReceiveBuffer.h"

#include <cstring>

#include "platform/Sockets.h"

namespace qvl {

TReceiveBuffer::TReceiveBuffer() : data_(std::make_unique<char[]>(kCapacity)) {}

void TReceiveBuffer::Consume(int n) {
    start_ += n;
    if (start_ == end_) start_ = end_ = 0;
}

void TReceiveBuffer::Clear() {
    start_ = end_ = 0;
    held_ = false;
    heldError_ = 0;
}

int TReceiveBuffer::Fill(TTransport& transport, int* error) {
    if (held_) {
        // Once: a reset is reported by one receive, after which the transport sees an end.
        held_ = false;
        *error = heldError_;
        return heldError_ == 0 ? 0 : -1;
    }
    if (start_ > 0) {
        std::memmove(data_.get(), data_.get() + start_, static_cast<size_t>(end_ - start_));
        end_ -= start_;
        start_ = 0;
    }
    int added = 0;
    for (int turn = 0; turn < kDrainReads && end_ < kCapacity; ++turn) {
        const int n = transport.Receive(data_.get() + end_, kCapacity - end_);
        if (n > 0) {
            end_ += n;
            added += n;
            continue;
        }
        const int err = n == 0 ? 0 : transport.LastError();
        if (added == 0) {
            *error = err;
            return n == 0 ? 0 : -1;
        }
        if (err != platform::kWsaEWouldBlock) {
            held_ = true;
            heldError_ = err;
        }
        break;
    }
    return added;
}

}  // namespace qvl
