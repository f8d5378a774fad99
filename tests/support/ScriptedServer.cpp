#include "ScriptedServer.h"

#include "Loopback.h"
#include "SocketApi.h"

#ifndef _WIN32
#include <netinet/tcp.h>
#endif

#include <chrono>
#include <random>
#include <stdexcept>

namespace qvl::test {
namespace {

using Clock = std::chrono::steady_clock;

// The thread looks at the stop flag at least this often while it waits for the client.
constexpr int kSliceMs = 20;
// A normal close waits at most this long for the client to close its side too.
constexpr int kDrainMs = 1000;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits at most one slice for `events` on `fd`; false once `deadline` has passed.
bool WaitSlice(int fd, short events, Clock::time_point deadline) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    PollOne(fd, events, std::min(left, kSliceMs));
    return true;
}

// A step that failed: `why` says how.
bool Failed(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

}  // namespace

ScriptedServer::Script& ScriptedServer::Script::ReadUntil(std::string delimiter) {
    steps_.push_back({Kind::ReadUntil, std::move(delimiter), 0, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::ReadBytes(size_t count) {
    steps_.push_back({Kind::ReadBytes, {}, count, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::ReadUntilClosed() {
    steps_.push_back({Kind::ReadUntilClosed, {}, 0, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::Send(std::string bytes) {
    steps_.push_back({Kind::Send, std::move(bytes), 0, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::SendInPieces(std::string bytes, size_t maxPiece, uint32_t seed) {
    steps_.push_back({Kind::SendInPieces, std::move(bytes), maxPiece == 0 ? 1 : maxPiece, seed});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::WaitForRelease() {
    steps_.push_back({Kind::WaitForRelease, {}, 0, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::Close() {
    steps_.push_back({Kind::Close, {}, 0, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::Reset() {
    steps_.push_back({Kind::Reset, {}, 0, 0});
    return *this;
}

ScriptedServer::ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{std::move(script)}) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    if (scripts_.empty()) scripts_.emplace_back();
    listenFd_ = OpenTcpSocket(true);
    if (listenFd_ < 0) throw std::runtime_error("ScriptedServer: socket failed");
#ifndef _WIN32
    // (On Windows this option would let another program take the port from us.)
    SetIntOption(listenFd_, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocketFd(listenFd_);
        throw std::runtime_error("ScriptedServer: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    // Every wait of the thread looks at stop_ at least every kSliceMs, so this join is bounded.
    if (thread_.joinable()) thread_.join();
    CloseSocketFd(listenFd_);
}

size_t ScriptedServer::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

size_t ScriptedServer::FinishedCount() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& c : connections_) n += c.finished ? 1 : 0;
    return n;
}

std::string ScriptedServer::Received(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < connections_.size() ? connections_[index].received : std::string();
}

std::vector<std::string> ScriptedServer::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

void ScriptedServer::Release() {
    std::lock_guard lock(mutex_);
    ++releases_;
    changed_.notify_all();
}

bool ScriptedServer::WaitForConnections(size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return connections_.size() >= count; });
}

bool ScriptedServer::WaitUntilFinished(size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        size_t n = 0;
        for (const auto& c : connections_) n += c.finished ? 1 : 0;
        return n >= count;
    });
}

uint16_t ScriptedServer::UnusedPort() {
    // Bind to a free port and give it back without listening: until something else takes the
    // port (unlikely within a test), connecting to it is refused.
    const int fd = OpenTcpSocket(false);
    if (fd < 0) throw std::runtime_error("ScriptedServer: socket failed");
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocketFd(fd);
        throw std::runtime_error("ScriptedServer: cannot bind on 127.0.0.1");
    }
    CloseSocketFd(fd);
    return ntohs(address.sin_port);
}

void ScriptedServer::Fail(size_t index, const std::string& what) {
    std::lock_guard lock(mutex_);
    errors_.push_back("connection " + std::to_string(index) + ": " + what);
}

void ScriptedServer::Run() {
    while (!stop_) {
        if (PollOne(listenFd_, POLLIN, kSliceMs) <= 0) continue;
        const int fd = AcceptNonBlocking(listenFd_);
        if (fd < 0) continue;
        // Each send() leaves as its own segment, so pieces reach the client as separate packets.
        SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
        size_t index;
        {
            std::lock_guard lock(mutex_);
            index = connections_.size();
            connections_.emplace_back();
            changed_.notify_all();
        }
        const Script& script = scripts_[std::min(index, scripts_.size() - 1)];
        RunScript(fd, index, script);
        MarkFinished(index);
    }
}

void ScriptedServer::MarkFinished(size_t index) {
    std::lock_guard lock(mutex_);
    connections_[index].finished = true;
    changed_.notify_all();
}

bool ScriptedServer::ReadMore(int fd, size_t index, std::string& pending, std::string& why) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_.load());
    for (;;) {
        if (stop_) return Failed(why, "server stopped");
        char buffer[65536];
        const long n = RecvBytes(fd, buffer, sizeof buffer);
        if (n > 0) {
            pending.append(buffer, static_cast<size_t>(n));
            std::lock_guard lock(mutex_);
            connections_[index].received.append(buffer, static_cast<size_t>(n));
            return true;
        }
        if (n == 0) return Failed(why, "client closed");
        if (!LastCallWouldBlock()) return Failed(why, "recv failed: " + LastSocketErrorText());
        if (!WaitSlice(fd, POLLIN, deadline)) return Failed(why, "timed out waiting for the client");
    }
}

bool ScriptedServer::SendAll(int fd, const char* data, size_t len, std::string& why) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_.load());
    while (len > 0) {
        if (stop_) return Failed(why, "server stopped");
        const long n = SendBytes(fd, data, len);
        if (n > 0) {
            data += n;
            len -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && !LastCallWouldBlock()) return Failed(why, "send failed: " + LastSocketErrorText());
        if (!WaitSlice(fd, POLLOUT, deadline)) return Failed(why, "timed out waiting for the client to read");
    }
    return true;
}

void ScriptedServer::RunScript(int fd, size_t index, const Script& script) {
    std::string pending;  // received but not yet consumed by a read step
    std::string why;
    bool open = true;
    size_t stepNo = 0;
    auto fail = [&](const char* step) {
        Fail(index, "step " + std::to_string(stepNo) + " (" + step + "): " + why);
    };

    for (const auto& step : script.steps_) {
        if (!open) break;
        bool ok = true;
        switch (step.kind) {
        case Script::Kind::ReadUntil: {
            size_t at;
            while ((at = pending.find(step.bytes)) == std::string::npos)
                if (!(ok = ReadMore(fd, index, pending, why))) break;
            if (ok) pending.erase(0, at + step.bytes.size());
            else fail("read until");
            break;
        }
        case Script::Kind::ReadBytes:
            while (pending.size() < step.count)
                if (!(ok = ReadMore(fd, index, pending, why))) break;
            if (ok) pending.erase(0, step.count);
            else fail("read bytes");
            break;
        case Script::Kind::ReadUntilClosed:
            while (ReadMore(fd, index, pending, why)) {}
            pending.clear();
            if (why != "client closed" && why.rfind("recv failed", 0) != 0) {
                ok = false;
                fail("read until closed");
            }
            break;
        case Script::Kind::Send:
            if (!(ok = SendAll(fd, step.bytes.data(), step.bytes.size(), why))) fail("send");
            break;
        case Script::Kind::SendInPieces: {
            std::mt19937 random(step.seed);
            std::uniform_int_distribution<size_t> size(1, step.count);
            size_t at = 0;
            while (ok && at < step.bytes.size()) {
                const size_t n = std::min(size(random), step.bytes.size() - at);
                if (!(ok = SendAll(fd, step.bytes.data() + at, n, why))) break;
                at += n;
                // Pacing only, so that the pieces do not merge on the way; nothing waits on it.
                if (at < step.bytes.size()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (!ok) fail("send in pieces");
            break;
        }
        case Script::Kind::WaitForRelease: {
            std::unique_lock lock(mutex_);
            ok = changed_.wait_for(lock, std::chrono::milliseconds(stepTimeoutMs_.load()),
                                   [&] { return releases_ > 0 || stop_; }) &&
                 releases_ > 0;
            if (ok) --releases_;
            lock.unlock();
            if (!ok) {
                why = stop_ ? "server stopped" : "never released";
                fail("wait for release");
            }
            break;
        }
        case Script::Kind::Close:
            open = false;
            break;
        case Script::Kind::Reset: {
            SetLingerZero(fd);
            CloseSocketFd(fd);
            fd = -1;
            open = false;
            break;
        }
        }
        if (!ok) break;
        ++stepNo;
    }

    if (fd < 0) return;
    // A normal close: FIN first, then take what the client still sends until it closes as well,
    // because closing with unread bytes in the receive queue would reset the connection. The
    // script counts as finished once the FIN is out.
    ShutdownWrite(fd);
    MarkFinished(index);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kDrainMs);
    while (!stop_) {
        char buffer[4096];
        const long n = RecvBytes(fd, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(mutex_);
            connections_[index].received.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || !LastCallWouldBlock() || !WaitSlice(fd, POLLIN, deadline)) break;
    }
    CloseSocketFd(fd);
}

}  // namespace qvl::test
