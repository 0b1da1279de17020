// What a blob is, told from its content alone: the hybrid layouts and their fields, a
// post-quantum key header, a PEM block, a bare OAEP block. Nothing is decrypted or verified.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/bytes.hpp"

namespace tesmar::inspect {

using Value = std::variant<std::uint64_t, std::string>;
// In display order; the first field is "kind", empty when the layout is not recognised.
using Description = std::vector<std::pair<std::string, Value>>;

// `head` is the start of the blob (at least its first 64 KiB when it is longer), `size` its length.
Description describe(ByteView head, std::uint64_t size);

}  // namespace tesmar::inspect
