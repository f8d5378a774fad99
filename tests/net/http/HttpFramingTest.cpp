// Where a reply body ends and what of it is kept: Content-Length against a peer that keeps its
// connection open, chunked bodies split anywhere, interim replies, bodiless statuses, and the
// length checks that only a success must pass.
#include "HttpTestSupport.h"

#include "net/http/BodyFraming.h"

using namespace qvl;
using namespace qvl::httptest;

namespace {

using Script = ScriptedServer::Script;

// Sends `reply` (whole, or byte by byte when pieces is 1, or in random pieces) and then keeps the
// connection open until released: a keep-alive peer that will not close.
Script KeepAlive(const std::string& reply, size_t maxPiece = 0, uint32_t seed = 1) {
    Script s;
    s.ReadUntil("\r\n\r\n");
    if (maxPiece) s.SendInPieces(reply, maxPiece, seed);
    else s.Send(reply);
    return s.WaitForRelease().Close();
}

template <class F>
std::string Outcome(F&& run) {
    try {
        run();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no exception";
}

const std::string kChunked =
    "4;name=value\r\nWiki\r\n"
    "5\r\npedia\r\n"
    "E \r\n in\r\n\r\nchunks.\r\n"
    "0\r\nExpires: never\r\n\r\n";
const std::string kDecoded = "Wikipedia in\r\n\r\nchunks.";

// Runs `run` against a peer that keeps the connection open; the client's time-out (well below
// the server's) ends a command that waits for the close, so such a wait fails the test.
class KeepAliveTest : public HttpClientTest {
protected:
    void Serve(ScriptedServer& server, const std::function<void()>& run) {
        server.SetStepTimeout(60000);
        run();
        server.Release();
        ExpectFinished(server, 1);
    }
};

}  // namespace

TEST_F(KeepAliveTest, ContentLengthEndsTheBodyWithoutWaitingForTheClose) {
    const std::string body(100000, 'k');
    // Bytes after the body are not ours: they are neither received nor kept.
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: keep-alive\r\n\r\n" +
                              body + "HTTP/1.1 200 OK\r\n\r\nnext";
    ScratchDir dir;
    for (uint32_t seed = 0; seed < 4; ++seed) {
        SCOPED_TRACE(seed);
        ScriptedServer server(KeepAlive(reply, seed == 0 ? 0 : 9000, seed));
        client->InputFileMode = seed % 2 == 1;
        client->Body = client->InputFileMode ? dir.File("body") : "";
        Serve(server, [&] { client->Get(UrlOf(server, "/k")); });
        EXPECT_EQ(client->InputFileMode ? ReadFile(dir.File("body")) : client->Body, body);
        EXPECT_EQ(client->BytesRecvd, 100000);
    }
    // Bodiless replies end at their header.
    client->InputFileMode = false;
    ScriptedServer head(KeepAlive("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"));
    Serve(head, [&] { client->Head(UrlOf(head)); });
    EXPECT_EQ(client->Body, "");
    ScriptedServer empty(KeepAlive("HTTP/1.1 204 No Content\r\n\r\n"));
    Serve(empty, [&] { client->Get(UrlOf(empty)); });
    EXPECT_EQ(client->ReplyCode, 204);
    events.clear();
    ScriptedServer zero(KeepAlive("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    Serve(zero, [&] { client->Get(UrlOf(zero)); });
    EXPECT_EQ(Events(), "about-to-send, connect, success 0, status Transaction Completed, disconnect");
}

TEST_F(KeepAliveTest, ChunkedBodiesAreDecodedInAnyPieces) {
    const std::string header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\nContent-Length: 3\r\n\r\n";
    ScratchDir dir;
    // Byte by byte splits the framing at every position; random pieces on top.
    for (uint32_t seed = 0; seed < 5; ++seed) {
        SCOPED_TRACE(seed);
        ScriptedServer server(KeepAlive(header + kChunked, seed == 0 ? 0 : seed == 1 ? 1 : 13, seed));
        client->InputFileMode = seed % 2 == 0;
        client->Body = client->InputFileMode ? dir.File("body") : "";
        Serve(server, [&] { client->Get(UrlOf(server)); });
        EXPECT_EQ(client->InputFileMode ? ReadFile(dir.File("body")) : client->Body, kDecoded);
        EXPECT_EQ(client->BytesRecvd, static_cast<int64_t>(kDecoded.size()));
        EXPECT_EQ(client->BytesTotal, 0);
        EXPECT_EQ(client->Header, header);
    }
}

TEST(ChunkedFraming, EverySplitOfTheFramingDecodesTheSame) {
    const std::string framed = "1a\r\n" + std::string(26, 'x') + "\r\n3\nabc\n0\n\n";
    const std::string expected = std::string(26, 'x') + "abc";
    for (const std::string& text : {kChunked, framed}) {
        const std::string want = text == kChunked ? kDecoded : expected;
        for (size_t at = 0; at <= text.size(); ++at) {
            TChunkedFraming f;
            std::string out;
            const auto keep = [&](const char* d, int n) { out.append(d, static_cast<size_t>(n)); };
            f.Take(text.data(), static_cast<int>(at), keep);
            f.Take(text.data() + at, static_cast<int>(text.size() - at), keep);
            ASSERT_TRUE(f.Complete()) << at;
            ASSERT_EQ(out, want) << at;
            EXPECT_EQ(f.Wanted(), 0);
        }
    }
}

TEST(ChunkedFraming, MalformedFramingIsNamed) {
    const std::pair<std::string, std::string> bad[] = {
        {"zz\r\n", "no chunk size"},
        {"\r\n", "no chunk size"},
        {"4\r\nWikiXX\r\n", "chunk data longer than its size"},
        {"4x\r\n", "bad chunk size"},
        {"4\rx", "bad chunk size line end"},
        {"1000000000000000\r\n", "chunk size too large"},
        {"0\r\n\rx", "bad line end after the trailer"},
        {"4;" + std::string(70000, 'e'), "chunk size line too long"},
    };
    for (const auto& [text, why] : bad) {
        TChunkedFraming f;
        f.Take(text.data(), static_cast<int>(text.size()), [](const char*, int) {});
        EXPECT_EQ(f.Error(), "Malformed chunked reply body: " + why) << text.substr(0, 20);
        EXPECT_FALSE(f.Complete());
        EXPECT_EQ(f.Wanted(), 0);
    }
}

TEST_F(HttpClientTest, ABrokenChunkedBodyFailsASuccessButNotAFailureStatus) {
    const std::pair<std::string, std::string> cases[] = {
        {"4\r\nWikiXX", "Malformed chunked reply body: chunk data longer than its size"},
        {"4\r\nWiki\r\n", "Chunked reply body ended before its last chunk"},
        {"4\r\nWi", "Chunked reply body ended before its last chunk"},
    };
    for (const auto& [body, message] : cases) {
        SCOPED_TRACE(body);
        ScriptedServer ok(Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + body));
        EXPECT_EQ(Outcome([&] { client->Get(UrlOf(ok)); }), message);
        ExpectFinished(ok, 1);
        events.clear();
        ScriptedServer missing(Reply("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n" + body));
        EXPECT_EQ(Outcome([&] { client->Get(UrlOf(missing)); }), "no exception");
        ExpectFinished(missing, 1);
        EXPECT_NE(Events().find("failure 0"), std::string::npos);
    }
}

TEST_F(HttpClientTest, AFailureStatusReachesOnFailureWhateverItsLength) {
    // A short body, or a length that is no number: the status is what the caller needs.
    for (const std::string length : {"100", "ten"}) {
        SCOPED_TRACE(length);
        events.clear();
        ScriptedServer server(Reply("HTTP/1.1 404 Not Found\r\nContent-Length: " + length + "\r\n\r\nnot here"));
        EXPECT_EQ(Outcome([&] { client->Get(UrlOf(server)); }), "no exception");
        ExpectFinished(server, 1);
        EXPECT_EQ(Events(), "about-to-send, connect, packets, failure 0, disconnect");
        EXPECT_EQ(client->Body, "not here");
    }
}

TEST_F(HttpClientTest, InterimRepliesAreSkipped) {
    const std::string final = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
    const std::string reply = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX-Step: 1\r\n\r\n" + final + "ok";
    for (uint32_t seed = 0; seed < 4; ++seed) {
        SCOPED_TRACE(seed);
        events.clear();
        ScriptedServer server(Reply(reply, seed == 0 ? 0 : 5, seed));
        client->Get(UrlOf(server));
        ExpectFinished(server, 1);
        EXPECT_EQ(client->ReplyCode, 200);
        EXPECT_EQ(client->Header, final);
        EXPECT_EQ(client->LastReply, "HTTP/1.1 200 OK\r\n");
        EXPECT_EQ(client->Body, "ok");
        EXPECT_EQ(Events(), "about-to-send, connect, packets, success 0, status Transaction Completed, disconnect");
    }
    // An interim reply and then nothing is no reply.
    ScriptedServer lone(Reply("HTTP/1.1 100 Continue\r\n\r\n"));
    EXPECT_EQ(Outcome([&] { client->Get(UrlOf(lone)); }), "Connection closed without a reply");
    ExpectFinished(lone, 1);
}

TEST_F(HttpClientTest, AHeaderOverOneMebibyteFails) {
    std::string lines;
    for (int i = 0; i < 20; ++i) lines += "X-Filler-" + std::to_string(i) + ": " + std::string(60000, 'f') + "\r\n";
    ScriptedServer server(Reply("HTTP/1.1 200 OK\r\n" + lines + "\r\n"));
    EXPECT_EQ(Outcome([&] { client->Get(UrlOf(server)); }), "Reply header too long: more than 1048576 bytes");
    EXPECT_EQ(Events(), "about-to-send, connect, disconnect");
    server.WaitUntilFinished(1, 10000);
}
