// tesmar.quantum._oqs: liboqs on plain bytes, mechanism names by strength.
#include <functional>
#include <string>

#include "engine/quantum/operations.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

namespace op = tesmar::quantum::op;

constexpr const char* kModule = "tesmar.quantum._oqs";

// ---- _oqs(): which liboqs was loaded ---------------------------------------------------------

PyStructSequence_Field library_fields[] = {
    {"path", "the file the dynamic loader opened"},
    {"version", "the version liboqs reports"},
    {nullptr, nullptr},
};

PyStructSequence_Desc library_desc = {
    "tesmar.quantum._oqs.liboqs",
    "The liboqs library tesmar loaded: its path and version.",
    library_fields,
    2,
};

PyTypeObject* library_type() {
    static PyTypeObject* type = PyStructSequence_NewType(&library_desc);
    return type;
}

PyObject* describe(const oqs::LibraryInfo& info) {
    PyTypeObject* type = library_type();
    if (!type) return nullptr;
    PyObject* obj = PyStructSequence_New(type);
    if (!obj) return nullptr;
    PyObject* path = PyUnicode_DecodeFSDefaultAndSize(info.path.data(), static_cast<Py_ssize_t>(info.path.size()));
    PyObject* version = PyUnicode_DecodeUTF8(info.version.data(), static_cast<Py_ssize_t>(info.version.size()),
                                             "replace");
    if (!path || !version) {
        Py_XDECREF(path);
        Py_XDECREF(version);
        Py_DECREF(obj);
        return nullptr;
    }
    PyStructSequence_SetItem(obj, 0, path);
    PyStructSequence_SetItem(obj, 1, version);
    return obj;
}

PyObject* library(PyObject* const*) {
    return call(Gil::release(), [] { return std::cref(oqs::library()); },
                [](const oqs::LibraryInfo& info) { return describe(info); });
}

// ---- mechanism names -------------------------------------------------------------------------

PyObject* text(std::string_view s) { return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())); }

PyObject* key_pair(const oqs::KeyPair& k) { return bytes_pair(k.public_key, k.secret_key); }

PyObject* family_name(PyObject* arg, oqs::Family family) {
    IntIn strength;
    if (!strength.load(arg)) return nullptr;
    return call(Gil::hold(), [&] { return op::mechanism(family, strength.arg()); }, text);
}

PyObject* frodo_alg(PyObject* const* args) { return family_name(args[0], oqs::Family::Frodo); }
PyObject* cmce_alg(PyObject* const* args) { return family_name(args[0], oqs::Family::Cmce); }
PyObject* mlkem_alg(PyObject* const* args) { return family_name(args[0], oqs::Family::Mlkem); }

PyObject* sig_algorithm(PyObject* const* args) {
    PyObject* kind = args[0];
    const bool mldsa = PyUnicode_Check(kind) && PyUnicode_CompareWithASCIIString(kind, "mldsa") == 0;
    IntIn strength;
    if (!strength.load(args[1])) return nullptr;
    return call(Gil::release(), [&] { return op::sig_algorithm(mldsa, strength.arg()); },
                [](const std::string& name) { return text(name); });
}

// ---- the six operations ------------------------------------------------------------------------

// A mechanism name as liboqs gets it (a C string), and how the caller wrote it for the message of
// a failure: str() of the argument. (A __str__ that raises raises at once.)
class NameIn : public Held {
public:
    bool load(PyObject* alg) {
        arg_ = TextArg::unusable(this);
        if (!PyUnicode_Check(alg)) {
            PyErr_Format(PyExc_TypeError, "mechanism name must be str, not %.200s", type_name(alg).c_str());
            return kept_with_label(alg);
        }
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(alg, &n);
        if (!utf8) return kept_with_label(alg);
        name_.assign(utf8, static_cast<std::size_t>(n));
        if (name_.find('\0') != std::string::npos) {
            PyErr_SetString(PyExc_ValueError, "embedded null character");
            return kept_with_label(alg);
        }
        label_ = name_;
        arg_ = TextArg(name_, this);
        return true;
    }
    const TextArg& arg() const { return arg_; }
    std::string_view label() const { return label_; }

private:
    bool kept_with_label(PyObject* alg) {
        if (!keep()) return false;
        Ref written(PyObject_Str(alg));
        Py_ssize_t n = 0;
        const char* utf8 = written ? PyUnicode_AsUTF8AndSize(written.get(), &n) : nullptr;
        if (!utf8) return false;
        label_.assign(utf8, static_cast<std::size_t>(n));
        return true;
    }
    std::string name_, label_;
    TextArg arg_;
};

