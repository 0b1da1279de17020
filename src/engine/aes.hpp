// AES-GCM primitives and the package's AES-GCM envelope (nonce || ciphertext || tag).
#pragma once
#include "engine/args.hpp"
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

// ---- The operations of tesmar.aes.core under a key text, each with its order of checks.

// Data (None or empty: InvalidInput "Data cannot be empty"; not bytes: its own TypeError), then
// the key text. Writes the envelope; a cipher failure is EncryptionError "AES-GCM encryption
// failed: ...", a failing random source its own error.
void encrypt_data(const BytesArg& data, const TextArg& key, Sink& out);

// Text (not text: TypeError; empty: InvalidInput "Plaintext cannot be empty"), then the key text.
// The envelope of its UTF-8 bytes.
Bytes encrypt_text(const TextArg& plaintext, const TextArg& key);

// The key text first, then the blob. Every failure to open is DecryptionError ENVELOPE_FAILURE
// with no cause.
void decrypt_data(const BytesArg& blob, const TextArg& key, Sink& out);

// Strict Base64 (else DecryptionError "Ciphertext is not valid Base64"), then the key text, then
// decrypt_data's checks. The plaintext bytes; the binding decodes them as UTF-8.
SecureBytes decrypt_text(const TextArg& b64, const TextArg& key);

}  // namespace tesmar::aes
