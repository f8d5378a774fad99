#include "RawHttp.h"

#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qvl::test {

namespace {

class SocketFd {
public:
    SocketFd() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    ~SocketFd() { ::close(fd_); }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string Trim(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return std::string(text.substr(begin, end - begin));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Milliseconds left until `deadline`, at least 0.
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

void WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline, const char* what) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready > 0) return;
        if (ready == 0) throw std::runtime_error(std::string("timed out while ") + what);
        if (errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
}

}  // namespace

std::optional<std::string> RawReply::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

RawReply ParseRawReply(std::string raw) {
    RawReply reply;
    reply.raw = std::move(raw);
    const std::string& text = reply.raw;
    const size_t headerEnd = text.find("\r\n\r\n");
    const std::string_view head = std::string_view(text).substr(0, headerEnd == std::string::npos ? text.size() : headerEnd);
    if (headerEnd != std::string::npos) reply.body = text.substr(headerEnd + 4);

    size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = head.size();
        const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
        if (first) {
            reply.statusLine = std::string(line);
            // "HTTP/x.y ddd ..."
            const size_t space = line.find(' ');
            if (line.substr(0, 5) == "HTTP/" && space != std::string_view::npos && line.size() >= space + 4 &&
                std::all_of(line.begin() + static_cast<long>(space) + 1, line.begin() + static_cast<long>(space) + 4,
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
                reply.status = std::stoi(std::string(line.substr(space + 1, 3)));
            }
            first = false;
        } else if (!line.empty()) {
            const size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                reply.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
            }
        }
        if (lineEnd == head.size()) break;
        lineStart = lineEnd + 2;
    }
    return reply;
}

RawReply RawExchange(uint16_t port, std::string_view request, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    SocketFd fd;
    sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("connect 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    }
    size_t sent = 0;
    while (sent < request.size()) {
        WaitFor(fd.get(), POLLOUT, deadline, "sending the request");
        const ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        }
        sent += static_cast<size_t>(n);
    }
    std::string received;
    char buffer[65536];
    for (;;) {
        WaitFor(fd.get(), POLLIN, deadline, "waiting for the server to close the connection");
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::runtime_error(std::string("recv: ") + std::strerror(errno));
        }
        received.append(buffer, static_cast<size_t>(n));
    }
    return ParseRawReply(std::move(received));
}

RawReply RawGet10(uint16_t port, std::string_view target, std::chrono::milliseconds timeout) {
    return RawExchange(port, "GET " + std::string(target) + " HTTP/1.0\r\n\r\n", timeout);
}

}  // namespace qvl::test
