// How the client reads replies and runs its cycle against a scripted loopback server.
#include <algorithm>
#include "HttpTestSupport.h"

using namespace qvl;
using namespace qvl::httptest;

namespace {

using Script = ScriptedServer::Script;

template <class E, class F>
std::string MessageOf(F&& run) {
    try {
        run();
    } catch (const E& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::string("wrong exception: ") + e.what();
    }
    return "no exception";
}

}  // namespace

TEST_F(HttpClientTest, SuccessRunsItsEventsInOrderOnOneConnection) {
    const std::string header = "HTTP/1.0 200 OK\r\nServer: test\r\nContent-Length: 11\r\n\r\n";
    ScriptedServer server(Reply(header + "hello world"));
    client->Get(UrlOf(server, "/f"));
    ExpectFinished(server, 1);
    EXPECT_EQ(Events(),
              "about-to-send, connect, packets, success 0, status Transaction Completed, disconnect");
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->Header, header);
    EXPECT_EQ(client->Body, "hello world");
    EXPECT_EQ(client->BytesTotal, 11);
    EXPECT_EQ(client->BytesRecvd, 11);
    EXPECT_EQ(client->LastReply, "HTTP/1.0 200 OK\r\n");
    EXPECT_FALSE(client->Connected);
}

TEST_F(HttpClientTest, RepliesInRandomPiecesReadTheSame) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += static_cast<char>('a' + i % 26);
    body += "\r\n\r\nHTTP/1.0 500 not a header\r\n";  // body bytes that look like protocol
    const std::string header =
        "HTTP/1.1 200 OK\r\n"
        "Set-Cookie: first=1\r\n"
        "location: http://example.test/moved\r\n"
        "CONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n"
        "Set-Cookie: second=2; Path=/; HttpOnly\r\n"
        "X-Empty:\r\n"
        "\r\n";
    ScratchDir dir;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const size_t maxPiece = seed % 2 ? 7 : 300;
        ScriptedServer server(Reply(header + body, maxPiece, seed));
        client->InputFileMode = seed > 3;
        client->Body = client->InputFileMode ? dir.File("body.bin") : "";
        client->Get(UrlOf(server, "/p"));
        ExpectFinished(server, 1);
        EXPECT_EQ(client->ReplyCode, 200);
        EXPECT_EQ(client->Header, header);
        EXPECT_EQ(client->InputFileMode ? ReadFile(dir.File("body.bin")) : client->Body, body);
        EXPECT_EQ(client->BytesTotal, static_cast<int64_t>(body.size()));
        EXPECT_EQ(client->BytesRecvd, static_cast<int64_t>(body.size()));
        EXPECT_EQ(client->SetCookieValue, "second=2; Path=/; HttpOnly");
        EXPECT_EQ(client->LocationValue, "http://example.test/moved");
    }
}

TEST_F(HttpClientTest, HeaderValuesAsTheyAreRecognised) {
    // Blanks round the value are optional; nothing beyond the Content-Length is kept.
    const struct {
        std::string reply;
        int64_t total;
        std::string body, location;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\ncontent-length:3\r\nLocation:/x \r\n\r\nabcdef", 3, "abc", "/x"},
        {"HTTP/1.0 200 OK\nContent-Length: 2\n\nabcdef", 2, "ab", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedServer server(Reply(c.reply));
        client->Get(UrlOf(server));
        ExpectFinished(server, 1);
        EXPECT_EQ(client->BytesTotal, c.total);
        EXPECT_EQ(client->Body, c.body);
        EXPECT_EQ(client->LocationValue, c.location);
    }
}

TEST_F(HttpClientTest, NoContentLengthLeavesTheTotalAtZero) {
    int64_t lastTotal = -1, lastRecvd = 0;
    client->OnPacketRecvd = [&](TObject*) {
        lastTotal = client->BytesTotal;
        lastRecvd = client->BytesRecvd;
    };
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'x'), 1000, 3));
    client->Get(UrlOf(server));
    ExpectFinished(server, 1);
    EXPECT_EQ(lastTotal, 0);
    EXPECT_EQ(lastRecvd, 5000);
    EXPECT_EQ(client->Body.size(), 5000u);
}