PyObject* kem_generate_keypair(PyObject* const* args) {
    NameIn alg;
    if (!alg.load(args[0])) return nullptr;
    return call(Gil::release(), [&] { return op::kem_keypair(alg.arg(), alg.label()); }, key_pair);
}

PyObject* encapsulate(PyObject* const* args) {
    NameIn alg;
    BytesIn public_key;
    if (!alg.load(args[0]) || !public_key.load(args[1])) return nullptr;
    return call(
        Gil::release(), [&] { return op::encapsulate(alg.arg(), alg.label(), public_key.arg()); },
        [](const oqs::Encapsulation& e) { return bytes_pair(e.ciphertext, e.shared_secret); });
}

PyObject* decapsulate(PyObject* const* args) {
    NameIn alg;
    BytesIn secret_key, ciphertext;
    if (!alg.load(args[0]) || !secret_key.load(args[1]) || !ciphertext.load(args[2])) return nullptr;
    return call(Gil::release(),
                [&] { return op::decapsulate(alg.arg(), alg.label(), secret_key.arg(), ciphertext.arg()); });
}

PyObject* sig_generate_keypair(PyObject* const* args) {
    NameIn alg;
    if (!alg.load(args[0])) return nullptr;
    return call(Gil::release(), [&] { return op::sig_keypair(alg.arg(), alg.label()); }, key_pair);
}

PyObject* sig_sign(PyObject* const* args) {
    NameIn alg;
    BytesIn secret_key, message;
    if (!alg.load(args[0]) || !secret_key.load(args[1]) || !message.load(args[2])) return nullptr;
    return call(Gil::release(),
                [&] { return op::sig_sign(alg.arg(), alg.label(), secret_key.arg(), message.arg()); });
}

PyObject* sig_verify(PyObject* const* args) {
    NameIn alg;
    BytesIn public_key, message, signature;
    if (!alg.load(args[0]) || !public_key.load(args[1]) || !message.load(args[2]) || !signature.load(args[3]))
        return nullptr;
    return call(Gil::release(),
                [&] { return op::sig_verify(alg.arg(), public_key.arg(), message.arg(), signature.arg()); });
}

// ---- tables ----------------------------------------------------------------------------------

PyObject* name_table(oqs::Family family) {
    PyObject* d = PyDict_New();
    for (int s = 0; d && s < oqs::STRENGTHS; ++s) {
        PyObject* k = PyLong_FromLong(s);
        PyObject* v = k ? text(oqs::mechanism(family, s)) : nullptr;
        const int rc = v ? PyDict_SetItem(d, k, v) : -1;
        Py_XDECREF(k);
        Py_XDECREF(v);
        if (rc < 0) Py_CLEAR(d);
    }
    return d;
}

PyObject* slhdsa_table() {
    PyObject* d = PyDict_New();
    for (int s = 0; d && s < oqs::STRENGTHS; ++s) {
        const oqs::SlhCandidates& c = oqs::slhdsa_candidates(s);
        PyObject* k = PyLong_FromLong(s);
        PyObject* v = k ? Py_BuildValue("[s#s#]", c[0].data(), static_cast<Py_ssize_t>(c[0].size()), c[1].data(),
                                        static_cast<Py_ssize_t>(c[1].size()))
                        : nullptr;
        const int rc = v ? PyDict_SetItem(d, k, v) : -1;
        Py_XDECREF(k);
        Py_XDECREF(v);
        if (rc < 0) Py_CLEAR(d);
    }
    return d;
}

const Register tables{
    ObjectSpec{kModule, "_FRODO", [] { return name_table(oqs::Family::Frodo); }},
    ObjectSpec{kModule, "_CMCE", [] { return name_table(oqs::Family::Cmce); }},
    ObjectSpec{kModule, "_MLKEM", [] { return name_table(oqs::Family::Mlkem); }},
    ObjectSpec{kModule, "_MLDSA", [] { return name_table(oqs::Family::Mldsa); }},
    ObjectSpec{kModule, "_SLHDSA", slhdsa_table},
};

