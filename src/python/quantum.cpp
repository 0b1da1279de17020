// tesmar.quantum.core: the post-quantum schemes, their dispatch and the signatures.
#include <algorithm>

#include "engine/quantum/operations.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

namespace q = tesmar::quantum;

constexpr const char* kModule = "tesmar.quantum.core";
constexpr const char* kTypes = "tesmar.quantum.types";

// ---- results and arguments -------------------------------------------------------------------

PyObject* key_pair(const q::KeyPair& k) { return bytes_pair(k.public_key, k.secret_key); }

// Where a scheme writes its encrypted message. A large one goes straight into its bytes object:
// one buffer of its size rather than two and a copy. (Two such buffers a call are, to the
// allocator, memory it gives back to the system after every call and takes again, page by page,
// the next time: scheme 6 took 2.4 ms on 1 MiB where a single buffer takes 1.1 ms.) A small one is
// copied in after the call, so that the call takes the GIL back once rather than twice.
class MessageOut final : public Sink {
public:
    explicit MessageOut(std::size_t input_size) : direct_(input_size >= kDirectFrom) {}
    MutableBytes reserve(std::size_t n) override { return direct_ ? result_.reserve(n) : owned_.reserve(n); }
    PyObject* release() { return direct_ ? result_.release() : to_bytes(owned_.data); }

private:
    static constexpr std::size_t kDirectFrom = 64 * 1024;
    bool direct_;
    BytesResult result_;
    OwnedSink<Bytes> owned_;
};

// (encapsulated secret, encrypted message)
PyObject* sealed(const Bytes& capsule, MessageOut& message) {
    Ref secret(to_bytes(capsule));
    Ref sealed_message(secret ? message.release() : nullptr);
    return sealed_message ? PyTuple_Pack(2, secret.get(), sealed_message.get()) : nullptr;
}

// Loads every bytes-like argument in order.
template <std::size_t N>
bool load_all(BytesIn (&in)[N], PyObject* const* args) {
    for (std::size_t i = 0; i < N; ++i)
        if (!in[i].load(args[i])) return false;
    return true;
}

// The member of a tesmar.quantum.types enumeration for the host's int() of `arg`; the
// enumeration's own ValueError otherwise. Its integer value goes to `value`.
bool member(const char* enum_name, PyObject* arg, long& value) {
    PyObject* number = PyNumber_Long(arg);
    if (!number) return false;
    PyObject* types = PyImport_ImportModule(kTypes);
    PyObject* cls = types ? PyObject_GetAttrString(types, enum_name) : nullptr;
    PyObject* m = cls ? call_one(cls, number) : nullptr;
    Py_XDECREF(cls);
    Py_XDECREF(types);
    Py_DECREF(number);
    if (!m) return false;
    value = PyLong_AsLong(m);
    Py_DECREF(m);
    return !(value == -1 && PyErr_Occurred());
}

// ---- symmetric helpers: the GIL is released only for inputs big enough to pay for it (call.hpp) 

PyObject* hkdf(PyObject* const* args) {
    BytesIn in[3];
    IntIn length;
    if (!load_all(in, args) || !length.load_ssize(args[3])) return nullptr;
    return call(Gil::hash_or_cbc(in[0].arg().length()),
                [&] { return q::op::hkdf(in[0].arg(), in[1].arg(), in[2].arg(), length.arg()); });
}

PyObject* gcm_seal(PyObject* const* args) {
    BytesIn in[3];
    if (!load_all(in, args)) return nullptr;
    return call(
        Gil::aes_gcm(in[2].arg().length()),
        [&] { return q::gcm_seal(in[0].arg().get(), in[1].arg().get(), in[2].arg().get()); },
        [](const Bytes& out) {
            const ByteView all(out);
            return bytes_pair(all.first(all.size() - 16), all.last(16));
        });
}

PyObject* gcm_open(PyObject* const* args) {
    BytesIn in[4];
    if (!load_all(in, args)) return nullptr;
    return call(Gil::aes_gcm(in[2].arg().length()),
                [&] { return q::op::gcm_open(in[0].arg(), in[1].arg(), in[2].arg(), in[3].arg()); });
}

