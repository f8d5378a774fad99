#pragma once
// The publisher's side in tests, done by the openssl command line (not by the code under test):
// key pairs, signatures of texts, and signed release folders as scripts/sign-release makes them.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qvl::test {

// Runs `command` with /bin/sh; its standard output. Throws std::runtime_error when it fails.
std::string Shell(const std::string& command);

class OpensslKey {
public:
    // A new P-256 key pair in `folder` (key.pem, key.pub.pem), or an existing private key.
    static OpensslKey Generate(const std::filesystem::path& folder, const std::string& name = "key");
    explicit OpensslKey(std::filesystem::path privatePem);

    const std::filesystem::path& PrivatePem() const { return private_; }
    // X || Y of the public point, as openssl writes the key out.
    std::array<uint8_t, 64> PublicPoint() const;
    // `openssl dgst -sha256 -sign` of `text` (DER).
    std::string Sign(const std::string& text) const;
    // scripts/sign-release `folder` with this key, and `options` ("--serial 5", ...).
    void SignRelease(const std::filesystem::path& folder, const std::string& options = "") const;

private:
    std::filesystem::path private_;
};

// The path of scripts/sign-release in the source tree.
std::string SignReleaseScript();

}  // namespace qvl::test
