#include "TinyproxyFixture.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Loopback.h"
#include "Wait.h"

namespace qvl::test {

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
constexpr int kStartAttempts = 8;
constexpr auto kStartTimeout = std::chrono::seconds(15);
// Written once the listening socket is open and the main loop runs.
constexpr std::string_view kReadyLine = "Accepting connections";
constexpr std::string_view kRequestMarker = "Request (file descriptor ";

std::string ReadOrEmpty(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool TinyproxyFixture::Available() { return ::access(kTinyproxy, X_OK) == 0; }

TinyproxyFixture::TinyproxyFixture() : TinyproxyFixture(0) {}

TinyproxyFixture::TinyproxyFixture(uint16_t firstPort) : dir_("qvl-tinyproxy") {
    uint16_t port = firstPort;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (port == 0) port = PickFreeLoopbackPort();
        if (TryStart(port)) return;
        port = 0;
    }
    throw std::runtime_error("tinyproxy could not get a free port on 127.0.0.1:\n" + Log());
}

TinyproxyFixture::~TinyproxyFixture() { Stop(); }

bool TinyproxyFixture::TryStart(uint16_t port) {
    const auto logPath = dir_ / "tinyproxy.log";
    std::filesystem::remove(logPath);
    {
        std::ofstream config(dir_ / "tinyproxy.conf", std::ios::trunc);
        config << "Port " << port << "\n"
               << "Listen 127.0.0.1\n"
               << "Timeout 60\n"
               << "LogFile \"" << logPath.string() << "\"\n"
               << "LogLevel Info\n"
               << "PidFile \"" << (dir_ / "tinyproxy.pid").string() << "\"\n"
               << "MaxClients 50\n"
               << "Allow 127.0.0.1\n";
        if (!config) throw std::runtime_error("cannot write the tinyproxy configuration");
    }
    // -d keeps it in the foreground, so that it is our child and dies with the test.
    process_ = std::make_unique<ChildProcess>(
        kTinyproxy, std::vector<std::string>{"-d", "-c", (dir_ / "tinyproxy.conf").string()},
        (dir_ / "tinyproxy.out").string());
    const bool ended = !WaitUntil(
        [&] {
            return !process_->Running() ||
                   (ReadOrEmpty(logPath).find(kReadyLine) != std::string::npos && CanConnectLoopback(port));
        },
        kStartTimeout) || !process_->Running();
    if (!ended) {
        port_ = port;
        return true;
    }
    process_->Stop();
    process_.reset();
    const std::string log = ReadOrEmpty(logPath) + ReadOrEmpty(dir_ / "tinyproxy.out");
    if (log.find("Address already in use") != std::string::npos ||
        log.find("Could not create listening sockets") != std::string::npos) {
        return false;
    }
    throw std::runtime_error("tinyproxy did not start:\n" + log);
}

std::string TinyproxyFixture::Log() const { return ReadOrEmpty(dir_ / "tinyproxy.log"); }

std::vector<std::string> TinyproxyFixture::Requests() const {
    std::vector<std::string> requests;
    std::istringstream lines(Log());
    std::string line;
    while (std::getline(lines, line)) {
        const size_t marker = line.find(kRequestMarker);
        if (marker == std::string::npos) continue;
        const size_t start = line.find("): ", marker);
        if (start != std::string::npos) requests.push_back(line.substr(start + 3));
    }
    return requests;
}

bool TinyproxyFixture::WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeout);
}

void TinyproxyFixture::Stop() {
    if (process_) {
        process_->Stop();
        process_.reset();
    }
}

bool TinyproxyFixture::Running() { return process_ && process_->Running(); }

}  // namespace qvl::test
