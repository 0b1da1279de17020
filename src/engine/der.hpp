// The little DER the engine reads and writes itself. The reader takes the few shapes RSA keys nearly
// always have and answers "not this shape" for anything it is not sure of, so its callers can leave
// such input to OpenSSL's decoders, which stay the judge of what loads. The writers wrap scheme 7's
// PKCS#1 RSA key in the SubjectPublicKeyInfo that the RSA loader takes.
#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "engine/bytes.hpp"

namespace tesmar::der {

inline constexpr std::uint8_t INTEGER = 0x02;
inline constexpr std::uint8_t BIT_STRING = 0x03;
inline constexpr std::uint8_t OCTET_STRING = 0x04;
inline constexpr std::uint8_t SEQUENCE = 0x30;

// AlgorithmIdentifier { rsaEncryption (1.2.840.113549.1.1.1), NULL }
inline constexpr std::array<std::uint8_t, 15> RSA_ALG_ID = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                            0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
// INTEGER 0, the version that opens RSAPrivateKey and PrivateKeyInfo.
inline constexpr std::array<std::uint8_t, 3> VERSION_ZERO = {0x02, 0x01, 0x00};

// Reads elements one after another; a false answer means the input is not the shape the caller
// tests for, and the reader is not used further.
class Reader {
public:
    explicit Reader(ByteView in) : in_(in) {}

    // The contents of the next element when it has tag `tag` and a minimal definite length.
    bool next(std::uint8_t tag, ByteView& contents);
    // A positive INTEGER in minimal form, as its big-endian magnitude.
    bool positive(ByteView& magnitude);
    // The next bytes when they are exactly `expected` (a fixed element such as RSA_ALG_ID).
    bool literal(ByteView expected);
    bool at_end() const { return pos_ == in_.size(); }

private:
    ByteView in_;
    std::size_t pos_ = 0;
};

// A reader over the body of `in` when `in` is one SEQUENCE and nothing after it, the outer shape of
// every key encoding the engine reads itself.
std::optional<Reader> whole_sequence(ByteView in);

// The length octets for a length `n`.
Bytes der_len(std::uint64_t n);
// The same for a length of any size, given big-endian (leading zeros allowed); Error(Overflow)
// beyond 127 length bytes.
Bytes der_len(ByteView magnitude);

// SEQUENCE { RSA_ALG_ID, BIT STRING (pkcs1) }: whatever `pkcs1` holds, it is wrapped, not checked.
Bytes pkcs1_to_spki(ByteView pkcs1);

}  // namespace tesmar::der
