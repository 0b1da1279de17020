#include "engine/rsa.hpp"

#include "engine/base64.hpp"
#include "engine/der.hpp"
#include "engine/pem.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace tesmar::rsa {

namespace {

using ossl::Deleter;
using DecoderCtx = std::unique_ptr<OSSL_DECODER_CTX, Deleter<OSSL_DECODER_CTX_free>>;

[[noreturn]] void primitive_failure(const char* fallback) {
    throw Error(ErrorKind::Value, ossl::last_error(fallback));
}

// ---- The fast decoders: the shapes RSA keys nearly always have.
//
// OpenSSL 3.0 decodes keys through its generic decoder chain, which costs more than the RSA
// public-key operation itself. The common encodings (SubjectPublicKeyInfo, PKCS#1, unencrypted
// PKCS#8 of rsaEncryption) are read here and handed over as components; anything the DER reader
// does not recognise exactly goes to the library's decoders, which stay the judge of what loads.

using der::BIT_STRING;
using der::INTEGER;
using der::OCTET_STRING;
using der::Reader;
using der::RSA_ALG_ID;
using der::SEQUENCE;
using der::VERSION_ZERO;
using der::whole_sequence;

constexpr const char* kComponentNames[] = {
    OSSL_PKEY_PARAM_RSA_N,       OSSL_PKEY_PARAM_RSA_E,         OSSL_PKEY_PARAM_RSA_D,
    OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
    OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
};

// Builds a key from big-endian components: n, e (public) or all eight (private). The components
// go to OpenSSL as native-endian integers straight from a wiped scratch buffer, without
// building BIGNUMs first.
ossl::PKey from_components(const ByteView* parts, std::size_t count) {
    const bool is_private = count == 8;
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += parts[i].size();
    SecureBytes scratch(total);
    OSSL_PARAM params[9];
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* dst = scratch.data() + at;
        if constexpr (std::endian::native == std::endian::little)
            std::reverse_copy(parts[i].begin(), parts[i].end(), dst);
        else
            std::copy(parts[i].begin(), parts[i].end(), dst);
        params[i] = OSSL_PARAM_construct_BN(kComponentNames[i], dst, parts[i].size());
        at += parts[i].size();
    }
    params[count] = OSSL_PARAM_construct_end();
    ossl::PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, is_private ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return ossl::PKey(key);
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
ossl::PKey fast_pkcs1_public(ByteView der) {
    auto seq = whole_sequence(der);
    ByteView parts[2];
    if (!seq || !seq->positive(parts[0]) || !seq->positive(parts[1]) || !seq->at_end()) return nullptr;
    return from_components(parts, 2);
}

// SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier, BIT STRING (RSAPublicKey) }
ossl::PKey fast_spki(ByteView der) {
    auto seq = whole_sequence(der);
    ByteView bits;
    if (!seq || !seq->literal(RSA_ALG_ID) || !seq->next(BIT_STRING, bits) || !seq->at_end()) return nullptr;
    if (bits.empty() || bits[0] != 0) return nullptr;
    return fast_pkcs1_public(bits.subspan(1));
}

// RSAPrivateKey ::= SEQUENCE { version 0, n, e, d, p, q, d mod (p-1), d mod (q-1), q^-1 mod p }
ossl::PKey fast_pkcs1_private(ByteView der) {
    auto seq = whole_sequence(der);
    if (!seq || !seq->literal(VERSION_ZERO)) return nullptr;
    ByteView parts[8];
    for (auto& part : parts)
        if (!seq->positive(part)) return nullptr;
    if (!seq->at_end()) return nullptr;
    return from_components(parts, 8);
}

// PrivateKeyInfo ::= SEQUENCE { version 0, AlgorithmIdentifier, OCTET STRING (RSAPrivateKey) }
ossl::PKey fast_pkcs8(ByteView der) {
    auto seq = whole_sequence(der);
    ByteView inner;
    if (!seq || !seq->literal(VERSION_ZERO) || !seq->literal(RSA_ALG_ID) || !seq->next(OCTET_STRING, inner) ||
        !seq->at_end())
        return nullptr;
    return fast_pkcs1_private(inner);
}

// ---- The library's decoders, for every other encoding and key type.

int refuse_passphrase(char*, std::size_t, std::size_t*, const OSSL_PARAM[], void*) { return 0; }

ossl::PKey decode(ByteView der, const char* structure, const char* key_type, int selection) {
    EVP_PKEY* key = nullptr;
    DecoderCtx ctx(OSSL_DECODER_CTX_new_for_pkey(&key, "DER", structure, key_type, selection, nullptr, nullptr));
    if (!ctx) {
        ERR_clear_error();
        return nullptr;
    }
    // Never ask anyone for a password: encrypted keys are refused, not decrypted.
    OSSL_DECODER_CTX_set_passphrase_cb(ctx.get(), refuse_passphrase, nullptr);
    const unsigned char* p = der.data();
    std::size_t left = der.size();
    const int ok = OSSL_DECODER_from_data(ctx.get(), &p, &left);
    ERR_clear_error();
    ossl::PKey owned(key);
    if (ok != 1 || !owned || left != 0) return nullptr;
    return owned;
}

// OpenSSL 3.0's decoders take other structures than the one asked for (an RSAPublicKey where a
// SubjectPublicKeyInfo was named), so the outer shape is checked here first.
bool spki_shape(ByteView der) {
    Reader outer(der);
    ByteView body, part;
    if (!outer.next(SEQUENCE, body)) return false;
    Reader seq(body);
    return seq.next(SEQUENCE, part) && seq.next(BIT_STRING, part) && seq.at_end();
}

bool pkcs8_shape(ByteView der) {
    Reader outer(der);
    ByteView body, part;
    if (!outer.next(SEQUENCE, body)) return false;
    Reader seq(body);
    return seq.next(INTEGER, part) && seq.next(SEQUENCE, part) && seq.next(OCTET_STRING, part);
}

ossl::PKey spki_key(ByteView der) {
    if (auto key = fast_spki(der)) return key;
    if (!spki_shape(der)) return nullptr;
    return decode(der, "SubjectPublicKeyInfo", nullptr, EVP_PKEY_PUBLIC_KEY);
}

ossl::PKey pkcs1_public_key(ByteView der) {
    if (auto key = fast_pkcs1_public(der)) return key;
    return decode(der, "type-specific", "RSA", EVP_PKEY_PUBLIC_KEY);
}

ossl::PKey pkcs8_key(ByteView der) {
    if (auto key = fast_pkcs8(der)) return key;
    if (!pkcs8_shape(der)) return nullptr;
    return decode(der, "PrivateKeyInfo", nullptr, EVP_PKEY_KEYPAIR);
}

ossl::PKey traditional_key(ByteView der, const std::string& type) {
    if (type == "RSA")
        if (auto key = fast_pkcs1_private(der)) return key;
    return decode(der, "type-specific", type.c_str(), EVP_PKEY_KEYPAIR);
}

[[noreturn]] void unreadable(const std::string& label) {
    throw Error(ErrorKind::Value, "malformed or unsupported key data in the " + label + " block");
}

[[noreturn]] void encrypted_key() {
    throw Error(ErrorKind::Value, "the private key is encrypted; only unencrypted keys are accepted");
}

OSSL_PARAM* oaep_params(OSSL_PARAM* p) {
    p[0] = OSSL_PARAM_construct_utf8_string(OSSL_ASYM_CIPHER_PARAM_PAD_MODE,
                                            const_cast<char*>(OSSL_PKEY_RSA_PAD_MODE_OAEP), 0);
    p[1] = OSSL_PARAM_construct_utf8_string(OSSL_ASYM_CIPHER_PARAM_OAEP_DIGEST, const_cast<char*>("SHA256"), 0);
    p[2] = OSSL_PARAM_construct_utf8_string(OSSL_ASYM_CIPHER_PARAM_MGF1_DIGEST, const_cast<char*>("SHA256"), 0);
    p[3] = OSSL_PARAM_construct_end();
    return p;
}

OSSL_PARAM* pss_params(OSSL_PARAM* p, int* salt) {
    p[0] = OSSL_PARAM_construct_utf8_string(OSSL_SIGNATURE_PARAM_PAD_MODE,
                                            const_cast<char*>(OSSL_PKEY_RSA_PAD_MODE_PSS), 0);
    p[1] = OSSL_PARAM_construct_utf8_string(OSSL_SIGNATURE_PARAM_DIGEST, const_cast<char*>("SHA256"), 0);
    p[2] = OSSL_PARAM_construct_utf8_string(OSSL_SIGNATURE_PARAM_MGF1_DIGEST, const_cast<char*>("SHA256"), 0);
    p[3] = OSSL_PARAM_construct_int(OSSL_SIGNATURE_PARAM_PSS_SALTLEN, salt);
    p[4] = OSSL_PARAM_construct_end();
    return p;
}

void require_rsa(EVP_PKEY* key) {
    if (!is_rsa(key)) throw Error(ErrorKind::Value, std::string("the key is ") + type_name(key) + ", not RSA");
}

ossl::PKeyCtx op_ctx(EVP_PKEY* key) {
    ossl::PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx) primitive_failure("cannot use the key");
    return ctx;
}

