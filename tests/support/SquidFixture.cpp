#include "SquidFixture.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Loopback.h"
#include "Wait.h"

namespace qvl::test {

namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr int kStartAttempts = 8;
constexpr auto kStartTimeout = std::chrono::seconds(30);
// Written once the listening socket is open.
constexpr std::string_view kReadyLine = "Accepting HTTP Socket connections";

std::string ReadOrEmpty(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool SquidFixture::Available() { return ::access(kSquid, X_OK) == 0; }

SquidFixture::SquidFixture() : dir_("qvl-squid") {
    // Started as root, squid drops to its own user, which must be able to write its logs here.
    if (::geteuid() == 0)
        std::filesystem::permissions(dir_.Path(), std::filesystem::perms::all, std::filesystem::perm_options::add);
    for (int attempt = 0; attempt < kStartAttempts; ++attempt)
        if (TryStart(PickFreeLoopbackPort())) return;
    throw std::runtime_error("squid could not get a free port on 127.0.0.1:\n" + CacheLog());
}

SquidFixture::~SquidFixture() { Stop(); }

bool SquidFixture::TryStart(uint16_t port) {
    const auto cacheLog = dir_ / "cache.log";
    std::filesystem::remove(cacheLog);
    {
        std::ofstream config(dir_ / "squid.conf", std::ios::trunc);
        config << "http_port 127.0.0.1:" << port << "\n"
               << "pid_filename " << (dir_ / "squid.pid").string() << "\n"
               << "cache_log " << cacheLog.string() << "\n"
               << "access_log stdio:" << (dir_ / "access.log").string() << "\n"
               << "cache_store_log none\n"
               << "coredump_dir " << dir_.Path().string() << "\n"
               << "cache deny all\n"
               << "cache_mem 8 MB\n"
               << "pinger_enable off\n"
               << "netdb_filename none\n"
               << "shutdown_lifetime 0 seconds\n"
               << "acl qvl_client src 127.0.0.1/32\n"
               << "http_access allow qvl_client\n"
               << "http_access deny all\n";
        if (!config) throw std::runtime_error("cannot write the squid configuration");
    }
    // -N keeps it in the foreground, so that it is our child and dies with the test.
    process_ = std::make_unique<ChildProcess>(
        kSquid, std::vector<std::string>{"-N", "-f", (dir_ / "squid.conf").string()},
        (dir_ / "squid.out").string());
    const bool started = WaitUntil(
        [&] {
            return !process_->Running() ||
                   (ReadOrEmpty(cacheLog).find(kReadyLine) != std::string::npos && CanConnectLoopback(port));
        },
        kStartTimeout) && process_->Running();
    if (started) {
        port_ = port;
        return true;
    }
    process_->Stop();
    process_.reset();
    const std::string log = CacheLog() + ReadOrEmpty(dir_ / "squid.out");
    if (log.find("Address already in use") != std::string::npos) return false;
    throw std::runtime_error("squid did not start:\n" + log);
}

std::string SquidFixture::CacheLog() const { return ReadOrEmpty(dir_ / "cache.log"); }

std::string SquidFixture::AccessLog() const { return ReadOrEmpty(dir_ / "access.log"); }

bool SquidFixture::WaitForAccessLog(std::string_view text, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return AccessLog().find(text) != std::string::npos; }, timeout);
}

void SquidFixture::Stop() {
    if (process_) {
        process_->Stop();
        process_.reset();
    }
}

}  // namespace qvl::test
