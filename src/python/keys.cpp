// tesmar._internal.keys: strict Base64 and key text -> AES-256 key.
#include "engine/keys.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

PyObject* try_base64(PyObject* const* args) {
    Text s;
    if (!s.load(args[0], "s")) {
        // Text with a lone surrogate has no ASCII form, so it is simply not Base64.
        if (!PyUnicode_Check(args[0]) || !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    return guarded([&]() -> PyObject* {
        auto decoded = keys::try_base64(s.view());
        if (!decoded) Py_RETURN_NONE;
        return to_bytes(*decoded);
    });
}

PyObject* convert_key(PyObject* const* args) {
    Text key;
    if (!key.load(args[0], "key")) return nullptr;
    return guarded([&]() -> PyObject* { return to_bytes(keys::convert_key(key.view())); });
}

const Register functions{
    FunctionSpec{"tesmar._internal.keys", "_try_base64", try_base64, {{"s", "str"}}, "bytes | None",
                 "Decode text under the strict Base64 rule; returns the bytes, or None if it is not Base64.\n\n"
                 "The rule: standard alphabet, length a multiple of 4, '=' only as final fill, no white\n"
                 "space. The empty text also gives None. Never raises for text (text with a lone\n"
                 "surrogate gives None); an argument that is not text raises TypeError."},
    FunctionSpec{"tesmar._internal.keys", "convert_key", convert_key, {{"key", "str"}}, "bytes",
                 "Return the 32-byte AES-256 key for a key text.\n\n"
                 "Base64 text of 32 or 64 bytes gives its first 32 bytes; other valid Base64 gives the\n"
                 "SHA-256 of the decoded bytes; any other text (a passphrase) gives the SHA-256 of its\n"
                 "UTF-8 encoding. Raises TypeError for a key that is not text, UnicodeEncodeError for\n"
                 "text with a lone surrogate."},
};

}  // namespace
}  // namespace tesmar::py