const Register functions{
    FunctionSpec{kModule, "_oqs", library, {}, nullptr,
                 "Load liboqs if it is not loaded yet and describe it.\n\n"
                 "Returns a (path, version) named record of the library the dynamic loader opened.\n"
                 "liboqs is looked up as liboqs.so, then as liboqs.so.9, .10 and .8, on the loader's\n"
                 "usual path; a failed attempt is not remembered, so a library installed later is found\n"
                 "by the next call. Raises QuantumOperationError with an installation hint (the\n"
                 "loader's error as cause) when none can be loaded."},
    FunctionSpec{kModule, "frodo_alg", frodo_alg, {{"strength", "int"}}, "str",
                 "Return the FrodoKEM mechanism name for strength 0, 1 or 2.\n\n"
                 "FrodoKEM-640-AES, FrodoKEM-976-AES or FrodoKEM-1344-AES; other strengths raise\n"
                 "KeyError. liboqs is not loaded."},
    FunctionSpec{kModule, "cmce_alg", cmce_alg, {{"strength", "int"}}, "str",
                 "Return the Classic McEliece mechanism name for strength 0, 1 or 2.\n\n"
                 "Classic-McEliece-6688128, -6960119 or -8192128; other strengths raise KeyError.\n"
                 "liboqs is not loaded."},
    FunctionSpec{kModule, "mlkem_alg", mlkem_alg, {{"strength", "int"}}, "str",
                 "Return the ML-KEM mechanism name for strength 0, 1 or 2.\n\n"
                 "ML-KEM-512, ML-KEM-768 or ML-KEM-1024; other strengths raise KeyError. liboqs is not\n"
                 "loaded."},
    FunctionSpec{kModule, "sig_algorithm", sig_algorithm, {{"kind", "str"}, {"strength", "int"}}, "str",
                 "Return the signature mechanism name for a kind and strength.\n\n"
                 "Kind \"mldsa\" gives the ML-DSA name without loading liboqs; any other kind means\n"
                 "SLH-DSA: the first of the strength's two candidate names that the loaded liboqs has\n"
                 "enabled. Raises KeyError for a strength other than 0, 1, 2, QuantumOperationError\n"
                 "when liboqs is missing or enables neither name."},
    FunctionSpec{kModule, "generate_keypair", kem_generate_keypair, {{"alg", "str"}}, "tuple[bytes, bytes]",
                 "Generate a KEM key pair; returns (public key, secret key) in liboqs's raw encoding.\n\n"
                 "Raises QuantumOperationError 'KEM key generation failed (<alg>): ...' for a mechanism\n"
                 "liboqs does not know or has disabled, or when liboqs is missing or fails."},
    FunctionSpec{kModule, "encapsulate", encapsulate, {{"alg", "str"}, {"public_key", "bytes"}},
                 "tuple[bytes, bytes]",
                 "Encapsulate a fresh shared secret to a KEM public key; returns (ciphertext, secret).\n\n"
                 "Raises QuantumOperationError 'KEM encapsulation failed (<alg>): ...' for an unknown\n"
                 "mechanism, a public key of the wrong size or one liboqs refuses, or when liboqs is\n"
                 "missing or fails."},
    FunctionSpec{kModule, "decapsulate", decapsulate,
                 {{"alg", "str"}, {"secret_key", "bytes"}, {"ciphertext", "bytes"}}, "bytes",
                 "Recover the shared secret of a KEM ciphertext with the secret key; returns it.\n\n"
                 "A ciphertext of the right size that was made for another key gives another secret,\n"
                 "not an error. Raises QuantumOperationError 'KEM decapsulation failed (<alg>): ...'\n"
                 "for an unknown mechanism, a key or ciphertext of the wrong size, or when liboqs is\n"
                 "missing or fails."},
    FunctionSpec{kModule, "sig_generate_keypair", sig_generate_keypair, {{"alg", "str"}}, "tuple[bytes, bytes]",
                 "Generate a signature key pair; returns (public key, secret key) in raw encoding.\n\n"
                 "Raises QuantumOperationError 'Signature key generation failed (<alg>): ...' for an\n"
                 "unknown mechanism, or when liboqs is missing or fails."},
    FunctionSpec{kModule, "sig_sign", sig_sign, {{"alg", "str"}, {"secret_key", "bytes"}, {"message", "bytes"}},
                 "bytes",
                 "Sign a message with a raw secret key; returns the raw signature.\n\n"
                 "Raises QuantumOperationError 'Signing failed (<alg>): ...' for an unknown mechanism,\n"
                 "a key of the wrong size, a message that is not bytes-like, or when liboqs is missing\n"
                 "or fails."},
    FunctionSpec{kModule, "sig_verify", sig_verify,
                 {{"alg", "str"}, {"public_key", "bytes"}, {"message", "bytes"}, {"signature", "bytes"}}, "bool",
                 "Check a signature over a message under a raw public key; returns True if it verifies.\n\n"
                 "Every failure gives False (unknown mechanism, wrong sizes, bad signature); only a\n"
                 "missing liboqs raises (QuantumOperationError)."},
};

}  // namespace
}  // namespace tesmar::py
