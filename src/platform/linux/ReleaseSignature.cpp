#include "platform/ReleaseSignature.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <new>

namespace qvl::platform {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct KeyContextDeleter {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter>;

DigestContext NewDigestContext() {
    DigestContext context(EVP_MD_CTX_new());
    if (!context) throw std::bad_alloc();
    return context;
}

// The key as OpenSSL holds it: an encoded point (0x04 || X || Y) on prime256v1. A point that is
// not on the curve is refused here.
Key ImportKey(const P256PublicKey& raw) {
    unsigned char point[65];
    point[0] = 0x04;
    std::copy(raw.begin(), raw.end(), point + 1);
    char group[] = "prime256v1";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end(),
    };
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) != 1)
        return nullptr;
    Key owned(key);
    // fromdata takes the point as given; check it lies on the curve.
    KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, owned.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
    return owned;
}

}  // namespace

struct Sha256::State {
    DigestContext context = NewDigestContext();
};

Sha256::Sha256() : state_(std::make_unique<State>()) { Reset(); }

Sha256::~Sha256() = default;

void Sha256::Reset() {
    if (EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    length_ = 0;
}

void Sha256::Update(const void* data, size_t length) {
    if (length == 0) return;
    if (EVP_DigestUpdate(state_->context.get(), data, length) != 1) throw std::bad_alloc();
    length_ += length;
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &size) != 1 || size != digest.size())
        throw std::bad_alloc();
    Reset();
    return digest;
}

bool VerifyP256Sha256(const P256PublicKey& rawKey, std::string_view message, std::string_view derSignature) {
    // A refusal leaves OpenSSL's error queue filled; nothing else of ours reads it.
    struct ClearErrors {
        ~ClearErrors() { ERR_clear_error(); }
    } clearErrors;
    const Key key = ImportKey(rawKey);
    if (!key) return false;
    DigestContext context = NewDigestContext();
    if (EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
    // 1 is a good signature; 0 a bad one, and a negative value a malformed one.
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(derSignature.data()),
                            derSignature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

}  // namespace qvl::platform
