#include "NginxFixture.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Loopback.h"
#include "Wait.h"

namespace qvl::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kEchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";
constexpr int kStartAttempts = 8;

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

std::string ReadOrEmpty(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

bool NginxFixture::Available() { return ::access(kNginx, X_OK) == 0; }
bool NginxFixture::EchoModuleAvailable() { return ::access(kEchoModule, R_OK) == 0; }

NginxFixture::NginxFixture() : NginxFixture(Options{}) {}

NginxFixture::NginxFixture(Options options) : options_(std::move(options)), dir_("qvl-nginx") {
    root_ = dir_ / "www";
    std::filesystem::create_directories(root_);
    for (const char* temp : {"body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        std::filesystem::create_directories(dir_ / "temp" / temp);
    }
    if (options_.echoModule && !EchoModuleAvailable()) {
        throw std::runtime_error(std::string("nginx echo module not installed: ") + kEchoModule);
    }
    uint16_t port = options_.firstPort;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (port == 0) port = options_.ipv6Only ? PickFreeIpv6LoopbackPort() : PickFreeLoopbackPort();
        if (TryStart(port)) return;
        port = 0;
    }
    throw std::runtime_error(std::string("nginx could not get a free port on ") + Authority(0) + ":\n" + ErrorLog());
}

NginxFixture::~NginxFixture() { Stop(); }

std::string NginxFixture::Config(uint16_t port) const {
    const auto d = [this](const char* name) { return Quoted((dir_ / name).string()); };
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
      << "  access_log " << d("access.log") << " qvl;\n"
      << "  client_body_temp_path " << d("temp/body") << ";\n"
      << "  proxy_temp_path " << d("temp/proxy") << ";\n"
      << "  fastcgi_temp_path " << d("temp/fastcgi") << ";\n"
      << "  uwsgi_temp_path " << d("temp/uwsgi") << ";\n"
      << "  scgi_temp_path " << d("temp/scgi") << ";\n"
      << "  sendfile on;\n"
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

bool NginxFixture::TryStart(uint16_t port) {
    {
        std::ofstream config(ConfigPath(), std::ios::trunc);
        config << Config(port);
        if (!config) throw std::runtime_error("cannot write " + ConfigPath().string());
    }
    const auto pidFile = dir_ / "nginx.pid";
    std::filesystem::remove(pidFile);
    const auto errorLog = dir_ / "error.log";
    const auto logSizeBefore = std::filesystem::exists(errorLog) ? std::filesystem::file_size(errorLog) : 0;
    process_ = std::make_unique<ChildProcess>(
        kNginx,
        std::vector<std::string>{"-p", dir_.Path().string() + "/", "-c", ConfigPath().string(), "-e",
                                 errorLog.string()},
        (dir_ / "nginx.out").string());
    const std::string expectedPid = std::to_string(process_->Pid());
    // nginx writes its pid file only after it has bound the port, so a port that some other
    // program took in the meantime cannot pass for ours.
    const bool ready = WaitUntil(
        [&] {
            if (!process_->Running()) return true;
            std::string pid = ReadOrEmpty(pidFile);
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) pid.pop_back();
            return pid == expectedPid &&
                   (options_.ipv6Only ? CanConnectIpv6Loopback(port) : CanConnectLoopback(port));
        },
        options_.startTimeout);
    if (ready && process_->Running()) {
        port_ = port;
        return true;
    }
    process_->Stop();
    process_.reset();
    std::string newLog = ReadOrEmpty(errorLog);
    newLog.erase(0, std::min<size_t>(newLog.size(), logSizeBefore));
    if (newLog.find("Address already in use") != std::string::npos) return false;
    throw std::runtime_error(std::string(ready ? "nginx ended at start-up" : "nginx did not start in time") +
                             ":\n" + newLog + ReadOrEmpty(dir_ / "nginx.out") + "\nconfiguration:\n" +
                             Config(port));
}

std::string NginxFixture::Authority(uint16_t port) const {
    return std::string(options_.ipv6Only ? "[::1]" : "127.0.0.1") + (port ? ":" + std::to_string(port) : "");
}

std::string NginxFixture::BaseUrl() const { return "http://" + Authority(port_) + "/"; }

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

std::string NginxFixture::AccessLog() const { return ReadOrEmpty(dir_ / "access.log"); }
std::string NginxFixture::ErrorLog() const { return ReadOrEmpty(dir_ / "error.log"); }
std::filesystem::path NginxFixture::ConfigPath() const { return dir_ / "nginx.conf"; }

void NginxFixture::Stop(std::chrono::milliseconds grace) {
    if (process_) {
        process_->Stop(grace);
        process_.reset();
    }
}

bool NginxFixture::Running() { return process_ && process_->Running(); }

}  // namespace qvl::test
