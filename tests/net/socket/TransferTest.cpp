// Sending and receiving on an established connection, against the scripted loopback server:
// lines across every split, captures into files and strings with their counters and events,
// files sent in chunks, cancel and time-out, and the limits of a line and of a write.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "framework/FileStream.h"
#include "net/socket/SocketEngine.h"
#include "platform/Sockets.h"
#include "support/ProcessCpu.h"
#include "support/ScriptedServer.h"
#include "support/Wine.h"

namespace qvl {
namespace {

using enginetest::PumpUntil;
using enginetest::MessageOf;
using test::ScriptedServer;
using Script = ScriptedServer::Script;


// An engine connected to `server`.
std::unique_ptr<TSocketEngine> ConnectedEngine(const ScriptedServer& server) {
    auto engine = std::make_unique<TSocketEngine>();
    engine->Host = "127.0.0.1";
    engine->Port = server.Port();
    engine->Connect();
    return engine;
}

// What OnPacketRecvd saw: BytesRecvd at each call, and the file's size at that moment.
struct PacketLog {
    std::vector<int64_t> totals;
    std::vector<int64_t> fileSizes;
    std::vector<int64_t> Pieces() const {
        std::vector<int64_t> pieces;
        int64_t before = 0;
        for (int64_t t : totals) {
            pieces.push_back(t - before);
            before = t;
        }
        return pieces;
    }
};

void ExpectWellFormedPieces(const PacketLog& log, int64_t total) {
    ASSERT_FALSE(log.totals.empty());
    EXPECT_EQ(log.totals.back(), total);
    for (int64_t piece : log.Pieces()) {
        EXPECT_GT(piece, 0);
        EXPECT_LE(piece, 65536);
    }
}

TEST(ReadLn, ExactLinesWhateverTheSplit) {
    const std::string text = "fifteen chars!!\r\nsecond line\n\r\nlast line\r\ntail without end";
    const std::vector<std::string> lines = {"fifteen chars!!\r\n", "second line\n", "\r\n",
                                            "last line\r\n"};
    struct Split {
        size_t maxPiece;
        uint32_t seed;
    };
    for (Split split : {Split{1, 1}, Split{2, 2}, Split{5, 3}, Split{16, 4}, Split{100 * 1024, 5}}) {
        SCOPED_TRACE("pieces up to " + std::to_string(split.maxPiece));
        ScriptedServer server(Script().SendInPieces(text, split.maxPiece, split.seed).Close());
        auto engine = ConnectedEngine(server);
        for (const std::string& line : lines) EXPECT_EQ(engine->ReadLn(), line);
        EXPECT_EQ(engine->ReadLn(), "") << "the peer closed in the middle of a line";
    }
}

TEST(ReadLn, LongLinesUpToTheBufferAcrossPieces) {
    const std::string longest(65535, 'a');  // + LF = 65536, the longest line there is
    const std::string big = enginetest::PatternBytes(60000, 7, false);
    const std::string text = big + "\r\n" + longest + "\n" + "end\r\n";
    for (uint32_t seed : {11u, 12u}) {
        ScriptedServer server(Script().SendInPieces(text, seed == 11 ? 4096 : 100 * 1024, seed).Close());
        auto engine = ConnectedEngine(server);
        EXPECT_TRUE(enginetest::SameBytes(engine->ReadLn(), big + "\r\n"));
        EXPECT_TRUE(enginetest::SameBytes(engine->ReadLn(), longest + "\n"));
        EXPECT_EQ(engine->ReadLn(), "end\r\n");
        EXPECT_EQ(engine->ReadLn(), "");
    }
}

TEST(ReadLn, LineLongerThanTheBufferIsRefused) {
    ScriptedServer server(Script().Send(std::string(70000, 'b') + "\n").Close());
    auto engine = ConnectedEngine(server);
    EXPECT_EQ(MessageOf([&] { engine->ReadLn(); }),
              "Line too long: no line end within 65536 bytes");
}

TEST(ReadLn, LeavesTheRestInTheSocket) {
    ScriptedServer server(Script().Send("fifteen chars!!\r\nHTTP body\x01\x02 bytes").Close());
    auto engine = ConnectedEngine(server);
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    EXPECT_EQ(engine->ReadLn(), "fifteen chars!!\r\n");
    std::string rest;
    engine->CaptureString(rest, -1);
    EXPECT_EQ(rest, "HTTP body\x01\x02 bytes");
}

TEST(Transaction, ReplyCodeFromLeadingDigits) {
    ScriptedServer server(Script()
                              .ReadUntil("\r\n").Send("250 OK\r\n")
                              .ReadUntil("\r\n").Send("OK 250\r\n")
                              .ReadUntil("\r\n").Send("99999 out of range\r\n")
                              .ReadUntilClosed());
    auto engine = ConnectedEngine(server);
    std::string reply;
    engine->Transaction("HELO", reply);
    EXPECT_EQ(reply, "250 OK\r\n");
    EXPECT_EQ(engine->LastReply, "250 OK\r\n");
    EXPECT_EQ(engine->ReplyCode, 250);
    engine->Transaction("NEXT", reply);
    EXPECT_EQ(engine->ReplyCode, 0);
    engine->Transaction("BIG", reply);
    EXPECT_EQ(engine->ReplyCode, 0) << "a code beyond 16 bits is not wrapped";
    engine->Disconnect();
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    EXPECT_EQ(server.Received(0), "HELO\r\nNEXT\r\nBIG\r\n");
}

TEST(Write, StopsAtNulAndRefusesOverlongText) {
    ScriptedServer server(Script().ReadUntilClosed());
    auto engine = ConnectedEngine(server);
    engine->Write(std::string("ab\0cd", 5));
    engine->Writeln("");
    EXPECT_EQ(MessageOf([&] { engine->Write(std::string(65536, 'x')); }),
              "Text too long to write: 65536 bytes, at most 65535");
    engine->Write(std::string(65535, 'y'));
    engine->Writeln("end");
    // The first socket closes with a reset, which would drop what the server has not read yet.
    ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= 65544; }, 5000));
    engine->Disconnect();
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    EXPECT_TRUE(enginetest::SameBytes(server.Received(0), "ab\r\n" + std::string(65535, 'y') + "end\r\n"));
}

