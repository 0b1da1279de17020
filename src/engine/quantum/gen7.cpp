// Scheme 7: RSA-4096 (OAEP-wrapped session key) + FrodoKEM, mixed by XOR, HKDF, AES-256-GCM.
#include "engine/errors.hpp"
#include "engine/quantum/schemes.hpp"

namespace tesmar::quantum {

SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss) {
    if (session_key.size() < 32) throw Error(ErrorKind::Value, "the session key must be at least 32 bytes");
    if (frodo_ss.empty()) throw Error(ErrorKind::Value, "the FrodoKEM secret must not be empty");
    SecureBytes out(32);
    for (std::size_t i = 0; i < 32; ++i) out[i] = session_key[i] ^ frodo_ss[i % frodo_ss.size()];
    return out;
}

Bytes der_len(std::uint64_t n) {
    if (n < 128) return {static_cast<std::uint8_t>(n)};
    Bytes digits;
    for (; n > 0; n >>= 8) digits.insert(digits.begin(), static_cast<std::uint8_t>(n & 0xFF));
    digits.insert(digits.begin(), static_cast<std::uint8_t>(0x80 | digits.size()));
    return digits;
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

// Placeholders until the shared RSA engine lands.
KeyPair gen7_generate(std::int64_t) { throw Error(ErrorKind::QuantumOperation, "scheme 7 is not available yet"); }
Sealed gen7_encrypt(ByteView, ByteView, std::int64_t) {
    throw Error(ErrorKind::QuantumOperation, "scheme 7 is not available yet");
}
SecureBytes gen7_decrypt(ByteView, ByteView, ByteView, std::int64_t) {
    throw Error(ErrorKind::QuantumOperation, "scheme 7 is not available yet");
}

}  // namespace tesmar::quantum