std::string bio_text(BIO* bio) {
    char* p = nullptr;
    const long n = BIO_get_mem_data(bio, &p);
    return std::string(p, static_cast<std::size_t>(n));
}

}  // namespace

// ---- Generation and encoding

ossl::PKey generate(int bits) {
    ossl::PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    unsigned int nbits = static_cast<unsigned int>(bits);
    unsigned int e = PUBLIC_EXPONENT;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_uint(OSSL_PKEY_PARAM_RSA_BITS, &nbits),
        OSSL_PARAM_construct_uint(OSSL_PKEY_PARAM_RSA_E, &e),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_params(ctx.get(), params) != 1 ||
        EVP_PKEY_generate(ctx.get(), &key) != 1)
        primitive_failure("RSA key generation failed");
    return ossl::PKey(key);
}

std::string private_pem_pkcs8(EVP_PKEY* key) {
    ossl::Bio bio(BIO_new(BIO_s_secmem()));
    if (!bio || PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        primitive_failure("cannot encode the private key");
    return bio_text(bio.get());
}

std::string public_pem_spki(EVP_PKEY* key) {
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), key) != 1) primitive_failure("cannot encode the public key");
    return bio_text(bio.get());
}

Bytes public_der_pkcs1(EVP_PKEY* key) {
    require_rsa(key);
    unsigned char* der = nullptr;
    const int n = i2d_PublicKey(key, &der);
    if (n <= 0) primitive_failure("cannot encode the public key");
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

SecureBytes private_der_pkcs1(EVP_PKEY* key) {
    require_rsa(key);
    unsigned char* der = nullptr;
    const int n = i2d_PrivateKey(key, &der);
    if (n <= 0) primitive_failure("cannot encode the private key");
    SecureBytes out(ByteView(der, static_cast<std::size_t>(n)));
    OPENSSL_clear_free(der, static_cast<std::size_t>(n));
    return out;
}

// ---- Loading

ossl::PKey load_public_pem(std::string_view text) {
    const pem::Block block = pem::find_block(
        text, [](const std::string& l) { return l == "PUBLIC KEY" || l == "RSA PUBLIC KEY"; }, "a public key",
        "PUBLIC KEY");
    ossl::PKey key = block.label == "PUBLIC KEY" ? spki_key(block.der) : pkcs1_public_key(block.der);
    if (!key) unreadable(block.label);
    return key;
}

ossl::PKey load_private_pem(std::string_view text) {
    const pem::Block block = pem::find_block(
        text, [](const std::string& l) { return l.ends_with("PRIVATE KEY"); }, "a private key", "PRIVATE KEY");
    const std::string& label = block.label;
    if (label == "ENCRYPTED PRIVATE KEY" || block.encrypted) encrypted_key();
    ossl::PKey key;
    if (label == "PRIVATE KEY") {
        key = pkcs8_key(block.der);
    } else if (label.ends_with(" PRIVATE KEY")) {
        key = traditional_key(block.der, label.substr(0, label.size() - std::strlen(" PRIVATE KEY")));
    }
    if (!key) unreadable(label);
    return key;
}

ossl::PKey load_public_der_spki(ByteView der) {
    ossl::PKey key = spki_key(der);
    if (!key) throw Error(ErrorKind::Value, "malformed or unsupported SubjectPublicKeyInfo");
    return key;
}

ossl::PKey load_private_der(ByteView der) {
    ossl::PKey key = pkcs8_key(der);
    if (!key) key = traditional_key(der, "RSA");
    if (!key) throw Error(ErrorKind::Value, "malformed or unsupported private key DER");
    return key;
}

bool is_rsa(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "RSA") == 1; }

