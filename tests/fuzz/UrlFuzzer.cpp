// Fuzzes THttpClient::ParseURL with arbitrary RequestURL text. The first input byte picks the
// state left by an earlier command (Host set or empty; Port 0, 80 or 8080); the rest is the URL.
// A refused URL must raise one of the system's exceptions and leave Host alone; an accepted one
// must give a request path that a request line can carry and a host without "/" or ":", and
// the request composed from it must carry that path and host.
#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "net/http/HttpClient.h"

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
    qvl::Application::SetExceptionDisplay([](const std::string& text) {
        std::fprintf(stderr, "error box during fuzzing: %s\n", text.c_str());
        std::abort();
    });
    harness = new Harness;  // lives as long as the process: libFuzzer never returns to us
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvl::THttpClient& c = harness->client;
    const uint8_t state = data[0];
    static const int ports[] = {0, 80, 8080, 0};
    c.Host = (state & 4) ? "earlier.example" : "";
    c.Port = ports[state & 3];
    const std::string url(reinterpret_cast<const char*>(data) + 1, size - 1);
    c.RequestURL = url;
    c.RequestPath = "unset";
    const std::string hostBefore = c.Host;

    try {
        c.ParseURL();
    } catch (const qvl::Exception&) {
        if (c.Host != hostBefore) Fail("a refused URL changed Host", url);
        return 0;
    }

    const std::string& path = c.RequestPath;
    if (path.empty() || path[0] != '/') Fail("request path does not start with /", url);
    if (path.size() > 256) Fail("request path longer than 256 bytes", url);
    if (c.RequestURL != url && c.RequestURL != url + "/") Fail("RequestURL changed beyond a /", url);
    if (c.RequestURL != url && path != "/") Fail("\"/\" appended to a URL that has a path", url);
    if (c.Host.find('/') != std::string::npos || c.Host.find(':') != std::string::npos)
        Fail("host carries a / or :", url);
    if (url.empty()) Fail("an empty URL was accepted", url);

    c.CurrentCmd = qvl::CmdGet;
    try {
        c.BuildHeader();
    } catch (const qvl::Exception&) {
        // Only a line break or NUL byte in what goes on the wire may stop a request here.
        if (url.find_first_of(std::string("\r\n\0", 3)) == std::string::npos)
            Fail("a URL without control bytes was refused by BuildHeader", url);
        return 0;
    }
    const qvl::TExStringList& h = *c.RequestHeaders;
    if (h.Count() < 4 || h.Get(0) != "GET " + path + " HTTP/1.0") Fail("request line is not GET path", url);
    const int host = h.IndexOfHeader("Host");
    if ((host == 1) != !c.Host.empty() || (host == 1 && h.Get(1) != "Host: " + c.Host))
        Fail("Host line does not match Host", url);
    return 0;
}
