// The hybrid envelope: data sealed with AES-GCM under a fresh key that RSA-OAEP wraps.
//
// Written: the length-prefixed layout
//   key length (u32 little-endian) || wrapped key || nonce (12) || tag (16) || ciphertext
// Read: that layout when its key-length field says 512, the legacy layout
//   "HYBR" || key length L (u32 big-endian) || wrapped key (L) || AES-GCM envelope
// and a bare OAEP block, told apart by content alone (see detect()).
#pragma once
#include <array>

#include "engine/args.hpp"
#include "engine/bytes.hpp"
#include "engine/openssl.hpp"

namespace tesmar::hybrid {

inline constexpr std::array<std::uint8_t, 4> HYBR = {'H', 'Y', 'B', 'R'};
inline constexpr std::size_t RSA_BLOCK = 512;
inline constexpr std::size_t NONCE = 12;
inline constexpr std::size_t TAG = 16;
inline constexpr std::size_t KEY_FIELD = 4;
inline constexpr std::size_t AES_KEY = 32;
// The smallest blob read as the length-prefixed layout: header, wrapped key, nonce and tag.
inline constexpr std::size_t NET_MIN = KEY_FIELD + RSA_BLOCK + NONCE + TAG;  // 544
inline constexpr std::size_t LEGACY_MIN = 8;

inline constexpr const char* GCM_FAILURE = "Hybrid AES-GCM decryption failed (wrong key or tampered data)";
inline constexpr const char* LEGACY_INVALID = "Invalid hybrid data (legacy Swift format)";

enum class Layout { Legacy, LengthPrefixed, BareOaep };

// The first test that holds decides; no later failure makes decryption try another layout.
Layout detect(ByteView blob);

// ---- Writing

// Bytes of the length-prefixed layout for a wrapped key and data of the given lengths.
std::size_t sealed_size(std::size_t wrapped_len, std::size_t data_len);

// Draws a fresh AES-256 key and wraps it under `public_key` (RSA family errors).
struct WrappedKey {
    SecureBytes aes_key;
    Bytes wrapped;
};
WrappedKey new_wrapped_key(EVP_PKEY* public_key);

// Writes the layout into `out` (sealed_size bytes): draws the nonce and seals `data`.
// AES failures are thrown as they are (Value), not as package errors.
void seal(const WrappedKey& key, ByteView data, MutableBytes out);

// ---- Reading

// Plaintext bytes of a length-prefixed blob (the ciphertext after the fixed 544-byte header;
// shorter blobs, given to the reader directly, have none).
std::size_t net_plain_size(ByteView blob);

// Opens a length-prefixed blob into `out` (net_plain_size bytes). Throws the RSA family's
// decryption error for the wrapped key, GCM_FAILURE (Decryption, InvalidTag cause) when the tag
// does not authenticate, and Value errors, unwrapped, for keys or nonces AES cannot use.
void net_open(EVP_PKEY* private_key, ByteView blob, MutableBytes out);

struct LegacyParts {
    ByteView wrapped;
    ByteView envelope;  // an AES-GCM envelope under the Base64 text of the unwrapped key
};

// Cuts a legacy blob; throws LEGACY_INVALID (Decryption, no cause) unless at least one byte
// follows the wrapped key. Looks at nothing but the blob.
LegacyParts legacy_split(ByteView blob);

// Plaintext bytes of the legacy envelope (0 when it is too short to open).
std::size_t legacy_plain_size(const LegacyParts& parts);

// Unwraps the key and opens the envelope into `out` (legacy_plain_size bytes). The envelope's
// own failure is the AES-GCM envelope's DecryptionError.
void legacy_open(EVP_PKEY* private_key, const LegacyParts& parts, MutableBytes out);

// ---- The operations of tesmar.hybrid.core, and those of tesmar.rsa.core that reach the
// envelope, each with its order of checks.

// Data the caller gave as false (empty) is refused first ("Data cannot be empty"). Then the key
// text, and the AES key is wrapped before the data is looked at: data that is not bytes fails in
// the AES step with its own TypeError.
void encrypt_data(const BytesArg& data, const TextArg& public_pem, Sink& out);

// tesmar.rsa.core.encrypt_bytes: data of up to MAX_OAEP_PLAINTEXT bytes is one bare OAEP block,
// longer data the envelope. needs_envelope(n) tells which, so that the binding can make the
// envelope's module ready first.
bool needs_envelope(std::uint64_t n);
void encrypt_any(const BytesArg& data, const TextArg& public_pem, Sink& out);

// The text variants: "Plaintext cannot be empty", then as above; the bytes for Base64 output.
Bytes encrypt_text(const TextArg& plaintext, const TextArg& public_pem);
Bytes encrypt_any_text(const TextArg& plaintext, const TextArg& public_pem);

// Any layout (see detect()); a blob that is not bytes raises its own TypeError first. A bare OAEP
// block is the RSA family's decryption, with its errors.
void decrypt_auto(const BytesArg& blob, const TextArg& private_pem, Sink& out);
// Strict Base64 first ("Ciphertext is not valid Base64"), then decrypt_auto.
SecureBytes decrypt_text(const TextArg& b64, const TextArg& private_pem);

// One layout each: the blob, then (legacy: its bounds, then) the key text.
void net_decrypt(const BytesArg& blob, const TextArg& private_pem, Sink& out);
void legacy_decrypt(const BytesArg& blob, const TextArg& private_pem, Sink& out);

}  // namespace tesmar::hybrid
