#include "engine/base64.hpp"

#include <array>

namespace tesmar::b64 {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> make_table() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}
constexpr auto kTable = make_table();

bool reject(std::string* why, const char* reason) {
    if (why) *why = reason;
    return false;
}

// Checks the text against the strict rule and returns the number of fill characters.
bool check(std::string_view s, int& pad, std::string* why) {
    if (s.size() % 4 != 0) return reject(why, "Incorrect padding");
    pad = 0;
    if (!s.empty() && s.back() == '=') pad = (s.size() >= 2 && s[s.size() - 2] == '=') ? 2 : 1;
    const std::size_t data_len = s.size() - pad;
    // Fast pass: every table entry of an invalid character (non-ASCII, "=", others) is negative.
    std::int8_t any_invalid = 0;
    for (std::size_t i = 0; i < data_len; ++i) any_invalid |= kTable[static_cast<unsigned char>(s[i])];
    if (any_invalid < 0) {
        for (std::size_t i = 0; i < data_len; ++i) {  // slow pass, only to name the reason
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) return reject(why, "string argument should contain only ASCII characters");
            if (c == '=') return reject(why, "Discontinuous padding not allowed");
            if (kTable[c] < 0) return reject(why, "Only base64 data is allowed");
        }
    }
    // Three or four trailing "=" (a group of one data character and three fill, or four fill).
    if (pad == 2 && s.size() >= 3 && s[s.size() - 3] == '=') return reject(why, "Excess padding not allowed");
    return true;
}
}  // namespace

std::size_t encoded_size(std::size_t n) { return (n + 2) / 3 * 4; }

void encode_into(ByteView data, char* out) {
    std::size_t i = 0;
    const std::size_t n = data.size();
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const std::uint32_t v = data[i] << 16;
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = '=';
    }
}

std::string encode(ByteView data) {
    std::string out(encoded_size(data.size()), '\0');
    encode_into(data, out.data());
    return out;
}

std::optional<Bytes> decode_strict(std::string_view s, std::string* why) {
    int pad = 0;
    if (!check(s, pad, why)) return std::nullopt;
    // Every data character is valid now: decode whole groups of four into three bytes in place.
    Bytes out(s.size() / 4 * 3 - static_cast<std::size_t>(pad));
    const auto* in = reinterpret_cast<const unsigned char*>(s.data());
    auto sextet = [&](std::size_t i) { return static_cast<std::uint32_t>(kTable[in[i]]); };
    const std::size_t full = (s.size() - (pad ? 4 : 0)) / 4;
    std::uint8_t* o = out.data();
    for (std::size_t g = 0; g < full; ++g, in += 4, o += 3) {
        const std::uint32_t v = (sextet(0) << 18) | (sextet(1) << 12) | (sextet(2) << 6) | sextet(3);
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
    }
    if (pad) {  // last group: two or three data characters; unused low bits are ignored
        std::uint32_t v = (sextet(0) << 18) | (sextet(1) << 12);
        if (pad == 1) v |= sextet(2) << 6;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        if (pad == 1) o[1] = static_cast<std::uint8_t>(v >> 8);
    }
    return out;
}

Bytes decode_arg(const TextArg& text, ErrorKind kind, const std::string& message) {
    std::string why;
    std::optional<Bytes> out = decode_strict(text.get_or_fixed(kind, message), &why);
    if (!out) throw Error(kind, message, Cause{ErrorKind::Base64, why});
    return std::move(*out);
}

}  // namespace tesmar::b64