TEST_F(HttpClientTest, FailureWritesTheBodyAndFiresOnFailure) {
    ScratchDir dir;
    BodyInto(dir.File("target.exe"));
    ScriptedServer server(Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here\n"));
    client->Get(UrlOf(server, "/missing"));
    ExpectFinished(server, 1);
    EXPECT_EQ(Events(), "about-to-send, connect, packets, failure 0, disconnect");
    EXPECT_EQ(client->ReplyCode, 404);
    EXPECT_EQ(ReadFile(dir.File("target.exe")), "not here\n");

    // The reason phrase is optional.
    events.clear();
    ScriptedServer bare(Reply("HTTP/1.0 404\r\n\r\n"));
    client->Get(UrlOf(bare));
    ExpectFinished(bare, 1);
    EXPECT_EQ(client->ReplyCode, 404);
    EXPECT_EQ(Events(), "about-to-send, connect, failure 0, disconnect");

    ScriptedServer ok(Reply("HTTP/1.0 200\r\n\r\n"));
    client->Get(UrlOf(ok));
    EXPECT_EQ(client->ReplyCode, 200);
}

TEST_F(HttpClientTest, Unauthorized401AsksForCredentialsAfterDisconnecting) {
    ScriptedServer server(Reply("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"q\"\r\n\r\n"));
    client->Get(UrlOf(server, "/secret"));
    ExpectFinished(server, 1);
    EXPECT_EQ(Events(), "about-to-send, connect, failure 0, disconnect, authentication");
}

TEST_F(HttpClientTest, RedirectToAPathCarriesTheCookie) {
    ScriptedServer server({Reply("HTTP/1.0 302 Found\r\nLocation: /new\r\n"
                                 "Set-Cookie: id=7; Path=/\r\nContent-Length: 0\r\n\r\n"),
                           Reply("HTTP/1.0 200 OK\r\n\r\ndone")});
    client->Get(UrlOf(server, "/old"));
    ExpectFinished(server, 2);
    EXPECT_EQ(Events(),
              "about-to-send, connect, disconnect, redirect, about-to-send, connect, packets, "
              "success 0, status Transaction Completed, disconnect");
    EXPECT_EQ(server.Received(0), PlainRequest("GET", "/old", HostOf(server)));
    EXPECT_EQ(server.Received(1), "GET /new HTTP/1.0\r\nHost: " + HostOf(server) + "\r\n" + kAcceptLines +
                                      "Cookie: id=7; Path=/\r\n" + kContentType + "\r\n");
    EXPECT_EQ(client->HeaderInfo->Cookie, "id=7; Path=/");
    EXPECT_EQ(client->RequestURL, UrlOf(server, "/new"));
    EXPECT_EQ(client->LocationValue, "");
    EXPECT_EQ(client->Body, "done");

    // The cookie stays for later commands.
    ScriptedServer later(Reply("HTTP/1.0 200 OK\r\n\r\n"));
    client->Get(UrlOf(later, "/again"));
    ExpectFinished(later, 1);
    EXPECT_NE(later.Received(0).find("\r\nCookie: id=7; Path=/\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, RelativeLocationsResolveAgainstTheCurrentUrlThroughAProxy) {
    // Through a proxy the request line shows the whole URL each pass asks for.
    ScriptedServer proxy({Reply("HTTP/1.0 302 Found\r\nLocation: page.htm\r\n\r\n"),
                          Reply("HTTP/1.0 301 Moved\r\nLocation: files/x.exe?v=2\r\n\r\n"),
                          Reply("HTTP/1.0 302 Found\r\nLocation: ../../up/./b.htm\r\n\r\n"),
                          Reply("HTTP/1.0 307 Temporary\r\nLocation: //mirror.example.invalid:81/m\r\n\r\n"),
                          Reply("HTTP/1.0 308 Permanent\r\nLocation: ?q=1\r\n\r\n"),
                          Reply("HTTP/1.0 302 Found\r\nLocation: HTTP://Other.Example.Invalid\r\n\r\n"),
                          Reply("HTTP/1.0 301 Moved\r\n\r\n")});
    client->Proxy = "127.0.0.1";
    client->ProxyPort = proxy.Port();
    client->Get("http://files.example.invalid:8080/dir/a.htm");
    ExpectFinished(proxy, 7);
    auto requestLine = [&](size_t i) {
        const std::string r = proxy.Received(i);
        return r.substr(0, r.find("\r\n"));
    };
    EXPECT_EQ(requestLine(0), "GET http://files.example.invalid:8080/dir/a.htm HTTP/1.0");
    EXPECT_EQ(requestLine(1), "GET http://files.example.invalid:8080/dir/page.htm HTTP/1.0");
    EXPECT_EQ(requestLine(2), "GET http://files.example.invalid:8080/dir/files/x.exe?v=2 HTTP/1.0");
    EXPECT_EQ(requestLine(3), "GET http://files.example.invalid:8080/up/b.htm HTTP/1.0");
    EXPECT_EQ(requestLine(4), "GET http://mirror.example.invalid:81/m HTTP/1.0");
    EXPECT_EQ(requestLine(5), "GET http://mirror.example.invalid:81/m?q=1 HTTP/1.0");
    EXPECT_EQ(requestLine(6), "GET http://Other.Example.Invalid/ HTTP/1.0");
    // The last 301 names nowhere: a failure, never a fetch of the host's root.
    EXPECT_EQ(client->ReplyCode, 301);
    EXPECT_EQ(events.back(), "disconnect");
    EXPECT_EQ(std::count(events.begin(), events.end(), "redirect"), 6);
    EXPECT_EQ(std::count(events.begin(), events.end(), "failure 0"), 1);
}

TEST_F(HttpClientTest, AHandledRedirectEndsTheCommand) {
    handleRedirect = true;
    ScriptedServer server(Reply("HTTP/1.0 301 Moved Permanently\r\nLocation: /elsewhere\r\n\r\n"));
    client->Get(UrlOf(server, "/here"));
    ExpectFinished(server, 1);
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect, redirect");
    EXPECT_EQ(client->RequestURL, UrlOf(server, "/elsewhere"));
}

TEST_F(HttpClientTest, RedirectLoopsAreBounded) {
    // Every connection gets the same answer: back to the same place.
    ScriptedServer server(Reply("HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n"));
    const std::string message = MessageOf<Exception>([&] { client->Get(UrlOf(server, "/loop")); });
    EXPECT_EQ(message, "Too many redirects: still redirected after 20 passes");
    ExpectFinished(server, THttpClient::kMaxPasses);
}

TEST_F(HttpClientTest, AShortBodyIsATransportFailure) {
    ScratchDir dir;
    BodyInto(dir.File("short.bin"));
    ScriptedServer server(
        Reply("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'b'), 64, 5));
    EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(UrlOf(server)); }),
              "Reply body too short: 500 of 1000 bytes received");
    ExpectFinished(server, 1);
    EXPECT_EQ(Events(), "about-to-send, connect, packets, disconnect");
}

TEST_F(HttpClientTest, HeadAnnouncesLengthsBeyond32BitsWithoutABody) {
    ScratchDir dir;
    BodyInto(dir.File("head-body"));
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\nContent-Length: 5000000000\r\n\r\n"));
    client->Head(UrlOf(server, "/qvlchain.exe"));
    ExpectFinished(server, 1);
    EXPECT_EQ(client->BytesTotal, 5000000000LL);
    EXPECT_TRUE(std::filesystem::exists(dir.File("head-body")));
    EXPECT_EQ(ReadFile(dir.File("head-body")), "");
    EXPECT_EQ(Events(), "about-to-send, connect, success 2, status Transaction Completed, disconnect");
}

TEST_F(HttpClientTest, RepliesThatAreNotHttpAreTransportFailures) {
    // The peer closes without a word.
    ScriptedServer silent(Script().ReadUntil("\r\n\r\n").Close());
    EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(UrlOf(silent)); }),
              "Connection closed without a reply");
    ExpectFinished(silent, 1);
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect");

    const std::pair<const char*, const char*> bad[] = {
        {"SSH-2.0-OpenSSH_9.2\r\n", "'SSH-2.0-OpenSSH_9.2'"},
        {"HTTP/1.0 20 OK\r\n\r\n", "'HTTP/1.0 20 OK'"},
        {"HTTP/1.0 2000 OK\r\n\r\n", "'HTTP/1.0 2000 OK'"},
        {"HTTP/1.0  200 OK\r\n\r\n", "'HTTP/1.0  200 OK'"},
        {"http/1.0 200 OK\r\n\r\n", "'http/1.0 200 OK'"},
        {"HTTP/ 200 OK\r\n\r\n", "'HTTP/ 200 OK'"},
        {"\r\n\r\n", "''"},
    };
    for (const auto& [reply, shown] : bad) {
        SCOPED_TRACE(reply);
        events.clear();
        ScriptedServer server(Reply(reply));
        EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(UrlOf(server)); }),
                  std::string("Invalid reply status line: ") + shown);
        ExpectFinished(server, 1);
        EXPECT_EQ(Events(), "about-to-send, connect, disconnect");
    }
}

