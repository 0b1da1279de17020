// PBKDF2-HMAC (RFC 8018) with SHA-512 and SHA-256, the derivation behind password-hash records.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/args.hpp"
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

// ---- Records: what new ones are made with, and when an old one is due for replacing.

inline constexpr char ALGORITHM[] = "pbkdf2";
inline constexpr int VERSION = 2;
inline constexpr std::int64_t DEFAULT_ITERATIONS = 210000;
inline constexpr std::size_t SALT_LENGTH = 32;
inline constexpr std::size_t OUTPUT_LENGTH = 64;
inline constexpr char HASH_ALGORITHM[] = "SHA512";
inline constexpr Hash RECORD_HASH = Hash::Sha512;
inline constexpr std::int64_t UPGRADE_THRESHOLD = 210000;

inline constexpr const char* PASSWORD_EMPTY = "Password cannot be empty";

// _derive, once the hash is known: password, salt, iteration count and length in that order,
// then their bounds (ValueError), then the derived bytes.
void derive(Hash hash, const BytesArg& password, const BytesArg& salt, const Arg<std::int64_t>& iterations,
            const Arg<std::int64_t>& length, Sink& out);

// hash_password: a password the caller gave as false is refused first (InvalidInput
// PASSWORD_EMPTY); a fresh salt is drawn; then the password and the caller's count are met and
// OUTPUT_LENGTH bytes of RECORD_HASH derived. The binding writes the record.
struct NewRecord {
    Bytes salt;
    SecureBytes hash;
};
NewRecord new_record(const BytesArg& password, const Arg<std::int64_t>& iterations);

// Whether a password matches a record's salt and stored hash under its counts, in constant time.
// Counts PBKDF2 cannot use never match, and neither does a stored hash of another length than
// the record's own: no derivation is spent (or allocated) on such a record.
bool matches(Hash hash, ByteView password, ByteView salt, ByteView stored, std::int64_t iterations,
             std::int64_t length);

}  // namespace tesmar::password
