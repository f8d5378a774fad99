// The scripted server is what every network test stands on, so its own promises are checked
// here with plain blocking sockets: bytes arrive exactly as scripted, whatever the split, the
// record holds what the client sent, and reset and release do what they say.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "support/ScriptedServer.h"

using qvl::test::ScriptedServer;

namespace {

// A blocking client socket connected to 127.0.0.1:port with a receive time-out, so no read in
// these tests can hang.
class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Connected() const { return connected_; }
    void Send(const std::string& s) { ASSERT_EQ(::send(fd_, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size())); }
    // Reads until the server closes; `error` gets errno of a failed read (0 on a clean close).
    std::string ReadAll(int* error = nullptr) {
        std::string out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) { out.append(buf, size_t(n)); continue; }
            if (error) *error = n == 0 ? 0 : errno;
            return out;
        }
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace

TEST(ScriptedServer, RunsTheScriptAndRecordsWhatItReceived) {
    const std::string reply(5000, 'x');
    ScriptedServer server(ScriptedServer::Script()
                              .ReadUntil("\r\n\r\n")
                              .ReadBytes(3)
                              .SendInPieces(reply, 100, 42)
                              .Close());
    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    client.Send("GET / HTTP/1.0\r\n\r\nabc");
    int error = -1;
    EXPECT_EQ(client.ReadAll(&error), reply);
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n\r\nabc");
    EXPECT_TRUE(server.Errors().empty());
}

TEST(ScriptedServer, ConnectionsRunTheirOwnScriptsAndTheLastRepeats) {
    ScriptedServer server({ScriptedServer::Script().Send("one").Close(), ScriptedServer::Script().Send("two").Close()});
    for (const char* expected : {"one", "two", "two"}) {
        Client client(server.Port());
        ASSERT_TRUE(client.Connected());
        EXPECT_EQ(client.ReadAll(), expected);
    }
    EXPECT_TRUE(server.WaitForConnections(3, 5000));
    EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(ScriptedServer, ResetAndRelease) {
    ScriptedServer server(ScriptedServer::Script().WaitForRelease().Send("go").ReadBytes(1).Reset());
    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    // Nothing comes before the release.
    pollfd p{client.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 50), 0);
    server.Release();
    char buf[2];
    ASSERT_EQ(::recv(client.fd(), buf, 2, MSG_WAITALL), 2);
    EXPECT_EQ(std::string(buf, 2), "go");
    client.Send("!");
    int error = 0;
    client.ReadAll(&error);
    EXPECT_EQ(error, ECONNRESET);
}

TEST(ScriptedServer, ReportsAClientThatLeavesEarly) {
    ScriptedServer server(ScriptedServer::Script().ReadBytes(10).Send("late"));
    {
        Client client(server.Port());
        ASSERT_TRUE(client.Connected());
        client.Send("short");
    }
    ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
    ASSERT_EQ(server.Errors().size(), 1u);
    EXPECT_NE(server.Errors()[0].find("client closed"), std::string::npos);
    EXPECT_EQ(server.Received(0), "short");
}

TEST(ScriptedServer, UnusedPortRefuses) {
    Client client(ScriptedServer::UnusedPort());
    EXPECT_FALSE(client.Connected());
}

#else
QVL_TESTS_SKIPPED_HERE(ScriptedServer, "the helper's own test speaks to it through POSIX sockets")
#endif
