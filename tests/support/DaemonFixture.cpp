#include "DaemonFixture.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "Loopback.h"
#include "Wait.h"

namespace qvl::test {

namespace {

constexpr int kStartAttempts = 8;

bool HasAny(const std::string& text, const std::vector<std::string>& needles) {
    for (const auto& needle : needles)
        if (text.find(needle) != std::string::npos) return true;
    return false;
}

}  // namespace

DaemonFixture::DaemonFixture(std::string_view folderPrefix) : dir_(folderPrefix) {}

DaemonFixture::~DaemonFixture() { Stop(); }

bool DaemonFixture::Runnable(const char* path) { return ::access(path, X_OK) == 0; }

void DaemonFixture::Start(const Program& program, uint16_t firstPort) {
    name_ = program.name;
    uint16_t port = firstPort;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (port == 0) port = program.pickPort ? program.pickPort() : PickFreeLoopbackPort();
        if (TryStart(program, port)) return;
        port = 0;
    }
    std::string logs;
    for (const auto& log : program.startLogs) logs += ReadLog(log);
    throw std::runtime_error(name_ + " could not get a free port on the loopback:\n" + logs);
}

bool DaemonFixture::TryStart(const Program& program, uint16_t port) {
    const std::string config = program.config(port);
    {
        std::ofstream file(ConfigPath(), std::ios::trunc);
        file << config;
        if (!file) throw std::runtime_error("cannot write " + ConfigPath().string());
    }
    // The logs may hold earlier starts; this one's part is what follows.
    for (const auto& log : StartLogNames(program)) startOffsets_[log] = ReadLog(log).size();
    process_ = std::make_unique<ChildProcess>(program.path, program.arguments(ConfigPath().string()),
                                              (dir_ / (name_ + ".out")).string());
    const bool ready =
        WaitUntil([&] { return !process_->Running() || program.ready(port); }, program.startTimeout);
    if (ready && process_->Running()) {
        port_ = port;
        return true;
    }
    process_->Stop();
    process_.reset();
    std::string logs;
    for (const auto& log : StartLogNames(program)) logs += StartLog(log);
    if (HasAny(logs, program.portTaken)) return false;
    throw std::runtime_error(name_ + (ready ? " ended at start-up" : " did not start in time") + ":\n" + logs +
                             "\nconfiguration:\n" + config);
}

std::vector<std::string> DaemonFixture::StartLogNames(const Program& program) const {
    std::vector<std::string> names = program.startLogs;
    names.push_back(name_ + ".out");
    return names;
}

std::string DaemonFixture::ReadLog(const std::string& name) const { return ReadFileOrEmpty(dir_ / name); }

std::string DaemonFixture::StartLog(const std::string& name) const {
    std::string log = ReadLog(name);
    const auto offset = startOffsets_.find(name);
    if (offset != startOffsets_.end()) log.erase(0, std::min(log.size(), offset->second));
    return log;
}

std::function<bool(uint16_t port)> DaemonFixture::ReadyLine(std::string log, std::string line) const {
    return [this, log = std::move(log), line = std::move(line)](uint16_t port) {
        return StartLog(log).find(line) != std::string::npos && CanConnectLoopback(port);
    };
}

bool DaemonFixture::WaitForLog(const std::string& name, std::string_view text,
                               std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return ReadLog(name).find(text) != std::string::npos; }, timeout);
}

void DaemonFixture::Stop(std::chrono::milliseconds grace) {
    if (process_) {
        process_->Stop(grace);
        process_.reset();
    }
}

bool DaemonFixture::Running() { return process_ && process_->Running(); }

}  // namespace qvl::test
