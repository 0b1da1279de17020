// tesmar.hybrid.core: the RSA-wrapped AES-GCM envelope, its layouts and layout detection.
#include "engine/hybrid.hpp"

#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {

namespace {

using SinkOperation = void (*)(const BytesArg&, const TextArg&, Sink&);

// blob-and-key operations that write their result in place.
PyObject* into_bytes(PyObject* const* args, SinkOperation operation, bool truth_first = false) {
    BytesIn data;
    PemIn pem;
    if (!(truth_first ? data.load_truth(args[0], false) : data.load(args[0])) || !pem.load(args[1])) return nullptr;
    BytesResult out;
    return call(Gil::public_key(), [&]() -> BytesResult& {
        operation(data.arg(), pem.arg(), out);
        return out;
    });
}

PyObject* encrypt_bytes(PyObject* const* args) { return into_bytes(args, hybrid::encrypt_data, true); }
PyObject* decrypt_auto(PyObject* const* args) { return into_bytes(args, hybrid::decrypt_auto); }
PyObject* net_decrypt(PyObject* const* args) { return into_bytes(args, hybrid::net_decrypt); }
PyObject* legacy_decrypt(PyObject* const* args) { return into_bytes(args, hybrid::legacy_decrypt); }

PyObject* encrypt_str(PyObject* const* args) {
    TextIn plaintext;
    PemIn pem;
    if (!plaintext.load(args[0], "plaintext") || !pem.load(args[1])) return nullptr;
    return call(
        Gil::public_key(), [&] { return hybrid::encrypt_text(plaintext.arg(), pem.arg()); },
        [](const Bytes& sealed) { return base64_text(sealed); });
}

PyObject* decrypt_str(PyObject* const* args) {
    Base64In ciphertext;
    PemIn pem;
    if (!ciphertext.load(args[0]) || !pem.load(args[1])) return nullptr;
    return call(
        Gil::public_key(), [&] { return hybrid::decrypt_text(ciphertext.arg(), pem.arg()); },
        [](const SecureBytes& plain) { return decrypted_text(plain, ErrorKind::Decryption, NOT_UTF8); });
}

constexpr const char* kModule = "tesmar.hybrid.core";

const Register constants{
    ObjectSpec{kModule, "HYBR", [] { return to_bytes(hybrid::HYBR); }},
    ObjectSpec{kModule, "RSA_BLOCK", [] { return PyLong_FromSize_t(hybrid::RSA_BLOCK); }},
    ObjectSpec{kModule, "NONCE", [] { return PyLong_FromSize_t(hybrid::NONCE); }},
    ObjectSpec{kModule, "TAG", [] { return PyLong_FromSize_t(hybrid::TAG); }},
};

const Register functions{
    FunctionSpec{kModule, "encrypt_bytes", encrypt_bytes, {{"data", "bytes"}, {"public_pem", "str"}}, "bytes",
                 "Seal data of any size to an RSA public key in the length-prefixed layout.\n\n"
                 "A fresh AES-256 key, wrapped with RSA-OAEP, encrypts the data with AES-GCM. Returns\n"
                 "key length (4 bytes, little-endian) || wrapped key || nonce (12) || tag (16) ||\n"
                 "ciphertext: len(data) + 544 bytes for a 4096-bit key. Raises InvalidInputError for\n"
                 "empty data or bad key text, EncryptionError when the RSA primitive fails, TypeError\n"
                 "for data that is not bytes-like."},
    FunctionSpec{kModule, "decrypt_auto", decrypt_auto, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Decrypt a blob, recognising its layout by content; returns the plaintext bytes.\n\n"
                 "In this order: at least 8 bytes starting with HYBR is the legacy layout; at least\n"
                 "544 bytes whose first 4 read 512 (little-endian) is the length-prefixed layout;\n"
                 "anything else is taken for a bare OAEP block. The first match decides.\n"
                 "Raises InvalidInputError for bad key text and DecryptionError for a wrong key or\n"
                 "tampered or foreign data ('RSA decryption failed: ...', 'Hybrid AES-GCM decryption\n"
                 "failed (...)', or the legacy layout's messages); a forged wrapped key that is not\n"
                 "an AES key size raises ValueError."},
    FunctionSpec{kModule, "_net_decrypt", net_decrypt, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Decrypt the length-prefixed layout (a 512-byte wrapped key at fixed offsets).\n\n"
                 "Returns the plaintext bytes. AES-128/192/256 keys are accepted. Raises\n"
                 "InvalidInputError for bad key text, DecryptionError 'RSA decryption failed: ...'\n"
                 "when the key does not unwrap and 'Hybrid AES-GCM decryption failed (wrong key or\n"
                 "tampered data)' when the tag does not authenticate, ValueError for an unwrapped key\n"
                 "of another size or a nonce shorter than 8 bytes."},
    FunctionSpec{kModule, "_legacy_decrypt", legacy_decrypt, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Decrypt the legacy HYBR layout; returns the plaintext bytes.\n\n"
                 "Layout: HYBR || key length (4 bytes, big-endian) || wrapped key || AES-GCM envelope\n"
                 "under the Base64 text of the unwrapped key. Raises DecryptionError 'Invalid hybrid\n"
                 "data (legacy Swift format)' unless at least one byte follows the wrapped key (checked\n"
                 "first), InvalidInputError for bad key text, DecryptionError 'RSA decryption failed:\n"
                 "...' when the key does not unwrap and the AES envelope's message when it does not open."},
    FunctionSpec{kModule, "encrypt_str", encrypt_str, {{"plaintext", "str"}, {"public_pem", "str"}}, "str",
                 "Seal text (as UTF-8) and return the length-prefixed layout as Base64 text.\n\n"
                 "Raises InvalidInputError for the empty text or bad key text, EncryptionError when\n"
                 "the RSA primitive fails."},
    FunctionSpec{kModule, "decrypt_str", decrypt_str, {{"ciphertext_b64", "str"}, {"private_pem", "str"}}, "str",
                 "Decrypt Base64 text with decrypt_auto and return the text.\n\n"
                 "Raises DecryptionError for text that is not strict Base64 and for plaintext that is\n"
                 "not UTF-8, besides the errors of decrypt_auto."},
};

}  // namespace
}  // namespace tesmar::py
