#include "engine/quantum/schemes.hpp"

#include <algorithm>
#include <cstdio>

#include "engine/errors.hpp"
#include "engine/openssl.hpp"
#include "engine/quantum/primitives.hpp"

namespace tesmar::quantum {

namespace {

constexpr std::size_t GEN6_SALT = 16;
constexpr std::size_t GEN5_SALT = 32;
constexpr std::size_t IV = 16;

// Scheme 2 and 5 messages: prefix (salt, if any) || IV || CBC ciphertext || HMAC over all before it.
void cbc_message(ByteView prefix, ByteView aes_key, ByteView mac_key, ByteView data, Sink& out) {
    const std::size_t covered = prefix.size() + IV + cbc_padded_size(data.size());
    const MutableBytes all = out.reserve(covered + HMAC_SIZE);
    std::copy(prefix.begin(), prefix.end(), all.begin());
    const MutableBytes iv = all.subspan(prefix.size(), IV);
    ossl::os_random(iv);
    cbc_encrypt(data, aes_key, iv, all.subspan(prefix.size() + IV, covered - prefix.size() - IV));
    const Mac mac = hmac256(mac_key, all.first(covered));
    std::copy(mac.begin(), mac.end(), all.begin() + static_cast<std::ptrdiff_t>(covered));
}

// Checks the MAC (constant time) before anything is decrypted, then opens the CBC part.
SecureBytes open_cbc_message(ByteView enc, std::size_t iv_at, ByteView aes_key, ByteView mac_key,
                             const char* mac_failure) {
    const ByteView covered = enc.first(enc.size() - HMAC_SIZE);
    const Mac mac = hmac256(mac_key, covered);
    if (!ossl::equal_ct(mac, enc.last(HMAC_SIZE))) throw Error(ErrorKind::Decryption, mac_failure);
    return cbc_decrypt(covered.subspan(iv_at + IV), aes_key, covered.subspan(iv_at, IV));
}

}  // namespace

// ---- scheme 4: FrodoKEM-1344 + AES-256-GCM, key = HMAC(ss, 0x01) -------------------------------

SecureBytes gen4_key(ByteView shared_secret) {
    static const std::uint8_t one = 0x01;
    Mac mac = hmac256(shared_secret, ByteView(&one, 1));
    SecureBytes key(mac);
    OPENSSL_cleanse(mac.data(), mac.size());
    return key;
}

Bytes gen4_encrypt(ByteView data, ByteView raw_pk, Sink& message) {
    oqs::Encapsulation kem = oqs::encapsulate(frodo(HIGHEST), raw_pk);
    const SecureBytes key = gen4_key(kem.shared_secret);
    gcm_message({}, key, data, message);
    return std::move(kem.ciphertext);
}

SecureBytes gen4_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule) {
    if (enc.size() < NONCE + TAG) invalid("Invalid Gen4 encrypted message");
    const SecureBytes ss = oqs::decapsulate(frodo(HIGHEST), raw_sk, capsule);
    const SecureBytes key = gen4_key(ss);
    return open_gcm_message(enc, 0, key);
}

// ---- scheme 6: FrodoKEM at the key's strength + salted HKDF + AES-256-GCM -----------------------

Bytes gen6_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message) {
    oqs::Encapsulation kem = oqs::encapsulate(frodo(strength), raw_pk);
    std::uint8_t salt[GEN6_SALT];
    ossl::os_random(salt);
    const SecureBytes key = hkdf(kem.shared_secret, salt, label(GEN6_INFO), AES_KEY);
    gcm_message(salt, key, data, message);
    return std::move(kem.ciphertext);
}

SecureBytes gen6_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength) {
    if (enc.size() < GEN6_SALT + NONCE + TAG) invalid("Invalid Gen6 encrypted message");
    const SecureBytes ss = oqs::decapsulate(frodo(strength), raw_sk, capsule);
    const SecureBytes key = hkdf(ss, enc.first(GEN6_SALT), label(GEN6_INFO), AES_KEY);
    return open_gcm_message(enc, GEN6_SALT, key);
}

