// AES-GCM primitives and the package's AES-GCM envelope (nonce || ciphertext || tag).
#pragma once
#include "engine/bytes.hpp"
#include "engine/openssl.hpp"

namespace tesmar::aes {

inline constexpr std::size_t GCM_NONCE_SIZE = 12;
inline constexpr std::size_t GCM_TAG_SIZE = 16;
inline constexpr std::size_t ENVELOPE_OVERHEAD = GCM_NONCE_SIZE + GCM_TAG_SIZE;
inline constexpr std::size_t MIN_ENVELOPE = ENVELOPE_OVERHEAD + 1;

// The one failure of opening an envelope, whatever went wrong (no cause is recorded).
inline constexpr const char* ENVELOPE_FAILURE =
    "AES decryption failed: data is not valid AES-GCM (legacy AES-CBC+HMAC not yet supported, or wrong "
    "key/tampered data).";

// Throws Error(Value) unless `key_len` is 16, 24 or 32: AES refuses other keys before it looks at
// anything else.
void check_key_size(std::size_t key_len);

// GCM with no associated data. `out` must be plaintext.size() bytes; `tag` 16 bytes.
// Throws Error(Value) on a primitive failure (the caller words it). Key: 16, 24 or 32 bytes.
void gcm_seal(ByteView key, ByteView nonce, ByteView plaintext, MutableBytes out, MutableBytes tag);

// Returns false when the tag does not verify; `out` is then wiped. `out` must be ct.size() bytes.
// Throws Error(Value) for other failures (key of a length AES does not have, and so on).
bool gcm_open(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag, MutableBytes out);

// A GCM context keyed and ready for updates (no associated data), for data that arrives in pieces.
// Same refusals as gcm_seal/gcm_open for keys and nonces.
ossl::CipherCtx gcm_context(ByteView key, ByteView nonce, bool encrypt);

// Envelope: `out` must be data.size() + ENVELOPE_OVERHEAD bytes. A fresh nonce is drawn.
void envelope_seal(ByteView key32, ByteView data, MutableBytes out);

// Opens an envelope of at least MIN_ENVELOPE bytes into `out` (blob.size() - 28 bytes).
// False on authentication failure.
bool envelope_open(ByteView key32, ByteView blob, MutableBytes out);

}  // namespace tesmar::aes
