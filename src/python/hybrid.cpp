// tesmar.hybrid.core: the RSA-wrapped AES-GCM envelope, its layouts and layout detection.
#include "engine/hybrid.hpp"

#include "engine/rsa.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"
#include "python/rsa.hpp"

namespace tesmar::py {

namespace {

PyObject* net_decrypt_view(ByteView blob, PyObject* private_pem) {
    std::string_view pem;
    if (!rsafam::pem_text(private_pem, rsa::PRIVATE_PEM_PREFIX, pem)) return nullptr;
    OutBytes out(hybrid::net_plain_size(blob));
    if (!out.ok()) return nullptr;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::private_key_from_text(pem);
        hybrid::net_open(key.get(), blob, out.span());
    });
    if (!ok) {
        out.wipe();
        return nullptr;
    }
    return out.release();
}

PyObject* legacy_decrypt_view(ByteView blob, PyObject* private_pem) {
    hybrid::LegacyParts parts;
    // The blob's own bounds are checked before the key text is looked at.
    PyObject* ok = guarded([&]() -> PyObject* {
        parts = hybrid::legacy_split(blob);
        return Py_None;
    });
    if (!ok) return nullptr;
    std::string_view pem;
    if (!rsafam::pem_text(private_pem, rsa::PRIVATE_PEM_PREFIX, pem)) return nullptr;
    OutBytes out(hybrid::legacy_plain_size(parts));
    if (!out.ok()) return nullptr;
    if (!released([&] {
            const ossl::PKey key = rsa::private_key_from_text(pem);
            hybrid::legacy_open(key.get(), parts, out.span());
        })) {
        out.wipe();
        return nullptr;
    }
    return out.release();
}

PyObject* encrypt_bytes(PyObject* const* args) {
    const int truthy = PyObject_IsTrue(args[0]);
    if (truthy < 0) return nullptr;
    if (!truthy) return raise(ErrorKind::InvalidInput, "Data cannot be empty");
    rsafam::BytesArg data;
    if (!data.load(args[0])) return nullptr;
    return rsafam::hybrid_encrypt(data, args[1]);
}

PyObject* decrypt_auto(PyObject* const* args) {
    Buffer blob;
    if (!blob.load(args[0])) return nullptr;
    return rsafam::hybrid_decrypt_auto(blob.view(), args[1]);
}

PyObject* net_decrypt(PyObject* const* args) {
    Buffer blob;
    if (!blob.load(args[0])) return nullptr;
    return net_decrypt_view(blob.view(), args[1]);
}

PyObject* legacy_decrypt(PyObject* const* args) {
    Buffer blob;
    if (!blob.load(args[0])) return nullptr;
    return legacy_decrypt_view(blob.view(), args[1]);
}

PyObject* encrypt_str(PyObject* const* args) {
    return rsafam::encrypt_text(args[0], args[1], rsafam::hybrid_encrypt);
}

PyObject* decrypt_str(PyObject* const* args) {
    return rsafam::decrypt_text(args[0], args[1], rsafam::hybrid_decrypt_auto);
}

constexpr const char* kModule = "tesmar.hybrid.core";

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

namespace rsafam {

PyObject* hybrid_encrypt(BytesArg& data, PyObject* public_pem) {
    std::string_view pem;
    if (!pem_text(public_pem, rsa::PUBLIC_PEM_PREFIX, pem)) return nullptr;
    hybrid::WrappedKey key;
    if (!released([&] {
            const ossl::PKey pub = rsa::public_key_from_text(pem);
            key = hybrid::new_wrapped_key(pub.get());
        }))
        return nullptr;
    // Data that is not bytes fails in the AES step, after the key was wrapped, and unwrapped.
    if (!data.ok()) return data.restore();
    OutBytes out(hybrid::sealed_size(key.wrapped.size(), data.view().size()));
    if (!out.ok()) return nullptr;
    PyObject* ok = guarded([&]() -> PyObject* {
        NoGilFor nogil(data.view().size());
        hybrid::seal(key, data.view(), out.span());
        return Py_None;
    });
    if (!ok) return nullptr;
    return out.release();
}

PyObject* hybrid_decrypt_auto(ByteView blob, PyObject* private_pem) {
    switch (hybrid::detect(blob)) {
        case hybrid::Layout::Legacy:
            return legacy_decrypt_view(blob, private_pem);
        case hybrid::Layout::LengthPrefixed:
            return net_decrypt_view(blob, private_pem);
        case hybrid::Layout::BareOaep:
            break;
    }
    BytesArg block;
    block.set(blob);
    return decrypt_oaep(block, private_pem);
}

}  // namespace rsafam
}  // namespace tesmar::py
