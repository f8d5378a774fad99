// Fetching the release list into memory against a server scripted byte by byte: the size
// bound holds whether or not the reply announces its length, and a reply that is not a
// success never counts as a list.
#include <gtest/gtest.h>

#include <string>

#include "installer/ReleaseFetch.h"
#include "support/ScriptedServer.h"

using namespace qvl;
using qvl::test::ScriptedServer;

namespace {

std::optional<std::string> Fetch(const std::string& reply, size_t maxSize, std::string& why) {
    ScriptedServer server(ScriptedServer::Script().ReadUntil("\r\n\r\n").SendInPieces(reply, 9000, 3).Close());
    THttpClient like;
    like.TimeOut = 10000;
    return ReleaseFetch::FetchBounded(like, "http://127.0.0.1:" + std::to_string(server.Port()) + "/SHA256SUMS",
                                      maxSize, why);
}

}  // namespace

TEST(ReleaseFetch, KeepsABodyUpToTheBoundWithOrWithoutALength) {
    const std::string body(1000, 'l');
    std::string why;
    for (const char* head : {"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"}) {
        const std::optional<std::string> got = Fetch(std::string(head) + body, 1000, why);
        ASSERT_TRUE(got) << head << why;
        EXPECT_EQ(*got, body);
    }
}

TEST(ReleaseFetch, RefusesMoreThanTheBoundAnnouncedOrNot) {
    std::string why;
    // Announced: refused on the first piece, whatever follows.
    EXPECT_FALSE(Fetch("HTTP/1.0 200 OK\r\nContent-Length: 1001\r\n\r\n" + std::string(1001, 'l'), 1000, why));
    EXPECT_EQ(why, "SHA256SUMS is larger than 1000 bytes");
    // Not announced: a body that keeps coming is cut off once it passes the bound.
    why.clear();
    EXPECT_FALSE(Fetch("HTTP/1.0 200 OK\r\n\r\n" + std::string(200000, 'l'), 1000, why));
    EXPECT_EQ(why, "SHA256SUMS is larger than 1000 bytes");
}

TEST(ReleaseFetch, AFailureStatusOrABrokenReplyIsNoList) {
    std::string why;
    EXPECT_FALSE(Fetch("HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nno\n", 1000, why));
    EXPECT_EQ(why, "SHA256SUMS could not be fetched (status 404)");
    EXPECT_FALSE(Fetch("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nshort", 1000, why));
    EXPECT_EQ(why.rfind("SHA256SUMS could not be fetched: ", 0), 0u) << why;
    EXPECT_FALSE(Fetch("garbage\r\n\r\n", 1000, why));
    EXPECT_EQ(why.rfind("SHA256SUMS could not be fetched: ", 0), 0u) << why;
}
