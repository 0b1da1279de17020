// Base64 as the package speaks it: standard alphabet with "=" fill on output, and one strict
// decoding rule for every Base64 text a caller hands in.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "engine/args.hpp"
#include "engine/bytes.hpp"

namespace tesmar::b64 {

std::string encode(ByteView data);
std::size_t encoded_size(std::size_t n);
void encode_into(ByteView data, char* out);  // writes encoded_size(data.size()) characters

// Strict decoding: standard alphabet only, length a multiple of 4, "=" only as one or two fill
// characters at the very end; unused low bits of the last character are ignored.
// On failure returns nullopt and, if `why` is given, a short reason in the style of binascii.
std::optional<Bytes> decode_strict(std::string_view text, std::string* why = nullptr);

// A caller's Base64 argument decoded by the strict rule. An argument that is not text, and text
// that is not strict Base64 (binascii.Error as cause), raise `kind(message)`.
Bytes decode_arg(const TextArg& text, ErrorKind kind, const std::string& message);

}  // namespace tesmar::b64
