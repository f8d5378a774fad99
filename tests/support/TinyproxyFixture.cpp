// POSIX only: the Linux tests' helper.
#ifndef _WIN32
#include "TinyproxyFixture.h"

#include <unistd.h>

#include <sstream>

namespace qvl::test {

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
constexpr const char* kLog = "tinyproxy.log";
// Written once the listening socket is open and the main loop runs.
constexpr const char* kReadyLine = "Accepting connections";
constexpr std::string_view kRequestMarker = "Request (file descriptor ";

}  // namespace

bool TinyproxyFixture::Available() { return ::access(kTinyproxy, X_OK) == 0; }

TinyproxyFixture::TinyproxyFixture() : TinyproxyFixture(0) {}

TinyproxyFixture::TinyproxyFixture(uint16_t firstPort) : daemon_("qvl-tinyproxy") {
    DaemonFixture::Program program;
    program.name = "tinyproxy";
    program.path = kTinyproxy;
    // -d keeps it in the foreground.
    program.arguments = [](const std::string& config) { return std::vector<std::string>{"-d", "-c", config}; };
    program.config = [this](uint16_t port) {
        std::ostringstream config;
        config << "Port " << port << "\n"
               << "Listen 127.0.0.1\n"
               << "Timeout 60\n"
               << "LogFile \"" << (daemon_.Dir() / kLog).string() << "\"\n"
               << "LogLevel Info\n"
               << "PidFile \"" << (daemon_.Dir() / "tinyproxy.pid").string() << "\"\n"
               << "MaxClients 50\n"
               << "Allow 127.0.0.1\n";
        return config.str();
    };
    program.startLogs = {kLog};
    program.ready = daemon_.ReadyLine(kLog, kReadyLine);
    program.portTaken = {"Address already in use", "Could not create listening sockets"};
    daemon_.Start(program, firstPort);
}

TinyproxyFixture::~TinyproxyFixture() = default;

std::string TinyproxyFixture::Log() const { return daemon_.ReadLog(kLog); }

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
    return daemon_.WaitForLog(kLog, text, timeout);
}

void TinyproxyFixture::Stop() { daemon_.Stop(); }

bool TinyproxyFixture::Running() { return daemon_.Running(); }

}  // namespace qvl::test

#endif  // _WIN32
