// The post-quantum encryption schemes (KEM + symmetric cipher), their key generation and the
// dispatch on the two-byte key header (scheme byte, strength byte, raw key).
//
// Scheme functions take the raw key (without header) and, where the scheme has one, the strength
// byte. Strengths other than 0, 1 and 2 surface as Error(Key) from the mechanism lookup, at the
// point where the scheme first needs a mechanism name.
#pragma once
#include <cstdint>

#include "engine/bytes.hpp"
#include "engine/quantum/framing.hpp"
#include "engine/quantum/gen7.hpp"
#include "engine/quantum/oqs.hpp"

namespace tesmar::quantum {

inline constexpr char GEN8_INFO[] = "Gen8-Hybrid-X25519-MLKEM";
inline constexpr char GEN6_INFO[] = "Gen6-Frodo-GCM";
inline constexpr char GEN5_INFO[] = "Gen5-CMCE-HMAC";

inline constexpr std::int64_t HIGHEST = 2;

SecureBytes gen4_key(ByteView shared_secret);  // HMAC-SHA-256(ss, 0x01)
Bytes gen4_encrypt(ByteView data, ByteView raw_pk, Sink& message);
SecureBytes gen4_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule);
Bytes gen6_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message);
SecureBytes gen6_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);

Bytes gen2_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message);
SecureBytes gen2_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);
Bytes gen5_encrypt(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message);
SecureBytes gen5_decrypt(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);

KeyPair gen8_generate(std::int64_t strength);
Bytes gen8_encrypt(ByteView data, ByteView raw, std::int64_t strength, Sink& message);
SecureBytes gen8_decrypt(ByteView enc, ByteView raw, ByteView secret, std::int64_t strength);

// Key pair for a generation (1..8) and strength (0..2) already validated by the caller.
KeyPair generate_keypair(int generation, std::int64_t strength);
// Error(InvalidInput) for a public key under 3 bytes or with nothing but zeros after its header.
void check_public_key(ByteView public_key);
// Dispatch on the key header; see the scheme functions for the layouts. Every scheme's encrypt
// writes the encrypted message into what `message` reserves and returns the encapsulated secret.
Bytes encrypt(ByteView data, ByteView public_key, Sink& message);
SecureBytes decrypt(ByteView encrypted_message, ByteView private_key, ByteView secret);

}  // namespace tesmar::quantum