// ---- scheme 2: Classic McEliece + AES-256-CBC, MAC keyed with the shared secret ----------------

Bytes gen2_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message) {
    oqs::Encapsulation kem = oqs::encapsulate(cmce(strength), raw_pk);
    const SecureBytes aes_key = hkdf(kem.shared_secret, {}, {}, AES_KEY);
    cbc_message({}, aes_key, kem.shared_secret, data, message);
    return std::move(kem.ciphertext);
}

SecureBytes gen2_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength) {
    if (enc.size() < IV + HMAC_SIZE) invalid("Invalid Gen2 encrypted message");
    const SecureBytes ss = oqs::decapsulate(cmce(strength), raw_sk, capsule);
    const SecureBytes aes_key = hkdf(ss, {}, {}, AES_KEY);
    return open_cbc_message(enc, 0, aes_key, ss, "Gen2 HMAC verification failed");
}

// ---- scheme 5: Classic McEliece + salted HKDF (AES key || MAC key) + AES-256-CBC ----------------

Bytes gen5_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message) {
    oqs::Encapsulation kem = oqs::encapsulate(cmce(strength), raw_pk);
    std::uint8_t salt[GEN5_SALT];
    ossl::os_random(salt);
    const SecureBytes dk = hkdf(kem.shared_secret, salt, label(GEN5_INFO), 2 * AES_KEY);
    cbc_message(salt, dk.view().first(AES_KEY), dk.view().last(32), data, message);
    return std::move(kem.ciphertext);
}

SecureBytes gen5_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength) {
    if (enc.size() < GEN5_SALT + IV + HMAC_SIZE) invalid("Invalid Gen5 encrypted message");
    const SecureBytes ss = oqs::decapsulate(cmce(strength), raw_sk, capsule);
    const SecureBytes dk = hkdf(ss, enc.first(GEN5_SALT), label(GEN5_INFO), 2 * AES_KEY);
    return open_cbc_message(enc, GEN5_SALT, dk.view().first(AES_KEY), dk.view().last(32),
                            "Gen5 HMAC verification failed");
}

// ---- scheme 8: X25519 + ML-KEM, HKDF over both secrets, AES-256-GCM ----------------------------

KeyPair gen8_generate(std::int64_t strength) {
    const std::string_view alg = mlkem(strength);
    const X25519Key x = x25519_generate();
    const SecureBytes x_priv = x25519_private_bytes(x.key.get());
    const oqs::KeyPair kem = oqs::kem_keypair(alg);
    return with_header(8, strength, {x.public_key, kem.public_key}, {x_priv, kem.secret_key});
}

namespace {
SecureBytes gen8_key(ByteView x_ss, ByteView mlkem_ss, ByteView salt) {
    return hkdf(concat<SecureBytes>({x_ss, mlkem_ss}), salt, label(GEN8_INFO), AES_KEY);
}
}  // namespace

Bytes gen8_encrypt(ByteView data, ByteView raw, std::int64_t strength, Sink& message) {
    if (raw.size() < X25519_SIZE) invalid("Invalid Gen8 public key");
    const ByteView x_pub = raw.first(X25519_SIZE);
    const ByteView mlkem_pub = raw.subspan(X25519_SIZE);
    oqs::Encapsulation kem = oqs::encapsulate(mlkem(strength), mlkem_pub);
    const X25519Key eph = x25519_generate();
    const SecureBytes x_ss = x25519_exchange(eph.key.get(), x_pub);
    std::uint8_t salt[HYBRID_SALT];
    ossl::os_random(salt);
    const SecureBytes key = gen8_key(x_ss, kem.shared_secret, salt);
    gcm_message(salt, key, data, message);
    return concat({u32le(kem.ciphertext.size()), kem.ciphertext, eph.public_key});
}