const char* type_name(EVP_PKEY* key) {
    const char* name = EVP_PKEY_get0_type_name(key);
    return name ? name : "unknown";
}

// ---- Primitives

Bytes oaep_encrypt(EVP_PKEY* key, ByteView data) {
    require_rsa(key);
    auto ctx = op_ctx(key);
    OSSL_PARAM params[4];
    std::size_t len = 0;
    if (EVP_PKEY_encrypt_init_ex(ctx.get(), oaep_params(params)) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &len, data.data(), data.size()) != 1)
        primitive_failure("OAEP encryption failed");
    Bytes out(len);
    if (EVP_PKEY_encrypt(ctx.get(), out.data(), &len, data.data(), data.size()) != 1)
        primitive_failure("OAEP encryption failed");
    out.resize(len);
    return out;
}

SecureBytes oaep_decrypt(EVP_PKEY* key, ByteView block) {
    require_rsa(key);
    auto ctx = op_ctx(key);
    OSSL_PARAM params[4];
    std::size_t len = 0;
    if (EVP_PKEY_decrypt_init_ex(ctx.get(), oaep_params(params)) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &len, block.data(), block.size()) != 1)
        primitive_failure("OAEP decryption failed");
    SecureBytes out(len);
    if (EVP_PKEY_decrypt(ctx.get(), out.data(), &len, block.data(), block.size()) != 1)
        primitive_failure("OAEP decryption failed");
    out.truncate(len);
    return out;
}

