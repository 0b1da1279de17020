// tesmar.rsa.core: RSA-4096 key pairs as PEM text, OAEP blocks, PSS signatures, and data of any
// size through the hybrid envelope.
#include "engine/rsa.hpp"

#include <algorithm>

#include "engine/hybrid.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {

namespace {

constexpr const char* kModule = "tesmar.rsa.core";

// ---- Key objects returned by the loaders: the parsed key, of whatever type it is.

struct KeyObject {
    PyObject_HEAD
    EVP_PKEY* key;
};

// The four types below are heap types made on first use and kept for the life of the process (the
// module refuses subinterpreters). None can be instantiated or changed from Python.
constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

// Makes `type` from `type_spec` on first use; nullptr with the error set if that fails.
PyTypeObject* ready(PyTypeObject*& type, PyType_Spec& type_spec) {
    if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    return type;
}

// Instances of heap types hold a reference to their type.
void free_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

void key_dealloc(PyObject* self) {
    EVP_PKEY_free(reinterpret_cast<KeyObject*>(self)->key);
    free_instance(self);
}

PyObject* key_type(PyObject* self, void*) {
    return PyUnicode_FromString(rsa::type_name(reinterpret_cast<KeyObject*>(self)->key));
}

PyObject* key_size(PyObject* self, void*) {
    return PyLong_FromLong(EVP_PKEY_get_bits(reinterpret_cast<KeyObject*>(self)->key));
}

constexpr const char* kPublicKeyName = "tesmar.rsa.core.PublicKey";
constexpr const char* kPrivateKeyName = "tesmar.rsa.core.PrivateKey";

PyObject* key_repr(PyObject* self, const char* type_name) {
    EVP_PKEY* key = reinterpret_cast<KeyObject*>(self)->key;
    return PyUnicode_FromFormat("<%s %s key, %d bits>", type_name, rsa::type_name(key), EVP_PKEY_get_bits(key));
}
PyObject* public_repr(PyObject* self) { return key_repr(self, kPublicKeyName); }
PyObject* private_repr(PyObject* self) { return key_repr(self, kPrivateKeyName); }

PyGetSetDef key_getset[] = {
    {"key_type", key_type, nullptr, "The key's algorithm as the library names it (\"RSA\", \"EC\", ...).", nullptr},
    {"key_size", key_size, nullptr, "The key's size in bits (the modulus size for RSA).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot public_key_slots[] = {
    {Py_tp_doc, const_cast<char*>("A parsed public key (from _load_public).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(key_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(public_repr)},
    {Py_tp_getset, key_getset},
    {0, nullptr},
};

PyType_Slot private_key_slots[] = {
    {Py_tp_doc, const_cast<char*>("A parsed private key (from _load_private).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(key_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(private_repr)},
    {Py_tp_getset, key_getset},
    {0, nullptr},
};

PyType_Spec public_key_spec = {kPublicKeyName, sizeof(KeyObject), 0, kFlags, public_key_slots};
PyType_Spec private_key_spec = {kPrivateKeyName, sizeof(KeyObject), 0, kFlags, private_key_slots};

PyObject* wrap_key(bool is_private, ossl::PKey key) {
    static PyTypeObject* public_type = nullptr;
    static PyTypeObject* private_type = nullptr;
    PyTypeObject* type = is_private ? ready(private_type, private_key_spec) : ready(public_type, public_key_spec);
    if (!type) return nullptr;
    auto* obj = PyObject_New(KeyObject, type);
    if (!obj) return nullptr;
    obj->key = key.release();
    return reinterpret_cast<PyObject*>(obj);
}

// ---- _OAEP and _pss(): immutable descriptions of the fixed padding parameters.

struct ParamObject {
    PyObject_HEAD
};

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

PyType_Slot oaep_slots[] = {
    {Py_tp_doc, const_cast<char*>("RSA-OAEP parameters: MGF1 with SHA-256, SHA-256, empty label (immutable).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(free_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(oaep_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(param_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(param_hash)},
    {Py_tp_getset, oaep_getset},
    {0, nullptr},
};

PyType_Slot pss_slots[] = {
    {Py_tp_doc, const_cast<char*>("RSA-PSS parameters: MGF1 with SHA-256, 32-byte salt (immutable).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(free_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(pss_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(param_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(param_hash)},
    {Py_tp_getset, pss_getset},
    {0, nullptr},
};

PyType_Spec oaep_spec = {"tesmar.rsa.core.OAEP", sizeof(ParamObject), 0, kFlags, oaep_slots};
PyType_Spec pss_spec = {"tesmar.rsa.core.PSS", sizeof(ParamObject), 0, kFlags, pss_slots};

PyObject* make_oaep() {
    static PyTypeObject* type = nullptr;
    return ready(type, oaep_spec) ? reinterpret_cast<PyObject*>(PyObject_New(ParamObject, type)) : nullptr;
}

PyObject* pss(PyObject* const*) {
    static PyTypeObject* type = nullptr;
    return ready(type, pss_spec) ? reinterpret_cast<PyObject*>(PyObject_New(ParamObject, type)) : nullptr;
}

// ---- Keys

PyObject* new_key_pair(PyObject* const*) {
    return call(Gil::release(), rsa::new_key_pair, [](rsa::PemPair&& pair) {
        PyObject* priv = to_ascii(pair.private_pem);
        OPENSSL_cleanse(pair.private_pem.data(), pair.private_pem.size());
        PyObject* pub = priv ? to_ascii(pair.public_pem) : nullptr;
        PyObject* tuple = pub ? PyTuple_Pack(2, priv, pub) : nullptr;
        Py_XDECREF(priv);
        Py_XDECREF(pub);
        return tuple;
    });
}

PyObject* load_key(PyObject* obj, bool is_private) {
    PemIn pem;
    if (!pem.load(obj)) return nullptr;
    return call(
        Gil::release(),
        [&] { return is_private ? rsa::private_key_from_text(pem.arg()) : rsa::public_key_from_text(pem.arg()); },
        [&](ossl::PKey&& key) { return wrap_key(is_private, std::move(key)); });
}

PyObject* load_public(PyObject* const* args) { return load_key(args[0], false); }
PyObject* load_private(PyObject* const* args) { return load_key(args[0], true); }

// ---- OAEP blocks

PyObject* encrypt_oaep(PyObject* const* args) {
    BytesIn data;
    PemIn pem;
    if (!data.load_measured(args[0]) || !pem.load(args[1])) return nullptr;
    return call(Gil::public_key(), [&] { return rsa::encrypt_oaep(data.arg(), pem.arg()); });
}

PyObject* decrypt_oaep(PyObject* const* args) {
    BytesIn blob;
    PemIn pem;
    if (!blob.load(args[0]) || !pem.load(args[1])) return nullptr;
    return call(Gil::public_key(), [&] { return rsa::decrypt_oaep(blob.arg(), pem.arg()); });
}

// ---- Signatures

PyObject* sign_bytes(PyObject* const* args) {
    BytesIn data;
    PemIn pem;
    if (!data.load(args[0]) || !pem.load(args[1])) return nullptr;
    return call(Gil::public_key(), [&] { return rsa::sign(data.arg(), pem.arg()); });
}

PyObject* verify_bytes(PyObject* const* args) {
    BytesIn data, signature;
    PemIn pem;
    if (!data.load(args[0]) || !signature.load(args[1]) || !pem.load(args[2])) return nullptr;
    return call(Gil::public_key(), [&] { return rsa::verify(data.arg(), signature.arg(), pem.arg()); });
}

PyObject* sign_str(PyObject* const* args) {
    TextIn plaintext;
    PemIn pem;
    if (!plaintext.load(args[0], "plaintext") || !pem.load(args[1])) return nullptr;
    return call(
        Gil::public_key(), [&] { return rsa::sign(as_bytes(plaintext.arg().get()), pem.arg()); },
        [](const Bytes& sig) { return base64_text(sig); });
}

PyObject* verify_str(PyObject* const* args) {
    TextIn plaintext;
    Base64In signature;
    PemIn pem;
    if (!plaintext.load(args[0], "plaintext") || !signature.load(args[1]) || !pem.load(args[2])) return nullptr;
    return call(Gil::public_key(), [&] { return rsa::verify_text(plaintext.arg(), signature.arg(), pem.arg()); });
}

// ---- Data of any size

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

PyObject* encrypt_bytes(PyObject* const* args) {
    BytesIn data;
    PemIn pem;
    if (!data.load_truth(args[0], true) || !pem.load(args[1])) return nullptr;
    if (hybrid::needs_envelope(data.arg().length()) && !import_hybrid_core()) return nullptr;
    BytesResult out;
    return call(Gil::public_key(), [&]() -> BytesResult& {
        hybrid::encrypt_any(data.arg(), pem.arg(), out);
        return out;
    });
}

PyObject* decrypt_bytes(PyObject* const* args) {
    if (!import_hybrid_core()) return nullptr;
    BytesIn blob;
    PemIn pem;
    if (!blob.load(args[0]) || !pem.load(args[1])) return nullptr;
    BytesResult out;
    return call(Gil::public_key(), [&]() -> BytesResult& {
        hybrid::decrypt_auto(blob.arg(), pem.arg(), out);
        return out;
    });
}

PyObject* encrypt_str(PyObject* const* args) {
    TextIn plaintext;
    PemIn pem;
    if (!plaintext.load(args[0], "plaintext") || !pem.load(args[1])) return nullptr;
    if (hybrid::needs_envelope(plaintext.arg().length()) && !import_hybrid_core()) return nullptr;
    return call(
        Gil::public_key(), [&] { return hybrid::encrypt_any_text(plaintext.arg(), pem.arg()); },
        [](const Bytes& sealed) { return base64_text(sealed); });
}

PyObject* decrypt_str(PyObject* const* args) {
    Base64In ciphertext;
    PemIn pem;
    if (!ciphertext.load(args[0]) || !pem.load(args[1])) return nullptr;
    if (!import_hybrid_core()) return nullptr;
    return call(
        Gil::public_key(), [&] { return hybrid::decrypt_text(ciphertext.arg(), pem.arg()); },
        [](const SecureBytes& plain) { return decrypted_text(plain, ErrorKind::Decryption, NOT_UTF8); });
}

const Register objects{
    ObjectSpec{kModule, "KEY_SIZE", [] { return PyLong_FromLong(rsa::KEY_SIZE); }},
    ObjectSpec{kModule, "PUBLIC_EXPONENT", [] { return PyLong_FromUnsignedLong(rsa::PUBLIC_EXPONENT); }},
    ObjectSpec{kModule, "MAX_OAEP_PLAINTEXT", [] { return PyLong_FromSize_t(rsa::MAX_OAEP_PLAINTEXT); }},
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
    FunctionSpec{kModule, "_encrypt_oaep", encrypt_oaep, {{"data", "bytes"}, {"public_pem", "str"}}, "bytes",
                 "Encrypt at most MAX_OAEP_PLAINTEXT (446) bytes as one RSA-OAEP block.\n\n"
                 "Returns the block (512 bytes for a 4096-bit key). Raises InvalidInputError for longer\n"
                 "data (before the key is read) and for bad key text, EncryptionError\n"
                 "'RSA encryption failed: ...' when the primitive fails or data is not bytes-like."},
    FunctionSpec{kModule, "_decrypt_oaep", decrypt_oaep, {{"blob", "bytes"}, {"private_pem", "str"}}, "bytes",
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