PyObject* hmac256(PyObject* const* args) {
    BytesIn in[2];
    if (!load_all(in, args)) return nullptr;
    return call(
        Gil::hash_or_cbc(in[1].arg().length()), [&] { return q::hmac256(in[0].arg().get(), in[1].arg().get()); },
        [](const q::Mac& mac) { return to_bytes(mac); });
}

PyObject* cbc_encrypt(PyObject* const* args) {
    BytesIn in[3];
    if (!load_all(in, args)) return nullptr;
    return call(Gil::hash_or_cbc(in[0].arg().length()),
                [&] { return q::cbc_encrypt(in[0].arg().get(), in[1].arg().get(), in[2].arg().get()); });
}

PyObject* cbc_decrypt(PyObject* const* args) {
    BytesIn in[3];
    if (!load_all(in, args)) return nullptr;
    return call(Gil::hash_or_cbc(in[0].arg().length()),
                [&] { return q::cbc_decrypt(in[0].arg().get(), in[1].arg().get(), in[2].arg().get()); });
}

PyObject* gen4_key(PyObject* const* args) {
    BytesIn ss;
    if (!ss.load(args[0])) return nullptr;
    return call(Gil::hold(), [&] { return q::gen4_key(ss.arg().get()); });
}

// ---- the schemes -----------------------------------------------------------------------------

PyObject* gen4_encrypt(PyObject* const* args) {
    BytesIn in[2];
    if (!load_all(in, args)) return nullptr;
    MessageOut message(in[0].arg().length());
    return call(
        Gil::public_key(), [&] { return q::gen4_encrypt(in[0].arg().get(), in[1].arg().get(), message); },
        [&](const Bytes& capsule) { return sealed(capsule, message); });
}

PyObject* gen4_decrypt(PyObject* const* args) {
    BytesIn in[3];
    if (!load_all(in, args)) return nullptr;
    return call(Gil::public_key(),
                [&] { return q::gen4_decrypt(in[0].arg().get(), in[1].arg().get(), in[2].arg().get()); });
}

// Scheme functions of the shape (data, raw_pk, strength) and (enc, raw_sk, capsule, strength).
PyObject* scheme_encrypt(PyObject* const* args, q::op::SchemeEncrypt scheme) {
    BytesIn in[2];
    IntIn strength;
    if (!load_all(in, args) || !strength.load(args[2])) return nullptr;
    MessageOut message(in[0].arg().length());
    return call(
        Gil::public_key(),
        [&] { return q::op::encrypt_with(scheme, in[0].arg(), in[1].arg(), strength.arg(), message); },
        [&](const Bytes& capsule) { return sealed(capsule, message); });
}

PyObject* scheme_decrypt(PyObject* const* args, q::op::SchemeDecrypt scheme) {
    BytesIn in[3];
    IntIn strength;
    if (!load_all(in, args) || !strength.load(args[3])) return nullptr;
    return call(Gil::public_key(), [&] {
        return q::op::decrypt_with(scheme, in[0].arg(), in[1].arg(), in[2].arg(), strength.arg());
    });
}

PyObject* gen6_encrypt(PyObject* const* args) { return scheme_encrypt(args, q::gen6_encrypt); }
PyObject* gen6_decrypt(PyObject* const* args) { return scheme_decrypt(args, q::gen6_decrypt); }
PyObject* gen2_encrypt(PyObject* const* args) { return scheme_encrypt(args, q::gen2_encrypt); }
PyObject* gen2_decrypt(PyObject* const* args) { return scheme_decrypt(args, q::gen2_decrypt); }
PyObject* gen5_encrypt(PyObject* const* args) { return scheme_encrypt(args, q::gen5_encrypt); }
PyObject* gen5_decrypt(PyObject* const* args) { return scheme_decrypt(args, q::gen5_decrypt); }
PyObject* gen7_encrypt(PyObject* const* args) { return scheme_encrypt(args, q::gen7_encrypt); }
PyObject* gen7_decrypt(PyObject* const* args) { return scheme_decrypt(args, q::gen7_decrypt); }
PyObject* gen8_encrypt(PyObject* const* args) { return scheme_encrypt(args, q::gen8_encrypt); }
PyObject* gen8_decrypt(PyObject* const* args) { return scheme_decrypt(args, q::gen8_decrypt); }

