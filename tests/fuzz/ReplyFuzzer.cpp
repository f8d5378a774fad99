// Fuzzes the reply reader: each input is the bytes a server answers to a GET. The harness
// listens on 127.0.0.1; THttpClient::Get connects to it through the real socket engine, and as
// soon as the connection is up (OnConnect) the harness accepts it, writes the input as the
// reply and half-closes. The client then sends its request, reads the status line and header
// lines, and captures the body, exactly as in a download. Every input runs three times: header
// and body as text; both into files; and as text again with the reply arriving in pieces (sizes
// drawn from the input's hash), one piece per turn of the client's event loop, so that lines
// and the body are read across every kind of split.
//
// What must hold, besides "no crash, no sanitizer report": the command ends (no time-out: the
// peer has said everything and closed); it fails only with the system's exceptions; when it
// succeeds, the header is the final reply's lines up to the blank line (interim 1xx replies
// skipped) and the body is what follows as its framing says: the Content-Length bytes, the
// decoded chunks (never more than was sent), nothing for 204/304, else everything; a redirect
// leads to an absolute URL resolved from the Location; extracted values keep no line end; the
// outcome does not depend on how the reply was cut into pieces; no descriptor is left open.
#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzErrorBox.h"
#include "framework/Exception.h"
#include "net/http/HttpClient.h"
#include "net/http/Url.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "reply reader property broken: %s\n", what);
    std::abort();
}

// Failures of the harness itself, not findings.
[[noreturn]] void HarnessFail(const char* what) {
    std::perror(what);
    std::abort();
}

// Descriptors the client could leak: sockets, and files in the harness's folder. (The process
// has others, opened and kept by the fuzzing runtime and Qt at their own pace.)
int CountClientDescriptors(const std::string& folder) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) HarnessFail("opendir /proc/self/fd");
    int n = 0;
    while (const dirent* entry = readdir(dir)) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
        if (len <= 0) continue;
        const std::string t(target, static_cast<size_t>(len));
        if (t.rfind("socket:", 0) == 0 || t.rfind(folder, 0) == 0) ++n;
    }
    closedir(dir);
    return n;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits (bounded) until fd is ready for `events`.
void WaitFor(int fd, short events, const char* what) {
    pollfd p{fd, events, 0};
    if (poll(&p, 1, 5000) != 1) HarnessFail(what);
}

// The reply as the reader must see it: complete lines (ended by LF) from the final status line
// up to and including the first blank line ("\n" or "\r\n") form the header; interim replies
// (a status code 1xx, with their lines up to their blank line) before it are skipped; a line
// the peer cut off by closing is dropped and ends the header; `rest` is everything after the
// blank line.
struct Expected {
    std::string header;
    std::string rest;
};

bool Interim(const std::string& statusLine) {
    // "HTTP/x.y 1dd": the reader has checked the form when it accepted the reply.
    const size_t blank = statusLine.find(' ');
    return blank != std::string::npos && blank + 1 < statusLine.size() && statusLine[blank + 1] == '1';
}