TEST(CaptureFile, EveryByteInOrderWithOneEventPerChunk) {
    test::TempDir dir("qvl-socket-test");
    const std::string path = enginetest::FileIn(dir, "body.bin");
    const std::string data = enginetest::PatternBytes(300000, 21);
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ScriptedServer server(Script().SendInPieces(data, 100 * 1024, seed).Close());
        auto engine = ConnectedEngine(server);
        PacketLog log;
        engine->OnPacketRecvd = [&](TObject* sender) {
            EXPECT_EQ(sender, engine.get());
            log.totals.push_back(engine->BytesRecvd);
            log.fileSizes.push_back(static_cast<int64_t>(std::filesystem::file_size(path)));
        };
        engine->BytesRecvd = 12345;  // reset by the capture
        engine->CaptureFile(path);
        EXPECT_EQ(engine->BytesRecvd, 300000);
        ExpectWellFormedPieces(log, 300000);
        EXPECT_EQ(log.fileSizes, log.totals) << "each chunk is in the file before its event";
        EXPECT_TRUE(enginetest::SameBytes(test::ReadFileBytes(path), data));
    }
}

TEST(CaptureFile, SmallMiddleAndBigChunks) {
    test::TempDir dir("qvl-socket-test");
    const std::string path = enginetest::FileIn(dir, "chunks.bin");
    const std::string big = enginetest::PatternBytes(70000, 22);
    ScriptedServer server(Script()
                              .Send("A").WaitForRelease()
                              .Send(std::string(1000, 'B')).WaitForRelease()
                              .Send(big).Close());
    auto engine = ConnectedEngine(server);
    PacketLog log;
    engine->OnPacketRecvd = [&](TObject*) {
        log.totals.push_back(engine->BytesRecvd);
        server.Release();  // the next piece goes out only after this one was taken
    };
    engine->CaptureFile(path);
    const std::vector<int64_t> pieces = log.Pieces();
    ASSERT_GE(pieces.size(), 4u);
    EXPECT_EQ(pieces[0], 1);
    EXPECT_EQ(pieces[1], 1000);
    ExpectWellFormedPieces(log, 71001);
    EXPECT_TRUE(enginetest::SameBytes(test::ReadFileBytes(path), "A" + std::string(1000, 'B') + big));
}

