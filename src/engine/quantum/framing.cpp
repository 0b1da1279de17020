#include "engine/quantum/framing.hpp"

#include "engine/aes.hpp"
#include "engine/errors.hpp"
#include "engine/openssl.hpp"
#include "engine/quantum/primitives.hpp"

namespace tesmar::quantum {

void invalid(const char* message) { throw Error(ErrorKind::InvalidInput, message); }

std::array<std::uint8_t, LENGTH_FIELD> u32le(std::uint64_t value) {
    if (value > 0xFFFFFFFFu) throw Error(ErrorKind::Overflow, "length does not fit in 32 bits");
    std::array<std::uint8_t, LENGTH_FIELD> out{};
    for (std::size_t i = 0; i < LENGTH_FIELD; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

KeyPair with_header(std::uint8_t scheme, std::int64_t strength, std::initializer_list<ByteView> public_parts,
                    std::initializer_list<ByteView> secret_parts) {
    const std::uint8_t header[KEY_HEADER] = {scheme, static_cast<std::uint8_t>(strength)};
    return {concat<Bytes>(header, public_parts), concat<SecureBytes>(header, secret_parts)};
}

KeyPair with_header(std::uint8_t scheme, std::int64_t strength, const oqs::KeyPair& raw) {
    return with_header(scheme, strength, {raw.public_key}, {raw.secret_key});
}

// Sealed in place: the ciphertext is not built apart and copied in after the nonce.
void gcm_message(ByteView prefix, ByteView key, ByteView data, Sink& out) {
    const MutableBytes all = out.reserve(prefix.size() + NONCE + data.size() + TAG);
    std::copy(prefix.begin(), prefix.end(), all.begin());
    const MutableBytes nonce = all.subspan(prefix.size(), NONCE);
    ossl::os_random(nonce);
    aes::gcm_seal(key, nonce, data, all.subspan(prefix.size() + NONCE, data.size()), all.last(TAG));
}

SecureBytes open_gcm_message(ByteView enc, std::size_t at, ByteView key) {
    return gcm_open(key, enc.subspan(at, NONCE), enc.subspan(at + NONCE, enc.size() - at - NONCE - TAG),
                    enc.last(TAG));
}

}  // namespace tesmar::quantum
