// PEM blocks for the key loaders. The decoded DER is key material: every copy of it is wiped, on
// the fast path and after OpenSSL's reader alike.
#include "engine/pem.hpp"

#include <climits>
#include <cstring>
#include <optional>

#include <openssl/err.h>
#include <openssl/pem.h>

#include "engine/base64.hpp"
#include "engine/errors.hpp"
#include "engine/openssl.hpp"

namespace tesmar::pem {

namespace {

struct PemParts {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long len = 0;
    ~PemParts() {
        OPENSSL_free(name);
        OPENSSL_free(header);
        if (data) OPENSSL_clear_free(data, static_cast<std::size_t>(len));
    }
};

// The shape PEM writers produce: "-----BEGIN <label>-----", lines of at most 64 Base64
// characters, "-----END <label>-----", each line ended by a line feed (the last one optionally).
// Anything else (text before the block, headers, CR LF, longer lines) is left to OpenSSL.
std::optional<Block> canonical_block(std::string_view text) {
    constexpr std::string_view begin = "-----BEGIN ", dashes = "-----";
    if (!text.starts_with(begin)) return std::nullopt;
    const std::size_t head_end = text.find('\n');
    if (head_end == std::string_view::npos) return std::nullopt;
    std::string_view label = text.substr(begin.size(), head_end - begin.size());
    if (!label.ends_with(dashes)) return std::nullopt;
    label.remove_suffix(dashes.size());
    if (label.empty() || label.find('-') != std::string_view::npos) return std::nullopt;
    const std::string end_line = "\n-----END " + std::string(label) + "-----";
    const std::size_t end = text.find(end_line, head_end);
    if (end == std::string_view::npos || end == head_end) return std::nullopt;
    const std::size_t after = end + end_line.size();
    if (after != text.size() && text[after] != '\n') return std::nullopt;

    const std::string_view body = text.substr(head_end + 1, end - head_end - 1);
    SecureBytes joined(body.size());
    std::size_t n = 0, line = 0;
    for (char c : body) {
        if (c == '\n') {
            if (line == 0) return std::nullopt;
            line = 0;
            continue;
        }
        if (++line > 64) return std::nullopt;
        joined[n++] = static_cast<std::uint8_t>(c);
    }
    if (line == 0) return std::nullopt;  // a blank line before the END line: OpenSSL refuses it
    std::optional<Bytes> der = b64::decode_strict(as_text(joined.view().first(n)));
    if (!der || der->empty()) return std::nullopt;
    Block block;
    block.label = std::string(label);
    block.der = SecureBytes(ByteView(*der));
    OPENSSL_cleanse(der->data(), der->size());
    return block;
}

[[noreturn]] void no_block(const std::string& other_labels, const char* kind, const char* example) {
    if (other_labels.empty())
        throw Error(ErrorKind::Value, std::string("no PEM data found (expected a \"-----BEGIN ") + example + "-----\" line)");
    throw Error(ErrorKind::Value, "the PEM text holds " + other_labels + ", not " + kind);
}

}  // namespace

Block find_block(std::string_view text, Wanted wanted, const char* kind, const char* example) {
    if (auto block = canonical_block(text); block && wanted(block->label)) return std::move(*block);
    if (text.size() > static_cast<std::size_t>(INT_MAX)) throw Error(ErrorKind::Value, "PEM text too long");
    ossl::Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (!bio) throw std::bad_alloc();
    std::string other_labels;
    for (;;) {
        PemParts parts;
        if (PEM_read_bio(bio.get(), &parts.name, &parts.header, &parts.data, &parts.len) != 1) {
            const unsigned long code = ERR_peek_last_error();
            if (ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE) {
                ERR_clear_error();
                no_block(other_labels, kind, example);  // no (further) block
            }
            throw Error(ErrorKind::Value, "malformed PEM: " + ossl::last_error("unreadable PEM data"));
        }
        std::string label(parts.name);
        if (wanted(label)) {
            Block block;
            block.der = SecureBytes(ByteView(parts.data, static_cast<std::size_t>(parts.len)));
            block.encrypted = parts.header && std::strstr(parts.header, "ENCRYPTED") != nullptr;
            block.label = std::move(label);
            return block;
        }
        if (!other_labels.empty()) other_labels += ", ";
        other_labels += label;
    }
}

}  // namespace tesmar::pem
