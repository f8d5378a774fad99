// Connecting by IPv6 literal, by a name with several addresses, and to nginx listening on [::1]
// only: every address of the lookup is tried in turn, on a socket of its family, and nothing of
// an attempt that failed reaches the next one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "net/socket/SocketEngine.h"
#include "platform/HostLookup.h"
#include "platform/Sockets.h"
#include "support/Loopback.h"
#include "support/ScriptedServer.h"
#ifndef _WIN32
#include "support/NginxFixture.h"  // nginx runs on Linux
#endif

namespace qvl {
namespace {

using enginetest::MessageOf;
using enginetest::PumpFor;
using test::ScriptedServer;

platform::SocketAddress Ipv6Loopback() {
    platform::SocketAddress a;
    a.family = platform::kAfInet6;
    a.bytes[15] = 1;
    return a;
}

platform::SocketAddress V4(const char* dotted) { return platform::Ipv4Address(platform::InetAddr(dotted)); }

// A lookup answer for a test name, removed again at the end of the test.
struct TestAnswer {
    std::string name;
    TestAnswer(std::string n, const std::vector<platform::SocketAddress>& addresses) : name(std::move(n)) {
        platform::SetHostLookupAnswerForTesting(name, addresses);
    }
    ~TestAnswer() { platform::SetHostLookupAnswerForTesting(name, {}); }
};

#ifndef _WIN32
// Connects, asks nginx for `path` and returns the whole reply.
std::string Fetch(TSocketEngine& engine, const std::string& path) {
    engine.Connect();
    engine.Write("GET " + path + " HTTP/1.0\r\n\r\n");
    std::string reply;
    engine.CaptureString(reply, -1);
    return reply;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

using test::NginxFixture;

#define SKIP_WITHOUT_IPV6_NGINX()                                                              \
    do {                                                                                       \
        if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)"; \
        if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";              \
    } while (0)

NginxFixture::Options Ipv6Only() {
    NginxFixture::Options options;
    options.ipv6Only = true;
    return options;
}

TEST(Ipv6, NginxOnIpv6LoopbackOnlyIsReachedByLiteralAndByName) {
    SKIP_WITHOUT_IPV6_NGINX();
    NginxFixture nginx(Ipv6Only());
    nginx.WriteFile("six.txt", "over IPv6\n");
    ASSERT_FALSE(test::CanConnectLoopback(nginx.Port())) << "nginx must not listen on 127.0.0.1 too";

    // By literal (no lookup), and by a name whose lookup answers ::1 only (the same lookup
    // path as any name's).
    TestAnswer answer("six.test", {Ipv6Loopback()});
    for (const std::string host : {"::1", "six.test"}) {
        SCOPED_TRACE(host);
        TSocketEngine engine;
        int resolved = 0;
        engine.OnHostResolved = [&](TObject*) { ++resolved; };
        engine.Host = host;
        engine.Port = nginx.Port();
        engine.TimeOut = 10000;
        EXPECT_TRUE(EndsWith(Fetch(engine, "/six.txt"), "\r\n\r\nover IPv6\n"));
        EXPECT_EQ(resolved, host == "::1" ? 0 : 1);
        EXPECT_EQ(engine.RemoteAddresses, std::vector<platform::SocketAddress>{Ipv6Loopback()});
        EXPECT_EQ(engine.RemoteAddress.family, platform::kAfInet6);
        EXPECT_EQ(engine.RemoteAddress.port, platform::Htons(nginx.Port()));
        EXPECT_EQ(engine.RemoteAddress.address, 0u) << "no IPv4 address to show";
        EXPECT_EQ(std::memcmp(engine.RemoteAddress.address6, Ipv6Loopback().bytes, 16), 0);
    }
    EXPECT_EQ(nginx.Requests(2).size(), 2u);
}

TEST(Ipv6, LocalhostReachesNginxOnIpv6LoopbackWhenTheHostsFileSaysSo) {
    SKIP_WITHOUT_IPV6_NGINX();
    TSocketEngine probe;
    probe.Host = "localhost";
    probe.ResolveHost();
    bool hasIpv6 = false;
    for (const auto& a : probe.RemoteAddresses) hasIpv6 = hasIpv6 || a == Ipv6Loopback();
    if (!hasIpv6) GTEST_SKIP() << "this machine's hosts file maps localhost to no IPv6 address";
    NginxFixture nginx(Ipv6Only());
    nginx.WriteFile("six.txt", "over IPv6\n");
    TSocketEngine engine;
    engine.Host = "localhost";
    engine.Port = nginx.Port();
    engine.TimeOut = 10000;
    EXPECT_TRUE(EndsWith(Fetch(engine, "/six.txt"), "\r\n\r\nover IPv6\n"));
}
#endif  // _WIN32

TEST(Connect, ARefusingFirstAddressMovesOnToTheNextUnderOneTimeOut) {
    ScriptedServer server(ScriptedServer::Script().ReadUntilClosed());
    // Nothing listens on 127.0.0.2 at the server's port: refused. Where the host has IPv6,
    // ::1 (refused too) comes first, so the socket changes family twice.
    std::vector<platform::SocketAddress> addresses{V4("127.0.0.2"), V4("127.0.0.1")};
    if (test::HasIpv6Loopback()) addresses.insert(addresses.begin(), Ipv6Loopback());
    TestAnswer answer("dual.test", addresses);

    TSocketEngine engine;
    enginetest::StatusLog log;
    log.Attach(engine);
    engine.ReportLevel = 8;
    int connects = 0, failures = 0;
    engine.OnConnect = [&](TObject*) { ++connects; };
    engine.OnConnectionFailed = [&](TObject*) { ++failures; };
    engine.Host = "dual.test";
    engine.Port = server.Port();
    engine.TimeOut = 10000;
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(engine.RemoteAddresses, addresses);
    EXPECT_EQ(engine.RemoteAddress.family, platform::kAfInet);
    EXPECT_EQ(engine.RemoteAddress.address, platform::InetAddr("127.0.0.1"));
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    // One time-out for the lookup, one for all the connect attempts.
    EXPECT_EQ(std::count(log.texts.begin(), log.texts.end(), "Timer On"), 2);

    // The refused attempts' sockets are gone with whatever they still had queued: nothing
    // reaches the connected engine.
    PumpFor(50);
    EXPECT_TRUE(engine.LastNotifyOK);
    EXPECT_TRUE(engine.Connected);

    // The connection works, and a disconnect gives a fresh socket for the next connect.
    engine.Writeln("hello");
    engine.Disconnect();
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    EXPECT_EQ(server.Received(0), "hello\r\n");
    EXPECT_NE(engine.SocketHandle, platform::kNoSocket);
}

TEST(Connect, WhenEveryAddressRefusesTheConnectFailsOnce) {
    const uint16_t port = ScriptedServer::UnusedPort();
    std::vector<platform::SocketAddress> addresses{V4("127.0.0.2"), V4("127.0.0.1")};
    if (test::HasIpv6Loopback()) addresses.push_back(Ipv6Loopback());
    TestAnswer answer("refused.test", addresses);
    TSocketEngine engine;
    int failures = 0;
    engine.OnConnectionFailed = [&](TObject*) { ++failures; };
    engine.Host = "refused.test";
    engine.Port = port;
    engine.TimeOut = 10000;
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Connection Failed");
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(engine.Connected);
    EXPECT_FALSE(engine.TimedOut);
    EXPECT_EQ(engine.RemoteAddress.family, addresses.back().family) << "the last one was tried";

    // The failed socket is replaced as after any failed connect, and the engine connects again.
    engine.Disconnect();
    ScriptedServer server(ScriptedServer::Script().ReadUntilClosed());
    engine.Host = "127.0.0.1";
    engine.Port = server.Port();
    engine.Connect();
    EXPECT_TRUE(engine.Connected);
}

TEST(Connect, ACancelDuringTheAttemptsEndsThemAll) {
    // Cancelled before the first attempt has an outcome: no further address is tried.
    ScriptedServer server(ScriptedServer::Script().ReadUntilClosed());
    TestAnswer answer("cancel.test", {V4("127.0.0.2"), V4("127.0.0.1")});
    TSocketEngine engine;
    engine.Host = "cancel.test";
    engine.Port = server.Port();
    engine.OnHostResolved = [&](TObject*) { engine.Cancel(); };
    EXPECT_EQ(MessageOf([&] { engine.Connect(); }), "Connection Canceled");
    EXPECT_FALSE(engine.Connected);
    EXPECT_EQ(engine.RemoteAddress.address, platform::InetAddr("127.0.0.2"));
    PumpFor(50);
    EXPECT_EQ(server.ConnectionCount(), 0u);
}

}  // namespace
}  // namespace qvl
