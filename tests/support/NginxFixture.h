#pragma once
// A real nginx on a free port of 127.0.0.1, serving the files of a temporary folder that the
// test fills. It answers HTTP/1.0 GETs of static files with a Content-Length and closes the
// connection, as the download server does. Started in the constructor, stopped in the
// destructor (or by Stop(), to play a server that went away).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DaemonFixture.h"

namespace qvl::test {

class NginxFixture : public DaemonFixture {
public:
    // location = <path> { return <code>; }: e.g. a 404 or a 500 for a file that exists.
    struct StatusReply {
        std::string path;
        int code = 404;
    };
    // location = <from> { return <code> <to>; }. A `to` that starts with "/" becomes an
    // absolute URL on this server ("http://127.0.0.1:PORT/to"), as nginx writes it; anything
    // else ("http://...", or a relative reference) is sent as it stands.
    struct Redirect {
        std::string from;
        int code = 302;
        std::string to;
    };
    struct Options {
        std::vector<StatusReply> statusReplies;
        std::vector<Redirect> redirects;
        // When non-zero, every file is also served below /slow/ at this many bytes per second
        // (after the first slowAfterBytes bytes at full speed): a body that trickles in.
        size_t slowBytesPerSecond = 0;
        size_t slowAfterBytes = 0;
        // Loads nginx's echo module (when installed) so that extraServerConfig can script
        // bodies, e.g. `location = /stall { echo_duplicate 1000 "x"; echo_flush; echo_sleep 10; }`.
        bool echoModule = false;
        // Appended inside the server block as it stands.
        std::string extraServerConfig;
        // Listen on [::1] only (not on 127.0.0.1); URLs then read "http://[::1]:PORT/". Check
        // HasIpv6Loopback() first.
        bool ipv6Only = false;
        // Tried as the port before a free one is picked (a test of the clash handling).
        uint16_t firstPort = 0;
        std::chrono::milliseconds startTimeout = std::chrono::seconds(15);
    };

    struct LoggedRequest {
        int status = 0;
        long long bytesSent = 0;   // body bytes
        std::string requestLine;   // "GET /qvlloader.exe HTTP/1.0"
    };

    // Throws std::runtime_error (with nginx's error log) when nginx cannot be started.
    NginxFixture();
    explicit NginxFixture(Options options);

    static bool Available();               // /usr/sbin/nginx can be run
    static bool EchoModuleAvailable();

    std::string BaseUrl() const;           // "http://127.0.0.1:PORT/" ("http://[::1]:PORT/")
    std::string Url(std::string_view name) const;  // BaseUrl() + name
    // The served folder; URL path "/a/b" is Root()/"a/b".
    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path WriteFile(const std::string& name, std::string_view bytes) const;
    // A file of `size` bytes made from a fixed pseudo-random sequence (sparse-free, every byte
    // counts), written in pieces so that big files do not need big memory.
    std::filesystem::path WriteGeneratedFile(const std::string& name, uint64_t size, uint32_t seed = 1) const;

    // Requests that nginx has finished, in order. nginx logs a request only after it has sent
    // the reply, and a client that stops at Content-Length may be done before that: a test that
    // counts requests right after its client returned asks for the count it expects, which waits
    // (at most 10 s) until that many are logged and then returns what is there.
    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedRequest> Requests(size_t atLeast) const;
    std::string AccessLog() const;
    std::string ErrorLog() const;
    // Stop() stops nginx now (SIGTERM, at most `grace` to finish, SIGKILL); the port then refuses
    // connections. With a grace of 0 a reply in progress is cut off where it stands: the client
    // sees the connection close before the announced Content-Length.

private:
    std::string Config(uint16_t port) const;
    std::string Authority(uint16_t port) const;  // "127.0.0.1:PORT" or "[::1]:PORT"

    Options options_;
    std::filesystem::path root_;
};

// The bytes WriteGeneratedFile writes: the same (size, seed) always gives the same content.
std::string GeneratedBytes(uint64_t size, uint32_t seed = 1);

}  // namespace qvl::test
