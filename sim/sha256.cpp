// SHA-256 through libcrypto's EVP interface: see sha256.h.
#include "sim/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A digest context that cannot be set up is a broken invariant (out of memory, or a libcrypto
// without SHA-256), not an error a caller could handle.
void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "sha256: %s failed\n", what);
    std::abort();
}

}  // namespace

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    require(context_ != nullptr, "EVP_MD_CTX_new");
    require(EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1, "EVP_DigestInit_ex");
}

void Sha256::update(const void* data, size_t length) {
    if (length == 0) return;
    require(EVP_DigestUpdate(context_.get(), data, length) == 1, "EVP_DigestUpdate");
}

std::string Sha256::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    require(EVP_DigestFinal_ex(context_.get(), digest, &length) == 1 && length == 32, "EVP_DigestFinal_ex");
    require(EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1, "EVP_DigestInit_ex");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::string sha256Of(std::string_view bytes) {
    Sha256 sha;
    sha.update(bytes.data(), bytes.size());
    return sha.finishHex();
}
