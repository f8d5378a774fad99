#pragma once
// Shared pieces of the HTTP client tests: a client wired to record its events, a scratch
// folder, and the bytes of a plain request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "net/http/HttpClient.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace qvl::httptest {

using qvl::test::ScriptedServer;

// A scratch folder below the system's temporary folder, removed with its content.
class ScratchDir {
public:
    std::string File(const std::string& name) const { return (dir_ / name).string(); }

private:
    test::TempDir dir_{"qvl-http"};
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Reads the request, sends `reply` (in random pieces when maxPiece > 0) and closes.
inline ScriptedServer::Script Reply(const std::string& reply, size_t maxPiece = 0, uint32_t seed = 1) {
    ScriptedServer::Script s;
    s.ReadUntil("\r\n\r\n");
    if (maxPiece) s.SendInPieces(reply, maxPiece, seed);
    else s.Send(reply);
    s.Close();
    return s;
}

inline std::string UrlOf(const ScriptedServer& server, const std::string& path = "/") {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

// The Host value of a request to the server: the port is not 80, so it is named.
inline std::string HostOf(const ScriptedServer& server) {
    return "127.0.0.1:" + std::to_string(server.Port());
}

// The fixed lines every request carries after its Host line.
inline const std::string kAcceptLines =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
inline const std::string kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// The request of a command without body or extra headers, as it must appear on the wire.
inline std::string PlainRequest(const std::string& method, const std::string& target,
                                const std::string& host) {
    return method + " " + target + " HTTP/1.0\r\nHost: " + host + "\r\n" + kAcceptLines +
           kContentType + "\r\n";
}

// The client with the cycle's own Disconnect step recorded (the engine may also see the peer's
// close by itself, which is not the cycle's doing).
class RecordingClient : public THttpClient {
public:
    std::function<void()> OnDisconnectStep;
    void Disconnect() override {
        if (OnDisconnectStep) OnDisconnectStep();
        THttpClient::Disconnect();
    }
};

// A client whose events are written into `events` as short words; consecutive body chunks
// appear once as "packets".
class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = std::make_unique<RecordingClient>();
        // Bounds every wait of a command that goes wrong; the transfers here are small.
        client->TimeOut = 10000;
        client->ReportLevel = 2;
        client->OnAboutToSend = [this](TObject* s) {
            EXPECT_EQ(s, client.get());
            events.push_back("about-to-send");
        };
        client->OnConnect = [this](TObject*) { events.push_back("connect"); };
        client->OnDisconnectStep = [this] { events.push_back("disconnect"); };
        client->OnPacketRecvd = [this](TObject*) {
            ++packets;
            if (events.empty() || events.back() != "packets") events.push_back("packets");
        };
        client->OnPacketSent = [this](TObject*) { ++packetsSent; };
        client->OnSuccess = [this](CmdType cmd) { events.push_back("success " + std::to_string(cmd)); };
        client->OnFailure = [this](CmdType cmd) { events.push_back("failure " + std::to_string(cmd)); };
        client->OnRedirect = [this](bool& handled) {
            EXPECT_FALSE(handled);
            events.push_back("redirect");
            handled = handleRedirect;
        };
        client->OnAuthenticationNeeded = [this](TObject*) { events.push_back("authentication"); };
        client->OnStatus = [this](TObject*, const std::string& text) { events.push_back("status " + text); };
    }

    void TearDown() override { client.reset(); }

    // The next commands write the reply body into the file at `path`.
    void BodyInto(const std::string& path) {
        client->InputFileMode = true;
        client->Body = path;
    }

    // Waits for the server's scripts and checks that each went as written.
    void ExpectFinished(ScriptedServer& server, size_t connections) {
        EXPECT_TRUE(server.WaitUntilFinished(connections, 10000));
        EXPECT_EQ(server.ConnectionCount(), connections);
        for (const auto& e : server.Errors()) ADD_FAILURE() << "server: " << e;
    }

    std::string Events() const {
        std::string all;
        for (const auto& e : events) all += (all.empty() ? "" : ", ") + e;
        return all;
    }

    std::unique_ptr<RecordingClient> client;
    std::vector<std::string> events;
    int packets = 0;
    int packetsSent = 0;
    bool handleRedirect = false;
};

}  // namespace qvl::httptest
