#pragma once
// TCaptureFraming: tells a capture of the socket engine where the data it receives ends and
// which of the received bytes are data (a protocol may frame its data, or end it before the
// peer closes). Without one, a capture keeps every byte until the peer closes.
#include <functional>

namespace qvl {

class TCaptureFraming {
public:
    virtual ~TCaptureFraming() = default;
    // The most bytes the next receive may take; 0 when the data is complete or cannot go on.
    virtual int Wanted() = 0;
    // Takes `n` received bytes and hands the data bytes among them to `keep`, in order.
    virtual void Take(const char* data, int n, const std::function<void(const char*, int)>& keep) = 0;
};

}  // namespace qvl
