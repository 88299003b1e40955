// SHA-256 digests (OpenSSL's libcrypto) for the simulated site's record of received files; tests
// compare them with the digest of the file they sent. One Sha256 per stream, owned by one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

class Sha256 {
  public:
    Sha256();  // ready for data; aborts when libcrypto cannot give a SHA-256 context
    void update(const void* data, size_t length);
    // 64 lowercase hex characters: the digest of everything fed since construction or the last
    // finishHex(); the stream then starts over.
    std::string finishHex();

  private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

// One-shot lowercase hex digest of a byte run.
std::string sha256Of(std::string_view bytes);
