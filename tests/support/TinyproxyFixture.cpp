#include "TinyproxyFixture.h"

#include <sstream>

namespace qvl::test {

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
constexpr const char* kLog = "tinyproxy.log";
// Written once the listening socket is open and the main loop runs.
constexpr const char* kReadyLine = "Accepting connections";
constexpr std::string_view kRequestMarker = "Request (file descriptor ";

}  // namespace

bool TinyproxyFixture::Available() { return Runnable(kTinyproxy); }

TinyproxyFixture::TinyproxyFixture() : TinyproxyFixture(0) {}

TinyproxyFixture::TinyproxyFixture(uint16_t firstPort) : DaemonFixture("qvl-tinyproxy") {
    Program program;
    program.name = "tinyproxy";
    program.path = kTinyproxy;
    // -d keeps it in the foreground.
    program.arguments = [](const std::string& config) { return std::vector<std::string>{"-d", "-c", config}; };
    program.config = [this](uint16_t port) {
        std::ostringstream config;
        config << "Port " << port << "\n"
               << "Listen 127.0.0.1\n"
               << "Timeout 60\n"
               << "LogFile \"" << (Dir() / kLog).string() << "\"\n"
               << "LogLevel Info\n"
               << "PidFile \"" << (Dir() / "tinyproxy.pid").string() << "\"\n"
               << "MaxClients 50\n"
               << "Allow 127.0.0.1\n";
        return config.str();
    };
    program.startLogs = {kLog};
    program.ready = ReadyLine(kLog, kReadyLine);
    program.portTaken = {"Address already in use", "Could not create listening sockets"};
    Start(program, firstPort);
}

std::string TinyproxyFixture::Log() const { return ReadLog(kLog); }

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
    return DaemonFixture::WaitForLog(kLog, text, timeout);
}

}  // namespace qvl::test
