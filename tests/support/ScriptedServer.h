#pragma once
// A TCP server on 127.0.0.1 for tests, scripted byte by byte. It listens on a free port as soon
// as it is constructed, accepts connections one at a time on its own thread, and runs a script
// of steps for each: read until a byte sequence or a number of bytes, send bytes (whole or in
// random-size pieces), wait until the test releases it, close normally or reset. Everything a
// connection receives is recorded. Every wait inside is bounded; the destructor stops the
// thread and joins it.
//
//   ScriptedServer server(ScriptedServer::Script()
//                             .ReadUntil("\r\n\r\n")
//                             .SendInPieces("HTTP/1.0 200 OK\r\n\r\nhello", 7, /*seed*/ 1)
//                             .Close());
//   ... connect to 127.0.0.1:server.Port() ...
//   ASSERT_TRUE(server.WaitUntilFinished(1, 5000));
//   EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n\r\n");
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvl::test {

class ScriptedServer {
public:
    class Script {
    public:
        // Reads until `delimiter` has been received (it and everything before it is consumed;
        // bytes after it stay for the next read step).
        Script& ReadUntil(std::string delimiter);
        // Reads exactly `count` bytes.
        Script& ReadBytes(size_t count);
        // Reads until the client closes its side (or resets).
        Script& ReadUntilClosed();
        // Sends `bytes` in one go.
        Script& Send(std::string bytes);
        // Sends `bytes` in pieces of random size 1..maxPiece (a generator seeded with `seed`, so
        // a failing split can be replayed), pausing about a millisecond between pieces so that
        // the client sees them as separate packets.
        Script& SendInPieces(std::string bytes, size_t maxPiece, uint32_t seed);
        // Waits until the test calls Release() (bounded by the server's step time-out).
        Script& WaitForRelease();
        // Closes normally: sends FIN, then takes whatever the client still sends until it closes
        // too (bounded), so that unread bytes never turn the close into a reset.
        Script& Close();
        // Resets the connection (linger on with time 0, then close).
        Script& Reset();

    private:
        friend class ScriptedServer;
        enum class Kind { ReadUntil, ReadBytes, ReadUntilClosed, Send, SendInPieces, WaitForRelease, Close, Reset };
        struct Step {
            Kind kind;
            std::string bytes;
            size_t count = 0;
            uint32_t seed = 0;
        };
        std::vector<Step> steps_;
    };

    // Connection i runs scripts[i]; connections beyond the last script run the last one again.
    // A script that does not end with Close or Reset is closed normally at its end.
    explicit ScriptedServer(Script script);
    explicit ScriptedServer(std::vector<Script> scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // The listening port (host byte order).
    uint16_t Port() const { return port_; }

    // Number of connections accepted so far / whose script has finished (or failed; a normal
    // close counts as finished once its FIN is sent).
    size_t ConnectionCount() const;
    size_t FinishedCount() const;
    // Everything connection `index` received so far (empty for an unknown index).
    std::string Received(size_t index) const;
    // Problems met while running scripts ("connection 0: client closed before ..."); empty when
    // every step went as written.
    std::vector<std::string> Errors() const;

    // Lets one WaitForRelease step go on (also one that is reached later).
    void Release();

    // Bounded waits for the test: true when the count was reached in time.
    bool WaitForConnections(size_t count, int timeoutMs) const;
    bool WaitUntilFinished(size_t count, int timeoutMs) const;

    // How long one step may wait for the client before the script is given up (default 10 s).
    void SetStepTimeout(int ms) { stepTimeoutMs_ = ms; }

    // A port on 127.0.0.1 where nothing listens (for refused connects), in host byte order.
    static uint16_t UnusedPort();

private:
    struct Connection {
        std::string received;
        bool finished = false;
    };

    void Run();
    void RunScript(int fd, size_t index, const Script& script);
    // Reads what is available into `pending` (and the record); false on close, error, time-out
    // or stop, with `why` saying which.
    bool ReadMore(int fd, size_t index, std::string& pending, std::string& why);
    bool SendAll(int fd, const char* data, size_t len, std::string& why);
    void Fail(size_t index, const std::string& what);
    void MarkFinished(size_t index);

    std::vector<Script> scripts_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> stepTimeoutMs_{10000};
    std::atomic<bool> stop_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Connection> connections_;
    std::vector<std::string> errors_;
    unsigned releases_ = 0;

    std::thread thread_;
};

}  // namespace qvl::test