Expected Split(const std::string& reply) {
    Expected e;
    size_t at = 0;
    bool first = true;
    for (;;) {
        const size_t lf = reply.find('\n', at);
        if (lf == std::string::npos) return e;  // cut off: the rest is dropped, no body
        const std::string line = reply.substr(at, lf + 1 - at);
        e.header += line;
        at = lf + 1;
        const bool blank = line == "\n" || line == "\r\n";
        if (first && Interim(line)) {
            // Skip the interim reply's lines up to its blank line.
            size_t end = reply.find("\n\n", at - 1);
            size_t crlf = reply.find("\n\r\n", at - 1);
            if (crlf != std::string::npos && (end == std::string::npos || crlf < end)) end = crlf + 1;
            if (end == std::string::npos) return Expected{};
            at = end + 2;
            e.header.clear();
            continue;
        }
        if (!first && blank) break;
        first = false;
    }
    e.rest = reply.substr(at);
    return e;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Sends the next piece of the reply on every turn of the client's event loop (a 0 ms timer
// fires once per dispatch), and half-closes after the last.
class PieceFeeder : public QObject {
public:
    void Start(int fd, const std::string& reply) {
        fd_ = fd;
        reply_ = &reply;
        sent_ = 0;
        // Piece sizes 1 to 97 from a generator seeded by the reply's hash (FNV-1a).
        uint64_t h = 1469598103934665603ULL;
        for (const char c : reply) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        state_ = h | 1;
        SendPiece();
        if (fd_ >= 0) timer_ = startTimer(0);
    }
    void Stop() {
        if (timer_ != 0) killTimer(timer_);
        timer_ = 0;
        fd_ = -1;
    }

protected:
    void timerEvent(QTimerEvent*) override { SendPiece(); }

private:
    void SendPiece() {
        if (fd_ < 0) return;
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        const size_t piece = std::min<size_t>(1 + state_ % 97, reply_->size() - sent_);
        if (piece > 0) {
            const ssize_t n = send(fd_, reply_->data() + sent_, piece, MSG_NOSIGNAL);
            // The client may have given up and closed already; then the rest is not wanted.
            if (n > 0) sent_ += static_cast<size_t>(n);
            else if (!(n < 0 && errno == EAGAIN)) sent_ = reply_->size();
        }
        if (sent_ >= reply_->size()) {
            shutdown(fd_, SHUT_WR);
            Stop();
        }
    }

    int fd_ = -1;
    int timer_ = 0;
    const std::string* reply_ = nullptr;
    size_t sent_ = 0;
    uint64_t state_ = 1;
};

// What a run ended with, to compare runs of one reply.
struct Outcome {
    std::string error;  // the exception's message, empty on success
    int replyCode = 0;
    std::string header;
    std::string body;
    bool operator==(const Outcome&) const = default;
};

class Harness {
public:
    Harness() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listener_ < 0) HarnessFail("socket");
        // Room for a whole input in the send buffer before the client reads anything.
        const int big = 1 << 20;
        setsockopt(listener_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) HarnessFail("bind");
        if (listen(listener_, 4) != 0) HarnessFail("listen");
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);

        std::string tmpl = (std::filesystem::temp_directory_path() / "qvl-fuzz-reply-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) HarnessFail("mkdtemp");
        dir_ = tmpl;
        // libFuzzer ends a run that found nothing with exit(); the folder goes with it.
        static std::string folder;
        folder = dir_;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        url_ = "http://127.0.0.1:" + std::to_string(port_) + "/qvlloader.exe";

        client_.Host = "127.0.0.1";
        // A bound on every wait; reaching it is a finding (see below), not an outcome.
        client_.TimeOut = 10000;
        client_.OnConnect = [this](qvl::TObject*) { Serve(); };
        // Redirects are not followed: a fuzzed Location would send the client anywhere. What
        // it would follow must be an absolute http URL, resolved from the Location.
        client_.OnRedirect = [this](bool& handled) {
            handled = true;
            redirected_ = true;
            const std::string& to = client_.RequestURL;
            if (to.rfind("http:", 0) != 0 && to.find("://") == std::string::npos &&
                to.rfind("//", 0) != 0 && to.find(':') == std::string::npos)
                Fail("a redirect leads to a URL without a scheme");
            if (to.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                Fail("a redirect leads to a URL with a line break or NUL");
            if (qvl::ResolveReference(url_, client_.LocationValue) != to)
                Fail("the redirect target is not the Location resolved against the URL");
            try {
                qvl::SplitUrl(to);
            } catch (const qvl::Exception&) {
                // Refused on the next pass with a message; not followed here.
            }
        };
        baselineFds_ = CountClientDescriptors(dir_);
    }

    void Run(const std::string& reply) {
        reply_ = &reply;
        const Outcome whole = RunOnce(false, false);
        RunOnce(true, false);
        if (RunOnce(false, true) != whole) Fail("the outcome depends on how the reply is cut into pieces");
        reply_ = nullptr;
        if (++runs_ % 64 == 0 && CountClientDescriptors(dir_) != baselineFds_)
            Fail("descriptors leaked");
    }

private:
    // In OnConnect, inside Connect's wait: the connection is in the listener's queue.
    void Serve() {
        WaitFor(listener_, POLLIN, "accept wait");
        server_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (server_ < 0) HarnessFail("accept");
        if (pieces_) {
            feeder_.Start(server_, *reply_);
            return;
        }
        size_t sent = 0;
        while (sent < reply_->size()) {
            const ssize_t n = send(server_, reply_->data() + sent, reply_->size() - sent, MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<size_t>(n);
            else if (n < 0 && errno == EAGAIN) WaitFor(server_, POLLOUT, "send wait (input too big?)");
            else HarnessFail("send");
        }
        shutdown(server_, SHUT_WR);
    }

    Outcome RunOnce(bool files, bool pieces) {
        qvl::THttpClient& c = client_;
        pieces_ = pieces;
        c.InputFileMode = files;
        c.OutputFileMode = files;
        c.Body = files ? dir_ + "/body" : std::string("stale body");
        c.Header = files ? dir_ + "/header" : std::string("stale header");
        c.Port = 0;
        c.LocationValue = "stale location";
        c.SetCookieValue = "stale cookie";
        // Each input starts clean: a cookie carried over by an earlier run's redirect (one the
        // client refuses to send, for instance) must not decide this run.
        c.HeaderInfo->Cookie.clear();
        redirected_ = false;

        Outcome outcome;
        bool failed = false;
        try {
            c.Get(url_);
        } catch (const qvl::Exception& e) {
            // ESockError for a reply that is not HTTP or is cut short; outcomes, not findings.
            failed = true;
            outcome.error = e.Message();
        }
        feeder_.Stop();
        if (server_ >= 0) {
            close(server_);
            server_ = -1;
        } else {
            Fail("the client never connected");
        }

        if (c.TimedOut) Fail("the command waited for its time-out on a closed connection");
        if (c.Connected) Fail("still connected after the command");
        if (c.LocationValue.find('\n') != std::string::npos || c.SetCookieValue.find('\n') != std::string::npos)
            Fail("a header value kept its line end");
        if (c.BytesTotal < 0) Fail("negative BytesTotal");
        if (failed) return outcome;

        if (c.ReplyCode < 200 || c.ReplyCode > 999) Fail("accepted a reply without a final status code");
        const Expected e = Split(*reply_);
        const std::string header = files ? ReadFile(c.Header) : c.Header;
        const std::string body = files ? ReadFile(c.Body) : c.Body;
        if (header != e.header) Fail("header is not the final reply's header lines");
        const bool chunked = Lower(header).find("\ntransfer-encoding:") != std::string::npos;
        if (c.ReplyCode == 204 || c.ReplyCode == 304) {
            if (!body.empty()) Fail("a 204 or 304 kept a body");
        } else if (c.ContentLengthSeen) {
            if (chunked) Fail("Content-Length framed a body that has a transfer coding");
            if (c.ReplyCode < 300 && body != e.rest.substr(0, static_cast<size_t>(c.BytesTotal)))
                Fail("a success body is not its Content-Length bytes");
            if (body != e.rest.substr(0, body.size())) Fail("body is not the bytes after the header");
            if (static_cast<int64_t>(body.size()) > c.BytesTotal) Fail("more than the Content-Length was kept");
        } else if (chunked) {
            if (body.size() > e.rest.size()) Fail("a chunked body decoded to more than was sent");
        } else if (body != e.rest) {
            Fail("body is not the bytes after the header");
        }
        if (c.BytesRecvd != static_cast<int64_t>(body.size())) Fail("BytesRecvd is not the body size");
        if (redirected_ && c.LocationValue.empty()) Fail("followed a redirect without a Location");
        outcome.replyCode = c.ReplyCode;
        outcome.header = header;
        outcome.body = body;
        return outcome;
    }

    int argc_ = 1;
    char name_[16] = "fuzz_reply";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    qvl::THttpClient client_;
    PieceFeeder feeder_;
    bool pieces_ = false;
    bool redirected_ = false;
    int listener_ = -1;
    int server_ = -1;
    uint16_t port_ = 0;
    std::string dir_;
    std::string url_;
    const std::string* reply_ = nullptr;
    int baselineFds_ = 0;
    uint64_t runs_ = 0;
};

Harness* harness = nullptr;

}  // namespace

// The engine's lookup and connect waits sleep 2 ms per turn to leave the processor to others.
// On loopback what they wait for is there at once, so this harness links its own turn (see
// --wrap in CMakeLists.txt) that does not sleep, which takes a run from milliseconds to
// microseconds. The waits still loop and dispatch exactly as shipped.
extern "C" void __wrap__ZN3qvl8platform5SleepEj(unsigned) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qvl::fuzz::AbortOnErrorBox();
    harness = new Harness;  // lives as long as the process: libFuzzer never returns to us
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    harness->Run(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
