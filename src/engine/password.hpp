// PBKDF2-HMAC (RFC 8018) with SHA-512 and SHA-256, the derivation behind password-hash records.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/bytes.hpp"

namespace tesmar::password {

enum class Hash { Sha256, Sha512 };

// The hash for an upper-case name ("SHA512", "SHA256"); nullopt for any other name.
std::optional<Hash> hash_named(std::string_view upper_name);

std::size_t digest_size(Hash hash);

// PBKDF2 counts its iterations and output blocks in 32 bits: anything outside these bounds has no
// meaning (and a zero count or length would yield a key that matches everything).
inline constexpr std::uint64_t MAX_ITERATIONS = 0xFFFFFFFFu;
std::uint64_t max_output(Hash hash);  // (2^32 - 1) blocks of the digest size

// Throws Error(Value) unless 1 <= iterations <= MAX_ITERATIONS and 1 <= length <= max_output.
// Counts arrive as signed 64-bit values so that a caller's negative numbers are refused here too.
void check_parameters(Hash hash, std::int64_t iterations, std::int64_t length);

// Fills `out` (1 to max_output bytes) with PBKDF2-HMAC. Each iteration costs two compression-
// function calls on the precomputed HMAC inner and outer states. Throws Error(Value) for counts
// that check_parameters refuses.
void pbkdf2_hmac(Hash hash, ByteView password, ByteView salt, std::uint32_t iterations, MutableBytes out);

}  // namespace tesmar::password
