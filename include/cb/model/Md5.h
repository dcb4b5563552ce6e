#pragma once
// MD5 digests (RFC 1321) of shape data, through OpenSSL's libcrypto: one call
// over contiguous bytes, or piece by piece for data held in blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

namespace Cb {

using Md5Digest = std::array<uint8_t, 16>;

Md5Digest md5Of(const void* bytes, size_t size);

// Incremental form: update() over the pieces in order, then finish() once.
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void update(const void* bytes, size_t size);
    Md5Digest finish();

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const noexcept;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

}  // namespace Cb