TEST(CaptureFile, CancelFromThePacketEventEndsAfterThatChunk) {
    test::TempDir dir("qvl-socket-test");
    const std::string path = enginetest::FileIn(dir, "cancelled.bin");
    ScriptedServer server(std::vector<Script>{
        Script().Send("first part").WaitForRelease().Send("never read").Close(),
        Script().Send("second download").Close()});
    auto engine = ConnectedEngine(server);
    int events = 0;
    engine->OnPacketRecvd = [&](TObject*) {
        ++events;
        engine->Cancel();
    };
    EXPECT_EQ(MessageOf([&] { engine->CaptureFile(path); }), "Socket send aborted");
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(engine->Canceled);
    const std::string kept = test::ReadFileBytes(path);
    EXPECT_EQ(static_cast<int64_t>(kept.size()), engine->BytesRecvd);
    EXPECT_EQ(std::string("first part").substr(0, kept.size()), kept);

    server.Release();
    engine->Disconnect();
    engine->OnPacketRecvd = nullptr;
    engine->Connect();
    engine->CaptureFile(path);
    EXPECT_EQ(test::ReadFileBytes(path), "second download");
}

TEST(CaptureFile, UncreatableFileFailsBeforeReceiving) {
    ScriptedServer server(Script().Send("data").Close());
    auto engine = ConnectedEngine(server);
    const std::string path = "/nonexistent-folder/x/body.bin";
    EXPECT_EQ(MessageOf([&] { engine->CaptureFile(path); }), "Cannot create file " + path);
    EXPECT_EQ(engine->BytesRecvd, 0);
    EXPECT_FALSE(engine->TimeOutTimer->Enabled()) << "the time-out timer is stopped on the way out";
}

// A file the disk stops taking names itself and the system's reason apart from the text, which
// the installer relies on to put the target's name in place of the temporary file's.
TEST(CaptureFile, AFileTheDiskStopsTakingCarriesItsPathAndReason) {
#ifdef _WIN32
    GTEST_SKIP() << "a device that is always full is Linux's /dev/full";
#else
    ScriptedServer server(Script().Send("data that finds no room").Close());
    auto engine = ConnectedEngine(server);
    const std::string path = "/dev/full";
    try {
        engine->CaptureFile(path);
        ADD_FAILURE() << "a full disk was reported as success";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Path(), path);
        EXPECT_EQ(e.Reason(), "No space left on device");
        EXPECT_EQ(e.Message(), "Cannot write file /dev/full: No space left on device");
    }
    try {
        engine->CaptureFile("/nonexistent-folder/body.bin");
        ADD_FAILURE() << "an uncreatable file was reported as success";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Path(), "/nonexistent-folder/body.bin");
    }
#endif
}

