// tesmar._internal.keys: strict Base64 and key text -> AES-256 key.
#include "engine/keys.hpp"

#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar._internal.keys";

PyObject* try_base64(PyObject* const* args) {
    TextIn s;
    if (!s.load(args[0], "s")) return nullptr;
    // Text with a lone surrogate has no ASCII form, so it is no more Base64 than the empty text.
    const bool surrogates = PyUnicode_Check(args[0]) && !s.arg().usable();
    return call(
        Gil::hold(), [&] { return keys::try_base64(surrogates ? std::string_view() : s.arg().get()); },
        [](const std::optional<Bytes>& decoded) { return decoded ? to_bytes(*decoded) : Py_NewRef(Py_None); });
}

PyObject* convert_key(PyObject* const* args) {
    TextIn key;
    if (!key.load(args[0], "key")) return nullptr;
    return call(Gil::hold(), [&] { return keys::convert_key(key.arg().get()); });
}

const Register constants{
    ObjectSpec{kModule, "AES_KEY_SIZE", [] { return PyLong_FromSize_t(keys::AES_KEY_SIZE); }},
};

const Register functions{
    FunctionSpec{kModule, "_try_base64", try_base64, {{"s", "str"}}, "bytes | None",
                 "Decode text under the strict Base64 rule; returns the bytes, or None if it is not Base64.\n\n"
                 "The rule: standard alphabet, length a multiple of 4, '=' only as final fill, no white\n"
                 "space. The empty text also gives None. Never raises for text (text with a lone\n"
                 "surrogate gives None); an argument that is not text raises TypeError."},
    FunctionSpec{kModule, "convert_key", convert_key, {{"key", "str"}}, "bytes",
                 "Return the 32-byte AES-256 key for a key text.\n\n"
                 "Base64 text of 32 or 64 bytes gives its first 32 bytes; other valid Base64 gives the\n"
                 "SHA-256 of the decoded bytes; any other text (a passphrase) gives the SHA-256 of its\n"
                 "UTF-8 encoding. Raises TypeError for a key that is not text, UnicodeEncodeError for\n"
                 "text with a lone surrogate."},
};

}  // namespace
}  // namespace tesmar::py
