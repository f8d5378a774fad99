#include "support/OpensslSigner.h"

#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>

#include "support/TempDir.h"

#ifndef QVL_SOURCE_DIR
#error "QVL_SOURCE_DIR must name the source tree (set by the build)"
#endif

namespace qvl::test {

namespace {

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string Shell(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run: " + command);
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed (" + std::to_string(status) + "): " + command);
    return out;
}

std::string SignReleaseScript() { return std::string(QVL_SOURCE_DIR) + "/scripts/sign-release"; }

OpensslKey OpensslKey::Generate(const std::filesystem::path& folder, const std::string& name) {
    const std::filesystem::path pem = folder / (name + ".pem");
    Shell("bash " + Quoted(SignReleaseScript()) + " --new-key " + Quoted(pem.string()) + " >/dev/null");
    return OpensslKey(pem);
}

OpensslKey::OpensslKey(std::filesystem::path privatePem) : private_(std::move(privatePem)) {}

std::array<uint8_t, 64> OpensslKey::PublicPoint() const {
    const std::string der = Shell("openssl ec -in " + Quoted(private_.string()) +
                                  " -pubout -outform DER -conv_form uncompressed 2>/dev/null");
    // The SubjectPublicKeyInfo of a P-256 key ends with the 64 bytes of X and Y.
    if (der.size() != 91) throw std::runtime_error("not a P-256 key: " + private_.string());
    std::array<uint8_t, 64> point{};
    for (size_t i = 0; i < 64; ++i) point[i] = static_cast<uint8_t>(der[27 + i]);
    return point;
}

std::string OpensslKey::Sign(const std::string& text) const {
    TempDir dir;
    const std::filesystem::path file = dir.Path() / "message";
    WriteFileBytes(file, text);
    return Shell("openssl dgst -sha256 -sign " + Quoted(private_.string()) + " " + Quoted(file.string()));
}

void OpensslKey::SignRelease(const std::filesystem::path& folder, const std::string& options) const {
    Shell("bash " + Quoted(SignReleaseScript()) + " " + Quoted(folder.string()) + " " + Quoted(private_.string()) + " " +
          options + " >/dev/null");
}

}  // namespace qvl::test
