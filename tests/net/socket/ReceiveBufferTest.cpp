// The engine's receive buffer against a transport that answers from a script: what one fill
// takes, and that an end or a failure met after some bytes waits behind them.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "net/socket/ReceiveBuffer.h"
#include "platform/Sockets.h"

namespace qvl {
namespace {

// Each Receive takes the next step: bytes (at most what was asked for; the rest stays for the
// next call), an end (""), or an error number.
class ScriptedTransport : public TTransport {
public:
    struct Step {
        std::string bytes;
        int error = 0;
    };
    std::deque<Step> steps;
    int receives = 0;

    void Bytes(const std::string& b) { steps.push_back({b, 0}); }
    void End() { steps.push_back({"", 0}); }
    void Error(int e) { steps.push_back({"", e}); }

    int CompleteConnect() override { return 1; }
    int Send(const char*, int length) override { return length; }
    int Receive(char* into, int length) override {
        ++receives;
        if (steps.empty()) return Fail(platform::kWsaEWouldBlock);
        Step& step = steps.front();
        if (step.error != 0) {
            const int e = step.error;
            steps.pop_front();
            return Fail(e);
        }
        if (step.bytes.empty()) return 0;  // an end stays an end
        const int n = std::min(length, static_cast<int>(step.bytes.size()));
        step.bytes.copy(into, static_cast<size_t>(n));
        step.bytes.erase(0, static_cast<size_t>(n));
        if (step.bytes.empty()) steps.pop_front();
        return n;
    }
    int Pending() override { return steps.empty() ? 0 : 1; }
    void Shutdown() override {}
    Want Wants() const override { return Want::Read; }
    int LastError() const override { return error_; }

private:
    int Fail(int e) {
        error_ = e;
        return -1;
    }
    int error_ = 0;
};

std::string Held(const TReceiveBuffer& buffer) { return std::string(buffer.Data(), static_cast<size_t>(buffer.Size())); }

TEST(ReceiveBuffer, OneFillDrainsWhatIsReadyUpToItsBoundOfReceives) {
    ScriptedTransport t;
    for (int i = 0; i < TReceiveBuffer::kDrainReads + 4; ++i) t.Bytes(std::string(1, static_cast<char>('a' + i)));
    TReceiveBuffer buffer;
    int error = -7;
    EXPECT_EQ(buffer.Fill(t, &error), TReceiveBuffer::kDrainReads);
    EXPECT_EQ(t.receives, TReceiveBuffer::kDrainReads) << "one fill makes at most kDrainReads receives";
    EXPECT_EQ(Held(buffer), "abcdefghijklmnop");
    EXPECT_EQ(error, -7) << "bytes come without an error";

    buffer.Consume(10);
    EXPECT_EQ(Held(buffer), "klmnop");
    EXPECT_EQ(buffer.Fill(t, &error), 4) << "then it stops where the transport would block";
    EXPECT_EQ(Held(buffer), "klmnopqrst") << "what was not handed out stays ahead of the new bytes";
    EXPECT_EQ(buffer.Fill(t, &error), -1);
    EXPECT_EQ(error, platform::kWsaEWouldBlock);
}

TEST(ReceiveBuffer, AnEndOrAFailureAfterBytesComesOnceBehindThem) {
    for (const int failure : {0, platform::kWsaEConnReset}) {
        SCOPED_TRACE(failure);
        ScriptedTransport t;
        t.Bytes("last bytes");
        if (failure == 0) t.End(); else t.Error(failure);
        TReceiveBuffer buffer;
        int error = -7;
        EXPECT_EQ(buffer.Fill(t, &error), 10);
        EXPECT_EQ(Held(buffer), "last bytes");
        buffer.Consume(10);
        EXPECT_EQ(buffer.Fill(t, &error), failure == 0 ? 0 : -1);
        EXPECT_EQ(error, failure);
        if (failure != 0) {
            // The failure was reported once; the transport is asked again after it.
            t.End();
            EXPECT_EQ(buffer.Fill(t, &error), 0);
        }
    }
}

TEST(ReceiveBuffer, AFillStopsAtTheCapacityAndClearForgetsAHeldEnd) {
    ScriptedTransport t;
    t.Bytes(std::string(TReceiveBuffer::kCapacity + 100, 'x'));
    TReceiveBuffer buffer;
    int error = 0;
    EXPECT_EQ(buffer.Fill(t, &error), TReceiveBuffer::kCapacity);
    EXPECT_EQ(buffer.Size(), TReceiveBuffer::kCapacity);

    buffer.Consume(TReceiveBuffer::kCapacity - 1);
    t.End();
    EXPECT_EQ(buffer.Fill(t, &error), 100) << "the rest, after the byte not handed out";
    EXPECT_EQ(buffer.Size(), 101);
    buffer.Clear();
    EXPECT_EQ(buffer.Size(), 0);
    t.steps.clear();
    t.Bytes("new connection");
    EXPECT_EQ(buffer.Fill(t, &error), 14) << "the end held for the old connection is forgotten";
}

}  // namespace
}  // namespace qvl
