#include "engine/keys.hpp"

#include <algorithm>

#include "engine/base64.hpp"
#include "engine/openssl.hpp"

namespace tesmar::keys {

std::optional<Bytes> try_base64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    return b64::decode_strict(text);
}

SecureBytes convert_key(std::string_view utf8) {
    SecureBytes key(AES_KEY_SIZE);
    // Non-ASCII text is never Base64, and its length in characters differs from its UTF-8 length,
    // so the multiple-of-4 test on bytes only matters for ASCII text, where both agree.
    std::optional<Bytes> decoded = try_base64(utf8);
    if (!decoded) {
        ossl::sha256_into(as_bytes(utf8), key.span());
    } else {
        SecureBytes raw(*decoded);
        OPENSSL_cleanse(decoded->data(), decoded->size());
        if (raw.size() == AES_KEY_SIZE || raw.size() == 2 * AES_KEY_SIZE) {
            std::copy_n(raw.data(), AES_KEY_SIZE, key.data());
        } else {
            ossl::sha256_into(raw.view(), key.span());
        }
    }
    return key;
}

}  // namespace tesmar::keys