// A reset is not the end of the data, even though the notifier's look at the socket took its
// error before the receiving operation could see it.
TEST(Reset, EndsEveryReceiveWithOnSocketErrorAndTheResetsError) {
    if (test::RunningUnderWine()) GTEST_SKIP() << "wine reports a reset as a normal close (error 0, recv 0)";
    test::TempDir dir("qvl-socket-test");
    const std::string path = enginetest::FileIn(dir, "reset.bin");
    for (const char* op : {"ReadLn", "CaptureFile", "CaptureString"}) {
        SCOPED_TRACE(op);
        ScriptedServer server(Script().Send("no line end yet").WaitForRelease().Reset());
        auto engine = ConnectedEngine(server);
        engine->OnPacketRecvd = [&](TObject*) { server.Release(); };
        // As for every other socket error, the event comes first and then the exception.
        std::vector<std::string> reported;
        engine->OnSocketError = [&](TObject*, uint16_t no, const std::string& text) {
            reported.push_back(std::to_string(no) + " " + text);
        };
        const std::string what = op;
        std::string text;
        if (what == "ReadLn") {
            ASSERT_TRUE(PumpUntil([&] { return engine->DataAvailable(); }, 5000));
            server.Release();
            EXPECT_EQ(MessageOf([&] { engine->ReadLn(text); }), "10054:Connection reset by peer");
        } else if (what == "CaptureFile") {
            EXPECT_EQ(MessageOf([&] { engine->CaptureFile(path); }), "10054:Connection reset by peer");
            EXPECT_EQ(test::ReadFileBytes(path), "no line end yet");
        } else {
            EXPECT_EQ(MessageOf([&] { engine->CaptureString(text, -1); }), "10054:Connection reset by peer");
            EXPECT_EQ(text, "no line end yet");
        }
        EXPECT_EQ(reported, std::vector<std::string>{"10054 10054:Connection reset by peer"});
        EXPECT_TRUE(server.WaitUntilFinished(1, 5000));

        // The next connection starts clean.
        engine->Disconnect();
        ScriptedServer next(Script().Send("fine\r\n").Close());
        engine->Port = next.Port();
        engine->Connect();
        EXPECT_EQ(engine->ReadLn(), "fine\r\n");
        EXPECT_EQ(engine->ReadLn(), "");
    }
}

TEST(CaptureString, ChunksOfAnySizeAndTheMaximumLength) {
    {
        ScriptedServer server(Script().Send("x").WaitForRelease().Send("yz").Close());
        auto engine = ConnectedEngine(server);
        PacketLog log;
        engine->OnPacketRecvd = [&](TObject*) {
            log.totals.push_back(engine->BytesRecvd);
            server.Release();
        };
        std::string text = "old content";
        engine->CaptureString(text, -1);
        EXPECT_EQ(text, "xyz");
        EXPECT_EQ(log.Pieces(), (std::vector<int64_t>{1, 2}));
    }
    {
        const std::string hundred = enginetest::PatternBytes(100, 23);
        ScriptedServer server(Script().Send(hundred).WaitForRelease().Close());
        auto engine = ConnectedEngine(server);
        ASSERT_TRUE(PumpUntil([&] { return engine->DataAvailable(); }, 5000));
        std::string text;
        engine->CaptureString(text, 10);  // stops before the next recv, not at 10 bytes
        EXPECT_TRUE(enginetest::SameBytes(text, hundred));
        EXPECT_EQ(engine->BytesRecvd, 100);
        server.Release();
    }
    {
        const std::string data = enginetest::PatternBytes(200000, 24);
        ScriptedServer server(Script().SendInPieces(data, 100 * 1024, 9).Close());
        auto engine = ConnectedEngine(server);
        PacketLog log;
        engine->OnPacketRecvd = [&](TObject*) { log.totals.push_back(engine->BytesRecvd); };
        std::string text;
        engine->CaptureString(text, -1);
        EXPECT_TRUE(enginetest::SameBytes(text, data));
        ExpectWellFormedPieces(log, 200000);
    }
}

