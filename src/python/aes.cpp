// tesmar.aes.core: the AES-256-GCM envelope under a key text.
#include "engine/aes.hpp"

#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar.aes.core";

PyObject* encrypt_bytes(PyObject* const* args) {
    BytesIn data;
    TextIn key;
    if (!data.load(args[0]) || !key.load(args[1], "key")) return nullptr;
    BytesResult out;
    return call(Gil::aes_gcm(data.arg().length()), [&]() -> BytesResult& {
        aes::encrypt_data(data.arg(), key.arg(), out);
        return out;
    });
}

PyObject* decrypt_bytes(PyObject* const* args) {
    BytesIn blob;
    TextIn key;
    if (!blob.load(args[0]) || !key.load(args[1], "key")) return nullptr;
    BytesResult out;
    return call(Gil::aes_gcm(blob.arg().length()), [&]() -> BytesResult& {
        aes::decrypt_data(blob.arg(), key.arg(), out);
        return out;
    });
}

PyObject* encrypt_str(PyObject* const* args) {
    TextIn plaintext, key;
    if (!plaintext.load(args[0], "plaintext") || !key.load(args[1], "key")) return nullptr;
    return call(
        Gil::aes_gcm(plaintext.arg().length()), [&] { return aes::encrypt_text(plaintext.arg(), key.arg()); },
        [](const Bytes& envelope) { return base64_text(envelope); });
}

PyObject* decrypt_str(PyObject* const* args) {
    Base64In ciphertext;
    TextIn key;
    if (!ciphertext.load(args[0]) || !key.load(args[1], "key")) return nullptr;
    return call(
        Gil::aes_gcm(ciphertext.arg().length()), [&] { return aes::decrypt_text(ciphertext.arg(), key.arg()); },
        [](const SecureBytes& plain) { return decrypted_text(plain, ErrorKind::Decryption, NOT_UTF8); });
}

const Register constants{
    ObjectSpec{kModule, "GCM_NONCE_SIZE", [] { return PyLong_FromSize_t(aes::GCM_NONCE_SIZE); }},
    ObjectSpec{kModule, "GCM_TAG_SIZE", [] { return PyLong_FromSize_t(aes::GCM_TAG_SIZE); }},
};

const Register functions{
    FunctionSpec{kModule, "encrypt_bytes", encrypt_bytes, {{"data", "bytes"}, {"key", "str"}}, "bytes",
                 "Encrypt bytes with AES-256-GCM under a key text.\n\n"
                 "Returns nonce (12 bytes) || ciphertext || tag (16 bytes): len(data) + 28 bytes.\n"
                 "Raises InvalidInputError for empty data (or None), EncryptionError if the cipher\n"
                 "fails, TypeError for data that is not bytes-like or a key that is not text."},
    FunctionSpec{kModule, "decrypt_bytes", decrypt_bytes, {{"blob", "bytes"}, {"key", "str"}}, "bytes",
                 "Open an AES-256-GCM envelope made by encrypt_bytes; returns the plaintext bytes.\n\n"
                 "Raises DecryptionError (one message, no cause) for a wrong key, tampered or\n"
                 "truncated data, or anything that is not an envelope."},
    FunctionSpec{kModule, "encrypt_str", encrypt_str, {{"plaintext", "str"}, {"key", "str"}}, "str",
                 "Encrypt text (as UTF-8) and return the envelope as Base64 text.\n\n"
                 "Raises InvalidInputError for the empty text, EncryptionError if the cipher fails."},
    FunctionSpec{kModule, "decrypt_str", decrypt_str, {{"ciphertext_b64", "str"}, {"key", "str"}}, "str",
                 "Decrypt the Base64 text of an envelope and return the text.\n\n"
                 "The Base64 may be given as str or ASCII bytes. Raises DecryptionError for text that\n"
                 "is not strict Base64, for a failed envelope, and for plaintext that is not UTF-8."},
};

}  // namespace
}  // namespace tesmar::py
