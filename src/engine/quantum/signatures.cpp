#include "engine/quantum/signatures.hpp"

#include "engine/errors.hpp"
#include "engine/quantum/framing.hpp"

namespace tesmar::quantum {

namespace {

bool known_scheme(std::uint8_t scheme) { return scheme == ML_DSA || scheme == SLH_DSA; }

}  // namespace

SigKey sig_strip(ByteView headered, std::string_view label) {
    if (headered.size() <= KEY_HEADER)
        throw Error(ErrorKind::InvalidInput, "Invalid " + std::string(label) + " key: missing header");
    return {headered[0], headered[1], headered.subspan(KEY_HEADER)};
}

oqs::KeyPair generate_signature_keypair(int algorithm, std::int64_t strength) {
    const std::string name = oqs::sig_algorithm(sig_kind(algorithm), strength);
    return with_header(static_cast<std::uint8_t>(algorithm), strength, oqs::sig_keypair(name));
}

std::string signing_mechanism(ByteView private_key) {
    const SigKey key = sig_strip(private_key, "signature private");
    if (!known_scheme(key.scheme)) {
        const std::string id = std::to_string(key.scheme);
        throw Error(ErrorKind::InvalidInput, "Unsupported signature scheme id " + id,
                    Cause{ErrorKind::Value, id + " is not a valid SignatureAlgorithm"});
    }
    return oqs::sig_algorithm(sig_kind(key.scheme), key.strength);
}

Bytes sign(ByteView data, ByteView private_key) {
    const std::string name = signing_mechanism(private_key);
    return oqs::sig_sign(name, private_key.subspan(KEY_HEADER), data);
}

bool verify(ByteView data, ByteView signature, ByteView public_key) {
    if (public_key.size() <= KEY_HEADER || !known_scheme(public_key[0])) return false;
    const SigKey key = sig_strip(public_key, "signature public");
    const std::string name = oqs::sig_algorithm(sig_kind(key.scheme), key.strength);
    return oqs::sig_verify(name, key.raw, data, signature);
}

}  // namespace tesmar::quantum
