#include "engine/quantum/operations.hpp"

#include <utility>

namespace tesmar::quantum::op {
namespace {

// Runs `f` on the strength; a KeyError for a strength no table has names the caller's value.
template <class F>
decltype(auto) at_strength(const Strength& strength, F&& f) {
    const std::int64_t value = strength.get();
    try {
        return f(value);
    } catch (const Error& e) {
        if (e.kind() == ErrorKind::Key) throw Error::missing_key(value, strength.origin());
        throw;
    }
}

std::string failure_prefix(const char* prefix, std::string_view label) {
    return std::string(prefix).append(label).append("): ");
}

}  // namespace

std::string_view mechanism(oqs::Family family, const Strength& strength) {
    return at_strength(strength, [&](std::int64_t s) { return oqs::mechanism(family, s); });
}

std::string sig_algorithm(bool mldsa, const Strength& strength) {
    if (mldsa) return std::string(mechanism(oqs::Family::Mldsa, strength));
    oqs::library();
    return at_strength(strength, [](std::int64_t s) { return oqs::sig_algorithm("slhdsa", s); });
}

oqs::KeyPair kem_keypair(const TextArg& alg, std::string_view label) {
    oqs::library();
    return oqs::kem_keypair(alg.get_or(ErrorKind::QuantumOperation, failure_prefix(oqs::KEM_KEYPAIR_PREFIX, label)));
}

oqs::Encapsulation encapsulate(const TextArg& alg, std::string_view label, const BytesArg& public_key) {
    oqs::library();
    const std::string prefix = failure_prefix(oqs::ENCAPS_PREFIX, label);
    const std::string_view name = alg.get_or(ErrorKind::QuantumOperation, prefix);
    return oqs::encapsulate(name, public_key.get_or(ErrorKind::QuantumOperation, prefix));
}

SecureBytes decapsulate(const TextArg& alg, std::string_view label, const BytesArg& secret_key,
                        const BytesArg& ciphertext) {
    oqs::library();
    const std::string prefix = failure_prefix(oqs::DECAPS_PREFIX, label);
    const std::string_view name = alg.get_or(ErrorKind::QuantumOperation, prefix);
    const ByteView sk = secret_key.get_or(ErrorKind::QuantumOperation, prefix);
    return oqs::decapsulate(name, sk, ciphertext.get_or(ErrorKind::QuantumOperation, prefix));
}

oqs::KeyPair sig_keypair(const TextArg& alg, std::string_view label) {
    oqs::library();
    return oqs::sig_keypair(alg.get_or(ErrorKind::QuantumOperation, failure_prefix(oqs::SIG_KEYPAIR_PREFIX, label)));
}

Bytes sig_sign(const TextArg& alg, std::string_view label, const BytesArg& secret_key, const BytesArg& message) {
    oqs::library();
    const std::string prefix = failure_prefix(oqs::SIGN_PREFIX, label);
    const std::string_view name = alg.get_or(ErrorKind::QuantumOperation, prefix);
    const ByteView sk = secret_key.get_or(ErrorKind::QuantumOperation, prefix);
    return oqs::sig_sign(name, sk, message.get_or(ErrorKind::QuantumOperation, prefix));
}

bool sig_verify(const TextArg& alg, const BytesArg& public_key, const BytesArg& message, const BytesArg& signature) {
    oqs::library();
    if (!alg.usable() || !public_key.usable() || !message.usable() || !signature.usable()) return false;
    try {
        return oqs::sig_verify(alg.get(), public_key.get(), message.get(), signature.get());
    } catch (const Error&) {
        return false;
    }
}

Bytes encrypt_with(SchemeEncrypt scheme, const BytesArg& data, const BytesArg& raw, const Strength& strength,
                   Sink& message) {
    const ByteView d = data.get();
    const ByteView r = raw.get();
    return at_strength(strength, [&](std::int64_t s) { return scheme(d, r, s, message); });
}

SecureBytes decrypt_with(SchemeDecrypt scheme, const BytesArg& enc, const BytesArg& raw, const BytesArg& secret,
                         const Strength& strength) {
    const ByteView e = enc.get();
    const ByteView r = raw.get();
    const ByteView c = secret.get();
    return at_strength(strength, [&](std::int64_t s) { return scheme(e, r, c, s); });
}

KeyPair generate_with(KeyPair (*generate)(std::int64_t), const Strength& strength) {
    return at_strength(strength, generate);
}

SecureBytes gcm_open(const BytesArg& key, const BytesArg& nonce, const BytesArg& ciphertext, const BytesArg& tag) {
    const ByteView k = key.get_or_fixed(ErrorKind::Decryption, GCM_FAILURE);
    const ByteView n = nonce.get_or_fixed(ErrorKind::Decryption, GCM_FAILURE);
    const ByteView c = ciphertext.get_or_fixed(ErrorKind::Decryption, GCM_FAILURE);
    return quantum::gcm_open(k, n, c, tag.get_or_fixed(ErrorKind::Decryption, GCM_FAILURE));
}

SecureBytes hkdf(const BytesArg& ikm, const BytesArg& salt, const BytesArg& info, const Strength& length) {
    const ByteView i = ikm.get();
    const ByteView s = salt.get();
    const ByteView f = info.get();
    const std::int64_t n = length.get();
    if (n < 0) throw Error(ErrorKind::Value, "length must be a non-negative integer");
    return quantum::hkdf(i, s, f, static_cast<std::size_t>(n));
}

Bytes encrypt(const TextArg& message, const BytesArg& public_key, Sink& sealed) {
    const ByteView key = public_key.get();
    check_public_key(key);
    return quantum::encrypt(as_bytes(message.get()), key, sealed);
}

Bytes sign(const BytesArg& data, const BytesArg& private_key) {
    const ByteView key = private_key.get();
    if (!data.usable()) {
        const std::string name = signing_mechanism(key);
        oqs::library();
        data.get_or(ErrorKind::QuantumOperation, failure_prefix(oqs::SIGN_PREFIX, name));
    }
    return quantum::sign(data.get(), key);
}

bool verify(const BytesArg& data, const BytesArg& signature, const BytesArg& public_key) {
    const ByteView key = public_key.get();
    if (!data.usable() || !signature.usable()) {
        quantum::verify({}, {}, key);
        return false;
    }
    return quantum::verify(data.get(), signature.get(), key);
}

SigKey sig_strip(const BytesArg& headered, const TextArg& label) {
    const ByteView key = headered.get();
    return quantum::sig_strip(key, key.size() <= 2 ? label.get() : std::string_view());
}

}  // namespace tesmar::quantum::op
