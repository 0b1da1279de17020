// Scheme 7: RSA-4096 (OAEP-wrapped session key) + FrodoKEM, mixed by XOR, HKDF, AES-256-GCM.
#include "engine/errors.hpp"
#include "engine/openssl.hpp"
#include "engine/quantum/primitives.hpp"
#include "engine/quantum/schemes.hpp"
#include "engine/rsa.hpp"

namespace tesmar::quantum {

SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss) {
    if (session_key.size() < 32) throw Error(ErrorKind::Value, "the session key must be at least 32 bytes");
    if (frodo_ss.empty()) throw Error(ErrorKind::Value, "the FrodoKEM secret must not be empty");
    SecureBytes out(32);
    for (std::size_t i = 0; i < 32; ++i) out[i] = session_key[i] ^ frodo_ss[i % frodo_ss.size()];
    return out;
}

Bytes der_len(ByteView magnitude) {
    while (!magnitude.empty() && magnitude.front() == 0) magnitude = magnitude.subspan(1);
    if (magnitude.empty()) return {0};
    if (magnitude.size() == 1 && magnitude[0] < 128) return {magnitude[0]};
    // The count shares its byte with the 0x80 flag.
    if (magnitude.size() > 127) throw Error(ErrorKind::Overflow, "a DER length field holds at most 127 bytes");
    Bytes out{static_cast<std::uint8_t>(0x80 | magnitude.size())};
    out.insert(out.end(), magnitude.begin(), magnitude.end());
    return out;
}

Bytes der_len(std::uint64_t n) {
    std::uint8_t big_endian[8];
    for (int i = 7; i >= 0; --i, n >>= 8) big_endian[i] = static_cast<std::uint8_t>(n & 0xFF);
    return der_len(ByteView(big_endian, sizeof big_endian));
}

Bytes pkcs1_to_spki(ByteView pkcs1) {
    // BIT STRING with no unused bits around the PKCS#1 key, after the algorithm, in a SEQUENCE.
    const Bytes bits_len = der_len(std::uint64_t{pkcs1.size()} + 1);
    const std::uint64_t body_len = RSA_ALG_ID.size() + 1 + bits_len.size() + 1 + pkcs1.size();
    const Bytes seq_len = der_len(body_len);
    Bytes out;
    out.reserve(1 + seq_len.size() + body_len);
    out.push_back(0x30);
    out.insert(out.end(), seq_len.begin(), seq_len.end());
    out.insert(out.end(), RSA_ALG_ID.begin(), RSA_ALG_ID.end());
    out.push_back(0x03);
    out.insert(out.end(), bits_len.begin(), bits_len.end());
    out.push_back(0x00);
    out.insert(out.end(), pkcs1.begin(), pkcs1.end());
    return out;
}

