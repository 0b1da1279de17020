// Scheme 7: RSA-4096 (OAEP-wrapped session key) + FrodoKEM, mixed by XOR, HKDF, AES-256-GCM.
//
//   keys     header || u32le(len(rsa)) || RSA PKCS#1 DER key || FrodoKEM key
//   capsule  u32le(len(oaep)) || OAEP block || FrodoKEM ciphertext
//   message  salt || nonce || ciphertext || tag
#pragma once
#include <cstdint>

#include "engine/bytes.hpp"
#include "engine/der.hpp"
#include "engine/quantum/framing.hpp"

namespace tesmar::quantum {

inline constexpr char GEN7_INFO[] = "Gen7-Hybrid-RSA-Frodo";

// Byte i of the result is session_key[i] ^ frodo_ss[i mod len(frodo_ss)], for i < 32.
// Error(Value) when session_key is shorter than 32 bytes or frodo_ss is empty.
SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss);

// Scheme 7 keys hold the RSA public key in PKCS#1 form, the RSA loader takes a SubjectPublicKeyInfo:
// the DER writers that bridge them, under the names tesmar.quantum's binding knows them by.
using der::der_len;
using der::pkcs1_to_spki;
using der::RSA_ALG_ID;

KeyPair gen7_generate(std::int64_t strength);
Bytes gen7_encrypt(ByteView data, ByteView raw, std::int64_t strength, Sink& message);
SecureBytes gen7_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength);

}  // namespace tesmar::quantum
