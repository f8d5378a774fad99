#include "net/socket/PlainTransport.h"

#include "platform/Sockets.h"

namespace qvl {

int TPlainTransport::Result(int n) {
    if (n < 0) lastError_ = platform::LastSocketError();
    return n;
}

int TPlainTransport::Send(const char* data, int length) {
    const int n = Result(platform::SendSocket(socket_, data, length));
    if (n < 0 && lastError_ == platform::kWsaEWouldBlock) want_ = Want::Write;
    return n;
}

int TPlainTransport::Receive(char* into, int length) {
    want_ = Want::Read;
    return Result(platform::RecvSocket(socket_, into, length, 0));
}

int TPlainTransport::Pending() {
    char scratch = 0;
    return platform::RecvSocket(socket_, &scratch, 1, platform::kMsgPeek) == 1 ? 1 : 0;
}

}  // namespace qvl
