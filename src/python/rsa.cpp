// tesmar.rsa.core: RSA-4096 key pairs as PEM text, OAEP blocks, PSS signatures, and data of any
// size through the hybrid envelope.
#include "engine/rsa.hpp"

#include <algorithm>

#include "python/rsa.hpp"

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"

namespace tesmar::py {

namespace rsafam {

bool pem_text(PyObject* obj, const char* prefix, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "key text must be str, not %.200s", Py_TYPE(obj)->tp_name);
        raise_from_current(ErrorKind::InvalidInput, prefix);
        return false;
    }
    if (!PyUnicode_IS_ASCII(obj)) {
        PyObject* encoded = PyUnicode_AsASCIIString(obj);  // sets the interpreter's UnicodeEncodeError
        if (encoded) {  // cannot happen for non-ASCII text; kept for safety
            Py_DECREF(encoded);
            PyErr_SetString(PyExc_ValueError, "key text is not ASCII");
        }
        raise_from_current(ErrorKind::InvalidInput, prefix);
        return false;
    }
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(obj, &n);  // ASCII text: the string's own storage
    if (!s) return false;
    out = {s, static_cast<std::size_t>(n)};
    return true;
}

bool BytesArg::load(PyObject* obj) {
    if (buf_.load(obj)) {
        set(buf_.view());
        return true;
    }
    if (!current_is_ordinary()) return false;
    error_ = PyErr_GetRaisedException();
    return true;
}

bool BytesArg::length(PyObject* obj, std::uint64_t& n) {
    if (ok_) {
        n = view_.size();
        return true;
    }
    const Py_ssize_t len = PyObject_Size(obj);
    if (len < 0) return false;
    n = static_cast<std::uint64_t>(len);
    return true;
}

PyObject* BytesArg::restore() {
    if (error_) {
        PyErr_SetRaisedException(error_);
        error_ = nullptr;
    } else if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, "a bytes-like object is required");
    }
    return nullptr;
}

PyObject* encrypt_oaep(BytesArg& data, PyObject* public_pem) {
    std::string_view pem;
    if (!pem_text(public_pem, rsa::PUBLIC_PEM_PREFIX, pem)) return nullptr;
    Bytes block;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::public_key_from_text(pem);
        if (data.ok()) block = rsa::encrypt_block(key.get(), data.view());
    });
    if (!ok) return nullptr;
    if (!data.ok()) {
        data.restore();
        return raise_from_current(ErrorKind::Encryption, rsa::ENCRYPT_PREFIX);
    }
    return to_bytes(block);
}

PyObject* decrypt_oaep(BytesArg& blob, PyObject* private_pem) {
    std::string_view pem;
    if (!pem_text(private_pem, rsa::PRIVATE_PEM_PREFIX, pem)) return nullptr;
    SecureBytes plain;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::private_key_from_text(pem);
        if (blob.ok()) plain = rsa::decrypt_block(key.get(), blob.view());
    });
    if (!ok) return nullptr;
    if (!blob.ok()) {
        blob.restore();
        return raise_from_current(ErrorKind::Decryption, rsa::DECRYPT_PREFIX);
    }
    // A bytes object of its own, never the interpreter's shared one-byte object: the text
    // variants wipe the plaintext after decoding it.
    OutBytes out(plain.size());
    if (!out.ok()) return nullptr;
    std::copy_n(plain.data(), plain.size(), out.span().data());
    return out.release();
}

PyObject* encrypt_text(PyObject* plaintext, PyObject* pem, PyObject* (*encrypt)(BytesArg&, PyObject*)) {
    if (PyUnicode_Check(plaintext) && PyUnicode_GET_LENGTH(plaintext) == 0)
        return raise(ErrorKind::InvalidInput, "Plaintext cannot be empty");
    Text text;
    if (!text.load(plaintext, "plaintext")) return nullptr;
    BytesArg data;
    data.set(text.bytes());
    PyObject* sealed = encrypt(data, pem);
    if (!sealed) return nullptr;
    PyObject* b64 = base64_text(view_of_bytes(sealed));
    Py_DECREF(sealed);
    return b64;
}

