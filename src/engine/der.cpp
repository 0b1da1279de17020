// The DER reader is strict on purpose: a length written in more bytes than it needs or running past
// the input, an INTEGER that is negative or has a redundant leading byte, each is "not this shape",
// never a guess, so the fast decoders only take encodings whose meaning is beyond doubt and leave
// the rest to OpenSSL to judge.
#include "engine/der.hpp"

#include <cstring>

#include "engine/errors.hpp"

namespace tesmar::der {

bool Reader::next(std::uint8_t tag, ByteView& contents) {
    const std::uint64_t size = in_.size();
    std::uint64_t p = pos_;
    if (size - p < 2 || in_[p] != tag) return false;
    ++p;
    std::uint64_t len = in_[p++];
    if (len & 0x80) {
        const std::uint64_t k = len & 0x7f;
        if (k == 0 || k > 4 || size - p < k || in_[p] == 0) return false;
        len = 0;
        for (std::uint64_t i = 0; i < k; ++i) len = (len << 8) | in_[p++];
        if (len < 0x80) return false;
    }
    if (len > size - p) return false;
    contents = in_.subspan(static_cast<std::size_t>(p), static_cast<std::size_t>(len));
    pos_ = static_cast<std::size_t>(p + len);
    return true;
}

bool Reader::positive(ByteView& magnitude) {
    ByteView c;
    if (!next(INTEGER, c) || c.empty() || (c[0] & 0x80)) return false;
    if (c[0] == 0) {
        if (c.size() == 1 || !(c[1] & 0x80)) return false;
        c = c.subspan(1);
    }
    // Far beyond any modulus OpenSSL operates on: leave such keys to the library.
    if (c.size() > 4096) return false;
    magnitude = c;
    return true;
}

bool Reader::literal(ByteView expected) {
    if (in_.size() - pos_ < expected.size() || std::memcmp(in_.data() + pos_, expected.data(), expected.size()) != 0)
        return false;
    pos_ += expected.size();
    return true;
}

std::optional<Reader> whole_sequence(ByteView in) {
    Reader outer(in);
    ByteView body;
    if (!outer.next(SEQUENCE, body) || !outer.at_end()) return std::nullopt;
    return Reader(body);
}

Bytes der_len(ByteView magnitude) {
    while (!magnitude.empty() && magnitude.front() == 0) magnitude = magnitude.subspan(1);
    if (magnitude.empty()) return {0};
    if (magnitude.size() == 1 && magnitude[0] < 128) return {magnitude[0]};
    // The count shares its byte with the 0x80 flag.
    if (magnitude.size() > 127) throw Error(ErrorKind::Overflow, "a DER length field holds at most 127 bytes");
    Bytes out{static_cast<std::uint8_t>(0x80 | magnitude.size())};
    out.insert(out.end(), magnitude.begin(), magnitude.end());
    return out;
}

Bytes der_len(std::uint64_t n) {
    std::uint8_t big_endian[8];
    for (int i = 7; i >= 0; --i, n >>= 8) big_endian[i] = static_cast<std::uint8_t>(n & 0xFF);
    return der_len(ByteView(big_endian, sizeof big_endian));
}

Bytes pkcs1_to_spki(ByteView pkcs1) {
    // The BIT STRING's first byte says no bits of the last byte are unused.
    const Bytes bits_len = der_len(std::uint64_t{pkcs1.size()} + 1);
    const std::uint64_t body_len = RSA_ALG_ID.size() + 1 + bits_len.size() + 1 + pkcs1.size();
    const Bytes seq_len = der_len(body_len);
    Bytes out;
    out.reserve(1 + seq_len.size() + body_len);
    out.push_back(SEQUENCE);
    out.insert(out.end(), seq_len.begin(), seq_len.end());
    out.insert(out.end(), RSA_ALG_ID.begin(), RSA_ALG_ID.end());
    out.push_back(BIT_STRING);
    out.insert(out.end(), bits_len.begin(), bits_len.end());
    out.push_back(0x00);
    out.insert(out.end(), pkcs1.begin(), pkcs1.end());
    return out;
}

}  // namespace tesmar::der
