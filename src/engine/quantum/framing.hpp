// What the post-quantum encryption schemes share: the sizes of their parts, the two-byte key header,
// the little-endian length fields of the layered keys and capsules, and the GCM message framing.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "engine/aes.hpp"
#include "engine/bytes.hpp"
#include "engine/quantum/oqs.hpp"

namespace tesmar::quantum {

inline constexpr std::size_t NONCE = aes::GCM_NONCE_SIZE;
inline constexpr std::size_t TAG = aes::GCM_TAG_SIZE;
inline constexpr std::size_t AES_KEY = 32;
inline constexpr std::size_t HYBRID_SALT = 32;  // schemes 7 and 8
inline constexpr std::size_t KEY_HEADER = 2;    // scheme byte, strength byte
inline constexpr std::size_t LENGTH_FIELD = 4;  // u32le


// Headers included in both keys.
using KeyPair = oqs::KeyPair;

// Error(InvalidInput): how a scheme refuses a malformed key, capsule or message, before liboqs or
// OpenSSL sees it.
[[noreturn]] void invalid(const char* message);

inline ByteView label(const char* text) { return as_bytes(std::string_view(text)); }

// The KEMs of the schemes at a strength; the first use of a strength the tables lack throws
// Error(Key), which is how a scheme reports an unknown strength byte.
inline std::string_view frodo(std::int64_t strength) { return oqs::mechanism(oqs::Family::Frodo, strength); }
inline std::string_view cmce(std::int64_t strength) { return oqs::mechanism(oqs::Family::Cmce, strength); }
inline std::string_view mlkem(std::int64_t strength) { return oqs::mechanism(oqs::Family::Mlkem, strength); }

// The field for `value` (read back with read_u32le, engine/bytes.hpp); Error(Overflow) for a length
// that does not fit it.
std::array<std::uint8_t, LENGTH_FIELD> u32le(std::uint64_t value);

// `head` then every part, in one buffer of exactly their size (SecureBytes for key material).
template <class Out = Bytes>
Out concat(ByteView head, std::initializer_list<ByteView> parts) {
    std::size_t size = head.size();
    for (ByteView part : parts) size += part.size();
    Out out(size);
    std::uint8_t* at = std::copy(head.begin(), head.end(), out.data());
    for (ByteView part : parts) at = std::copy(part.begin(), part.end(), at);
    return out;
}

template <class Out = Bytes>
Out concat(std::initializer_list<ByteView> parts) {
    return concat<Out>({}, parts);
}

// Both keys start with the header (scheme, strength), the key's parts follow it in order.
KeyPair with_header(std::uint8_t scheme, std::int64_t strength, std::initializer_list<ByteView> public_parts,
                    std::initializer_list<ByteView> secret_parts);
KeyPair with_header(std::uint8_t scheme, std::int64_t strength, const oqs::KeyPair& raw);

// The GCM layouts of schemes 4, 6, 7 and 8: prefix (salt, if any) || nonce || ciphertext || tag,
// the nonce fresh from the system's generator, written into what `out` reserves.
void gcm_message(ByteView prefix, ByteView key, ByteView data, Sink& out);
// Opens such a message whose nonce starts at `at`; the caller has checked that `enc` holds at least
// at + NONCE + TAG bytes. Failures are gcm_open's.
SecureBytes open_gcm_message(ByteView enc, std::size_t at, ByteView key);

}  // namespace tesmar::quantum
