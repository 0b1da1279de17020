#include "engine/inspect.hpp"

#include <algorithm>

#include "engine/errors.hpp"
#include "engine/hybrid.hpp"
#include "engine/quantum/oqs.hpp"

namespace tesmar::inspect {

namespace {

std::string hex(ByteView b) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : b) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

std::uint64_t be32(ByteView b) { return std::uint64_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3]; }

constexpr const char* STRENGTH_NAMES[] = {"standard", "medium", "highest"};

// Byte 2 is both SLH-DSA and scheme 2 (Classic McEliece, keys of 13 kB and more): SLH-DSA keys
// are at most 130 bytes.
constexpr std::uint64_t SLH_DSA_KEY_MAX = 1000;

struct Scheme {
    std::uint8_t id;
    const char* mechanisms;
    oqs::Family family;
};
constexpr Scheme SCHEMES[] = {
    {2, "Classic McEliece, AES-256-CBC and HMAC-SHA-256", oqs::Family::Cmce},
    {4, "FrodoKEM-1344-AES, AES-256-GCM", oqs::Family::Frodo},
    {5, "Classic McEliece, AES-256-CBC and HMAC-SHA-256 (salted)", oqs::Family::Cmce},
    {6, "FrodoKEM, AES-256-GCM", oqs::Family::Frodo},
    {7, "RSA-4096 and FrodoKEM", oqs::Family::Frodo},
    {8, "X25519 and ML-KEM", oqs::Family::Mlkem},
};

bool starts_with(ByteView b, std::string_view prefix) {
    return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}

}  // namespace

Description describe(ByteView head, std::uint64_t size) {
    ByteView text = head;
    while (!text.empty() && (text[0] == ' ' || text[0] == '\n' || text[0] == '\r' || text[0] == '\t'))
        text = text.subspan(1);
    if (starts_with(text, "-----BEGIN ")) {
        const std::string_view rest = as_text(text.subspan(11));
        return {{"kind", std::string("pem")}, {"label", std::string(rest.substr(0, rest.find("-----")))}};
    }
    if (size >= hybrid::LEGACY_MIN && head.size() >= hybrid::LEGACY_MIN && starts_with(head, "HYBR")) {
        const std::uint64_t key_len = be32(head.subspan(4));
        return {{"kind", std::string("hybrid envelope")},
                {"layout", std::string("legacy (HYBR)")},
                {"wrapped_key_length", key_len},
                {"aes_envelope_length", size > 8 + key_len ? size - 8 - key_len : 0}};
    }
    if (size >= hybrid::NET_MIN && head.size() >= hybrid::NET_MIN && read_u32le(head) == hybrid::RSA_BLOCK) {
        constexpr std::size_t nonce_at = hybrid::KEY_FIELD + hybrid::RSA_BLOCK;
        return {{"kind", std::string("hybrid envelope")},
                {"layout", std::string("length-prefixed")},
                {"wrapped_key_length", std::uint64_t{hybrid::RSA_BLOCK}},
                {"nonce", hex(head.subspan(nonce_at, hybrid::NONCE))},
                {"tag", hex(head.subspan(nonce_at + hybrid::NONCE, hybrid::TAG))},
                {"ciphertext_length", size - hybrid::NET_MIN}};
    }
    if (head.size() >= 2 && head[1] < oqs::STRENGTHS) {
        const std::uint8_t id = head[0], strength = head[1];
        if (id == 1 || (id == 2 && size <= SLH_DSA_KEY_MAX)) {
            const std::string mechanism(id == 1 ? oqs::mechanism(oqs::Family::Mldsa, strength)
                                                : oqs::slhdsa_candidates(strength)[0]);
            return {{"kind", std::string("post-quantum signature key")},
                    {"algorithm", std::uint64_t{id}},
                    {"mechanism", mechanism},
                    {"strength", std::string(STRENGTH_NAMES[strength])}};
        }
        for (const Scheme& s : SCHEMES) {
            if (s.id != id) continue;
            // Scheme 4 has one parameter set whatever its strength byte says.
            const std::string mechanism(oqs::mechanism(s.family, id == 4 ? 2 : strength));
            return {{"kind", std::string("post-quantum key")},
                    {"scheme", std::uint64_t{id}},
                    {"mechanisms", std::string(s.mechanisms)},
                    {"mechanism", mechanism},
                    {"strength", std::string(STRENGTH_NAMES[strength])}};
        }
    }
    if (size == hybrid::RSA_BLOCK) return {{"kind", std::string("RSA-OAEP block (4096-bit key)")}};
    return {{"kind", std::string()}};
}

}  // namespace tesmar::inspect
