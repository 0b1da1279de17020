// Symmetric building blocks of the post-quantum schemes: HKDF-SHA-256, HMAC-SHA-256, AES-CBC with
// PKCS#7 padding, AES-GCM with the schemes' failure wording, and X25519 on raw 32-byte keys.
#pragma once
#include <array>
#include <cstdint>

#include "engine/bytes.hpp"

namespace tesmar::quantum {

inline constexpr std::size_t HMAC_SIZE = 32;
inline constexpr std::size_t HKDF_MAX = 255 * 32;
inline constexpr std::size_t CBC_BLOCK = 16;
inline constexpr std::size_t X25519_SIZE = 32;

inline constexpr const char* GCM_FAILURE = "Quantum AES-GCM decryption failed (wrong key or tampered data)";
inline constexpr const char* UNPAD_FAILURE = "Quantum AES-CBC unpadding failed";

// RFC 5869 with SHA-256. An empty salt counts as no salt. Error(Value) beyond 8160 bytes.
SecureBytes hkdf(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

using Mac = std::array<std::uint8_t, HMAC_SIZE>;
Mac hmac256(ByteView key, ByteView data);

// AES-CBC (key of 16, 24 or 32 bytes, 16-byte IV) with PKCS#7 padding to whole 16-byte blocks.
// Error(Value) for unusable keys, IVs or (when decrypting) lengths; a bad padding throws
// Error(Decryption, UNPAD_FAILURE) with a Value cause.
Bytes cbc_encrypt(ByteView data, ByteView key, ByteView iv);
SecureBytes cbc_decrypt(ByteView ciphertext, ByteView key, ByteView iv);

// GCM without associated data. Sealing returns ciphertext || tag (Error(Value) for unusable keys or
// nonces); opening throws Error(Decryption, GCM_FAILURE) for any failure, the reason as cause.
Bytes gcm_seal(ByteView key, ByteView nonce, ByteView data);
SecureBytes gcm_open(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag);

struct X25519Pair {
    std::array<std::uint8_t, X25519_SIZE> public_key;
    SecureBytes private_key;
};
X25519Pair x25519_generate();
// The public key of a raw private key (Error(Value) unless 32 bytes).
std::array<std::uint8_t, X25519_SIZE> x25519_public(ByteView private_key);
// Error(Value, "Error computing shared key.") for a peer key that gives the all-zero secret.
SecureBytes x25519_exchange(ByteView private_key, ByteView peer_public);

}  // namespace tesmar::quantum