Bytes pss_sign(EVP_PKEY* key, ByteView data) {
    require_rsa(key);
    std::uint8_t digest[32];
    ossl::sha256_into(data, digest);
    auto ctx = op_ctx(key);
    OSSL_PARAM params[5];
    int salt = static_cast<int>(PSS_SALT_LENGTH);
    std::size_t len = 0;
    if (EVP_PKEY_sign_init_ex(ctx.get(), pss_params(params, &salt)) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &len, digest, sizeof digest) != 1)
        primitive_failure("PSS signing failed");
    Bytes sig(len);
    if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest, sizeof digest) != 1)
        primitive_failure("PSS signing failed");
    sig.resize(len);
    // Keys are not validated when loaded (that costs far more than signing), so a private key
    // whose parts do not fit together would yield a signature nobody can verify. Checking our own
    // signature costs one public-key operation, about 2% of the signing, and turns that silent
    // failure into an error.
    if (!pss_verify(key, data, sig))
        throw Error(ErrorKind::Value, "the signature does not verify under the key's own public part (inconsistent private key)");
    return sig;
}

bool pss_verify(EVP_PKEY* key, ByteView data, ByteView signature) {
    if (!is_rsa(key))
        throw Error(ErrorKind::Type, std::string("PSS verification needs an RSA public key, not ") + type_name(key));
    std::uint8_t digest[32];
    ossl::sha256_into(data, digest);
    auto ctx = op_ctx(key);
    OSSL_PARAM params[5];
    int salt = static_cast<int>(PSS_SALT_LENGTH);
    if (EVP_PKEY_verify_init_ex(ctx.get(), pss_params(params, &salt)) != 1)
        primitive_failure("PSS verification setup failed");
    const int rc = EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest, sizeof digest);
    ERR_clear_error();  // a mismatch is an answer, not an error
    return rc == 1;
}

