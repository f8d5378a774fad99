// Fuzzes THttpClient::ParseURL with arbitrary RequestURL text, and the resolution of a
// redirect's Location. The first input byte picks the state left by an earlier command (Host
// set or empty; Port 0, 80 or 8080) and, with its top bit, that the rest is a Location to
// resolve against a fixed URL instead of a URL. A refused URL must raise one of the system's
// exceptions and leave Host and Port alone; an accepted one must give a request target of
// RFC 3986's allowed bytes only (encoding it again changes nothing), a port from 1 to 65535 and
// a host without "/", and the request composed from it must carry that target and
// "Host: host[:port]". A resolved Location is an absolute URL without dot segments whose
// resolution is stable (resolving it again gives itself).
#include <QCoreApplication>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzErrorBox.h"
#include "framework/Exception.h"
#include "net/http/HttpClient.h"
#include "net/http/Url.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& url) {
    std::fprintf(stderr, "ParseURL property broken: %s (URL of %zu bytes)\n", what, url.size());
    std::abort();
}

struct Harness {
    int argc = 1;
    char name[16] = "fuzz_url";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    qvl::THttpClient client;
};

Harness* harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qvl::fuzz::AbortOnErrorBox();
    harness = new Harness;  // lives as long as the process: libFuzzer never returns to us
    return 0;
}

namespace {

bool Allowed(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string("-._~!$&'()*+,;=:@/?%").find(c) != std::string::npos;
}

void CheckResolution(const std::string& reference) {
    const std::string base = "http://earlier.example:8080/dir/sub/a.htm?q=1";
    const std::string to = qvl::ResolveReference(base, reference);
    if (to.find(':') == std::string::npos) Fail("a resolved Location has no scheme", reference);
    if (qvl::ResolveReference(base, to) != to) Fail("resolving a resolved Location changes it", reference);
    // The path: after the scheme and the authority, up to the query.
    size_t start = to.find(':') + 1;
    if (to.compare(start, 2, "//") == 0) start = std::min(to.find_first_of("/?", start + 2), to.size());
    const std::string p = to.substr(start, to.find('?', start) - start);
    if (p.find("/./") != std::string::npos || p.find("/../") != std::string::npos)
        Fail("a resolved Location keeps a dot segment", reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvl::THttpClient& c = harness->client;
    const uint8_t state = data[0];
    const std::string url(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (state & 0x80) {
        CheckResolution(url);
        return 0;
    }
    static const int ports[] = {0, 80, 8080, 0};
    c.Host = (state & 4) ? "earlier.example" : "";
    c.Port = ports[state & 3];
    c.RequestURL = url;
    c.RequestPath = "unset";
    const std::string hostBefore = c.Host;
    const int portBefore = c.Port;

    try {
        c.ParseURL();
    } catch (const qvl::Exception&) {
        if (c.Host != hostBefore) Fail("a refused URL changed Host", url);
        if (c.Port != portBefore) Fail("a refused URL changed Port", url);
        return 0;
    }

    const std::string& path = c.RequestPath;
    if (path.empty() || path[0] != '/') Fail("request path does not start with /", url);
    for (const char ch : path)
        if (!Allowed(ch)) Fail("request path holds a byte that must be encoded", url);
    if (qvl::EncodeTarget(path) != path) Fail("encoding the request path again changes it", url);
    if (c.Port < 1 || c.Port > 65535) Fail("port out of range", url);
    if (c.RequestURL != url && c.RequestURL.size() != url.size() + 1) Fail("RequestURL changed beyond a /", url);
    if (c.Host.find('/') != std::string::npos || c.Host.find('[') != std::string::npos)
        Fail("host carries a / or a bracket", url);
    if (url.empty()) Fail("an empty URL was accepted", url);

    c.CurrentCmd = qvl::CmdGet;
    try {
        c.BuildHeader();
    } catch (const qvl::Exception&) {
        Fail("an accepted URL was refused by BuildHeader", url);
    }
    const qvl::TExStringList& h = *c.RequestHeaders;
    if (h.Count() < 4 || h.Get(0) != "GET " + path + " HTTP/1.0") Fail("request line is not GET path", url);
    const int host = h.IndexOfHeader("Host");
    if ((host == 1) != !c.Host.empty() || (host == 1 && h.Get(1) != "Host: " + qvl::AuthorityOf(c.Host, c.Port)))
        Fail("Host line does not match Host and Port", url);
    return 0;
}
