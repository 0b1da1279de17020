// Key text to the 32-byte AES-256 key.
#pragma once
#include <optional>
#include <string_view>

#include "engine/bytes.hpp"

namespace tesmar::keys {

inline constexpr std::size_t AES_KEY_SIZE = 32;

// The bytes that `text` decodes to under the strict rule, or nullopt (also for the empty text).
std::optional<Bytes> try_base64(std::string_view text);

// `utf8` is the UTF-8 encoding of the key text. Never fails.
SecureBytes convert_key(std::string_view utf8);

}  // namespace tesmar::keys
