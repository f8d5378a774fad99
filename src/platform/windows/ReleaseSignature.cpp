#include "platform/ReleaseSignature.h"

#include "platform/windows/Win32.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

namespace qvl::platform {

namespace {

std::runtime_error CngError(const char* call, NTSTATUS status) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (NTSTATUS 0x%08lx)", call,
                  static_cast<unsigned long>(static_cast<ULONG>(status)));
    return std::runtime_error(text);
}

// One CNG algorithm provider, closed on every way out.
class Provider {
public:
    explicit Provider(const wchar_t* algorithm) {
        status_ = BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0);
        if (!BCRYPT_SUCCESS(status_)) handle_ = nullptr;
    }
    ~Provider() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    BCRYPT_ALG_HANDLE Get() const { return handle_; }
    NTSTATUS Status() const { return status_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    NTSTATUS status_ = 0;
};

// One hash object (CNG keeps its state, given no buffer of ours), destroyed on every way out.
class Hash {
public:
    explicit Hash(BCRYPT_ALG_HANDLE algorithm) {
        const NTSTATUS status = BCryptCreateHash(algorithm, &handle_, nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status)) throw CngError("BCryptCreateHash", status);
    }
    ~Hash() { BCryptDestroyHash(handle_); }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    void Update(const void* data, size_t length) {
        // BCryptHashData takes a ULONG length: larger pieces go in parts.
        auto* bytes = static_cast<const UCHAR*>(data);
        while (length > 0) {
            const ULONG part = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
            const NTSTATUS status = BCryptHashData(handle_, const_cast<UCHAR*>(bytes), part, 0);
            if (!BCRYPT_SUCCESS(status)) throw CngError("BCryptHashData", status);
            bytes += part;
            length -= part;
        }
    }
    // After this the object takes no more data.
    Sha256Digest Finish() {
        Sha256Digest digest{};
        const NTSTATUS status = BCryptFinishHash(handle_, digest.data(), digest.size(), 0);
        if (!BCRYPT_SUCCESS(status)) throw CngError("BCryptFinishHash", status);
        return digest;
    }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

class Key {
public:
    Key() = default;
    ~Key() {
        if (handle_) BCryptDestroyKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    BCRYPT_KEY_HANDLE* Out() { return &handle_; }
    BCRYPT_KEY_HANDLE Get() const { return handle_; }

private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// The DER signature (SEQUENCE { INTEGER r, INTEGER s }) as CNG takes it: r || s, 32 bytes each,
// big-endian. Only the one canonical encoding is taken, as OpenSSL takes only that one: short
// length forms, no bytes after the sequence, no negative integer, no leading zero byte that is
// not needed for the sign, and no value wider than the curve's 32 bytes.
class DerReader {
public:
    explicit DerReader(std::string_view der) : der_(der) {}

    bool Expect(uint8_t tag) { return at_ < der_.size() && static_cast<uint8_t>(der_[at_++]) == tag; }
    // A length below 128, in its one-byte form (every P-256 signature fits one).
    std::optional<size_t> ShortLength() {
        if (at_ >= der_.size()) return std::nullopt;
        const auto length = static_cast<uint8_t>(der_[at_++]);
        if (length & 0x80) return std::nullopt;
        if (length > der_.size() - at_) return std::nullopt;
        return length;
    }
    // An INTEGER between 0 and 2^256 - 1, written right-aligned into `out`.
    bool UnsignedInteger(uint8_t* out) {
        if (!Expect(0x02)) return false;
        const std::optional<size_t> length = ShortLength();
        if (!length || *length == 0) return false;
        const auto* bytes = reinterpret_cast<const uint8_t*>(der_.data() + at_);
        size_t size = *length;
        at_ += size;
        if (bytes[0] & 0x80) return false;  // negative
        if (size > 1 && bytes[0] == 0 && !(bytes[1] & 0x80)) return false;  // a zero not needed
        if (bytes[0] == 0 && size > 1) {
            ++bytes;
            --size;
        }
        if (size > 32) return false;
        std::fill(out, out + 32 - size, 0);
        std::copy(bytes, bytes + size, out + 32 - size);
        return true;
    }
    bool AtEnd() const { return at_ == der_.size(); }

private:
    std::string_view der_;
    size_t at_ = 0;
};

std::optional<std::array<uint8_t, 64>> FixedSignature(std::string_view der) {
    DerReader reader(der);
    if (!reader.Expect(0x30)) return std::nullopt;
    const std::optional<size_t> length = reader.ShortLength();
    if (!length || *length != der.size() - 2) return std::nullopt;
    std::array<uint8_t, 64> fixed{};
    if (!reader.UnsignedInteger(fixed.data()) || !reader.UnsignedInteger(fixed.data() + 32) || !reader.AtEnd())
        return std::nullopt;
    return fixed;
}

}  // namespace

struct Sha256::State {
    Provider algorithm{BCRYPT_SHA256_ALGORITHM};
    std::optional<Hash> hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->algorithm.Get()) throw CngError("BCryptOpenAlgorithmProvider(SHA256)", state_->algorithm.Status());
    Reset();
}

Sha256::~Sha256() = default;

void Sha256::Reset() {
    // A finished CNG hash takes no more data; a new object is the fresh hasher.
    state_->hash.reset();
    state_->hash.emplace(state_->algorithm.Get());
    length_ = 0;
}

void Sha256::Update(const void* data, size_t length) {
    if (length == 0) return;
    state_->hash->Update(data, length);
    length_ += length;
}

Sha256Digest Sha256::Final() {
    const Sha256Digest digest = state_->hash->Finish();
    Reset();
    return digest;
}

bool VerifyP256Sha256(const P256PublicKey& rawKey, std::string_view message, std::string_view derSignature) {
    std::optional<std::array<uint8_t, 64>> signature = FixedSignature(derSignature);
    if (!signature) return false;

    Sha256 hasher;
    hasher.Update(message.data(), message.size());
    Sha256Digest digest = hasher.Final();

    Provider ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa.Get()) throw CngError("BCryptOpenAlgorithmProvider(ECDSA_P256)", ecdsa.Status());
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X, then Y.
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::copy(rawKey.begin(), rawKey.end(), blob + sizeof header);
    Key key;
    // A point CNG does not take (off the curve, out of range) is no key: nothing verifies.
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(), blob,
                                            sizeof blob, 0)))
        return false;
    // STATUS_SUCCESS is a good signature; STATUS_INVALID_SIGNATURE and every other status is not.
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.Get(), nullptr, digest.data(), digest.size(),
                                                signature->data(), signature->size(), 0));
}

}  // namespace qvl::platform