// ---- Family operations

ossl::PKey public_key_from_text(std::string_view pem) {
    try {
        return load_public_pem(pem);
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, PUBLIC_PEM_PREFIX, Cause{e.kind(), e.what()});
    }
}

ossl::PKey private_key_from_text(std::string_view pem) {
    try {
        return load_private_pem(pem);
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, PRIVATE_PEM_PREFIX, Cause{e.kind(), e.what()});
    }
}

void check_oaep_size(std::uint64_t n) {
    if (n > MAX_OAEP_PLAINTEXT)
        throw Error(ErrorKind::InvalidInput, "Data too large for a direct RSA-OAEP block (" + std::to_string(n) +
                                                 " > " + std::to_string(MAX_OAEP_PLAINTEXT) + " bytes)");
}

Bytes encrypt_block(EVP_PKEY* key, ByteView data) {
    try {
        return oaep_encrypt(key, data);
    } catch (const Error& e) {
        throw wrap(ErrorKind::Encryption, ENCRYPT_PREFIX, Cause{e.kind(), e.what()});
    }
}

SecureBytes decrypt_block(EVP_PKEY* key, ByteView blob) {
    try {
        return oaep_decrypt(key, blob);
    } catch (const Error& e) {
        throw wrap(ErrorKind::Decryption, DECRYPT_PREFIX, Cause{e.kind(), e.what()});
    }
}

Bytes sign(EVP_PKEY* key, ByteView data) {
    try {
        return pss_sign(key, data);
    } catch (const Error& e) {
        throw wrap(ErrorKind::Signature, SIGN_PREFIX, Cause{e.kind(), e.what()});
    }
}

ossl::PKey public_key_from_text(const TextArg& pem) {
    return public_key_from_text(pem.get_or(ErrorKind::InvalidInput, PUBLIC_PEM_PREFIX));
}

ossl::PKey private_key_from_text(const TextArg& pem) {
    return private_key_from_text(pem.get_or(ErrorKind::InvalidInput, PRIVATE_PEM_PREFIX));
}

PemPair new_key_pair() {
    const ossl::PKey key = generate();
    return {private_pem_pkcs8(key.get()), public_pem_spki(key.get())};
}

Bytes encrypt_oaep(const BytesArg& data, const TextArg& public_pem) {
    check_oaep_size(data.length());
    const ossl::PKey key = public_key_from_text(public_pem);
    return encrypt_block(key.get(), data.get_or(ErrorKind::Encryption, ENCRYPT_PREFIX));
}

SecureBytes decrypt_oaep(const BytesArg& blob, const TextArg& private_pem) {
    const ossl::PKey key = private_key_from_text(private_pem);
    return decrypt_block(key.get(), blob.get_or(ErrorKind::Decryption, DECRYPT_PREFIX));
}

Bytes sign(const BytesArg& data, const TextArg& private_pem) {
    const ossl::PKey key = private_key_from_text(private_pem);
    return sign(key.get(), data.get_or(ErrorKind::Signature, SIGN_PREFIX));
}

bool verify(const BytesArg& data, const BytesArg& signature, const TextArg& public_pem) {
    const ossl::PKey key = public_key_from_text(public_pem);
    const ByteView sig = signature.get();
    return pss_verify(key.get(), data.get(), sig);
}

bool verify_text(const TextArg& plaintext, const TextArg& signature_b64, const TextArg& public_pem) {
    if (!signature_b64.usable()) return false;
    const std::optional<Bytes> sig = b64::decode_strict(signature_b64.get());
    if (!sig) return false;
    const ByteView data = as_bytes(plaintext.get());
    return verify(data, ByteView(*sig), public_pem);
}

}  // namespace tesmar::rsa
