// IPv6 at the platform's socket interface: literals and their text, and a connect, accept and
// exchange over ::1 with the same notifications as over IPv4.
#include <gtest/gtest.h>

#include <string>

#include "platform/MessageTarget.h"
#include "platform/Sockets.h"
#include "support/Loopback.h"
#include "support/PumpUntil.h"

using namespace qvl::platform;
using qvl::test::PumpUntil;

namespace {

struct Service {
    Service() { StartupSockets(0x0101, nullptr); }
    ~Service() { CleanupSockets(); }
};

}  // namespace

TEST(SocketAddresses, Ipv6LiteralsAndTheirText) {
    SocketAddress a;
    ASSERT_TRUE(ParseIpv6Literal("::1", &a));
    EXPECT_EQ(a.family, kAfInet6);
    EXPECT_EQ(a.port, 0);
    EXPECT_EQ(a.bytes[15], 1);
    EXPECT_EQ(AddressText(a), "::1");
    ASSERT_TRUE(ParseIpv6Literal("2001:DB8::A:1", &a));
    EXPECT_EQ(AddressText(a), "2001:db8::a:1");
    // Brackets belong to URLs, not to the address; a dotted or empty text is no IPv6 literal.
    for (const char* text : {"[::1]", "127.0.0.1", "", "localhost", "::1::2", "1:2:3:4:5:6:7:8:9"})
        EXPECT_FALSE(ParseIpv6Literal(text, nullptr)) << text;

    EXPECT_EQ(AddressText(Ipv4Address(InetAddr("192.0.2.7"), Htons(80))), "192.0.2.7");
    EXPECT_EQ(Ipv4Of(Ipv4Address(InetAddr("192.0.2.7"))), InetAddr("192.0.2.7"));
    EXPECT_EQ(Ipv4Of(a), 0u) << "an IPv6 address has no IPv4 form";
    EXPECT_EQ(AddressText(SocketAddress{}), "");
}

TEST(Ipv6Sockets, ConnectAcceptAndExchangeOverIpv6Loopback) {
    if (!qvl::test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    Service service;
    unsigned listenerEvents = 0, clientEvents = 0;
    int clientError = -1;
    MessageTarget target([&](const Message& m) {
        if (LoWord(m.lParam) == kFdAccept) ++listenerEvents;
        if (LoWord(m.lParam) == kFdConnect) {
            ++clientEvents;
            clientError = static_cast<int>(HiWord(m.lParam));
        }
    });
    SocketAddress loopback;
    ASSERT_TRUE(ParseIpv6Literal("::1", &loopback));

    const int listener = CreateSocket(6, kAfInet6);
    ASSERT_NE(listener, kNoSocket);
    ASSERT_EQ(AsyncSelect(listener, target.Id(), kSocketEventMessage, kEngineEventMask), 0);
    ASSERT_EQ(ListenSocket(listener, loopback, 4), 0);
    const int port = LocalPortOf(listener);
    ASSERT_GT(port, 0);
    EXPECT_FALSE(qvl::test::CanConnectLoopback(static_cast<uint16_t>(port))) << "IPv6 only";

    const int client = CreateSocket(0, kAfInet6);
    ASSERT_NE(client, kNoSocket);
    ASSERT_EQ(AsyncSelect(client, target.Id(), kSocketEventMessage, kEngineEventMask), 0);
    SocketAddress to = loopback;
    to.port = Htons(static_cast<uint16_t>(port));
    const int r = ConnectSocket(client, to);
    EXPECT_TRUE(r == 0 || LastSocketError() == kWsaEWouldBlock) << LastSocketError();
    ASSERT_TRUE(PumpUntil([&] { return clientEvents == 1 && listenerEvents == 1; }, 10000));
    EXPECT_EQ(clientError, 0);

    SocketAddress peer;
    const int accepted = AcceptSocket(listener, &peer);
    ASSERT_NE(accepted, kNoSocket);
    EXPECT_EQ(peer.family, kAfInet6);
    EXPECT_EQ(AddressText(peer), "::1");
    EXPECT_NE(peer.port, 0);
    ASSERT_EQ(SendSocket(client, "six", 3), 3);
    char buffer[8] = {};
    ASSERT_TRUE(PumpUntil([&] { return RecvSocket(accepted, buffer, sizeof buffer, kMsgPeek) == 3; }, 10000));
    EXPECT_EQ(std::string(buffer, 3), "six");

    // An IPv4 socket cannot reach an IPv6 address: a plain error, no crash, no event.
    const int v4 = CreateSocket(0);
    EXPECT_NE(ConnectSocket(v4, to), 0);
    EXPECT_NE(LastSocketError(), kWsaEWouldBlock);
    for (int fd : {v4, accepted, client, listener}) CloseSocket(fd);
}
