#include "engine/aes.hpp"

#include <climits>

#include "engine/base64.hpp"
#include "engine/errors.hpp"
#include "engine/keys.hpp"
#include "engine/openssl.hpp"

namespace tesmar::aes {

namespace {

const EVP_CIPHER* cipher_for(ByteView key) {
    check_key_size(key.size());
    return ossl::aes_gcm(key.size());
}

void init(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* c, ByteView key, ByteView nonce, int enc) {
    if (nonce.size() < 8 || nonce.size() > 128)
        throw Error(ErrorKind::Value, "initialization_vector must be between 8 and 128 bytes (64 and 1024 bits).");
    const OSSL_PARAM* none = nullptr;
    // 12 bytes is GCM's default nonce length: one init call does it all.
    const bool ok = nonce.size() == GCM_NONCE_SIZE
                        ? EVP_CipherInit_ex2(ctx, c, key.data(), nonce.data(), enc, none) == 1
                        : EVP_CipherInit_ex2(ctx, c, nullptr, nullptr, enc, none) == 1 &&
                              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) == 1 &&
                              EVP_CipherInit_ex2(ctx, nullptr, key.data(), nonce.data(), enc, none) == 1;
    if (!ok)
        ossl::fail(ErrorKind::Value, "", "cipher initialisation failed");
}

}  // namespace

void check_key_size(std::size_t key_len) {
    if (!ossl::aes_gcm(key_len))
        throw Error(ErrorKind::Value, "Invalid key size (" + std::to_string(key_len * 8) + ") for AES.");
}

ossl::CipherCtx gcm_context(ByteView key, ByteView nonce, bool encrypt) {
    const EVP_CIPHER* c = cipher_for(key);
    auto ctx = ossl::new_cipher_ctx();
    init(ctx.get(), c, key, nonce, encrypt ? 1 : 0);
    return ctx;
}

void gcm_seal(ByteView key, ByteView nonce, ByteView plaintext, MutableBytes out, MutableBytes tag) {
    const EVP_CIPHER* c = cipher_for(key);
    auto ctx = ossl::new_cipher_ctx();
    init(ctx.get(), c, key, nonce, 1);
    ossl::cipher_update(ctx.get(), plaintext, out.data());
    int outl = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), out.data() + plaintext.size(), &outl) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(tag.size()), tag.data()) != 1)
        ossl::fail(ErrorKind::Value, "", "encryption failed");
}

bool gcm_open(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag, MutableBytes out) {
    const EVP_CIPHER* c = cipher_for(key);
    auto ctx = ossl::new_cipher_ctx();
    if (tag.size() < GCM_TAG_SIZE) throw Error(ErrorKind::Value, "Authentication tag must be 16 bytes or longer.");
    if (tag.size() > GCM_TAG_SIZE) throw Error(ErrorKind::Value, "Authentication tag cannot be more than 16 bytes.");
    init(ctx.get(), c, key, nonce, 0);
    ossl::cipher_update(ctx.get(), ciphertext, out.data());
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tag.size()),
                            const_cast<std::uint8_t*>(tag.data())) != 1)
        ossl::fail(ErrorKind::Value, "", "invalid tag length");
    int outl = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), out.data() + ciphertext.size(), &outl) != 1) {
        ossl::last_error("");  // drain the queue: an authentication failure is an answer, not an error
        if (!out.empty()) OPENSSL_cleanse(out.data(), out.size());
        return false;
    }
    return true;
}

void envelope_seal(ByteView key32, ByteView data, MutableBytes out) {
    ossl::os_random(out.first(GCM_NONCE_SIZE));
    gcm_seal(key32, out.first(GCM_NONCE_SIZE), data, out.subspan(GCM_NONCE_SIZE, data.size()),
             out.last(GCM_TAG_SIZE));
}

bool envelope_open(ByteView key32, ByteView blob, MutableBytes out) {
    const ByteView nonce = blob.first(GCM_NONCE_SIZE);
    const ByteView ct = blob.subspan(GCM_NONCE_SIZE, blob.size() - ENVELOPE_OVERHEAD);
    const ByteView tag = blob.last(GCM_TAG_SIZE);
    return gcm_open(key32, nonce, ct, tag, out);
}

namespace {

void seal_with(ByteView data, const TextArg& key_text, MutableBytes out) {
    const SecureBytes key = keys::convert_key(key_text.get());
    try {
        envelope_seal(key, data, out);
    } catch (const Error& e) {
        // Only the cipher's failures are this operation's; the random source's pass as they are.
        if (e.kind() == ErrorKind::OS) throw;
        throw wrap(ErrorKind::Encryption, "AES-GCM encryption failed: ", Cause{e.kind(), e.what()});
    }
}

bool open_with(ByteView blob, const TextArg& key_text, MutableBytes out) {
    const SecureBytes key = keys::convert_key(key_text.get());
    return envelope_open(key, blob, out);
}

}  // namespace

void encrypt_data(const BytesArg& data, const TextArg& key, Sink& out) {
    if (data.is_none()) throw Error(ErrorKind::InvalidInput, DATA_EMPTY);
    const ByteView bytes = data.get();
    if (bytes.empty()) throw Error(ErrorKind::InvalidInput, DATA_EMPTY);
    key.get();
    seal_with(bytes, key, out.reserve(bytes.size() + ENVELOPE_OVERHEAD));
}

Bytes encrypt_text(const TextArg& plaintext, const TextArg& key) {
    const ByteView bytes = as_bytes(plaintext.get());
    if (bytes.empty()) throw Error(ErrorKind::InvalidInput, PLAINTEXT_EMPTY);
    key.get();
    Bytes envelope(bytes.size() + ENVELOPE_OVERHEAD);
    seal_with(bytes, key, envelope);
    return envelope;
}

void decrypt_data(const BytesArg& blob, const TextArg& key, Sink& out) {
    key.get();
    const ByteView bytes = blob.get();
    // Too short to hold one byte of ciphertext: no decryption is attempted.
    if (bytes.size() < MIN_ENVELOPE) throw Error(ErrorKind::Decryption, ENVELOPE_FAILURE);
    if (!open_with(bytes, key, out.reserve(bytes.size() - ENVELOPE_OVERHEAD)))
        throw Error(ErrorKind::Decryption, ENVELOPE_FAILURE);
}

SecureBytes decrypt_text(const TextArg& b64, const TextArg& key) {
    const Bytes blob = b64::decode_arg(b64, ErrorKind::Decryption, NOT_BASE64);
    key.get();
    if (blob.size() < MIN_ENVELOPE) throw Error(ErrorKind::Decryption, ENVELOPE_FAILURE);
    SecureBytes plain(blob.size() - ENVELOPE_OVERHEAD);
    if (!open_with(blob, key, plain.span())) throw Error(ErrorKind::Decryption, ENVELOPE_FAILURE);
    return plain;
}

}  // namespace tesmar::aes
