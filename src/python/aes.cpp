// tesmar.aes.core: the AES-256-GCM envelope under a key text.
#include "engine/aes.hpp"

#include "engine/keys.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar.aes.core";
constexpr const char* kEnvelopeFailure = aes::ENVELOPE_FAILURE;

// Seals `data` into a new bytes object; the GIL is released for the whole computation.
PyObject* seal(ByteView data, std::string_view key_text) {
    OutBytes out(data.size() + aes::ENVELOPE_OVERHEAD);
    if (!out.ok()) return nullptr;
    PyObject* result = guarded([&]() -> PyObject* {
        NoGilFor nogil(data.size());
        const SecureBytes key = keys::convert_key(key_text);
        try {
            aes::envelope_seal(key, data, out.span());
        } catch (const Error& e) {
            // Only the cipher's failures are this operation's; the random source's pass as they are.
            if (e.kind() == ErrorKind::OS) throw;
            throw wrap(ErrorKind::Encryption, "AES-GCM encryption failed: ", Cause{e.kind(), e.what()});
        }
        return Py_None;  // success; the result is `out`
    });
    return result ? out.release() : nullptr;
}

PyObject* encrypt_bytes(PyObject* const* args) {
    if (args[0] == Py_None) return raise(ErrorKind::InvalidInput, "Data cannot be empty");
    Buffer data;
    if (!data.load(args[0])) return nullptr;
    if (data.size() == 0) return raise(ErrorKind::InvalidInput, "Data cannot be empty");
    Text key;
    if (!key.load(args[1], "key")) return nullptr;
    return seal(data.view(), key.view());
}

// Opens an envelope into a new bytes object, or raises the envelope failure (no cause).
PyObject* open(ByteView blob, std::string_view key_text) {
    // Too short to hold one byte of ciphertext: no decryption is attempted.
    if (blob.size() < aes::MIN_ENVELOPE) return raise(ErrorKind::Decryption, kEnvelopeFailure);
    OutBytes out(blob.size() - aes::ENVELOPE_OVERHEAD);
    if (!out.ok()) return nullptr;
    bool authentic = false;
    PyObject* ok = guarded([&]() -> PyObject* {
        NoGilFor nogil(blob.size());
        const SecureBytes key = keys::convert_key(key_text);
        authentic = aes::envelope_open(key, blob, out.span());
        return Py_None;
    });
    if (!ok) return nullptr;
    if (!authentic) return raise(ErrorKind::Decryption, kEnvelopeFailure);
    return out.release();
}

PyObject* decrypt_bytes(PyObject* const* args) {
    Text key;
    Buffer blob;
    // Key text problems come first, as the key is converted before the blob is examined.
    if (!key.load(args[1], "key") || !blob.load(args[0])) return nullptr;
    return open(blob.view(), key.view());
}

PyObject* encrypt_str(PyObject* const* args) {
    Text plaintext;
    if (!plaintext.load(args[0], "plaintext")) return nullptr;
    if (plaintext.empty()) return raise(ErrorKind::InvalidInput, "Plaintext cannot be empty");
    Text key;
    if (!key.load(args[1], "key")) return nullptr;
    PyObject* envelope = seal(plaintext.bytes(), key.view());
    if (!envelope) return nullptr;
    PyObject* text = base64_text(view_of_bytes(envelope));
    Py_DECREF(envelope);
    return text;
}

PyObject* decrypt_str(PyObject* const* args) {
    std::optional<Bytes> blob;
    if (!decode_base64_arg(args[0], blob))
        return raise_fixed_from_current(ErrorKind::Decryption, "Ciphertext is not valid Base64");
    Text key;
    if (!key.load(args[1], "key")) return nullptr;
    PyObject* plain = open(*blob, key.view());
    if (!plain) return nullptr;
    PyObject* text = decode_utf8(view_of_bytes(plain));
    OPENSSL_cleanse(PyBytes_AS_STRING(plain), PyBytes_GET_SIZE(plain));
    Py_DECREF(plain);
    if (!text) return raise_fixed_from_current(ErrorKind::Decryption, "Decrypted data is not valid UTF-8");
    return text;
}

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