PyObject* generated(q::KeyPair (*generate)(std::int64_t), PyObject* arg) {
    IntIn strength;
    if (!strength.load(arg)) return nullptr;
    return call(Gil::release(), [&] { return q::op::generate_with(generate, strength.arg()); }, key_pair);
}

PyObject* gen7_generate(PyObject* const* args) { return generated(q::gen7_generate, args[0]); }
PyObject* gen8_generate(PyObject* const* args) { return generated(q::gen8_generate, args[0]); }

// ---- scheme 7 and 8 helpers ------------------------------------------------------------------

PyObject* xor_mix(PyObject* const* args) {
    BytesIn in[2];
    if (!load_all(in, args)) return nullptr;
    return call(Gil::hold(), [&] { return q::xor_mix(in[0].arg().get(), in[1].arg().get()); });
}

PyObject* der_len(PyObject* const* args) {
    Ref n(PyNumber_Index(args[0]));
    if (!n) return nullptr;
    Ref zero(PyLong_FromLong(0));
    const int negative = zero ? PyObject_RichCompareBool(n.get(), zero.get(), Py_LT) : -1;
    if (negative != 0) return negative < 0 ? nullptr : raise(ErrorKind::Value, "a DER length cannot be negative");
    // The big-endian bytes of n, however large it is (at least one byte): int.to_bytes, since the
    // stable ABI of 3.13 has no native-bytes export of an int.
    Ref bits(PyObject_CallMethod(n.get(), "bit_length", nullptr));
    const Py_ssize_t nbits = bits ? PyLong_AsSsize_t(bits.get()) : -1;
    if (nbits < 0) return nullptr;
    Ref big(PyObject_CallMethod(n.get(), "to_bytes", "ns", std::max<Py_ssize_t>(1, (nbits + 7) / 8), "big"));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!big || PyBytes_AsStringAndSize(big.get(), &data, &size) < 0) return nullptr;
    const ByteView magnitude(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
    return call(Gil::hold(), [&] { return q::der_len(magnitude); });
}

PyObject* pkcs1_to_spki(PyObject* const* args) {
    BytesIn pkcs1;
    if (!pkcs1.load(args[0])) return nullptr;
    return call(Gil::hold(), [&] { return q::pkcs1_to_spki(pkcs1.arg().get()); });
}

// Works on any X25519 private key object that gives its raw 32 bytes through private_bytes_raw()
// (the shape of the usual Python key classes).
PyObject* x25519_raw(PyObject* const* args) {
    Ref raw(PyObject_CallMethod(args[0], "private_bytes_raw", nullptr));
    BytesIn priv;
    if (!raw || !priv.load(raw.get())) return nullptr;
    return call(
        Gil::public_key(), [&] { return q::x25519_public(q::x25519_load_private(priv.arg().get()).get()); },
        [&](const std::array<std::uint8_t, q::X25519_SIZE>& pub) { return bytes_pair(pub, priv.arg().get()); });
}

// ---- generation and dispatch -----------------------------------------------------------------

PyObject* generate_keypair(PyObject* const* args) {
    long generation = 0, strength = 0;
    if (!member("QuantumGeneration", args[0], generation) || !member("QuantumStrength", args[1], strength))
        return nullptr;
    return call(
        Gil::release(), [&] { return q::generate_keypair(static_cast<int>(generation), strength); }, key_pair);
}

PyObject* encrypt(PyObject* const* args) {
    TextIn message;
    BytesIn public_key;
    if (!message.load(args[0], "message") || !public_key.load(args[1])) return nullptr;
    MessageOut out(message.arg().length());
    return call(
        Gil::public_key(), [&] { return q::op::encrypt(message.arg(), public_key.arg(), out); },
        [&](const Bytes& capsule) { return sealed(capsule, out); });
}

