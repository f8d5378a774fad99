// Replies found by fuzzing the reply reader (tests/fuzz), replayed through the same path: a
// loopback server sends them whole and closes, and the client runs Get in text and in file mode.
#include "HttpTestSupport.h"

using namespace qvl;
using namespace qvl::httptest;

namespace {


// Runs Get against a server that sends `reply`, in text mode and then in file mode; returns
// the message of the ESockError each run raised ("no exception" when it did not).
std::vector<std::string> GetBothWays(RecordingClient& client, const std::string& reply) {
    ScratchDir dir;
    std::vector<std::string> messages;
    for (const bool files : {false, true}) {
        client.InputFileMode = files;
        client.OutputFileMode = files;
        client.Body = files ? dir.File("body") : "";
        client.Header = files ? dir.File("header") : "";
        ScriptedServer server(Reply(reply));
        try {
            client.Get(UrlOf(server, "/version.txt"));
            messages.push_back("no exception");
        } catch (const ESockError& e) {
            messages.push_back(e.Message());
        }
        EXPECT_TRUE(server.WaitUntilFinished(1, 10000));
    }
    return messages;
}

}  // namespace

// A status line whose code is below 100 ("000", "099") is no HTTP status: it must fail like any
// other bad status line, not count as success (codes below 300 do).
TEST_F(HttpClientTest, AStatusCodeBelow100IsNotAStatusLine) {
    for (const std::string code : {"000", "099", "001"}) {
        SCOPED_TRACE(code);
        events.clear();
        const std::string status = "HTTP/1.1 " + code + " OK";
        const std::string reply = status +
                                  "\r\nServer: nginx/1.22.1\r\nDate: Tue, 08 Dec 2026 15:26:39 GMT\r\n"
                                  "Content-Type8 application/octetbytes\r\n\r\n0.3.1\n";
        const std::vector<std::string> expected(2, "Invalid reply status line: '" + status + "'");
        EXPECT_EQ(GetBothWays(*client, reply), expected);
        EXPECT_EQ(Events(), "about-to-send, connect, disconnect, about-to-send, connect, disconnect");
    }
    // The smallest real status is an interim one: a reply that ends after it ends too early.
    EXPECT_EQ(GetBothWays(*client, "HTTP/1.0 100 Continue\r\n\r\n"),
              std::vector<std::string>(2, "Connection closed without a reply"));
}