TEST(SendFile, ChunksOf65536AndTheCount) {
    test::TempDir dir("qvl-socket-test");
    const std::string path = enginetest::FileIn(dir, "upload.bin");
    const std::string data = enginetest::PatternBytes(150000, 31);
    test::WriteFileBytes(path, data);
    test::WriteFileBytes(enginetest::FileIn(dir, "empty.bin"), "");

    ScriptedServer server(Script().ReadBytes(150000).ReadUntilClosed());
    auto engine = ConnectedEngine(server);
    engine->BytesSent = 1000;
    std::vector<int64_t> sentAt;
    engine->OnPacketSent = [&](TObject*) { sentAt.push_back(engine->BytesSent - 1000); };

    engine->SendFile(enginetest::FileIn(dir, "empty.bin"));
    EXPECT_TRUE(sentAt.empty());
    EXPECT_EQ(engine->BytesSent, 1000);

    engine->SendFile(path);
    EXPECT_EQ(engine->BytesSent, 151000);
    // A send never spans two chunks, so the chunk ends are among the counts seen, and nothing
    // larger than a chunk goes out at once.
    ASSERT_FALSE(sentAt.empty());
    EXPECT_NE(std::find(sentAt.begin(), sentAt.end(), 65536), sentAt.end());
    EXPECT_NE(std::find(sentAt.begin(), sentAt.end(), 131072), sentAt.end());
    EXPECT_EQ(sentAt.back(), 150000);
    int64_t before = 0;
    for (int64_t at : sentAt) {
        EXPECT_GT(at, before);
        EXPECT_LE(at - before, 65536);
        before = at;
    }
    ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= data.size(); }, 5000));
    EXPECT_TRUE(enginetest::SameBytes(server.Received(0), data));
    engine->Disconnect();

    EXPECT_EQ(MessageOf([&] { engine->SendFile(enginetest::FileIn(dir, "missing.bin")); }),
              "Cannot open file " + enginetest::FileIn(dir, "missing.bin"));
}

TEST(TimeOut, SilentPeerEndsTheReadAfterTheTimeOut) {
    ScriptedServer server(Script().Send("partial").WaitForRelease().Close());
    auto engine = ConnectedEngine(server);
    engine->TimeOut = 500;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf([&] { engine->ReadLn(); }), "Socket readln aborted");
    const int64_t elapsed = enginetest::ElapsedMs(start);
    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(engine->TimedOut);
    EXPECT_FALSE(engine->Canceled);

    test::TempDir dir("qvl-socket-test");
    EXPECT_EQ(MessageOf([&] { engine->CaptureFile(enginetest::FileIn(dir, "t.bin")); }), "Socket send aborted");
    std::string text;
    EXPECT_EQ(MessageOf([&] { engine->CaptureString(text, -1); }), "Socket capture aborted");
    EXPECT_EQ(text, "") << "ReadLn had taken the partial line";
    server.Release();
}

TEST(TimeOut, SilentPeerCostsLittleProcessorTime) {
    // A behaviour check, not a benchmark: a receive loop that polled without waiting would use
    // a whole processor for the second the peer stays silent.
    ScriptedServer server(Script().Send("HTTP/1.0 200 OK\r\n\r\n").WaitForRelease().Close());
    auto engine = ConnectedEngine(server);
    EXPECT_EQ(engine->ReadLn(), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(engine->ReadLn(), "\r\n");
    engine->TimeOut = 1000;
    test::TempDir dir("qvl-socket-test");
    const double cpuBefore = enginetest::ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf([&] { engine->CaptureFile(enginetest::FileIn(dir, "silent.bin")); }), "Socket send aborted");
    const double wall = static_cast<double>(enginetest::ElapsedMs(start)) / 1000.0;
    const double cpu = enginetest::ProcessCpuSeconds() - cpuBefore;
    EXPECT_GE(wall, 0.9);
    EXPECT_LT(cpu, 0.3 * wall) << "cpu " << cpu << " s over " << wall << " s";
    server.Release();
}

}  // namespace
}  // namespace qvl
