#include "engine/quantum/gen7.hpp"

#include "engine/errors.hpp"
#include "engine/openssl.hpp"
#include "engine/quantum/primitives.hpp"
#include "engine/rsa.hpp"

namespace tesmar::quantum {

SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss) {
    if (session_key.size() < 32) throw Error(ErrorKind::Value, "the session key must be at least 32 bytes");
    if (frodo_ss.empty()) throw Error(ErrorKind::Value, "the FrodoKEM secret must not be empty");
    SecureBytes out(32);
    for (std::size_t i = 0; i < 32; ++i) out[i] = session_key[i] ^ frodo_ss[i % frodo_ss.size()];
    return out;
}

namespace {

constexpr std::size_t SESSION_KEY = 32;

// u32le(n) || n bytes || the rest. Sliced as Python slices: a short input gives a shorter first
// part and an empty rest, for the caller to judge. The caller has checked the length field is there.
struct Prefixed {
    std::uint64_t length;
    ByteView first;
    ByteView rest;
};

Prefixed split_prefixed(ByteView v) {
    const std::uint64_t n = read_u32le(v);
    return {n, slice(v, LENGTH_FIELD, LENGTH_FIELD + n), slice_from(v, LENGTH_FIELD + n)};
}

SecureBytes message_key(ByteView session_key, ByteView frodo_ss, ByteView salt) {
    const SecureBytes combined = xor_mix(session_key, frodo_ss);
    return hkdf(combined, salt, label(GEN7_INFO), AES_KEY);
}

}  // namespace

KeyPair gen7_generate(std::int64_t strength) {
    // The cheap refusals (unknown strength, no liboqs) come before the slow RSA key generation.
    const std::string_view alg = frodo(strength);
    oqs::library();
    const ossl::PKey rsa_key = rsa::generate(rsa::KEY_SIZE);
    const Bytes rsa_pub = rsa::public_der_pkcs1(rsa_key.get());
    const SecureBytes rsa_priv = rsa::private_der_pkcs1(rsa_key.get());
    const oqs::KeyPair kem = oqs::kem_keypair(alg);
    return with_header(7, strength, {u32le(rsa_pub.size()), rsa_pub, kem.public_key},
                       {u32le(rsa_priv.size()), rsa_priv, kem.secret_key});
}

Bytes gen7_encrypt(ByteView data, ByteView raw, std::int64_t strength, Sink& message) {
    if (raw.size() < LENGTH_FIELD) invalid("Invalid Gen7 public key");
    const Prefixed pub = split_prefixed(raw);
    if (pub.first.size() != pub.length || pub.rest.empty()) invalid("Invalid Gen7 public key (truncated)");
    ossl::PKey rsa_key;
    try {
        rsa_key = rsa::load_public_der_spki(pkcs1_to_spki(pub.first));
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, "Invalid Gen7 RSA public key: ", Cause{e.kind(), e.what()});
    }
    SecureBytes session_key(SESSION_KEY);
    ossl::os_random(session_key.span());
    const Bytes wrapped = rsa::oaep_encrypt(rsa_key.get(), session_key);
    oqs::Encapsulation kem = oqs::encapsulate(frodo(strength), pub.rest);
    std::uint8_t salt[HYBRID_SALT];
    ossl::os_random(salt);
    const SecureBytes key = message_key(session_key, kem.shared_secret, salt);
    gcm_message(salt, key, data, message);
    return concat({u32le(wrapped.size()), wrapped, kem.ciphertext});
}

SecureBytes gen7_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength) {
    if (raw.size() < LENGTH_FIELD) invalid("Invalid Gen7 private key");
    const Prefixed priv = split_prefixed(raw);
    if (secret.size() < LENGTH_FIELD) invalid("Invalid Gen7 encapsulated secret");
    const Prefixed capsule = split_prefixed(secret);
    if (enc.size() < HYBRID_SALT + NONCE + TAG) invalid("Invalid Gen7 encrypted message");

    ossl::PKey rsa_key;
    try {
        rsa_key = rsa::load_private_der(priv.first);
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, "Invalid Gen7 RSA private key: ", Cause{e.kind(), e.what()});
    }
    SecureBytes session_key;
    try {
        session_key = rsa::oaep_decrypt(rsa_key.get(), capsule.first);
    } catch (const Error& e) {
        throw Error(ErrorKind::Decryption, "Gen7 RSA decryption failed", Cause{e.kind(), e.what()});
    }
    const SecureBytes frodo_ss = oqs::decapsulate(frodo(strength), priv.rest, capsule.rest);
    // Only a forged block carries a shorter key; it fails like any other bad block, at the point
    // where the key is first used (after the FrodoKEM capsule was judged).
    if (session_key.size() < SESSION_KEY)
        throw Error(ErrorKind::Decryption, "Gen7 RSA decryption failed",
                    Cause{ErrorKind::Value, "the wrapped session key is " + std::to_string(session_key.size()) +
                                                " bytes, not 32"});
    const SecureBytes key = message_key(session_key, frodo_ss, enc.first(HYBRID_SALT));
    return open_gcm_message(enc, HYBRID_SALT, key);
}

}  // namespace tesmar::quantum
