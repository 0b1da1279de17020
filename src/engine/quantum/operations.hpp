// The operations of tesmar.quantum.core and tesmar.quantum._oqs as the binding calls them: with
// their arguments as handed over (engine/args.hpp), each with its order of checks.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/args.hpp"
#include "engine/quantum/oqs.hpp"
#include "engine/quantum/primitives.hpp"
#include "engine/quantum/schemes.hpp"
#include "engine/quantum/signatures.hpp"

namespace tesmar::quantum::op {

using Strength = Arg<std::int64_t>;

// ---- tesmar.quantum._oqs. The mechanism name first (`label` is how the caller wrote it, for
// the message), then each byte argument; a failure of one of them is the operation's error
// ("<prefix><label>): <reason>"). liboqs is loaded before anything is looked at.

std::string_view mechanism(oqs::Family family, const Strength& strength);  // KeyError: the caller's value
std::string sig_algorithm(bool mldsa, const Strength& strength);
oqs::KeyPair kem_keypair(const TextArg& alg, std::string_view label);
oqs::Encapsulation encapsulate(const TextArg& alg, std::string_view label, const BytesArg& public_key);
SecureBytes decapsulate(const TextArg& alg, std::string_view label, const BytesArg& secret_key,
                        const BytesArg& ciphertext);
oqs::KeyPair sig_keypair(const TextArg& alg, std::string_view label);
Bytes sig_sign(const TextArg& alg, std::string_view label, const BytesArg& secret_key, const BytesArg& message);
// Every failure after the library is loaded is a "no", unusable arguments included.
bool sig_verify(const TextArg& alg, const BytesArg& public_key, const BytesArg& message, const BytesArg& signature);

// ---- the schemes, with the strength as the caller gave it (KeyError names that value).

using SchemeEncrypt = Bytes (*)(ByteView data, ByteView raw_pk, std::int64_t strength, Sink& message);
using SchemeDecrypt = SecureBytes (*)(ByteView enc, ByteView raw_sk, ByteView capsule, std::int64_t strength);
Bytes encrypt_with(SchemeEncrypt scheme, const BytesArg& data, const BytesArg& raw, const Strength& strength,
                   Sink& message);
SecureBytes decrypt_with(SchemeDecrypt scheme, const BytesArg& enc, const BytesArg& raw, const BytesArg& secret,
                         const Strength& strength);
KeyPair generate_with(KeyPair (*generate)(std::int64_t), const Strength& strength);

// Unusable key, nonce, ciphertext or tag fail like any other attempt to open: GCM_FAILURE with
// the reason as cause.
SecureBytes gcm_open(const BytesArg& key, const BytesArg& nonce, const BytesArg& ciphertext, const BytesArg& tag);
// A negative length is refused before HKDF's own bound.
SecureBytes hkdf(const BytesArg& ikm, const BytesArg& salt, const BytesArg& info, const Strength& length);

// ---- the public entry points.

// The key is judged before the message is looked at.
Bytes encrypt(const TextArg& message, const BytesArg& public_key, Sink& sealed);
// Data that cannot be handed to liboqs fails in the signing step, as the adapter reports it:
// after the key was judged and liboqs loaded.
Bytes sign(const BytesArg& data, const BytesArg& private_key);
// The key first; data or a signature that is not bytes cannot verify, but what is wrong outside
// them (strength byte, backend) still raises.
bool verify(const BytesArg& data, const BytesArg& signature, const BytesArg& public_key);
// The label is only read for the message of a key without a header.
SigKey sig_strip(const BytesArg& headered, const TextArg& label);

}  // namespace tesmar::quantum::op
