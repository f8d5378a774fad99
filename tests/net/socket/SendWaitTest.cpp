// Sends to a peer that stops reading: the send waits for room without using the processor, and
// the time-out or a cancel ends it. The peer is the scripted server holding its connection
// without reading until released.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "EngineTestSupport.h"
#include "net/socket/SocketEngine.h"
#include "platform/MessageTarget.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace qvl {
namespace {

using enginetest::MessageOf;
using enginetest::ProcessCpuSeconds;
using test::ScriptedServer;

constexpr const char* kNothingRaised = "(nothing raised)";

// A connected engine whose peer reads nothing until released.
struct StalledPeer {
    ScriptedServer server{ScriptedServer::Script().WaitForRelease()};
    TSocketEngine engine;

    explicit StalledPeer(int timeOut) {
        server.SetStepTimeout(60000);
        engine.Host = "127.0.0.1";
        engine.Port = server.Port();
        engine.TimeOut = timeOut;
        engine.Connect();
    }
    ~StalledPeer() { server.Release(); }
};

// Calls SendBuffer with 65535 bytes until a call raises (the socket buffers are full and the
// wait for room ended); returns its message and the processor time of that last call.
std::string SendUntilStopped(TSocketEngine& engine, double& cpuOfLastCall) {
    const std::string chunk = enginetest::PatternBytes(65535, 5);
    std::string message = kNothingRaised;
    // Loopback buffers take a few MiB at most; 4000 calls is 256 MiB.
    for (int call = 0; call < 4000 && message == kNothingRaised; ++call) {
        const double before = ProcessCpuSeconds();
        message = MessageOf([&] { engine.SendBuffer(chunk.data(), 65535); });
        cpuOfLastCall = ProcessCpuSeconds() - before;
    }
    return message;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && whole;
}

// Cancels `engine` from a timer message after `ms`, as a button's click would during a send.
struct CancelLater {
    TSocketEngine& engine;
    bool fired = false;
    platform::MessageTarget target{[this](const platform::Message&) {
        target.KillTimer(1);
        fired = true;
        engine.Cancel();
    }};
    CancelLater(TSocketEngine& e, unsigned ms) : engine(e) { target.SetTimer(1, ms); }
};

TEST(SendWait, APeerThatNeverReadsEndsTheSendAtTheTimeOutWithoutUsingTheProcessor) {
    StalledPeer peer(1000);
    double cpu = -1;
    EXPECT_EQ(SendUntilStopped(peer.engine, cpu), "Socket send aborted");
    EXPECT_TRUE(peer.engine.TimedOut);
    EXPECT_FALSE(peer.engine.Canceled) << "the abort is reported once and cleared";
    // The call waited about a second for room; spinning would have used most of it.
    EXPECT_LT(cpu, 0.1) << "processor seconds of the send that waited for the time-out";
}

TEST(SendWait, ASendWaitingForRoomIsCancelledFromAMessage) {
    StalledPeer peer(0);  // no time-out: only the cancel can end it
    CancelLater cancel(peer.engine, 300);
    double cpu = -1;
    EXPECT_EQ(SendUntilStopped(peer.engine, cpu), "Socket send aborted");
    EXPECT_TRUE(cancel.fired);
    EXPECT_FALSE(peer.engine.TimedOut);
    EXPECT_LT(cpu, 0.1);
}

TEST(SendWait, SendFileWaitsForRoomAndEndsAtTheTimeOutOrACancel) {
    test::TempDir dir;
    const std::string file = enginetest::FileIn(dir, "upload.bin");
    // More than the loopback buffers hold, so the send must stall.
    ASSERT_TRUE(WriteBytes(file, enginetest::PatternBytes(24 << 20, 9)));
    {
        StalledPeer peer(700);
        int timerTexts = 0;
        peer.engine.ReportLevel = 8;
        peer.engine.OnStatus = [&](TObject*, const std::string& s) { timerTexts += s == "Timer On"; };
        const double before = ProcessCpuSeconds();
        EXPECT_EQ(MessageOf([&] { peer.engine.SendFile(file); }), "Socket send aborted");
        EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
        EXPECT_TRUE(peer.engine.TimedOut);
        EXPECT_GT(peer.engine.BytesSent, 0);
        EXPECT_LT(peer.engine.BytesSent, int64_t{24} << 20);
        EXPECT_GE(timerTexts, 1) << "the stall is timed";
    }
    {
        StalledPeer peer(0);
        CancelLater cancel(peer.engine, 300);
        EXPECT_EQ(MessageOf([&] { peer.engine.SendFile(file); }), "Socket send aborted");
        EXPECT_TRUE(cancel.fired);
        EXPECT_FALSE(peer.engine.TimedOut);
    }
}

TEST(SendWait, AStallThatEndsLetsTheWholeFileThrough) {
    // The peer reads only after a pause longer than a receive turn: the send waits, then goes
    // on, and every byte arrives in order.
    test::TempDir dir;
    const std::string file = enginetest::FileIn(dir, "upload.bin");
    const std::string bytes = enginetest::PatternBytes(16 << 20, 3);
    ASSERT_TRUE(WriteBytes(file, bytes));
    ScriptedServer server(ScriptedServer::Script().WaitForRelease().ReadBytes(bytes.size()).Close());
    TSocketEngine engine;
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.TimeOut = 20000;
    engine.Connect();
    platform::MessageTarget release([&](const platform::Message&) { server.Release(); });
    release.SetTimer(1, 200);
    engine.SendFile(file);
    release.KillTimer(1);
    EXPECT_EQ(engine.BytesSent, static_cast<int64_t>(bytes.size()));
    ASSERT_TRUE(server.WaitUntilFinished(1, 20000));
    EXPECT_TRUE(enginetest::SameBytes(server.Received(0), bytes));
}

}  // namespace
}  // namespace qvl
