// Symmetric building blocks of the post-quantum schemes: HKDF-SHA-256, HMAC-SHA-256, AES-CBC with
// PKCS#7 padding, AES-GCM with the schemes' failure wording, and X25519 on raw 32-byte keys.
#pragma once
#include <array>
#include <cstdint>

#include "engine/bytes.hpp"
#include "engine/openssl.hpp"

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
// The same into `out` of cbc_padded_size(data.size()) bytes, for callers that frame the result.
inline std::size_t cbc_padded_size(std::size_t n) { return n + (CBC_BLOCK - n % CBC_BLOCK); }
void cbc_encrypt(ByteView data, ByteView key, ByteView iv, MutableBytes out);
SecureBytes cbc_decrypt(ByteView ciphertext, ByteView key, ByteView iv);

// GCM without associated data. Sealing returns ciphertext || tag (Error(Value) for unusable keys or
// nonces); opening throws Error(Decryption, GCM_FAILURE) for any failure, the reason as cause.
Bytes gcm_seal(ByteView key, ByteView nonce, ByteView data);
SecureBytes gcm_open(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag);

// X25519 keys stay OpenSSL objects while they are used: importing a raw private key costs a
// scalar multiplication of its own (OpenSSL derives the public key on import).
struct X25519Key {
    ossl::PKey key;
    std::array<std::uint8_t, X25519_SIZE> public_key;
};
X25519Key x25519_generate();
ossl::PKey x25519_load_private(ByteView raw);  // Error(Value) unless 32 bytes
SecureBytes x25519_private_bytes(EVP_PKEY* key);
std::array<std::uint8_t, X25519_SIZE> x25519_public(EVP_PKEY* key);
// Error(Value, "Error computing shared key.") for a peer key that gives the all-zero secret.
SecureBytes x25519_exchange(EVP_PKEY* private_key, ByteView peer_public);

}  // namespace tesmar::quantum
