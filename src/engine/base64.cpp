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
    for (std::size_t i = 0; i < data_len; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) return reject(why, "string argument should contain only ASCII characters");
        if (c == '=') return reject(why, "Discontinuous padding not allowed");
        if (kTable[c] < 0) return reject(why, "Only base64 data is allowed");
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
    const std::size_t data_len = s.size() - pad;
    Bytes out;
    out.reserve(s.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < data_len; ++i) {
        acc = (acc << 6) | static_cast<std::uint32_t>(kTable[static_cast<unsigned char>(s[i])]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

}  // namespace tesmar::b64