SecureBytes gen8_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength) {
    if (raw.size() < X25519_SIZE) invalid("Invalid Gen8 private key");
    if (secret.size() < LENGTH_FIELD + X25519_SIZE) invalid("Invalid Gen8 encapsulated secret");
    if (enc.size() < HYBRID_SALT + NONCE + TAG) invalid("Invalid Gen8 encrypted message");
    const ByteView x_priv = raw.first(X25519_SIZE);
    const ByteView mlkem_priv = raw.subspan(X25519_SIZE);
    const std::uint64_t m = read_u32le(secret);
    if (m == 0 || m > secret.size() - LENGTH_FIELD - X25519_SIZE) invalid("Invalid Gen8 encapsulated secret");
    const ByteView mlkem_ct = secret.subspan(LENGTH_FIELD, m);
    const ByteView eph_pub = secret.subspan(LENGTH_FIELD + m, X25519_SIZE);  // anything after it is ignored
    const SecureBytes mlkem_ss = oqs::decapsulate(mlkem(strength), mlkem_priv, mlkem_ct);
    const SecureBytes x_ss = x25519_exchange(x25519_load_private(x_priv).get(), eph_pub);
    const SecureBytes key = gen8_key(x_ss, mlkem_ss, enc.first(HYBRID_SALT));
    return open_gcm_message(enc, HYBRID_SALT, key);
}

// ---- generation and dispatch -------------------------------------------------------------------

KeyPair generate_keypair(int generation, std::int64_t strength) {
    switch (generation) {
        case 1:
        case 2: return with_header(2, strength, oqs::kem_keypair(cmce(strength)));
        case 5: return with_header(5, strength, oqs::kem_keypair(cmce(strength)));
        case 3:
        case 6: return with_header(6, strength, oqs::kem_keypair(frodo(strength)));
        case 4: return with_header(4, HIGHEST, oqs::kem_keypair(frodo(HIGHEST)));
        case 7: return gen7_generate(strength);
        case 8: return gen8_generate(strength);
        default: throw Error(ErrorKind::Value, std::to_string(generation) + " is not a valid QuantumGeneration");
    }
}

namespace {
std::string unsupported(std::uint8_t scheme, const char* what) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", scheme);
    return std::string("Quantum generation 0x") + hex + " is not supported for " + what;
}
}  // namespace

void check_public_key(ByteView public_key) {
    const ByteView raw = slice_from(public_key, KEY_HEADER);
    const bool all_zero = std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; });
    if (public_key.size() <= KEY_HEADER || all_zero) invalid("Invalid or empty quantum public key");
}

Bytes encrypt(ByteView data, ByteView public_key, Sink& message) {
    check_public_key(public_key);
    const ByteView raw = public_key.subspan(KEY_HEADER);
    const std::uint8_t scheme = public_key[0];
    const std::int64_t strength = public_key[1];
    switch (scheme) {
        case 4: return gen4_encrypt(data, raw, message);
        case 6: return gen6_encrypt(data, raw, strength, message);
        case 2: return gen2_encrypt(data, raw, strength, message);
        case 5: return gen5_encrypt(data, raw, strength, message);
        case 7: return gen7_encrypt(data, raw, strength, message);
        case 8: return gen8_encrypt(data, raw, strength, message);
        default: throw Error(ErrorKind::QuantumOperation, unsupported(scheme, "encryption"));
    }
}

SecureBytes decrypt(ByteView encrypted_message, ByteView private_key, ByteView secret) {
    if (private_key.size() <= KEY_HEADER) invalid("Invalid quantum private key");
    if (secret.empty()) invalid("Encapsulated secret required for quantum decryption");
    const std::uint8_t scheme = private_key[0];
    const std::int64_t strength = private_key[1];
    const ByteView raw = private_key.subspan(KEY_HEADER);
    switch (scheme) {
        case 4: return gen4_decrypt(encrypted_message, raw, secret);
        case 6: return gen6_decrypt(encrypted_message, raw, secret, strength);
        case 2: return gen2_decrypt(encrypted_message, raw, secret, strength);
        case 5: return gen5_decrypt(encrypted_message, raw, secret, strength);
        case 7: return gen7_decrypt(encrypted_message, raw, secret, strength);
        case 8: return gen8_decrypt(encrypted_message, raw, secret, strength);
        default: throw Error(ErrorKind::QuantumOperation, unsupported(scheme, "decryption"));
    }
}

}  // namespace tesmar::quantum
