// A download whose size is known beforehand (ExactBodySize, a signed release's): a Content-Length
// that says otherwise ends it before the body, a body that runs on is ended at the size without
// a byte more kept and the connection closed, a short one is refused; each reaches OnFailure
// with the reason, never OnSuccess. A redirection's body is cut at the size too.
#include "HttpTestSupport.h"

using namespace qvl;
using namespace qvl::httptest;

namespace {

using Script = ScriptedServer::Script;

constexpr int64_t kSize = 100000;

class SignedSizeTest : public HttpClientTest {
protected:
    void SetUp() override {
        HttpClientTest::SetUp();
        client->ExactBodySize = kSize;
        client->ReportLevel = 0;
        client->InputFileMode = true;
        client->Body = dir.File("body");
    }
    // The command's outcome: the exception's text, or the event words.
    std::string Get(const ScriptedServer& server, const std::string& path = "/") {
        events.clear();
        try {
            client->Get(UrlOf(server, path));
        } catch (const Exception& e) {
            return e.Message();
        }
        return Events();
    }
    ScratchDir dir;
};

const std::string kOk = "HTTP/1.0 200 OK\r\n";
const std::string kRefused = "about-to-send, connect, failure 0, disconnect";
const std::string kRefusedAfterPackets = "about-to-send, connect, packets, failure 0, disconnect";

}  // namespace

TEST_F(SignedSizeTest, TheSignedSizeWithOrWithoutALengthIsASuccess) {
    const std::string body(kSize, 'b');
    for (const std::string& head : {kOk + "Content-Length: 100000\r\n\r\n", kOk + "\r\n"}) {
        SCOPED_TRACE(head);
        ScriptedServer server(Reply(head + body, 9000, 2));
        EXPECT_EQ(Get(server), "about-to-send, connect, packets, success 0, disconnect");
        ExpectFinished(server, 1);
        EXPECT_EQ(client->SizeRefusal, "");
        EXPECT_EQ(ReadFile(client->Body), body);
    }
    // Chunked, into a text.
    client->InputFileMode = false;
    ScriptedServer server(Reply(kOk + "Transfer-Encoding: chunked\r\n\r\n186a0\r\n" + body + "\r\n0\r\n\r\n", 7000, 3));
    EXPECT_EQ(Get(server), "about-to-send, connect, packets, success 0, disconnect");
    ExpectFinished(server, 1);
    EXPECT_EQ(client->Body, body);
}

TEST_F(SignedSizeTest, AnotherContentLengthIsRefusedBeforeAByteOfTheBody) {
    for (const int64_t announced : {kSize - 1, kSize + 1, int64_t{0}, int64_t{1} << 40}) {
        SCOPED_TRACE(announced);
        WriteFile(client->Body, "old");
        // The body would come only once the test releases it: a client that waited for it
        // would not return before the server's step time-out.
        ScriptedServer server(Script()
                                  .ReadUntil("\r\n\r\n")
                                  .Send(kOk + "Content-Length: " + std::to_string(announced) + "\r\n\r\n")
                                  .WaitForRelease()
                                  .Send(std::string(kSize, 'b'))
                                  .Close());
        server.SetStepTimeout(60000);
        EXPECT_EQ(Get(server), kRefused);
        EXPECT_EQ(client->SizeRefusal, "the server announced " + std::to_string(announced) + " bytes");
        EXPECT_EQ(client->BytesRecvd, 0);
        EXPECT_EQ(ReadFile(client->Body), "");
        server.Release();
        EXPECT_TRUE(server.WaitUntilFinished(1, 10000));
    }
}

TEST_F(SignedSizeTest, ABodyThatRunsOnIsEndedAtTheSignedSizeAndTheConnectionClosed) {
    // No length and no close: the peer keeps sending; and a chunked body one byte too long.
    const std::string tooLong(kSize + 1, 'e');
    const std::vector<std::string> replies = {
        kOk + "\r\n" + std::string(kSize + 65536, 'e'),
        kOk + "Transfer-Encoding: chunked\r\n\r\n" + "186a1\r\n" + tooLong + "\r\n0\r\n\r\n",
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply.substr(0, 40));
        // The server waits for the client's close, which comes without a release: the client
        // ended the transfer itself.
        ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send(reply).ReadUntilClosed());
        EXPECT_EQ(Get(server), kRefusedAfterPackets);
        EXPECT_EQ(client->SizeRefusal, "the body ran past 100000 bytes");
        EXPECT_EQ(client->BytesRecvd, kSize);
        EXPECT_EQ(ReadFile(client->Body), std::string(kSize, 'e'));
        ExpectFinished(server, 1);
    }
}

TEST_F(SignedSizeTest, AShortBodyIsRefusedWithOrWithoutALength) {
    const std::string body(kSize - 1, 's');
    const std::vector<std::string> replies = {kOk + "\r\n" + body, kOk + "Content-Length: 100000\r\n\r\n" + body,
                                              kOk + "Transfer-Encoding: chunked\r\n\r\n1869f\r\n" + body + "\r\n"};
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply.substr(0, 40));
        ScriptedServer server(Reply(reply, 30000, 4));
        EXPECT_EQ(Get(server), kRefusedAfterPackets);
        EXPECT_EQ(client->SizeRefusal, "the body ended after 99999 bytes");
        ExpectFinished(server, 1);
    }
    // A broken chunked body stays what it is.
    ScriptedServer broken(Reply(kOk + "Transfer-Encoding: chunked\r\n\r\n4\r\nWikiXX"));
    EXPECT_EQ(Get(broken), "Malformed chunked reply body: chunk data longer than its size");
    ExpectFinished(broken, 1);
}

TEST_F(SignedSizeTest, ARedirectionsBodyIsCutAndTheSignedFileStillArrives) {
    const std::string body(kSize, 'r');
    ScriptedServer server(std::vector<Script>{
        Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: /there\r\n\r\n" + std::string(kSize + 65536, 'x'))
            .ReadUntilClosed(),
        Reply(kOk + "Content-Length: 100000\r\n\r\n" + body)});
    EXPECT_EQ(Get(server), "about-to-send, connect, packets, disconnect, redirect, about-to-send, connect, packets, "
                           "success 0, disconnect");
    ExpectFinished(server, 2);
    EXPECT_EQ(ReadFile(client->Body), body);
    // A failure's body too: at most the size is kept.
    ScriptedServer missing(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n" + std::string(kSize + 9, 'x'))
                               .ReadUntilClosed());
    EXPECT_EQ(Get(missing), kRefusedAfterPackets);
    EXPECT_EQ(client->SizeRefusal, "");
    EXPECT_EQ(client->BytesRecvd, kSize);
    ExpectFinished(missing, 1);
}
