#include "cb/model/Md5.h"

#include <openssl/evp.h>

#include "zt/ztx.h"

namespace Cb {

namespace {
[[noreturn]] void digestFailed() { throw ztx::base("MD5 digest failed"); }
}  // namespace

Md5Digest md5Of(const void* bytes, size_t size) {
    static const uint8_t kNothing = 0;
    Md5Digest digest{};
    unsigned int length = 0;
    if (!EVP_Digest(size ? bytes : &kNothing, size, digest.data(), &length, EVP_md5(), nullptr) ||
        length != digest.size())
        digestFailed();
    return digest;
}

void Md5::Free::operator()(evp_md_ctx_st* context) const noexcept { EVP_MD_CTX_free(context); }

Md5::Md5() : context_(EVP_MD_CTX_new()) {
    if (!context_ || !EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr)) digestFailed();
}

Md5::~Md5() = default;

void Md5::update(const void* bytes, size_t size) {
    if (size && !EVP_DigestUpdate(context_.get(), bytes, size)) digestFailed();
}

Md5Digest Md5::finish() {
    Md5Digest digest{};
    unsigned int length = 0;
    if (!EVP_DigestFinal_ex(context_.get(), digest.data(), &length) || length != digest.size()) digestFailed();
    return digest;
}

}  // namespace Cb
