// Connecting, disconnecting and the state around it, against a real loopback server: lookups,
// the invalid-host retry, refused and cancelled connects, peer closes, status levels, the
// socket service's start-up count and the routing of notification messages.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "net/socket/SocketEngine.h"
#include "platform/HostLookup.h"
#include "platform/Sockets.h"
#include "support/ScriptedServer.h"

namespace qvl {
namespace {

using enginetest::PumpFor;
using enginetest::PumpUntil;
using enginetest::MessageOf;
using test::ScriptedServer;


ScriptedServer::Script HoldOpen() { return ScriptedServer::Script().ReadUntilClosed(); }

TEST(Connect, DottedAddressNeedsNoLookup) {
    ScriptedServer server(HoldOpen());
    TSocketEngine engine;
    int resolved = 0, connected = 0;
    engine.OnHostResolved = [&](TObject*) { ++resolved; };
    engine.OnConnect = [&](TObject* sender) {
        EXPECT_EQ(sender, &engine);
        ++connected;
    };
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(engine.RemoteAddress.family, 2);
    EXPECT_EQ(engine.RemoteAddress.port, platform::Htons(server.Port()));
    EXPECT_EQ(engine.RemoteAddress.address, platform::InetAddr("127.0.0.1"));
    EXPECT_TRUE(server.WaitForConnections(1, 5000));

    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Already connected");
    EXPECT_TRUE(engine.Connected) << "the failed second Connect leaves the connection alone";
}

TEST(Connect, NameIsLookedUpAndReported) {
    ScriptedServer server(HoldOpen());
    TSocketEngine engine;
    int resolved = 0;
    engine.OnHostResolved = [&](TObject*) { ++resolved; };
    engine.Host = "localhost";
    engine.Port = server.Port();
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(engine.RemoteAddress.address, platform::InetAddr("127.0.0.1"));
}

TEST(Connect, ProxyIsUsedInsteadOfHostAndPort) {
    ScriptedServer server(HoldOpen());
    TSocketEngine engine;
    engine.Host = "origin.invalid";
    engine.Port = 1;
    engine.Proxy = "127.0.0.1";
    engine.ProxyPort = server.Port();
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
    EXPECT_TRUE(server.WaitForConnections(1, 5000));
    EXPECT_EQ(engine.Host, "origin.invalid");
    EXPECT_EQ(engine.Port, 1);
    EXPECT_EQ(engine.RemoteAddress.port, platform::Htons(server.Port()));
}

TEST(Connect, UnresolvableHostIsNullRemoteAddress) {
    TSocketEngine engine;
    engine.Host = "no-such-host.invalid";
    engine.Port = 80;
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Null Remote Address");
    EXPECT_FALSE(engine.Connected);
}

TEST(Connect, InvalidHostHandlerGetsOneRetry) {
    ScriptedServer server(HoldOpen());
    {
        TSocketEngine engine;
        int calls = 0;
        engine.OnInvalidHost = [&](bool& handled) {
            EXPECT_FALSE(handled);
            ++calls;
            engine.Host = "127.0.0.1";
            handled = true;
        };
        engine.Host = "no-such-host.invalid";
        engine.Port = server.Port();
        engine.Connect();
        EXPECT_TRUE(engine.Connected);
        EXPECT_EQ(calls, 1);
    }
    {
        TSocketEngine engine;
        int calls = 0;
        engine.OnInvalidHost = [&](bool& handled) {
            ++calls;
            handled = true;  // claims to have fixed it, but the host stays unresolvable
        };
        engine.Host = "still-no-such-host.invalid";
        engine.Port = server.Port();
        EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Null Remote Address");
        EXPECT_EQ(calls, 1);
    }
    {
        TSocketEngine engine;
        int calls = 0;
        engine.OnInvalidHost = [&](bool&) { ++calls; };  // not handled
        engine.Host = "no-such-host.invalid";
        EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Null Remote Address");
        EXPECT_EQ(calls, 1);
    }
}

TEST(Connect, RefusedFiresConnectionFailedThenRaises) {
    TSocketEngine engine;
    std::vector<std::string> order;
    engine.OnConnectionFailed = [&](TObject* sender) {
        EXPECT_EQ(sender, &engine);
        order.push_back("failed");
    };
    engine.Host = "127.0.0.1";
    engine.Port = ScriptedServer::UnusedPort();
    try {
        engine.Connect();
    } catch (const ESockError& e) {
        order.push_back(e.Message());
    }
    ASSERT_EQ(order, (std::vector<std::string>{"failed", "Connection Failed"}));
    EXPECT_FALSE(engine.Connected);
    EXPECT_FALSE(engine.LastNotifyOK);

    // The failed socket is given up by Disconnect; the fresh one connects.
    ScriptedServer server(HoldOpen());
    engine.Disconnect();
    engine.Port = server.Port();
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
}

TEST(Connect, CancelDuringTheWaitEndsItAndStaysSet) {
    ScriptedServer server(HoldOpen());
    TSocketEngine engine;
    engine.ReportLevel = 8;
    int failed = 0;
    engine.OnConnectionFailed = [&](TObject*) { ++failed; };
    // "Timer On" is reported right after the connect has been started, before the first wait
    // turn: a handler there is where a user's cancel would land.
    engine.OnStatus = [&](TObject*, const std::string& s) {
        if (s == "Timer On") engine.Cancel();
    };
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Connection Canceled");
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(engine.Canceled);

    engine.OnStatus = nullptr;
    engine.Disconnect();
    engine.Connect();
    EXPECT_FALSE(engine.Canceled) << "Connect starts by clearing it";
    EXPECT_TRUE(engine.Connected);
}

TEST(Connect, CancelledLookupThenDestroyedWhileTheLookupRuns) {
    // The engine gives the lookup up and is destroyed while the lookup may still be running on
    // its worker thread; its completion must touch nothing (checked under AddressSanitizer).
    for (int i = 0; i < 5; ++i) {
        auto engine = std::make_unique<TSocketEngine>();
        engine->ReportLevel = 8;
        engine->OnStatus = [&](TObject*, const std::string& s) {
            if (s == "Timer On") engine->Cancel();
        };
        engine->Host = "lookup-" + std::to_string(i) + ".invalid";
        EXPECT_EQ(MessageOf([&] { engine->Connect(); }), "Host Lookup Canceled");
        engine.reset();
    }
    // Let the given-up workers finish while their engines are gone.
    EXPECT_TRUE(PumpUntil([] { return platform::RunningHostLookupsForTesting() == 0; }, 30000));
}

TEST(Connect, WithoutNotificationsLookupAndConnectEndByTimeOut) {
    ScriptedServer server(HoldOpen());
    TSocketEngine engine;
    // Notifications that reach nobody: the engine sees neither the lookup's end nor the connect.
    engine.NotifyWindow = std::make_unique<platform::MessageTarget>([](const platform::Message&) {});
    engine.TimeOut = 500;
    engine.Host = "localhost";
    engine.Port = server.Port();
    int failed = 0;
    engine.OnConnectionFailed = [&](TObject*) { ++failed; };

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Host Lookup Timed Out");
    EXPECT_GE(enginetest::ElapsedMs(start), 450);
    EXPECT_LT(enginetest::ElapsedMs(start), 5000);
    EXPECT_EQ(failed, 0);

    engine.Host = "127.0.0.1";
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Connection Timed out");
    EXPECT_GE(enginetest::ElapsedMs(start), 450);
    EXPECT_LT(enginetest::ElapsedMs(start), 5000);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(engine.TimedOut);
    EXPECT_TRUE(engine.Canceled) << "stays set until the next Connect";
}

TEST(Connect, DisconnectGivesAFreshSocketThatConnectsAgain) {
    ScriptedServer server(std::vector<ScriptedServer::Script>{HoldOpen(), HoldOpen()});
    TSocketEngine engine;
    int disconnects = 0;
    engine.OnDisconnect = [&](TObject*) { ++disconnects; };
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.Connect();
    engine.Disconnect();
    EXPECT_FALSE(engine.Connected);
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(engine.SocketHandle, platform::kNoSocket);
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
    EXPECT_TRUE(server.WaitForConnections(2, 5000));
    engine.Disconnect();
    EXPECT_TRUE(server.WaitUntilFinished(2, 5000)) << "the server saw both connections close";
}

TEST(PeerClose, WithNothingUnreadClosesAndReplacesTheSocket) {
    ScriptedServer server(ScriptedServer::Script().Close());
    TSocketEngine engine;
    int disconnects = 0;
    engine.OnDisconnect = [&](TObject*) { ++disconnects; };
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.Connect();
    EXPECT_TRUE(PumpUntil([&] { return disconnects > 0; }, 5000));
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(engine.Connected);
    EXPECT_NE(engine.SocketHandle, platform::kNoSocket);
}

TEST(PeerClose, WithUnreadDataWaitsForTheReader) {
    ScriptedServer server(ScriptedServer::Script().Send("left over\r\n").Close());
    TSocketEngine engine;
    int disconnects = 0;
    engine.OnDisconnect = [&](TObject*) { ++disconnects; };
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.Connect();
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    PumpFor(200);
    EXPECT_EQ(disconnects, 0);
    EXPECT_TRUE(engine.Connected);
    EXPECT_TRUE(engine.DataAvailable());

    EXPECT_EQ(engine.ReadLn(), "left over\r\n");
    EXPECT_EQ(engine.ReadLn(), "");
    EXPECT_TRUE(PumpUntil([&] { return disconnects > 0; }, 5000));
    EXPECT_FALSE(engine.Connected);
}

TEST(StatusMessage, ReportLevelFiltersTheTexts) {
    auto run = [](int level, std::string* last) {
        ScriptedServer server(ScriptedServer::Script().ReadUntil("\r\n").Send("250 OK\r\n").ReadUntilClosed());
        TSocketEngine engine;
        engine.ReportLevel = level;
        enginetest::StatusLog log;
        log.Attach(engine);
        engine.Host = "127.0.0.1";
        engine.Port = server.Port();
        engine.Connect();
        std::string reply;
        engine.Transaction("HELO", reply);
        engine.Disconnect();
        if (last) *last = engine.LastStatus;
        return log.texts;
    };

    std::string last;
    EXPECT_EQ(run(0, &last), std::vector<std::string>{});
    EXPECT_EQ(last, "");

    EXPECT_EQ(run(4, &last), (std::vector<std::string>{"Sending Buffer", "250 OK\r\n",
                                                       "Request Close Socket"}));
    EXPECT_EQ(last, "Request Close Socket");

    const std::vector<std::string> all = run(8, nullptr);
    const std::vector<std::string> expected = {
        "Connecting", "Resolve Host", "Timer On", "Timer Off",           // Connect
        "Transaction", "Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off",
        "ReadLn", "Timer On", "Timer Off", "250 OK\r\n",                 // Transaction
        "Disconnecting", "Request Close Socket"};
    EXPECT_EQ(all, expected);
}

TEST(StatusMessage, RaisingHandlerIsSwallowed) {
    TSocketEngine engine;
    engine.ReportLevel = 8;
    int calls = 0;
    engine.OnStatus = [&](TObject*, const std::string&) {
        ++calls;
        throw Exception("status handler failed");
    };
    EXPECT_NO_THROW(engine.Cancel());
    EXPECT_NO_THROW(engine.Disconnect());
    EXPECT_GE(calls, 3);
    EXPECT_EQ(engine.LastStatus, "Request Close Socket");
}

TEST(SocketService, StartsOnceAndStopsWithTheLastEngine) {
    ASSERT_EQ(TSocketEngine::StartupCount(), 0);
    const int usersBefore = platform::SocketServiceUsers();
    {
        auto first = std::make_unique<TSocketEngine>();
        auto second = std::make_unique<TSocketEngine>();
        EXPECT_EQ(TSocketEngine::StartupCount(), 2);
        EXPECT_EQ(platform::SocketServiceUsers(), usersBefore + 1);

        ASSERT_EQ(first->WinsockInfo.Count(), 6);
        const std::vector<std::string> prefixes = {"Version= ", "High Version= ", "Description= ",
                                                   "System= ", "Max Sockets= ", "Max Udp pack size= "};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(first->WinsockInfo[i].rfind(prefixes[i], 0), 0u) << first->WinsockInfo[i];
        }
        EXPECT_EQ(first->WinsockInfo[0], "Version= 1.1");
        EXPECT_EQ(second->WinsockInfo.Count(), 0);

        first.reset();
        EXPECT_EQ(platform::SocketServiceUsers(), usersBefore + 1) << "the second still uses it";
        second.reset();
        EXPECT_EQ(platform::SocketServiceUsers(), usersBefore);
    }
    EXPECT_EQ(TSocketEngine::StartupCount(), 0);
}

TEST(SocketService, FailedStartUpFailsConstruction) {
    ASSERT_EQ(TSocketEngine::StartupCount(), 0);
    platform::FailSocketStartupForTesting(true);
    EXPECT_EQ(MessageOf([] { TSocketEngine engine; }), "Initializaton of windows sockets failed");
    platform::FailSocketStartupForTesting(false);
    EXPECT_EQ(TSocketEngine::StartupCount(), 0);
    TSocketEngine engine;
    EXPECT_EQ(TSocketEngine::StartupCount(), 1);
    EXPECT_EQ(engine.WinsockInfo.Count(), 6);
}

TEST(Notifications, RoutedByNumberToTheirOwnEngine) {
    TSocketEngine first, second;
    auto post = [](TSocketEngine& e, unsigned msg, uintptr_t w, unsigned event, unsigned error) {
        platform::PostMessage(e.NotifyWindow->Id(), msg, w, platform::MakeLParam(event, error));
    };

    first.LastNotifyOK = true;
    second.LastNotifyOK = true;
    post(first, 1124, 0, 0, 10061);  // below the engine's numbers: default handling only
    platform::ProcessMessages();
    EXPECT_TRUE(first.LastNotifyOK);

    post(first, 1127, 0, 0, 10061);  // an unknown number still updates LastNotifyOK
    platform::ProcessMessages();
    EXPECT_FALSE(first.LastNotifyOK);
    EXPECT_TRUE(second.LastNotifyOK);

    second.WaitDone = false;
    first.WaitDone = false;
    platform::AsyncGetHostByName(second.NotifyWindow->Id(), platform::kLookupDoneMessage, "127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return second.WaitDone; }, 30000));
    EXPECT_FALSE(first.WaitDone);
    EXPECT_EQ(second.LookupAddress, 0x0100007Fu);
    EXPECT_FALSE(first.WaitDone && first.LookupAddress == 0x0100007Fu);

    int arrived = 0;
    first.OnDataArrived = [&](TObject*) {
        ++arrived;
        throw Exception("handler failed");  // swallowed by the notification handling
    };
    post(first, platform::kSocketEventMessage, 0, platform::kFdRead, 0);
    EXPECT_NO_THROW(platform::ProcessMessages());
    EXPECT_EQ(arrived, 1);
    EXPECT_TRUE(first.LastNotifyOK);
}

}  // namespace
}  // namespace qvl