namespace {

constexpr std::size_t SESSION_KEY = 32;
constexpr std::size_t SALT = 32;
constexpr std::size_t NONCE = 12;
constexpr std::size_t TAG = 16;
constexpr std::size_t PREFIX = 4;

[[noreturn]] void invalid(const char* message) { throw Error(ErrorKind::InvalidInput, message); }

std::uint64_t u32le(ByteView b) {
    return static_cast<std::uint64_t>(b[0]) | static_cast<std::uint64_t>(b[1]) << 8 |
           static_cast<std::uint64_t>(b[2]) << 16 | static_cast<std::uint64_t>(b[3]) << 24;
}

void put_u32le(std::uint8_t* out, std::size_t v) {
    if (v > 0xFFFFFFFFu) throw Error(ErrorKind::Overflow, "length does not fit in 32 bits");
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// header || u32le(len(rsa)) || rsa || frodo
template <class Out>
Out compose(std::int64_t strength, ByteView rsa_der, ByteView frodo) {
    Out out(2 + PREFIX + rsa_der.size() + frodo.size());
    std::uint8_t* p = out.data();
    p[0] = 7;
    p[1] = static_cast<std::uint8_t>(strength);
    put_u32le(p + 2, rsa_der.size());
    p = std::copy(rsa_der.begin(), rsa_der.end(), p + 2 + PREFIX);
    std::copy(frodo.begin(), frodo.end(), p);
    return out;
}

std::string_view frodo(std::int64_t strength) { return oqs::mechanism(oqs::Family::Frodo, strength); }

SecureBytes message_key(ByteView session_key, ByteView frodo_ss, ByteView salt) {
    const SecureBytes combined = xor_mix(session_key, frodo_ss);
    return hkdf(combined, salt, as_bytes(std::string_view(GEN7_INFO)), 32);
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
    return {compose<Bytes>(strength, rsa_pub, kem.public_key), compose<SecureBytes>(strength, rsa_priv, kem.secret_key)};
}

Sealed gen7_encrypt(ByteView data, ByteView raw, std::int64_t strength) {
    if (raw.size() < PREFIX) invalid("Invalid Gen7 public key");
    const std::uint64_t r = u32le(raw);
    const ByteView rsa_pub = slice(raw, PREFIX, PREFIX + r);
    const ByteView frodo_pub = slice_from(raw, PREFIX + r);
    if (rsa_pub.size() != r || frodo_pub.empty()) invalid("Invalid Gen7 public key (truncated)");
    ossl::PKey rsa_key;
    try {
        rsa_key = rsa::load_public_der_spki(pkcs1_to_spki(rsa_pub));
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, "Invalid Gen7 RSA public key: ", Cause{e.kind(), e.what()});
    }
    SecureBytes session_key(SESSION_KEY);
    ossl::os_random(session_key.span());
    const Bytes wrapped = rsa::oaep_encrypt(rsa_key.get(), session_key);
    oqs::Encapsulation kem = oqs::encapsulate(frodo(strength), frodo_pub);
    std::uint8_t salt[SALT];
    ossl::os_random(salt);
    const SecureBytes key = message_key(session_key, kem.shared_secret, salt);

    Sealed out;
    out.capsule.resize(PREFIX);
    put_u32le(out.capsule.data(), wrapped.size());
    out.capsule.insert(out.capsule.end(), wrapped.begin(), wrapped.end());
    out.capsule.insert(out.capsule.end(), kem.ciphertext.begin(), kem.ciphertext.end());
    out.message.assign(salt, salt + SALT);
    out.message.resize(SALT + NONCE);
    ossl::os_random(MutableBytes(out.message).subspan(SALT, NONCE));
    const Bytes sealed = gcm_seal(key, ByteView(out.message).subspan(SALT, NONCE), data);
    out.message.insert(out.message.end(), sealed.begin(), sealed.end());
    return out;
}

SecureBytes gen7_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength) {
    if (raw.size() < PREFIX) invalid("Invalid Gen7 private key");
    const std::uint64_t r = u32le(raw);
    const ByteView rsa_priv = slice(raw, PREFIX, PREFIX + r);
    const ByteView frodo_sec = slice_from(raw, PREFIX + r);
    if (secret.size() < PREFIX) invalid("Invalid Gen7 encapsulated secret");
    const std::uint64_t w = u32le(secret);
    const ByteView wrapped = slice(secret, PREFIX, PREFIX + w);
    const ByteView frodo_capsule = slice_from(secret, PREFIX + w);
    if (enc.size() < SALT + NONCE + TAG) invalid("Invalid Gen7 encrypted message");

    ossl::PKey rsa_key;
    try {
        rsa_key = rsa::load_private_der(rsa_priv);
    } catch (const Error& e) {
        throw wrap(ErrorKind::InvalidInput, "Invalid Gen7 RSA private key: ", Cause{e.kind(), e.what()});
    }
    SecureBytes session_key;
    try {
        session_key = rsa::oaep_decrypt(rsa_key.get(), wrapped);
    } catch (const Error& e) {
        throw Error(ErrorKind::Decryption, "Gen7 RSA decryption failed", Cause{e.kind(), e.what()});
    }
    const SecureBytes frodo_ss = oqs::decapsulate(frodo(strength), frodo_sec, frodo_capsule);
    // Only a forged block carries a shorter key; it fails like any other bad block, at the point
    // where the key is first used (after the FrodoKEM capsule was judged).
    if (session_key.size() < SESSION_KEY)
        throw Error(ErrorKind::Decryption, "Gen7 RSA decryption failed",
                    Cause{ErrorKind::Value, "the wrapped session key is " + std::to_string(session_key.size()) +
                                                " bytes, not 32"});
    const SecureBytes key = message_key(session_key, frodo_ss, enc.first(SALT));
    return gcm_open(key, enc.subspan(SALT, NONCE), enc.subspan(SALT + NONCE, enc.size() - SALT - NONCE - TAG),
                    enc.last(TAG));
}

}  // namespace tesmar::quantum
