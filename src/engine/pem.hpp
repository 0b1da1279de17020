// Key text: the first PEM block whose label the caller wants, as DER. Text in the shape PEM writers
// produce is decoded here, which spares OpenSSL's BIO and decoder set-up on every call; any other
// text goes to OpenSSL's PEM reader, which stays the judge of what PEM text is.
#pragma once
#include <string>
#include <string_view>

#include "engine/bytes.hpp"

namespace tesmar::pem {

struct Block {
    std::string label;
    SecureBytes der;
    bool encrypted = false;  // its headers name an encryption ("Proc-Type: 4,ENCRYPTED")
};

using Wanted = bool (*)(const std::string& label);

// The first block whose label `wanted` accepts. Error(Value) for text that is not PEM up to such a
// block, and for text without one: that message names the labels the text holds instead, or, when
// it holds none, the line expected ("-----BEGIN <example>-----"); `kind` says what was wanted
// ("a public key").
Block find_block(std::string_view text, Wanted wanted, const char* kind, const char* example);

}  // namespace tesmar::pem
