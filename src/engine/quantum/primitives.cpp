#include "engine/quantum/primitives.hpp"

#include <openssl/core_names.h>
#include <openssl/kdf.h>

#include "engine/aes.hpp"
#include "engine/errors.hpp"
#include "engine/openssl.hpp"

namespace tesmar::quantum {

namespace {

using KdfCtx = std::unique_ptr<EVP_KDF_CTX, ossl::Deleter<EVP_KDF_CTX_free>>;
using MacCtx = std::unique_ptr<EVP_MAC_CTX, ossl::Deleter<EVP_MAC_CTX_free>>;

// OpenSSL is never handed a null pointer for an empty input.
const std::uint8_t kEmpty[1] = {0};
std::uint8_t* ptr(ByteView v) { return const_cast<std::uint8_t*>(v.empty() ? kEmpty : v.data()); }

// Fetched once per process and then only read.
EVP_KDF* hkdf_algorithm() {
    static EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!kdf) throw Error(ErrorKind::Value, "OpenSSL has no HKDF");
    return kdf;
}

EVP_MAC* hmac_algorithm() {
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) throw Error(ErrorKind::Value, "OpenSSL has no HMAC");
    return mac;
}

const EVP_CIPHER* aes_cbc(std::size_t key_len) {
    switch (key_len) {
        case 16: return EVP_aes_128_cbc();
        case 24: return EVP_aes_192_cbc();
        case 32: return ossl::aes_256_cbc();
        default:
            throw Error(ErrorKind::Value, "Invalid key size (" + std::to_string(key_len * 8) + ") for AES.");
    }
}

ossl::CipherCtx cbc_context(ByteView key, ByteView iv, int encrypt) {
    const EVP_CIPHER* cipher = aes_cbc(key.size());
    if (iv.size() != CBC_BLOCK)
        throw Error(ErrorKind::Value, "Invalid IV size (" + std::to_string(iv.size()) + ") for CBC.");
    auto ctx = ossl::new_cipher_ctx();
    if (EVP_CipherInit_ex2(ctx.get(), cipher, key.data(), iv.data(), encrypt, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
        ossl::fail(ErrorKind::Value, "", "cipher initialisation failed");
    return ctx;
}


}  // namespace

SecureBytes hkdf(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    if (length > HKDF_MAX) throw Error(ErrorKind::Value, "Cannot derive keys larger than 8160 octets.");
    SecureBytes out(length);
    if (length == 0) return out;
    KdfCtx ctx(EVP_KDF_CTX_new(hkdf_algorithm()));
    if (!ctx) throw std::bad_alloc();
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    OSSL_PARAM* p = params;
    *p++ = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
    *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, ptr(ikm), ikm.size());
    // No salt parameter at all for an empty salt: HKDF then uses the hash length of zero bytes.
    if (!salt.empty()) *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, ptr(salt), salt.size());
    *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, ptr(info), info.size());
    *p = OSSL_PARAM_construct_end();
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1)
        ossl::fail(ErrorKind::Value, "", "HKDF failed");
    return out;
}

Mac hmac256(ByteView key, ByteView data) {
    MacCtx ctx(EVP_MAC_CTX_new(hmac_algorithm()));
    if (!ctx) throw std::bad_alloc();
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    Mac out{};
    std::size_t len = 0;
    if (EVP_MAC_init(ctx.get(), ptr(key), key.size(), params) != 1 ||
        EVP_MAC_update(ctx.get(), ptr(data), data.size()) != 1 ||
        EVP_MAC_final(ctx.get(), out.data(), &len, out.size()) != 1 || len != out.size())
        ossl::fail(ErrorKind::Value, "", "HMAC failed");
    return out;
}

Bytes cbc_encrypt(ByteView data, ByteView key, ByteView iv) {
    Bytes out(cbc_padded_size(data.size()));
    cbc_encrypt(data, key, iv, out);
    return out;
}

void cbc_encrypt(ByteView data, ByteView key, ByteView iv, MutableBytes out) {
    auto ctx = cbc_context(key, iv, 1);
    // PKCS#7 always adds 1 to 16 bytes, so a whole block of 16s follows an exact multiple.
    const std::size_t pad = CBC_BLOCK - data.size() % CBC_BLOCK;
    const std::size_t whole = data.size() - data.size() % CBC_BLOCK;
    ossl::cipher_update(ctx.get(), data.first(whole), out.data());
    std::uint8_t last[CBC_BLOCK];
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), last);
    std::fill(last + (CBC_BLOCK - pad), last + CBC_BLOCK, static_cast<std::uint8_t>(pad));
    ossl::cipher_update(ctx.get(), ByteView(last, CBC_BLOCK), out.data() + whole);
    OPENSSL_cleanse(last, sizeof last);
}