PyObject* decrypt(PyObject* const* args) {
    // An absent secret (None) is an empty one: refused with the message for a missing secret.
    static PyObject* const no_secret = PyBytes_FromStringAndSize(nullptr, 0);  // immortal
    BytesIn in[3];
    if (!in[0].load(args[0]) || !in[1].load(args[1]) || !in[2].load(args[2] == Py_None ? no_secret : args[2]))
        return nullptr;
    return call(
        Gil::public_key(), [&] { return q::decrypt(in[0].arg().get(), in[1].arg().get(), in[2].arg().get()); },
        [](const SecureBytes& plain) {
            return decrypted_text(plain, ErrorKind::Decryption, "Decrypted quantum data is not valid UTF-8");
        });
}

// ---- signatures ------------------------------------------------------------------------------

PyObject* generate_signature_keypair(PyObject* const* args) {
    long algorithm = 0, strength = 0;
    if (!member("SignatureAlgorithm", args[0], algorithm) || !member("QuantumStrength", args[1], strength))
        return nullptr;
    return call(
        Gil::release(), [&] { return q::generate_signature_keypair(static_cast<int>(algorithm), strength); },
        key_pair);
}

PyObject* sign(PyObject* const* args) {
    BytesIn data, private_key;
    if (!data.load(args[0]) || !private_key.load(args[1])) return nullptr;
    return call(Gil::public_key(), [&] { return q::op::sign(data.arg(), private_key.arg()); });
}

PyObject* verify(PyObject* const* args) {
    BytesIn data, signature, public_key;
    if (!data.load(args[0]) || !signature.load(args[1]) || !public_key.load(args[2])) return nullptr;
    return call(Gil::public_key(), [&] { return q::op::verify(data.arg(), signature.arg(), public_key.arg()); });
}

PyObject* sig_kind(PyObject* const* args) {
    PyObject* types = PyImport_ImportModule(kTypes);
    PyObject* cls = types ? PyObject_GetAttrString(types, "SignatureAlgorithm") : nullptr;
    PyObject* ml_dsa = cls ? PyObject_GetAttrString(cls, "ML_DSA") : nullptr;
    Py_XDECREF(cls);
    Py_XDECREF(types);
    if (!ml_dsa) return nullptr;
    const int is_ml_dsa = PyObject_RichCompareBool(args[0], ml_dsa, Py_EQ);
    Py_DECREF(ml_dsa);
    if (is_ml_dsa < 0) return nullptr;
    return PyUnicode_FromString(is_ml_dsa ? "mldsa" : "slhdsa");
}

PyObject* sig_strip(PyObject* const* args) {
    BytesIn headered;
    TextIn label;
    if (!headered.load(args[0]) || !label.load(args[1], "label")) return nullptr;
    return call(Gil::hold(), [&] { return q::op::sig_strip(headered.arg(), label.arg()); },
                [](const q::SigKey& key) {
                    PyObject* raw = to_bytes(key.raw);
                    return raw ? Py_BuildValue("(iiN)", key.scheme, key.strength, raw) : nullptr;
                });
}

// ---- module constants ------------------------------------------------------------------------

PyObject* info(const char* label) { return PyBytes_FromString(label); }

const Register constants{
    ObjectSpec{kModule, "_GEN8_INFO", [] { return info(q::GEN8_INFO); }},
    ObjectSpec{kModule, "_GEN6_INFO", [] { return info(q::GEN6_INFO); }},
    ObjectSpec{kModule, "_GEN5_INFO", [] { return info(q::GEN5_INFO); }},
    ObjectSpec{kModule, "_GEN7_INFO", [] { return info(q::GEN7_INFO); }},
    ObjectSpec{kModule, "_RSA_ALG_ID", [] { return to_bytes(q::RSA_ALG_ID); }},
};

constexpr const char* kPair = "tuple[bytes, bytes]";

