#include "NginxFixture.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Loopback.h"
#include "Wait.h"
#include "framework/Text.h"

namespace qvl::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kEchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";
constexpr const char* kErrorLog = "error.log";
// nginx's temporary folders, each <name>_temp_path at temp/<name> in the private folder.
constexpr const char* kTempFolders[] = {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"};

// nginx's configuration language takes a double-quoted string with backslash escapes; a "$"
// stays a variable reference, which redirect targets may use on purpose ($server_port).
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// xorshift32: cheap, fixed, and good enough to make every byte of a body matter.
class ByteGenerator {
public:
    explicit ByteGenerator(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    void Fill(char* out, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 17;
            state_ ^= state_ << 5;
            out[i] = static_cast<char>(state_ >> 24);
        }
    }

private:
    uint32_t state_;
};

}  // namespace

std::string GeneratedBytes(uint64_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    ByteGenerator(seed).Fill(bytes.data(), bytes.size());
    return bytes;
}

bool NginxFixture::Available() { return Runnable(kNginx); }
bool NginxFixture::EchoModuleAvailable() { return ::access(kEchoModule, R_OK) == 0; }

NginxFixture::NginxFixture() : NginxFixture(Options{}) {}

NginxFixture::NginxFixture(Options options) : DaemonFixture("qvl-nginx"), options_(std::move(options)) {
    const TempDir& dir = Dir();
    root_ = dir / "www";
    std::filesystem::create_directories(root_);
    for (const char* temp : kTempFolders) std::filesystem::create_directories(dir / "temp" / temp);
    if (options_.echoModule && !EchoModuleAvailable()) {
        throw std::runtime_error(std::string("nginx echo module not installed: ") + kEchoModule);
    }
    Program program;
    program.name = "nginx";
    program.path = kNginx;
    program.arguments = [&dir](const std::string& config) {
        return std::vector<std::string>{"-p", dir.Path().string() + "/", "-c", config, "-e",
                                        (dir / kErrorLog).string()};
    };
    program.config = [this](uint16_t port) { return Config(port); };
    program.startLogs = {kErrorLog};
    // nginx writes its pid file only after it has bound the port, so a port that some other
    // program took in the meantime cannot pass for ours.
    program.ready = [this](uint16_t port) {
        return Trimmed(ReadLog("nginx.pid"), "\r\n") == std::to_string(Pid()) &&
               (options_.ipv6Only ? CanConnectIpv6Loopback(port) : CanConnectLoopback(port));
    };
    if (options_.ipv6Only) program.pickPort = PickFreeIpv6LoopbackPort;
    program.startTimeout = options_.startTimeout;
    Start(program, options_.firstPort);
}

std::string NginxFixture::Config(uint16_t port) const {
    const auto d = [this](const std::string& name) { return Quoted((Dir() / name).string()); };
    std::ostringstream c;
    if (options_.echoModule) c << "load_module " << Quoted(kEchoModule) << ";\n";
    // Workers drop to the `user` account only when started by root; one process that never
    // changes user serves the test's private folder, and dies with the test when killed.
    if (::geteuid() == 0) {
        const passwd* user = ::getpwuid(::geteuid());
        const group* grp = ::getgrgid(::getegid());
        if (user && grp) c << "user " << user->pw_name << " " << grp->gr_name << ";\n";
    }
    c << "daemon off;\n"
         "master_process off;\n"
         "worker_processes 1;\n"
      << "pid " << d("nginx.pid") << ";\n"
      << "error_log " << d("error.log") << " info;\n"
      << "events { worker_connections 256; }\n"
         "http {\n"
         "  default_type application/octet-stream;\n"
         "  types { }\n"
         "  log_format qvl '$status $body_bytes_sent $request';\n"
      << "  access_log " << d("access.log") << " qvl;\n";
    for (const std::string temp : kTempFolders) c << "  " << temp << "_temp_path " << d("temp/" + temp) << ";\n";
    c << "  sendfile on;\n"
         "  server_tokens off;\n"
         "  etag off;\n"
         "  server {\n"
      << "    listen " << Authority(port) << ";\n"
      << "    server_name " << (options_.ipv6Only ? "[::1]" : "127.0.0.1") << ";\n"
         "    port_in_redirect on;\n"
      << "    root " << Quoted(root_.string()) << ";\n";
    for (const auto& reply : options_.statusReplies) {
        c << "    location = " << Quoted(reply.path) << " { return " << reply.code << "; }\n";
    }
    for (const auto& redirect : options_.redirects) {
        c << "    location = " << Quoted(redirect.from) << " { return " << redirect.code << " "
          << Quoted(redirect.to) << "; }\n";
    }
    if (options_.slowBytesPerSecond > 0) {
        c << "    location /slow/ {\n"
          << "      alias " << Quoted(root_.string() + "/") << ";\n"
          << "      limit_rate " << options_.slowBytesPerSecond << ";\n"
          << "      limit_rate_after " << options_.slowAfterBytes << ";\n"
          << "      sendfile off;\n"
          << "    }\n";
    }
    c << options_.extraServerConfig << "\n"
      << "  }\n"
         "}\n";
    return c.str();
}

std::string NginxFixture::Authority(uint16_t port) const {
    return std::string(options_.ipv6Only ? "[::1]" : "127.0.0.1") + (port ? ":" + std::to_string(port) : "");
}

std::string NginxFixture::BaseUrl() const { return "http://" + Authority(Port()) + "/"; }

std::string NginxFixture::Url(std::string_view name) const { return BaseUrl() + std::string(name); }

std::filesystem::path NginxFixture::WriteFile(const std::string& name, std::string_view bytes) const {
    const auto path = root_ / name;
    WriteFileBytes(path, bytes);
    return path;
}

std::filesystem::path NginxFixture::WriteGeneratedFile(const std::string& name, uint64_t size, uint32_t seed) const {
    const auto path = root_ / name;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ByteGenerator generator(seed);
    std::string piece(1 << 20, '\0');
    for (uint64_t left = size; left > 0;) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        generator.Fill(piece.data(), count);
        out.write(piece.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return path;
}

std::vector<NginxFixture::LoggedRequest> NginxFixture::Requests() const {
    std::vector<LoggedRequest> requests;
    std::istringstream lines(AccessLog());
    std::string line;
    while (std::getline(lines, line)) {
        LoggedRequest request;
        std::istringstream fields(line);
        fields >> request.status >> request.bytesSent;
        if (!fields) continue;
        std::getline(fields >> std::ws, request.requestLine);
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<NginxFixture::LoggedRequest> NginxFixture::Requests(size_t atLeast) const {
    WaitUntil([&] { return Requests().size() >= atLeast; }, std::chrono::seconds(10), std::chrono::milliseconds(2));
    return Requests();
}

std::string NginxFixture::AccessLog() const { return ReadLog("access.log"); }
std::string NginxFixture::ErrorLog() const { return ReadLog(kErrorLog); }

}  // namespace qvl::test