SecureBytes cbc_decrypt(ByteView ciphertext, ByteView key, ByteView iv) {
    auto ctx = cbc_context(key, iv, 0);
    if (ciphertext.size() % CBC_BLOCK != 0)
        throw Error(ErrorKind::Value, "The length of the provided data is not a multiple of the block length.");
    SecureBytes out(ciphertext.size());
    ossl::cipher_update(ctx.get(), ciphertext, out.data());
    // The padding is checked without branching on the plaintext bytes.
    const std::size_t n = out.size();
    const std::uint8_t pad = n ? out[n - 1] : 0;
    unsigned bad = (pad == 0) | (pad > CBC_BLOCK) | (n == 0);
    for (std::size_t i = 1; i <= CBC_BLOCK && i <= n; ++i) {
        const unsigned in_pad = i <= pad;
        bad |= in_pad & (out[n - i] != pad);
    }
    if (bad) throw Error(ErrorKind::Decryption, UNPAD_FAILURE, Cause{ErrorKind::Value, "Invalid padding bytes."});
    out.truncate(n - pad);
    return out;
}

Bytes gcm_seal(ByteView key, ByteView nonce, ByteView data) {
    Bytes out(data.size() + aes::GCM_TAG_SIZE);
    MutableBytes all(out);
    aes::gcm_seal(key, nonce, data, all.first(data.size()), all.last(aes::GCM_TAG_SIZE));
    return out;
}

SecureBytes gcm_open(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag) {
    if (tag.size() != aes::GCM_TAG_SIZE) {
        // The two parts stand for one sealed string whose last 16 bytes are the tag, wherever the
        // caller split it; shorter than a tag, nothing can authenticate.
        Bytes sealed(ciphertext.begin(), ciphertext.end());
        sealed.insert(sealed.end(), tag.begin(), tag.end());
        if (sealed.size() < aes::GCM_TAG_SIZE) throw Error(ErrorKind::Decryption, GCM_FAILURE, invalid_tag_cause());
        const ByteView all(sealed);
        return gcm_open(key, nonce, all.first(all.size() - aes::GCM_TAG_SIZE), all.last(aes::GCM_TAG_SIZE));
    }
    SecureBytes out(ciphertext.size());
    bool authentic = false;
    try {
        authentic = aes::gcm_open(key, nonce, ciphertext, tag, out.span());
    } catch (const Error& e) {
        throw Error(ErrorKind::Decryption, GCM_FAILURE, Cause{e.kind(), e.what()});
    }
    if (!authentic) throw Error(ErrorKind::Decryption, GCM_FAILURE, invalid_tag_cause());
    return out;
}

X25519Key x25519_generate() {
    X25519Key out{ossl::PKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519")), {}};
    if (!out.key) ossl::fail(ErrorKind::Value, "", "X25519 key generation failed");
    out.public_key = x25519_public(out.key.get());
    return out;
}

ossl::PKey x25519_load_private(ByteView raw) {
    if (raw.size() != X25519_SIZE) throw Error(ErrorKind::Value, "An X25519 private key is 32 bytes long.");
    ossl::PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, raw.data(), raw.size()));
    if (!key) ossl::fail(ErrorKind::Value, "", "invalid X25519 private key");
    return key;
}

SecureBytes x25519_private_bytes(EVP_PKEY* key) {
    SecureBytes out(X25519_SIZE);
    std::size_t len = out.size();
    if (EVP_PKEY_get_raw_private_key(key, out.data(), &len) != 1 || len != X25519_SIZE)
        ossl::fail(ErrorKind::Value, "", "X25519 key encoding failed");
    return out;
}

std::array<std::uint8_t, X25519_SIZE> x25519_public(EVP_PKEY* key) {
    std::array<std::uint8_t, X25519_SIZE> out{};
    std::size_t len = out.size();
    if (EVP_PKEY_get_raw_public_key(key, out.data(), &len) != 1 || len != out.size())
        ossl::fail(ErrorKind::Value, "", "X25519 key encoding failed");
    return out;
}

SecureBytes x25519_exchange(EVP_PKEY* private_key, ByteView peer_public) {
    if (peer_public.size() != X25519_SIZE) throw Error(ErrorKind::Value, "An X25519 public key is 32 bytes long.");
    ossl::PKey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer_public.data(), peer_public.size()));
    if (!peer) ossl::fail(ErrorKind::Value, "", "invalid X25519 public key");
    ossl::PKeyCtx ctx(EVP_PKEY_CTX_new(private_key, nullptr));
    if (!ctx) throw std::bad_alloc();
    SecureBytes secret(X25519_SIZE);
    std::size_t len = secret.size();
    if (EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1 ||
        EVP_PKEY_derive(ctx.get(), secret.data(), &len) != 1 || len != X25519_SIZE) {
        ossl::last_error("");
        // OpenSSL refuses peers of small order (the all-zero secret); word it as a caller's error.
        throw Error(ErrorKind::Value, "Error computing shared key.");
    }
    return secret;
}

}  // namespace tesmar::quantum
