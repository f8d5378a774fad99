#include "SquidFixture.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace qvl::test {

namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kCacheLog = "cache.log";
constexpr const char* kAccessLog = "access.log";
// Written once the listening socket is open.
constexpr const char* kReadyLine = "Accepting HTTP Socket connections";

}  // namespace

bool SquidFixture::Available() { return Runnable(kSquid); }

SquidFixture::SquidFixture() : DaemonFixture("qvl-squid") {
    const auto& dir = Dir();
    // Started as root, squid drops to its own user, which must be able to write its logs here.
    if (::geteuid() == 0)
        std::filesystem::permissions(dir.Path(), std::filesystem::perms::all, std::filesystem::perm_options::add);
    Program program;
    program.name = "squid";
    program.path = kSquid;
    // -N keeps it in the foreground.
    program.arguments = [](const std::string& config) { return std::vector<std::string>{"-N", "-f", config}; };
    program.config = [&dir](uint16_t port) {
        std::ostringstream config;
        config << "http_port 127.0.0.1:" << port << "\n"
               << "pid_filename " << (dir / "squid.pid").string() << "\n"
               << "cache_log " << (dir / kCacheLog).string() << "\n"
               << "access_log stdio:" << (dir / kAccessLog).string() << "\n"
               << "cache_store_log none\n"
               << "coredump_dir " << dir.Path().string() << "\n"
               << "cache deny all\n"
               << "cache_mem 8 MB\n"
               << "pinger_enable off\n"
               << "netdb_filename none\n"
               << "shutdown_lifetime 0 seconds\n"
               << "acl qvl_client src 127.0.0.1/32\n"
               << "http_access allow qvl_client\n"
               << "http_access deny all\n";
        return config.str();
    };
    program.startLogs = {kCacheLog};
    program.ready = ReadyLine(kCacheLog, kReadyLine);
    program.startTimeout = std::chrono::seconds(30);
    Start(program);
}

std::string SquidFixture::CacheLog() const { return ReadLog(kCacheLog); }

std::string SquidFixture::AccessLog() const { return ReadLog(kAccessLog); }

bool SquidFixture::WaitForAccessLog(std::string_view text, std::chrono::milliseconds timeout) const {
    return WaitForLog(kAccessLog, text, timeout);
}

}  // namespace qvl::test
