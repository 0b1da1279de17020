// The post-quantum encryption schemes (KEM + symmetric cipher), their key generation and the
// dispatch on the two-byte key header (scheme byte, strength byte, raw key).
//
// Scheme functions take the raw key (without header) and, where the scheme has one, the strength
// byte. Strengths other than 0, 1 and 2 surface as Error(Key) from the mechanism lookup, at the
// point where the scheme first needs a mechanism name.
#pragma once
#include <array>
#include <cstdint>

#include "engine/bytes.hpp"
#include "engine/quantum/framing.hpp"
#include "engine/quantum/oqs.hpp"

namespace tesmar::quantum {

inline constexpr char GEN8_INFO[] = "Gen8-Hybrid-X25519-MLKEM";
inline constexpr char GEN6_INFO[] = "Gen6-Frodo-GCM";
inline constexpr char GEN5_INFO[] = "Gen5-CMCE-HMAC";
inline constexpr char GEN7_INFO[] = "Gen7-Hybrid-RSA-Frodo";

// DER AlgorithmIdentifier of rsaEncryption (1.2.840.113549.1.1.1) with NULL parameters.
inline constexpr std::array<std::uint8_t, 15> RSA_ALG_ID = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                            0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};

inline constexpr std::int64_t HIGHEST = 2;

SecureBytes gen4_key(ByteView shared_secret);  // HMAC-SHA-256(ss, 0x01)
Sealed gen4_encrypt(ByteView data, ByteView raw_pk);
SecureBytes gen4_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule);
Sealed gen6_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength);
SecureBytes gen6_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);

Sealed gen2_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength);
SecureBytes gen2_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);
Sealed gen5_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength);
SecureBytes gen5_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);

// Byte i of the result is session_key[i] ^ frodo_ss[i mod len(frodo_ss)], for i < 32.
// Error(Value) when session_key is shorter than 32 bytes or frodo_ss is empty.
SecureBytes xor_mix(ByteView session_key, ByteView frodo_ss);
Bytes der_len(std::uint64_t n);
// The same for a length of any size, given big-endian (leading zeros allowed); Error(Overflow)
// beyond 127 length bytes.
Bytes der_len(ByteView magnitude);
Bytes pkcs1_to_spki(ByteView pkcs1);
KeyPair gen7_generate(std::int64_t strength);
Sealed gen7_encrypt(ByteView data, ByteView raw, std::int64_t strength);
SecureBytes gen7_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength);

KeyPair gen8_generate(std::int64_t strength);
Sealed gen8_encrypt(ByteView data, ByteView raw, std::int64_t strength);
SecureBytes gen8_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength);

// Key pair for a generation (1..8) and strength (0..2) already validated by the caller.
KeyPair generate_keypair(int generation, std::int64_t strength);
// Error(InvalidInput) for a public key under 3 bytes or with nothing but zeros after its header.
void check_public_key(ByteView public_key);
// Dispatch on the key header; see the scheme functions for the layouts.
Sealed encrypt(ByteView data, ByteView public_key);
SecureBytes decrypt(ByteView encrypted_message, ByteView private_key, ByteView secret);

}  // namespace tesmar::quantum