PyObject* decrypt_text(PyObject* text, PyObject* pem, PyObject* (*decrypt)(ByteView, PyObject*)) {
    std::optional<Bytes> blob;
    if (!decode_base64_arg(text, blob))
        return raise_fixed_from_current(ErrorKind::Decryption, "Ciphertext is not valid Base64");
    PyObject* plain = decrypt(*blob, pem);
    if (!plain) return nullptr;
    PyObject* result = decode_utf8(view_of_bytes(plain));
    if (Py_REFCNT(plain) == 1)  // only a copy nobody else holds may be wiped
        OPENSSL_cleanse(PyBytes_AS_STRING(plain), static_cast<std::size_t>(PyBytes_GET_SIZE(plain)));
    Py_DECREF(plain);
    if (!result) return raise_fixed_from_current(ErrorKind::Decryption, "Decrypted data is not valid UTF-8");
    return result;
}

}  // namespace rsafam

namespace {

using rsafam::BytesArg;
using rsafam::pem_text;

constexpr const char* kModule = "tesmar.rsa.core";

// ---- Key objects returned by the loaders: the parsed key, of whatever type it is.

struct KeyObject {
    PyObject_HEAD
    EVP_PKEY* key;
};

PyTypeObject PublicKeyType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject PrivateKeyType = {PyVarObject_HEAD_INIT(nullptr, 0)};

void key_dealloc(PyObject* self) {
    EVP_PKEY_free(reinterpret_cast<KeyObject*>(self)->key);
    Py_TYPE(self)->tp_free(self);
}

PyObject* key_type(PyObject* self, void*) {
    return PyUnicode_FromString(rsa::type_name(reinterpret_cast<KeyObject*>(self)->key));
}

PyObject* key_size(PyObject* self, void*) {
    return PyLong_FromLong(EVP_PKEY_get_bits(reinterpret_cast<KeyObject*>(self)->key));
}

PyObject* key_repr(PyObject* self) {
    EVP_PKEY* key = reinterpret_cast<KeyObject*>(self)->key;
    return PyUnicode_FromFormat("<%s %s key, %d bits>", Py_TYPE(self)->tp_name, rsa::type_name(key),
                                EVP_PKEY_get_bits(key));
}

PyGetSetDef key_getset[] = {
    {"key_type", key_type, nullptr, "The key's algorithm as the library names it (\"RSA\", \"EC\", ...).", nullptr},
    {"key_size", key_size, nullptr, "The key's size in bits (the modulus size for RSA).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

int ready_key_type(PyTypeObject& type, const char* name, const char* doc) {
    if (type.tp_flags & Py_TPFLAGS_READY) return 0;
    type.tp_name = name;
    type.tp_basicsize = sizeof(KeyObject);
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = doc;
    type.tp_dealloc = key_dealloc;
    type.tp_repr = key_repr;
    type.tp_getset = key_getset;
    return PyType_Ready(&type);
}

PyObject* wrap_key(PyTypeObject& type, ossl::PKey key) {
    if (ready_key_type(PublicKeyType, "tesmar.rsa.core.PublicKey", "A parsed public key (from _load_public).") < 0 ||
        ready_key_type(PrivateKeyType, "tesmar.rsa.core.PrivateKey", "A parsed private key (from _load_private).") < 0)
        return nullptr;
    auto* obj = PyObject_New(KeyObject, &type);
    if (!obj) return nullptr;
    obj->key = key.release();
    return reinterpret_cast<PyObject*>(obj);
}

// ---- _OAEP and _pss(): immutable descriptions of the fixed padding parameters.

struct ParamObject {
    PyObject_HEAD
};

PyTypeObject OaepType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject PssType = {PyVarObject_HEAD_INIT(nullptr, 0)};

PyObject* text_value(const char* s) { return PyUnicode_FromString(s); }
PyObject* get_mgf(PyObject*, void*) { return text_value("MGF1"); }
PyObject* get_sha256(PyObject*, void*) { return text_value("SHA256"); }
PyObject* get_label(PyObject*, void*) { return PyBytes_FromStringAndSize(nullptr, 0); }
PyObject* get_salt_length(PyObject*, void*) { return PyLong_FromSize_t(rsa::PSS_SALT_LENGTH); }

PyObject* oaep_repr(PyObject*) { return text_value("OAEP(mgf=MGF1(SHA256), algorithm=SHA256, label=b'')"); }
PyObject* pss_repr(PyObject*) { return text_value("PSS(mgf=MGF1(SHA256), salt_length=32)"); }

// Every object of one of these types describes the same parameters.
PyObject* param_richcompare(PyObject* a, PyObject* b, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(a) != Py_TYPE(b)) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(op == Py_EQ);
}

Py_hash_t param_hash(PyObject* self) { return static_cast<Py_hash_t>(reinterpret_cast<std::uintptr_t>(Py_TYPE(self)) >> 4); }

PyGetSetDef oaep_getset[] = {
    {"mgf", get_mgf, nullptr, "Mask generation function: \"MGF1\".", nullptr},
    {"mgf_hash", get_sha256, nullptr, "Hash of the mask generation function: \"SHA256\".", nullptr},
    {"algorithm", get_sha256, nullptr, "Hash of the OAEP encoding: \"SHA256\".", nullptr},
    {"label", get_label, nullptr, "The OAEP label: empty.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef pss_getset[] = {
    {"mgf", get_mgf, nullptr, "Mask generation function: \"MGF1\".", nullptr},
    {"mgf_hash", get_sha256, nullptr, "Hash of the mask generation function: \"SHA256\".", nullptr},
    {"salt_length", get_salt_length, nullptr, "Salt length in bytes: 32, the SHA-256 digest length.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

int ready_param_type(PyTypeObject& type, const char* name, const char* doc, reprfunc repr, PyGetSetDef* getset) {
    if (type.tp_flags & Py_TPFLAGS_READY) return 0;
    type.tp_name = name;
    type.tp_basicsize = sizeof(ParamObject);
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = doc;
    type.tp_repr = repr;
    type.tp_richcompare = param_richcompare;
    type.tp_hash = param_hash;
    type.tp_getset = getset;
    return PyType_Ready(&type);
}

PyObject* new_param(PyTypeObject& type, const char* name, const char* doc, reprfunc repr, PyGetSetDef* getset) {
    if (ready_param_type(type, name, doc, repr, getset) < 0) return nullptr;
    return reinterpret_cast<PyObject*>(PyObject_New(ParamObject, &type));
}

PyObject* make_oaep() {
    return new_param(OaepType, "tesmar.rsa.core.OAEP",
                     "RSA-OAEP parameters: MGF1 with SHA-256, SHA-256, empty label (immutable).", oaep_repr,
                     oaep_getset);
}

PyObject* pss(PyObject* const*) {
    return new_param(PssType, "tesmar.rsa.core.PSS",
                     "RSA-PSS parameters: MGF1 with SHA-256, 32-byte salt (immutable).", pss_repr, pss_getset);
}

// ---- The hybrid envelope, reached when an operation first needs it.

// tesmar.hybrid.core imports this module when it loads, so this module imports it only here, at
// call time, through the ordinary import machinery (sys.modules, parents, ImportError).
bool import_hybrid_core() {
    PyObject* name = PyUnicode_FromString("tesmar.hybrid.core");
    if (!name) return false;
    PyObject* mod = PyImport_GetModule(name);
    if (!mod && PyErr_Occurred()) {
        Py_DECREF(name);
        return false;
    }
    if (!mod || mod == Py_None) {
        Py_XDECREF(mod);
        mod = PyImport_Import(name);
    }
    Py_DECREF(name);
    Py_XDECREF(mod);
    return mod != nullptr;
}

// ---- Keys

PyObject* new_key_pair(PyObject* const*) {
    std::string private_pem, public_pem;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::generate();
        private_pem = rsa::private_pem_pkcs8(key.get());
        public_pem = rsa::public_pem_spki(key.get());
    });
    PyObject* priv = ok ? to_ascii(private_pem) : nullptr;
    OPENSSL_cleanse(private_pem.data(), private_pem.size());
    PyObject* pub = priv ? to_ascii(public_pem) : nullptr;
    if (!pub) {
        Py_XDECREF(priv);
        return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, priv, pub);
    Py_DECREF(priv);
    Py_DECREF(pub);
    return pair;
}

PyObject* load_key(PyObject* obj, bool is_private) {
    std::string_view pem;
    if (!pem_text(obj, is_private ? rsa::PRIVATE_PEM_PREFIX : rsa::PUBLIC_PEM_PREFIX, pem)) return nullptr;
    ossl::PKey key;
    const bool ok = released([&] {
        key = is_private ? rsa::private_key_from_text(pem) : rsa::public_key_from_text(pem);
    });
    if (!ok) return nullptr;
    return wrap_key(is_private ? PrivateKeyType : PublicKeyType, std::move(key));
}

PyObject* load_public(PyObject* const* args) { return load_key(args[0], false); }
PyObject* load_private(PyObject* const* args) { return load_key(args[0], true); }

// ---- OAEP blocks

PyObject* encrypt_oaep_py(PyObject* const* args) {
    BytesArg data;
    if (!data.load(args[0])) return nullptr;
    std::uint64_t n = 0;
    if (!data.length(args[0], n)) return nullptr;
    // The size test comes before the key text is looked at.
    PyObject* ok = guarded([&]() -> PyObject* {
        rsa::check_oaep_size(n);
        return Py_None;
    });
    if (!ok) return nullptr;
    return rsafam::encrypt_oaep(data, args[1]);
}

PyObject* decrypt_oaep_py(PyObject* const* args) {
    BytesArg blob;
    if (!blob.load(args[0])) return nullptr;
    return rsafam::decrypt_oaep(blob, args[1]);
}

// ---- Signatures

PyObject* sign_view(BytesArg& data, PyObject* private_pem) {
    std::string_view pem;
    if (!pem_text(private_pem, rsa::PRIVATE_PEM_PREFIX, pem)) return nullptr;
    Bytes sig;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::private_key_from_text(pem);
        if (data.ok()) sig = rsa::sign(key.get(), data.view());
    });
    if (!ok) return nullptr;
    if (!data.ok()) {
        data.restore();
        return raise_from_current(ErrorKind::Signature, rsa::SIGN_PREFIX);
    }
    return to_bytes(sig);
}

// Bad key text raises; a signature that does not match answers False; other failures (arguments
// that are not bytes, a key that is not RSA) reach the caller as they are.
PyObject* verify_view(BytesArg& data, BytesArg& signature, PyObject* public_pem) {
    std::string_view pem;
    if (!pem_text(public_pem, rsa::PUBLIC_PEM_PREFIX, pem)) return nullptr;
    bool valid = false;
    const bool ok = released([&] {
        const ossl::PKey key = rsa::public_key_from_text(pem);
        if (data.ok() && signature.ok()) valid = rsa::pss_verify(key.get(), data.view(), signature.view());
    });
    if (!ok) return nullptr;
    if (!signature.ok()) return signature.restore();
    if (!data.ok()) return data.restore();
    return PyBool_FromLong(valid);
}

PyObject* sign_bytes(PyObject* const* args) {
    BytesArg data;
    if (!data.load(args[0])) return nullptr;
    return sign_view(data, args[1]);
}

PyObject* verify_bytes(PyObject* const* args) {
    BytesArg data, signature;
    if (!data.load(args[0])) return nullptr;
    if (!signature.load(args[1])) return nullptr;
    return verify_view(data, signature, args[2]);
}

PyObject* sign_str(PyObject* const* args) {
    Text plaintext;
    if (!plaintext.load(args[0], "plaintext")) return nullptr;
    BytesArg data;
    data.set(plaintext.bytes());
    PyObject* sig = sign_view(data, args[1]);
    if (!sig) return nullptr;
    PyObject* text = base64_text(view_of_bytes(sig));
    Py_DECREF(sig);
    return text;
}

PyObject* verify_str(PyObject* const* args) {
    std::optional<Bytes> sig;
    if (!decode_base64_arg(args[1], sig)) {
        // Not a signature at all: the answer is no, and the key text is never looked at.
        if (!current_is_ordinary()) return nullptr;
        PyErr_Clear();
        Py_RETURN_FALSE;
    }
    Text plaintext;
    if (!plaintext.load(args[0], "plaintext")) return nullptr;
    BytesArg data, signature;
    data.set(plaintext.bytes());
    signature.set(*sig);
    return verify_view(data, signature, args[2]);
}

// ---- Data of any size

PyObject* encrypt_any(BytesArg& data, std::uint64_t n, PyObject* public_pem) {
    if (n <= rsa::MAX_OAEP_PLAINTEXT) return rsafam::encrypt_oaep(data, public_pem);
    if (!import_hybrid_core()) return nullptr;
    return rsafam::hybrid_encrypt(data, public_pem);
}

PyObject* encrypt_bytes(PyObject* const* args) {
    const int truthy = PyObject_IsTrue(args[0]);
    if (truthy < 0) return nullptr;
    if (!truthy) return raise(ErrorKind::InvalidInput, "Data cannot be empty");
    BytesArg data;
    if (!data.load(args[0])) return nullptr;
    std::uint64_t n = 0;
    if (!data.length(args[0], n)) return nullptr;
    return encrypt_any(data, n, args[1]);
}

PyObject* encrypt_bytes_of_text(BytesArg& data, PyObject* public_pem) {
    return encrypt_any(data, data.view().size(), public_pem);
}

PyObject* decrypt_any(ByteView blob, PyObject* private_pem) {
    if (!import_hybrid_core()) return nullptr;
    return rsafam::hybrid_decrypt_auto(blob, private_pem);
}

PyObject* decrypt_bytes(PyObject* const* args) {
    if (!import_hybrid_core()) return nullptr;
    Buffer blob;
    if (!blob.load(args[0])) return nullptr;
    return rsafam::hybrid_decrypt_auto(blob.view(), args[1]);
}

PyObject* encrypt_str(PyObject* const* args) { return rsafam::encrypt_text(args[0], args[1], encrypt_bytes_of_text); }
PyObject* decrypt_str(PyObject* const* args) { return rsafam::decrypt_text(args[0], args[1], decrypt_any); }

const Register objects{
    ObjectSpec{kModule, "_OAEP", make_oaep},
};

const Register functions{
    FunctionSpec{kModule, "new_key_pair", new_key_pair, {}, "tuple[str, str]",
                 "Generate a fresh RSA key pair (4096 bits, public exponent 65537).\n\n"
                 "Returns (private_pem, public_pem): PKCS#8 PRIVATE KEY and SubjectPublicKeyInfo PUBLIC KEY\n"
                 "PEM text, unencrypted. Other threads keep running meanwhile (about a second). A\n"
                 "failure of the key generator raises ValueError."},
    FunctionSpec{kModule, "_load_public", load_public, {{"public_pem", "str"}}, nullptr,
                 "Parse the PEM text of a public key (PUBLIC KEY or RSA PUBLIC KEY).\n\n"
                 "Returns an opaque tesmar.rsa.core.PublicKey. Keys of other types load too; the\n"
                 "operations then refuse them. Any failure, including an argument that is not text,\n"
                 "raises InvalidInputError 'Invalid RSA public key PEM: ...' with the failure as cause."},
    FunctionSpec{kModule, "_load_private", load_private, {{"private_pem", "str"}}, nullptr,
                 "Parse the PEM text of an unencrypted private key (PRIVATE KEY or RSA PRIVATE KEY).\n\n"
                 "Returns an opaque tesmar.rsa.core.PrivateKey. Encrypted keys are refused. Any failure,\n"
                 "including an argument that is not text, raises InvalidInputError\n"
                 "'Invalid RSA private key PEM: ...' with the failure as cause."},
    FunctionSpec{kModule, "_pss", pss, {}, "padding.PSS",
                 "Return the PSS parameters of every signature: MGF1-SHA-256, 32-byte salt.\n\n"
                 "The result is an immutable tesmar.rsa.core.PSS object. Never raises."},
    FunctionSpec{kModule, "_encrypt_oaep", encrypt_oaep_py, {{"data", "bytes"}, {"public_pem", "str"}}, "bytes",
                 "Encrypt at most MAX_OAEP_PLAINTEXT (446) bytes as one RSA-OAEP block.\n\n"
                 "Returns the block (512 bytes for a 4096-bit key). Raises InvalidInputError for longer\n"
                 "data (before the key is read) and for bad key text, EncryptionError\n"
                 "'RSA encryption failed: ...' when the primitive fails or data is not bytes-like."},
    FunctionSpec{kModule, "_decrypt_oaep", decrypt_oaep_py, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Decrypt one RSA-OAEP block; returns the plaintext bytes.\n\n"
                 "Raises InvalidInputError for bad key text, DecryptionError 'RSA decryption failed: ...'\n"
                 "for a wrong key, an altered block, a block of the wrong length, or a blob that is not\n"
                 "bytes-like."},
    FunctionSpec{kModule, "sign_bytes", sign_bytes, {{"data", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Sign bytes with RSA-PSS (SHA-256, MGF1-SHA-256, 32-byte salt).\n\n"
                 "Returns the raw signature (512 bytes for a 4096-bit key); empty data is signed too.\n"
                 "Raises InvalidInputError for bad key text, SignatureError 'RSA signing failed: ...'\n"
                 "when signing fails (also for data that is not bytes-like)."},
    FunctionSpec{kModule, "verify_bytes", verify_bytes,
                 {{"data", "bytes"}, {"signature", "bytes"}, {"public_pem", "str"}}, "bool",
                 "Check an RSA-PSS signature over bytes; returns True if it verifies.\n\n"
                 "Returns False when the signature does not match (other data, wrong length, another\n"
                 "salt length). Raises InvalidInputError for bad key text, TypeError for data or a\n"
                 "signature that is not bytes-like."},
    FunctionSpec{kModule, "sign_str", sign_str, {{"plaintext", "str"}, {"private_pem", "str"}}, "str",
                 "Sign text (as UTF-8) and return the signature as Base64 text.\n\n"
                 "The empty text is signed too. Raises InvalidInputError for bad key text,\n"
                 "SignatureError when signing fails, TypeError for plaintext that is not text."},
    FunctionSpec{kModule, "verify_str", verify_str,
                 {{"plaintext", "str"}, {"signature_b64", "str"}, {"public_pem", "str"}}, "bool",
                 "Check a Base64 signature over text (as UTF-8); returns True if it verifies.\n\n"
                 "Returns False when the signature text is not strict Base64 (the key is then not\n"
                 "read) or does not match. Raises InvalidInputError for bad key text, TypeError for\n"
                 "plaintext that is not text."},
    FunctionSpec{kModule, "encrypt_bytes", encrypt_bytes, {{"data", "bytes"}, {"public_pem", "str"}}, "bytes",
                 "Encrypt data of any size to an RSA public key.\n\n"
                 "Up to 446 bytes give one bare OAEP block (512 bytes); longer data goes into the\n"
                 "hybrid envelope of tesmar.hybrid.core (len(data) + 544 bytes). Raises\n"
                 "InvalidInputError for empty data or bad key text, EncryptionError when the RSA\n"
                 "primitive fails."},
    FunctionSpec{kModule, "decrypt_bytes", decrypt_bytes, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
                 "Decrypt what encrypt_bytes produced (or a legacy hybrid blob); returns the bytes.\n\n"
                 "The layout is recognised by tesmar.hybrid.core.decrypt_auto, whose errors this\n"
                 "raises: InvalidInputError for bad key text, DecryptionError for a wrong key or\n"
                 "tampered or foreign data."},
    FunctionSpec{kModule, "encrypt_str", encrypt_str, {{"plaintext", "str"}, {"public_pem", "str"}}, "str",
                 "Encrypt text (as UTF-8) and return the result of encrypt_bytes as Base64 text.\n\n"
                 "Raises InvalidInputError for the empty text or bad key text, EncryptionError when\n"
                 "the RSA primitive fails."},
    FunctionSpec{kModule, "decrypt_str", decrypt_str, {{"ciphertext_b64", "str"}, {"private_pem", "str"}}, "str",
                 "Decrypt the Base64 text of encrypt_bytes output and return the text.\n\n"
                 "Raises DecryptionError for text that is not strict Base64 and for plaintext that is\n"
                 "not UTF-8, besides the errors of decrypt_bytes."},
};

}  // namespace
}  // namespace tesmar::py
