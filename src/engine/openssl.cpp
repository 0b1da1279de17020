#include "engine/openssl.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/random.h>

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace tesmar::ossl {

namespace {
const EVP_CIPHER* fetch_cipher(const char* name) {
    const EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (!c) throw Error(ErrorKind::Value, std::string("OpenSSL has no ") + name);
    return c;
}
const EVP_MD* fetch_md(const char* name) {
    const EVP_MD* m = EVP_MD_fetch(nullptr, name, nullptr);
    if (!m) throw Error(ErrorKind::Value, std::string("OpenSSL has no ") + name);
    return m;
}
}  // namespace

CipherCtx new_cipher_ctx() {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

MdCtx new_md_ctx() {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

const EVP_CIPHER* aes_gcm(std::size_t key_len) {
    static const EVP_CIPHER* c128 = fetch_cipher("AES-128-GCM");
    static const EVP_CIPHER* c192 = fetch_cipher("AES-192-GCM");
    static const EVP_CIPHER* c256 = fetch_cipher("AES-256-GCM");
    switch (key_len) {
        case 16: return c128;
        case 24: return c192;
        case 32: return c256;
        default: return nullptr;
    }
}

const EVP_CIPHER* aes_256_cbc() {
    static const EVP_CIPHER* c = fetch_cipher("AES-256-CBC");
    return c;
}

const EVP_MD* sha256() {
    static const EVP_MD* m = fetch_md("SHA256");
    return m;
}

const EVP_MD* sha512() {
    static const EVP_MD* m = fetch_md("SHA512");
    return m;
}

void cipher_update(EVP_CIPHER_CTX* ctx, ByteView in, std::uint8_t* out) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (std::size_t done = 0; done < in.size();) {
        const std::size_t n = std::min(kChunk, in.size() - done);
        int outl = 0;
        if (EVP_CipherUpdate(ctx, out + done, &outl, in.data() + done, static_cast<int>(n)) != 1)
            fail(ErrorKind::Value, "", "cipher update failed");
        done += n;
    }
}

std::string last_error(const char* fallback) {
    unsigned long code = ERR_get_error();
    std::string text;
    if (code != 0) {
        const char* reason = ERR_reason_error_string(code);
        if (reason) {
            text = reason;
        } else {
            char buf[256];
            ERR_error_string_n(code, buf, sizeof buf);
            text = buf;
        }
    } else {
        text = fallback;
    }
    ERR_clear_error();
    return text;
}

void fail(ErrorKind kind, const std::string& prefix, const char* fallback) {
    throw wrap(kind, prefix, Cause{ErrorKind::Value, last_error(fallback)});
}

std::string version_text() { return OpenSSL_version(OPENSSL_VERSION); }

void os_random(MutableBytes out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = getrandom(out.data() + done, out.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorKind::OS, std::string("getrandom failed: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

bool equal_ct(ByteView a, ByteView b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

void sha256_into(ByteView data, MutableBytes out32) {
    unsigned int len = 0;
    if (out32.size() != 32 ||
        EVP_Digest(data.data(), data.size(), out32.data(), &len, sha256(), nullptr) != 1)
        fail(ErrorKind::Value, "", "SHA-256 failed");
}

Bytes sha256_of(ByteView data) {
    Bytes out(32);
    sha256_into(data, out);
    return out;
}

}  // namespace tesmar::ossl