TEST_F(HttpClientTest, ABadContentLengthIsRefused) {
    for (const char* value : {"99999999999999999999", "9223372036854775808", "-5", "12abc", "", "0x10"}) {
        SCOPED_TRACE(value);
        ScriptedServer server(
            Reply(std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + value + "\r\n\r\nabc"));
        EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(UrlOf(server)); }),
                  std::string("Invalid Content-Length in reply: '") + value + "'");
        ExpectFinished(server, 1);
    }
    ScriptedServer largest(Reply("HTTP/1.0 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n"));
    client->Head(UrlOf(largest));
    EXPECT_EQ(client->BytesTotal, INT64_MAX);
}

TEST_F(HttpClientTest, AHeaderLineLongerThanTheLineBufferFails) {
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\nX-Long: " + std::string(70000, 'l') + "\r\n\r\n"));
    EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(UrlOf(server)); }),
              "Line too long: no line end within 65536 bytes");
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect");
    server.WaitUntilFinished(1, 10000);
}

TEST_F(HttpClientTest, AbortDuringTheBodyEndsTheCommandWithoutOutcome) {
    ScratchDir dir;
    BodyInto(dir.File("aborted.bin"));
    client->OnPacketRecvd = [&](TObject*) {
        events.push_back("packet");
        client->Abort();
    };
    ScriptedServer server({Script()
                               .ReadUntil("\r\n\r\n")
                               .Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                                     std::string(1000, 'a'))
                               .WaitForRelease()
                               .Close(),
                           Reply("HTTP/1.0 200 OK\r\n\r\nagain")});
    EXPECT_EQ(MessageOf<EAbortError>([&] { client->Get(UrlOf(server)); }), "Socket send aborted");
    EXPECT_EQ(Events(), "about-to-send, connect, packet, disconnect");
    EXPECT_FALSE(client->Connected);
    EXPECT_FALSE(ReadFile(dir.File("aborted.bin")).empty());
    server.Release();

    // The client is ready for the next command.
    client->OnPacketRecvd = nullptr;
    client->Get(UrlOf(server));
    EXPECT_EQ(ReadFile(dir.File("aborted.bin")), "again");
    ExpectFinished(server, 2);
}

TEST_F(HttpClientTest, TheTimeOutAbortsAWaitingCommand) {
    client->TimeOut = 300;
    ScriptedServer server(Script().ReadUntil("\r\n\r\n").WaitForRelease().Close());
    EXPECT_EQ(MessageOf<EAbortError>([&] { client->Get(UrlOf(server)); }), "Socket readln aborted");
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect");
    server.Release();
    server.WaitUntilFinished(1, 10000);
}

TEST_F(HttpClientTest, FileAndConnectionErrorsLeaveTheCommand) {
    BodyInto("/nonexistent-qvl-dir/body.bin");
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\n\r\nbody"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { client->Get(UrlOf(server)); }),
              "Cannot create file /nonexistent-qvl-dir/body.bin");
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect");
    server.WaitUntilFinished(1, 10000);

    events.clear();
    client->InputFileMode = false;
    const std::string refused = "http://127.0.0.1:" + std::to_string(ScriptedServer::UnusedPort()) + "/";
    EXPECT_EQ(MessageOf<ESockError>([&] { client->Get(refused); }), "Connection Failed");
    EXPECT_EQ(Events(), "about-to-send, disconnect");
}
