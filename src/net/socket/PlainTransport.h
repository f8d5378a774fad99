#pragma once
// TPlainTransport: the engine's bytes go to and come from the socket as they are.
#include "net/socket/Transport.h"

namespace qvl {

class TPlainTransport : public TTransport {
public:
    explicit TPlainTransport(int socket) : socket_(socket) {}

    int CompleteConnect() override { return 1; }
    int Send(const char* data, int length) override;
    int Receive(char* into, int length) override;
    int Pending() override;
    void Shutdown() override {}
    Want Wants() const override { return want_; }
    int LastError() const override { return lastError_; }

private:
    // The result of a call; records the error of a failed one.
    int Result(int n);

    int socket_;
    Want want_ = Want::Read;
    int lastError_ = 0;
};

}  // namespace qvl