const Register functions{
    FunctionSpec{kModule, "_hkdf", hkdf, {{"ikm", "bytes"}, {"salt", "bytes"}, {"info", "bytes"}, {"length", "int"}},
                 "bytes",
                 "Derive `length` bytes with HKDF-SHA-256 (RFC 5869) from ikm, salt and info.\n\n"
                 "An empty salt counts as no salt. Raises ValueError for a negative length or one over\n"
                 "8160."},
    FunctionSpec{kModule, "_gcm_seal", gcm_seal, {{"key", "bytes"}, {"nonce", "bytes"}, {"data", "bytes"}}, kPair,
                 "AES-GCM encryption without associated data; returns (ciphertext, 16-byte tag).\n\n"
                 "Raises ValueError for a key that is not 16, 24 or 32 bytes or a nonce outside 8..128\n"
                 "bytes."},
    FunctionSpec{kModule, "_gcm_open", gcm_open,
                 {{"key", "bytes"}, {"nonce", "bytes"}, {"ciphertext", "bytes"}, {"tag", "bytes"}}, "bytes",
                 "AES-GCM decryption without associated data; returns the plaintext bytes.\n\n"
                 "Any failure (authentication, unusable key or nonce) raises DecryptionError with one\n"
                 "message and the reason as cause."},
    FunctionSpec{kModule, "_hmac256", hmac256, {{"key", "bytes"}, {"data", "bytes"}}, "bytes",
                 "HMAC-SHA-256 of data under key; returns the 32-byte MAC.\n\n"
                 "Keys of any length are accepted; only arguments that are not bytes-like raise\n"
                 "(TypeError)."},
    FunctionSpec{kModule, "_cbc_encrypt", cbc_encrypt, {{"data", "bytes"}, {"key", "bytes"}, {"iv", "bytes"}},
                 "bytes",
                 "AES-CBC encryption of data padded with PKCS#7; returns whole 16-byte blocks.\n\n"
                 "Raises ValueError for a key that is not 16, 24 or 32 bytes or an IV that is not 16."},
    FunctionSpec{kModule, "_cbc_decrypt", cbc_decrypt, {{"ciphertext", "bytes"}, {"key", "bytes"}, {"iv", "bytes"}},
                 "bytes",
                 "AES-CBC decryption and PKCS#7 unpadding; returns the plaintext bytes.\n\n"
                 "Raises DecryptionError 'Quantum AES-CBC unpadding failed' for a bad padding;\n"
                 "unusable keys, IVs or lengths raise ValueError."},
    FunctionSpec{kModule, "_gen4_key", gen4_key, {{"ss", "bytes"}}, "bytes",
                 "Scheme 4's AES key: HMAC-SHA-256 of the single byte 0x01 under the shared secret.\n\n"
                 "Returns 32 bytes; only an argument that is not bytes-like raises (TypeError)."},
    FunctionSpec{kModule, "_gen4_encrypt", gen4_encrypt, {{"data", "bytes"}, {"raw_pk", "bytes"}}, kPair,
                 "Scheme 4 encryption (FrodoKEM-1344-AES, AES-256-GCM) to a raw public key.\n\n"
                 "Returns (capsule, nonce || ciphertext || tag). Raises QuantumOperationError when\n"
                 "encapsulation fails (a key of the wrong size, a missing liboqs)."},
    FunctionSpec{kModule, "_gen4_decrypt", gen4_decrypt, {{"enc", "bytes"}, {"raw_sk", "bytes"}, {"capsule", "bytes"}},
                 "bytes",
                 "Open a scheme 4 message with the raw FrodoKEM-1344-AES secret key.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen4 encrypted\n"
                 "message' for a message under 28 bytes, QuantumOperationError when decapsulation\n"
                 "fails, DecryptionError when the tag does not authenticate."},
    FunctionSpec{kModule, "_gen6_encrypt", gen6_encrypt, {{"data", "bytes"}, {"raw_pk", "bytes"}, {"strength", "int"}},
                 kPair,
                 "Scheme 6 encryption (FrodoKEM at the strength, salted HKDF, AES-256-GCM).\n\n"
                 "Returns (capsule, salt || nonce || ciphertext || tag). Raises KeyError for a strength\n"
                 "other than 0, 1, 2 and QuantumOperationError when encapsulation fails."},
    FunctionSpec{kModule, "_gen6_decrypt", gen6_decrypt,
                 {{"enc", "bytes"}, {"raw_sk", "bytes"}, {"capsule", "bytes"}, {"strength", "int"}}, "bytes",
                 "Open a scheme 6 message with the raw FrodoKEM secret key of the strength.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen6 encrypted\n"
                 "message' for a message under 44 bytes, KeyError for an unknown strength,\n"
                 "QuantumOperationError when decapsulation fails, DecryptionError when the tag does not\n"
                 "authenticate."},
    FunctionSpec{kModule, "_gen2_encrypt", gen2_encrypt, {{"data", "bytes"}, {"raw_pk", "bytes"}, {"strength", "int"}},
                 kPair,
                 "Scheme 2 encryption (Classic McEliece, AES-256-CBC, HMAC keyed with the shared secret).\n\n"
                 "Returns (capsule, IV || ciphertext || HMAC). Raises KeyError for a strength other\n"
                 "than 0, 1, 2 and QuantumOperationError when encapsulation fails."},
    FunctionSpec{kModule, "_gen2_decrypt", gen2_decrypt,
                 {{"enc", "bytes"}, {"raw_sk", "bytes"}, {"capsule", "bytes"}, {"strength", "int"}}, "bytes",
                 "Open a scheme 2 message; the MAC is checked before anything is decrypted.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen2 encrypted\n"
                 "message' for a message under 48 bytes, KeyError for an unknown strength,\n"
                 "QuantumOperationError when decapsulation fails, DecryptionError 'Gen2 HMAC\n"
                 "verification failed' or for a bad padding."},
    FunctionSpec{kModule, "_gen5_encrypt", gen5_encrypt, {{"data", "bytes"}, {"raw_pk", "bytes"}, {"strength", "int"}},
                 kPair,
                 "Scheme 5 encryption (Classic McEliece, salted HKDF, AES-256-CBC, HMAC).\n\n"
                 "The HMAC covers salt, IV and ciphertext. Returns (capsule, salt || IV || ciphertext\n"
                 "|| HMAC). Raises KeyError for a strength other than 0, 1, 2 and QuantumOperationError\n"
                 "when encapsulation fails."},
    FunctionSpec{kModule, "_gen5_decrypt", gen5_decrypt,
                 {{"enc", "bytes"}, {"raw_sk", "bytes"}, {"capsule", "bytes"}, {"strength", "int"}}, "bytes",
                 "Open a scheme 5 message; the MAC is checked before anything is decrypted.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen5 encrypted\n"
                 "message' for a message under 80 bytes, KeyError for an unknown strength,\n"
                 "QuantumOperationError when decapsulation fails, DecryptionError 'Gen5 HMAC\n"
                 "verification failed' or for a bad padding."},
    FunctionSpec{kModule, "_xor_mix", xor_mix, {{"session_key", "bytes"}, {"frodo_ss", "bytes"}}, "bytes",
                 "Mix scheme 7's two secrets; returns 32 bytes session_key[i] XOR frodo_ss[i % len(frodo_ss)].\n\n"
                 "Raises ValueError for a session key under 32 bytes or an empty FrodoKEM secret."},
    FunctionSpec{kModule, "_der_len", der_len, {{"n", "int"}}, "bytes",
                 "Return the DER length field for n: one byte below 128, else 0x80 | count, then n.\n\n"
                 "n is written big-endian in as few bytes as it needs. Raises ValueError for a negative\n"
                 "n, OverflowError for one that needs more than 127 bytes."},
    FunctionSpec{kModule, "_pkcs1_to_spki", pkcs1_to_spki, {{"pkcs1", "bytes"}}, "bytes",
                 "Wrap a DER RSAPublicKey into a SubjectPublicKeyInfo (rsaEncryption, NULL parameters).\n\n"
                 "Returns the DER bytes. The input is not parsed: any bytes are wrapped, so only an\n"
                 "argument that is not bytes-like raises (TypeError)."},
    FunctionSpec{kModule, "_gen7_generate", gen7_generate, {{"strength", "QuantumStrength"}}, kPair,
                 "Generate a scheme 7 key pair (RSA-4096 and FrodoKEM); returns (public, private).\n\n"
                 "Each key is the header 07, strength, then the RSA key (PKCS#1 DER, 32-bit\n"
                 "little-endian length first) followed by the FrodoKEM key of the strength. Raises\n"
                 "KeyError for a strength other than 0, 1, 2 and QuantumOperationError when liboqs is\n"
                 "missing or fails."},
    FunctionSpec{kModule, "_gen7_encrypt", gen7_encrypt, {{"data", "bytes"}, {"raw", "bytes"}, {"strength", "int"}},
                 kPair,
                 "Scheme 7 encryption (RSA-OAEP session key XOR FrodoKEM secret, HKDF, AES-256-GCM).\n\n"
                 "Returns (u32le length || OAEP block || FrodoKEM capsule, salt || nonce || ciphertext ||\n"
                 "tag). Raises InvalidInputError 'Invalid Gen7 public key ...' or 'Invalid Gen7 RSA\n"
                 "public key: ...' for a malformed raw key, KeyError for an unknown strength and\n"
                 "QuantumOperationError when encapsulation fails."},
    FunctionSpec{kModule, "_gen7_decrypt", gen7_decrypt,
                 {{"enc", "bytes"}, {"raw", "bytes"}, {"secret", "bytes"}, {"strength", "int"}}, "bytes",
                 "Open a scheme 7 message with the raw scheme 7 private key.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen7 ...' for a\n"
                 "malformed private key, secret or message, DecryptionError 'Gen7 RSA decryption\n"
                 "failed' when the session key does not unwrap and 'Quantum AES-GCM decryption failed\n"
                 "(...)' when the tag does not authenticate, QuantumOperationError when decapsulation\n"
                 "fails, KeyError for an unknown strength."},
    FunctionSpec{kModule, "_x25519_raw", x25519_raw, {{"priv", "X25519PrivateKey"}}, kPair,
                 "Return (raw public key, raw private key), 32 bytes each, of an X25519 private key.\n\n"
                 "Any object whose private_bytes_raw() gives the raw private key will do; others raise\n"
                 "AttributeError, and a raw key that is not 32 bytes ValueError."},
    FunctionSpec{kModule, "_gen8_generate", gen8_generate, {{"strength", "QuantumStrength"}}, kPair,
                 "Generate a scheme 8 key pair (X25519 and ML-KEM); returns (public, private).\n\n"
                 "Each key is the header 08, strength, then the raw X25519 key (32 bytes) followed by\n"
                 "the ML-KEM key of the strength. Raises KeyError for a strength other than 0, 1, 2\n"
                 "and QuantumOperationError when liboqs is missing or fails."},
    FunctionSpec{kModule, "_gen8_encrypt", gen8_encrypt, {{"data", "bytes"}, {"raw", "bytes"}, {"strength", "int"}},
                 kPair,
                 "Scheme 8 encryption (ephemeral X25519 and ML-KEM, HKDF, AES-256-GCM).\n\n"
                 "Returns (u32le length || ML-KEM ciphertext || ephemeral public key, salt || nonce ||\n"
                 "ciphertext || tag). Raises InvalidInputError 'Invalid Gen8 public key' for a raw key\n"
                 "under 32 bytes, KeyError for an unknown strength and QuantumOperationError when\n"
                 "encapsulation fails."},
    FunctionSpec{kModule, "_gen8_decrypt", gen8_decrypt,
                 {{"enc", "bytes"}, {"raw", "bytes"}, {"secret", "bytes"}, {"strength", "int"}}, "bytes",
                 "Open a scheme 8 message with the raw scheme 8 private key.\n\n"
                 "Returns the plaintext bytes. Raises InvalidInputError 'Invalid Gen8 ...' for a\n"
                 "malformed private key, secret or message, KeyError for an unknown strength,\n"
                 "QuantumOperationError when decapsulation fails and DecryptionError when the tag does\n"
                 "not authenticate."},
    FunctionSpec{kModule, "generate_keypair", generate_keypair,
                 {{"generation", "QuantumGeneration | int", "QuantumGeneration.GEN8"},
                  {"strength", "QuantumStrength | int", "QuantumStrength.HIGHEST"}},
                 kPair,
                 "Generate a post-quantum encryption key pair; returns (public key, private key).\n\n"
                 "Both keys start with the scheme byte and the strength byte. GEN1 and GEN2 give scheme 2\n"
                 "(Classic McEliece, CBC+HMAC), GEN3 and GEN6 scheme 6 (FrodoKEM, GCM), GEN4 scheme 4\n"
                 "(FrodoKEM-1344, always strength 2), GEN5 scheme 5, GEN7 scheme 7 (RSA-4096 +\n"
                 "FrodoKEM) and GEN8 scheme 8 (X25519 + ML-KEM). Raises ValueError for an unknown\n"
                 "generation or strength, QuantumOperationError when liboqs is missing or fails."},
    FunctionSpec{kModule, "encrypt", encrypt, {{"message", "str"}, {"public_key", "bytes"}}, kPair,
                 "Encrypt text to a post-quantum public key.\n\n"
                 "Returns (encapsulated secret, encrypted message); both are needed to decrypt. The\n"
                 "scheme is read from the key's first byte; the empty text is allowed. Raises\n"
                 "InvalidInputError for a key under 3 bytes, a raw key of zero bytes only or a\n"
                 "malformed scheme 7 or 8 key, QuantumOperationError for a scheme byte without\n"
                 "encryption or when liboqs is missing or refuses the key, KeyError for a strength\n"
                 "byte no mechanism has."},
    FunctionSpec{kModule, "decrypt", decrypt,
                 {{"encrypted_message", "bytes"}, {"private_key", "bytes"}, {"secret", "bytes"}}, "str",
                 "Decrypt a message made by encrypt with the private key and the encapsulated secret.\n\n"
                 "Returns the text. Raises DecryptionError for wrong keys, tampered data and plaintext\n"
                 "that is not UTF-8; InvalidInputError for a private key under 3 bytes, an empty secret\n"
                 "or a message too short for its scheme; QuantumOperationError for a scheme byte\n"
                 "without decryption or when liboqs is missing or refuses the key or secret; KeyError\n"
                 "for a strength byte no mechanism has."},
    FunctionSpec{kModule, "generate_signature_keypair", generate_signature_keypair,
                 {{"algorithm", "SignatureAlgorithm | int", "SignatureAlgorithm.ML_DSA"},
                  {"strength", "QuantumStrength | int", "QuantumStrength.HIGHEST"}},
                 kPair,
                 "Generate a signature key pair; returns (public key, private key).\n\n"
                 "Each key is the header algorithm, strength, then the raw key: ML-DSA-44/65/87 or\n"
                 "SLH-DSA SHA2-128f/192f/256f by strength. Raises ValueError for an unknown algorithm\n"
                 "or strength, QuantumOperationError when liboqs is missing or fails."},
    FunctionSpec{kModule, "sign", sign, {{"data", "bytes"}, {"private_key", "bytes"}}, "bytes",
                 "Sign bytes with a signature private key; returns the raw signature.\n\n"
                 "The mechanism comes from the key's header. Raises InvalidInputError for a key without\n"
                 "a header or with an unknown algorithm byte, KeyError for a strength byte no mechanism\n"
                 "has, QuantumOperationError 'Signing failed (...)' when liboqs is missing or fails\n"
                 "(also for data that is not bytes-like)."},
    FunctionSpec{kModule, "verify", verify, {{"data", "bytes"}, {"signature", "bytes"}, {"public_key", "bytes"}},
                 "bool",
                 "Check a post-quantum signature over data; returns True if it verifies.\n\n"
                 "Malformed keys and signatures give False; a strength byte no mechanism has raises\n"
                 "KeyError and a missing backend QuantumOperationError."},
    FunctionSpec{kModule, "_sig_kind", sig_kind, {{"alg", "SignatureAlgorithm"}}, "str",
                 "Return the adapter's kind for a signature algorithm: \"mldsa\" or \"slhdsa\".\n\n"
                 "\"mldsa\" for SignatureAlgorithm.ML_DSA, \"slhdsa\" for anything else. Never raises."},
    FunctionSpec{kModule, "_sig_strip", sig_strip, {{"headered", "bytes"}, {"label", "str"}},
                 "tuple[int, int, bytes]",
                 "Split a signature key into (scheme id, strength, raw key).\n\n"
                 "Keys of two bytes or fewer raise InvalidInputError \"Invalid <label> key: missing header\"."},
};

}  // namespace
}  // namespace tesmar::py
