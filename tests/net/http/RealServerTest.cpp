// The client against a real nginx and through a real tinyproxy and a real squid, all on loopback.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include "HttpTestSupport.h"

#include "support/Loopback.h"
#include "support/NginxFixture.h"
#include "support/SquidFixture.h"
#include "support/TinyproxyFixture.h"

using namespace qvl;
using namespace qvl::httptest;
using qvl::test::NginxFixture;
using qvl::test::SquidFixture;
using qvl::test::TinyproxyFixture;

namespace {

bool SameFile(const std::string& a, const std::string& b) { return ReadFile(a) == ReadFile(b); }

// Downloads `url` into the file `path` through the proxy at 127.0.0.1:`proxyPort`.
void GetThrough(THttpClient& client, uint16_t proxyPort, const std::string& url, const std::string& path) {
    client.Proxy = "127.0.0.1";
    client.ProxyPort = proxyPort;
    client.InputFileMode = true;
    client.Body = path;
    client.Get(url);
}

}  // namespace

TEST_F(HttpClientTest, NginxServesABigFileByteForByte) {
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";
    NginxFixture nginx;
    const auto served = nginx.WriteGeneratedFile("qvlchain.exe", 50u * 1024 * 1024, 7);
    ScratchDir dir;
    client->TimeOut = 0;  // the time-out would bound the whole body
    BodyInto(dir.File("qvlchain.exe"));
    int64_t lastTotal = 0;
    client->OnPacketRecvd = [&](TObject*) {
        ++packets;
        lastTotal = client->BytesTotal;
    };
    client->Get(nginx.Url("qvlchain.exe"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(lastTotal, 50 * 1024 * 1024);
    EXPECT_EQ(client->BytesRecvd, 50 * 1024 * 1024);
    EXPECT_GE(packets, 50 * 1024 * 1024 / TSocketEngine::kChunkSize);
    EXPECT_TRUE(SameFile(served.string(), dir.File("qvlchain.exe")));
    const auto requests = nginx.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /qvlchain.exe HTTP/1.0");
}

TEST_F(HttpClientTest, NginxRedirectChainsAndMissingFiles) {
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";
    NginxFixture::Options options;
    options.redirects = {{"/a", 302, "/b"}, {"/b", 301, "/version.txt"}};
    NginxFixture nginx(options);
    nginx.WriteFile("version.txt", "0.21.3\n");
    client->Get(nginx.Url("a"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->Body, "0.21.3\n");
    EXPECT_EQ(nginx.Requests(3).size(), 3u);

    events.clear();
    client->Get(nginx.Url("missing.exe"));
    EXPECT_EQ(client->ReplyCode, 404);
    EXPECT_EQ(Events(), "about-to-send, connect, packets, failure 0, disconnect");
}

TEST_F(HttpClientTest, NginxBasicAuthChecksTheClientsCredentials) {
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";
    ScratchDir dir;
    WriteFile(dir.File("htpasswd"), "quorvale:{PLAIN}a long password that needs two base64 lines!\n");
    NginxFixture::Options options;
    options.extraServerConfig = "    location /private/ { auth_basic \"qvl\"; auth_basic_user_file \"" +
                                dir.File("htpasswd") + "\"; }\n";
    NginxFixture nginx(options);
    nginx.WriteFile("private/wallet.dat", "secret bytes");

    client->Get(nginx.Url("private/wallet.dat"));
    EXPECT_EQ(client->ReplyCode, 401);
    EXPECT_EQ(Events(), "about-to-send, connect, packets, failure 0, disconnect, authentication");

    client->HeaderInfo->UserId = "quorvale";
    client->HeaderInfo->Password = "wrong";
    client->Get(nginx.Url("private/wallet.dat"));
    EXPECT_EQ(client->ReplyCode, 401);

    client->HeaderInfo->Password = "a long password that needs two base64 lines!";
    client->Get(nginx.Url("private/wallet.dat"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->Body, "secret bytes");
}

TEST_F(HttpClientTest, TinyproxyForwardsAGet) {
    if (!NginxFixture::Available() || !TinyproxyFixture::Available())
        GTEST_SKIP() << "nginx or tinyproxy is not installed";
    NginxFixture nginx;
    const auto served = nginx.WriteGeneratedFile("quorvale-qt.exe", 3u * 1024 * 1024 + 17, 3);
    TinyproxyFixture proxy;
    ScratchDir dir;
    GetThrough(*client, proxy.Port(), nginx.Url("quorvale-qt.exe"), dir.File("quorvale-qt.exe"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_TRUE(SameFile(served.string(), dir.File("quorvale-qt.exe")));
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "GET " + nginx.Url("quorvale-qt.exe") + " HTTP/1.0");
}

TEST_F(HttpClientTest, SquidKeepsTheConnectionOpenAndTheDownloadStillEnds) {
    // Squid answers "Proxy-Connection: Keep-Alive" by keeping the connection open after the
    // body; a client that read to the close waited for squid's own idle time-out (minutes), so
    // the fixture's time-out (10 s) fails this test if that comes back.
    if (!NginxFixture::Available() || !SquidFixture::Available())
        GTEST_SKIP() << "nginx or squid is not installed";
    NginxFixture nginx;
    const auto served = nginx.WriteGeneratedFile("quorvale-qt.exe", 1024u * 1024, 5);
    SquidFixture squid;
    ScratchDir dir;
    GetThrough(*client, squid.Port(), nginx.Url("quorvale-qt.exe"), dir.File("quorvale-qt.exe"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->BytesRecvd, 1024 * 1024);
    EXPECT_TRUE(SameFile(served.string(), dir.File("quorvale-qt.exe")));
    EXPECT_TRUE(squid.WaitForAccessLog("GET " + nginx.Url("quorvale-qt.exe"))) << squid.AccessLog();

    // A missing file comes back as squid's own keep-alive 404, and a HEAD has no body to wait for.
    events.clear();
    client->Get(nginx.Url("missing.exe"));
    EXPECT_EQ(client->ReplyCode, 404);
    EXPECT_NE(Events().find("failure 0"), std::string::npos);
    client->Head(nginx.Url("quorvale-qt.exe"));
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->BytesTotal, 1024 * 1024);
    EXPECT_EQ(ReadFile(dir.File("quorvale-qt.exe")), "");
}

TEST_F(HttpClientTest, AnIpv6LiteralUrlReachesNginxOnIpv6LoopbackOnly) {
    if (!qvl::test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";
    NginxFixture::Options options;
    options.ipv6Only = true;
    NginxFixture nginx(options);
    nginx.WriteFile("six.txt", "over IPv6\n");
    const std::string url = nginx.Url("six.txt");
    ASSERT_EQ(url.rfind("http://[::1]:", 0), 0u) << url;
    client->Get(url);
    EXPECT_EQ(client->ReplyCode, 200);
    EXPECT_EQ(client->Body, "over IPv6\n");
    EXPECT_EQ(client->Host, "::1");
    EXPECT_EQ(client->RequestHeaders->Get(client->RequestHeaders->IndexOfHeader("Host")),
              "Host: [::1]:" + std::to_string(nginx.Port()));
}

#else
QVL_TESTS_SKIPPED_HERE(RealServer, "nginx, squid and tinyproxy run on the Linux side")
#endif
