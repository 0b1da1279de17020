// Scheme 7: RSA-4096 (OAEP-wrapped session key) + FrodoKEM, mixed by XOR, HKDF, AES-256-GCM.
//
//   keys     header || u32le(len(rsa)) || RSA PKCS#1 DER key || FrodoKEM key
//   capsule  u32le(len(oaep)) || OAEP block || FrodoKEM ciphertext
//   message  salt || nonce || ciphertext || tag
#pragma once
#include <array>
#include <cstdint>

#include "engine/bytes.hpp"
#include "engine/quantum/framing.hpp"

namespace tesmar::quantum {

inline constexpr char GEN7_INFO[] = "Gen7-Hybrid-RSA-Frodo";

// DER AlgorithmIdentifier of rsaEncryption (1.2.840.113549.1.1.1) with NULL parameters.
inline constexpr std::array<std::uint8_t, 15> RSA_ALG_ID = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                            0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};

// Byte i of the result is session_key[i] ^ frodo_ss[i mod len(frodo_ss)], for i < 32.
// Error(Value) when session_key is shorter than 32 bytes or frodo_ss is empty.
SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss);
Bytes der_len(std::uint64_t n);
// The same for a length of any size, given big-endian (leading zeros allowed); Error(Overflow)
// beyond 127 length bytes.
Bytes der_len(ByteView magnitude);
// Scheme 7 keys hold the RSA public key in PKCS#1 form; the RSA loader takes a SubjectPublicKeyInfo.
Bytes pkcs1_to_spki(ByteView pkcs1);

KeyPair gen7_generate(std::int64_t strength);
Sealed gen7_encrypt(ByteView data, ByteView raw, std::int64_t strength);
SecureBytes gen7_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength);

}  // namespace tesmar::quantum
