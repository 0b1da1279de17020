// tesmar.password.core: PBKDF2 password-hash records.
//
// Records are JSON read and written by the interpreter's own json module, and their numbers and
// names go through the interpreter's int() and str(), so a record behaves exactly as it would for
// Python code reading it. Only the derivation and the comparison are native.
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "engine/openssl.hpp"
#include "engine/password.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar.password.core";

// An owned reference, released when it goes out of scope.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(PyObject* p) {
        Py_XDECREF(p_);
        p_ = p;
    }

private:
    PyObject* p_ = nullptr;
};

// A constant of the module, read at call time like the module's own code would read its globals.
PyObject* core_global(const char* name) {
    Ref mod(PyImport_ImportModule(kModule));
    return mod ? PyObject_GetAttrString(mod.get(), name) : nullptr;
}

PyObject* json_function(const char* name) {
    Ref json(PyImport_ImportModule("json"));
    return json ? PyObject_GetAttrString(json.get(), name) : nullptr;
}

// The password as password.encode("utf-8") gives it: a str yields its UTF-8 (UnicodeEncodeError
// for lone surrogates); anything else answers to its own `encode`, or fails as it would in Python.
class PasswordBytes {
public:
    bool load(PyObject* password) {
        if (PyUnicode_CheckExact(password)) {
            if (!text_.load(password, "password")) return false;
            view_ = text_.bytes();
            return true;
        }
        encoded_.reset(PyObject_CallMethod(password, "encode", "s", "utf-8"));
        if (!encoded_ || !buffer_.load(encoded_.get())) return false;
        view_ = buffer_.view();
        return true;
    }
    ByteView view() const { return view_; }

private:
    Text text_;
    Ref encoded_;
    Buffer buffer_;  // declared after encoded_: released before it
    ByteView view_;
};

// Everything one derivation needs, gathered with the GIL held.
struct Request {
    password::Hash hash{};
    PasswordBytes password;
    std::int64_t iterations = 0;
    std::int64_t length = 0;
};

PyObject* raise_unsupported_hash(PyObject* name) {
    Ref written(PyObject_Format(name, nullptr));
    Ref message(written ? PyUnicode_FromFormat("Unsupported hash algorithm: %U", written.get()) : nullptr);
    PyObject* cls = message ? error_class(ErrorKind::Tesmar) : nullptr;
    // The name may hold characters UTF-8 cannot carry (lone surrogates), so the message stays a
    // Python string all the way.
    Ref exc(cls ? PyObject_CallOneArg(cls, message.get()) : nullptr);
    if (exc) PyErr_SetRaisedException(exc.release());
    return nullptr;
}

// A hash name is upper-cased with the host's str.upper (so any letter case is accepted) and must
// be a key of the module's _HASHES table.
bool resolve_hash(PyObject* name, password::Hash& out) {
    Ref upper(PyObject_CallMethod(name, "upper", nullptr));
    if (!upper) return false;
    Ref table(core_global("_HASHES"));
    if (!table) return false;
    const int listed = PySequence_Contains(table.get(), upper.get());
    if (listed < 0) return false;
    std::optional<password::Hash> hash;
    if (listed && PyUnicode_Check(upper.get())) {
        Py_ssize_t n = 0;
        const char* text = PyUnicode_AsUTF8AndSize(upper.get(), &n);
        if (!text) return false;
        hash = password::hash_named({text, static_cast<std::size_t>(n)});
    }
    if (!hash) {
        raise_unsupported_hash(name);
        return false;
    }
    out = *hash;
    return true;
}

// An integer as the primitive takes it (anything with __index__), saturated to 64 bits so that a
// huge value meets the bounds check rather than an overflow of its own.
bool to_count(PyObject* obj, std::int64_t& out) {
    Ref n(PyNumber_Index(obj));
    if (!n) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    out = overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : v;
    return true;
}

bool check_counts(const Request& r) {
    return guarded([&]() -> PyObject* {
               password::check_parameters(r.hash, r.iterations, r.length);
               return Py_None;
           }) != nullptr;
}

// Runs PBKDF2 into `out` (r.length bytes) with the GIL released.
bool run(const Request& r, ByteView salt, MutableBytes out) {
    return released(
        [&] { password::pbkdf2_hmac(r.hash, r.password.view(), salt, static_cast<std::uint32_t>(r.iterations), out); });
}

// The same into a new wiping buffer, for derived keys that never leave this file.
bool run_secret(const Request& r, ByteView salt, SecureBytes& out) {
    return guarded([&]() -> PyObject* {
               out = SecureBytes(static_cast<std::size_t>(r.length));
               NoGil nogil;
               password::pbkdf2_hmac(r.hash, r.password.view(), salt, static_cast<std::uint32_t>(r.iterations),
                                     out.span());
               return Py_None;
           }) != nullptr;
}

PyObject* derive(PyObject* const* args) {
    Request r;
    Buffer salt;
    if (!resolve_hash(args[4], r.hash) || !r.password.load(args[0]) || !salt.load(args[1]) ||
        !to_count(args[2], r.iterations) || !to_count(args[3], r.length) || !check_counts(r))
        return nullptr;
    OutBytes out(static_cast<std::size_t>(r.length));
    if (!out.ok() || !run(r, salt.view(), out.span())) return nullptr;
    return out.release();
}

// The current UTC time to the whole second, as "2026-12-07T11:33:16Z".
PyObject* utc_now_text() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (!gmtime_r(&now, &tm)) return PyErr_SetFromErrno(PyExc_OSError);
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return PyUnicode_FromStringAndSize(buf, n);
}

// One line of canonical JSON: sorted keys, no white space, non-ASCII escaped.
PyObject* canonical_json(PyObject* value) {
    Ref dumps(json_function("dumps"));
    Ref args(dumps ? PyTuple_Pack(1, value) : nullptr);
    Ref kwargs(args ? Py_BuildValue("{s:O,s:(ss)}", "sort_keys", Py_True, "separators", ",", ":") : nullptr);
    return kwargs ? PyObject_Call(dumps.get(), args.get(), kwargs.get()) : nullptr;
}

PyObject* hash_password(PyObject* const* args) {
    PyObject* const password = args[0];
    PyObject* const iterations = args[1];
    const int truth = PyObject_IsTrue(password);
    if (truth < 0) return nullptr;
    if (!truth) return raise(ErrorKind::InvalidInput, "Password cannot be empty");

    Ref salt_length(core_global("SALT_LENGTH"));
    Ref output_length(salt_length ? core_global("OUTPUT_LENGTH") : nullptr);
    Ref hash_name(output_length ? core_global("HASH_ALGORITHM") : nullptr);
    std::int64_t salt_size = 0;
    if (!hash_name || !to_count(salt_length.get(), salt_size)) return nullptr;
    if (salt_size < 0 || salt_size > PY_SSIZE_T_MAX) return raise(ErrorKind::Value, "salt length out of range");

    Bytes salt;
    Request r;
    if (!guarded([&]() -> PyObject* {
            salt.resize(static_cast<std::size_t>(salt_size));
            ossl::os_random(salt);
            return Py_None;
        }))
        return nullptr;
    if (!resolve_hash(hash_name.get(), r.hash) || !r.password.load(password) || !to_count(iterations, r.iterations) ||
        !to_count(output_length.get(), r.length) || !check_counts(r))
        return nullptr;
    SecureBytes derived;
    if (!run_secret(r, salt, derived)) return nullptr;

    Ref algorithm(core_global("ALGORITHM"));
    Ref version(algorithm ? core_global("VERSION") : nullptr);
    Ref created(version ? utc_now_text() : nullptr);
    Ref hash_text(created ? base64_text(derived) : nullptr);
    Ref salt_text(hash_text ? base64_text(salt) : nullptr);
    if (!salt_text) return nullptr;
    // The iteration count goes into the record as the caller gave it.
    Ref parameters(Py_BuildValue("{s:O,s:O,s:O,s:O}", "hashAlgorithm", hash_name.get(), "iterations", iterations,
                                 "outputLength", output_length.get(), "saltLength", salt_length.get()));
    Ref record(parameters ? Py_BuildValue("{s:O,s:O,s:O,s:O,s:O,s:O}", "algorithm", algorithm.get(), "createdUtc",
                                          created.get(), "hash", hash_text.get(), "parameters", parameters.get(),
                                          "salt", salt_text.get(), "version", version.get())
                          : nullptr);
    return record ? canonical_json(record.get()) : nullptr;
}

// json.loads of the text; None when it is not JSON or not a JSON object.
PyObject* parse_record(PyObject* hash_json) {
    if (!PyUnicode_Check(hash_json)) {
        PyErr_Format(PyExc_TypeError, "hash_json must be str, not %.200s", Py_TYPE(hash_json)->tp_name);
        return nullptr;
    }
    Ref loads(json_function("loads"));
    if (!loads) return nullptr;
    Ref value(PyObject_CallOneArg(loads.get(), hash_json));
    if (!value) {
        // Besides syntax errors the decoder gives up on nesting deeper than the recursion limit
        // and on integers beyond the digit limit: such text is as unreadable a record.
        if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_RecursionError)) {
            PyErr_Clear();
            Py_RETURN_NONE;
        }
        return nullptr;
    }
    if (!PyDict_Check(value.get())) Py_RETURN_NONE;
    return value.release();
}

PyObject* parse(PyObject* const* args) { return parse_record(args[0]); }

// Whether the pending exception is a problem of the record's content, which checking operations
// answer with their boolean. OverflowError belongs here: int() of a JSON 1e400 or Infinity
// overflows, and that is as much a bad number as a non-numeric string.
bool pending_is_record_problem(bool tesmar_errors_too) {
    if (PyErr_ExceptionMatches(PyExc_KeyError) || PyErr_ExceptionMatches(PyExc_ValueError) ||
        PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_OverflowError))
        return true;
    if (!tesmar_errors_too) return false;
    PyObject* exc = PyErr_GetRaisedException();
    PyObject* cls = error_class(ErrorKind::Tesmar);
    const bool match = cls && PyErr_GivenExceptionMatches(exc, cls);
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
    return match;
}

// 1 when the password matches the record, 0 when not, -1 with the exception set.
int check_record(PyObject* password, PyObject* record) {
    std::optional<Bytes> salt;
    std::optional<Bytes> stored;
    Ref salt_text(PyMapping_GetItemString(record, "salt"));
    if (!salt_text || !decode_base64_arg(salt_text.get(), salt)) return -1;
    Ref hash_text(PyMapping_GetItemString(record, "hash"));
    if (!hash_text || !decode_base64_arg(hash_text.get(), stored)) return -1;
    Ref parameters(PyMapping_GetItemString(record, "parameters"));
    if (!parameters) return -1;
    Ref iterations_value(PyMapping_GetItemString(parameters.get(), "iterations"));
    Ref iterations(iterations_value ? PyNumber_Long(iterations_value.get()) : nullptr);
    Ref length_value(iterations ? PyMapping_GetItemString(parameters.get(), "outputLength") : nullptr);
    Ref length(length_value ? PyNumber_Long(length_value.get()) : nullptr);
    if (!length) return -1;
    PyObject* named = nullptr;
    const int has_name = PyMapping_GetOptionalItemString(parameters.get(), "hashAlgorithm", &named);
    if (has_name < 0) return -1;
    Ref name_value(has_name ? named : core_global("HASH_ALGORITHM"));
    Ref name(name_value ? PyObject_Str(name_value.get()) : nullptr);
    if (!name) return -1;

    Request r;
    if (!resolve_hash(name.get(), r.hash) || !r.password.load(password) || !to_count(iterations.get(), r.iterations) ||
        !to_count(length.get(), r.length) || !check_counts(r))
        return -1;
    // Digests of different lengths never compare equal: a record whose outputLength disagrees
    // with its own hash is answered without spending (or allocating) a derivation on it.
    if (static_cast<std::uint64_t>(r.length) != stored->size()) return 0;
    SecureBytes derived;
    if (!run_secret(r, *salt, derived)) return -1;
    return ossl::equal_ct(derived, *stored) ? 1 : 0;
}

PyObject* verify_password(PyObject* const* args) {
    const int truth = PyObject_IsTrue(args[0]);
    if (truth < 0) return nullptr;
    if (!truth) Py_RETURN_FALSE;
    Ref record(parse_record(args[1]));
    if (!record) return nullptr;
    if (record.get() == Py_None) Py_RETURN_FALSE;
    const int match = check_record(args[0], record.get());
    if (match < 0) {
        if (!pending_is_record_problem(true)) return nullptr;
        PyErr_Clear();
        Py_RETURN_FALSE;
    }
    return PyBool_FromLong(match);
}

PyObject* needs_rehash(PyObject* const* args) {
    Ref record(parse_record(args[0]));
    if (!record) return nullptr;
    if (record.get() == Py_None) Py_RETURN_TRUE;
    Ref parameters(PyMapping_GetItemString(record.get(), "parameters"));
    Ref value(parameters ? PyMapping_GetItemString(parameters.get(), "iterations") : nullptr);
    Ref count(value ? PyNumber_Long(value.get()) : nullptr);
    Ref threshold(count ? core_global("UPGRADE_THRESHOLD") : nullptr);
    const int below = threshold ? PyObject_RichCompareBool(count.get(), threshold.get(), Py_LT) : -1;
    if (below < 0) {
        if (!pending_is_record_problem(false)) return nullptr;
        PyErr_Clear();
        Py_RETURN_TRUE;
    }
    return PyBool_FromLong(below);
}

const Register functions{
    FunctionSpec{kModule, "_derive", derive,
                 {{"password", "str"}, {"salt", "bytes"}, {"iterations", "int"}, {"length", "int"},
                  {"hash_algorithm", "str"}},
                 "bytes",
                 "Derive `length` bytes with PBKDF2-HMAC from the UTF-8 encoding of the password.\n\n"
                 "Returns the derived bytes. The hash name is taken in any letter case and must be a\n"
                 "key of _HASHES once upper-cased; otherwise TesmarError('Unsupported hash algorithm:\n"
                 "<name as written>'). ValueError for an iteration count outside 1..2**32-1 or a length\n"
                 "outside 1..(2**32-1) * digest size. Runs without holding the GIL."},
    FunctionSpec{kModule, "_parse", parse, {{"hash_json", "str"}}, "dict | None",
                 "Parse a hash record; returns the JSON object as a dict, or None.\n\n"
                 "None stands for text that is not JSON or holds another JSON value. Raises TypeError\n"
                 "for an argument that is not text."},
    FunctionSpec{kModule, "hash_password", hash_password, {{"password", "str"}, {"iterations", "int", "DEFAULT_ITERATIONS"}},
                 "str",
                 "Hash a password into a new record: one line of canonical JSON.\n\n"
                 "The record holds a fresh 32-byte salt and 64 bytes of PBKDF2-HMAC-SHA-512 (both as\n"
                 "Base64), the parameters with the iteration count as given, and the creation time.\n"
                 "Raises InvalidInputError for an empty password (or None), ValueError for an iteration\n"
                 "count outside 1..2**32-1, TypeError for one that is not an integer,\n"
                 "UnicodeEncodeError for a password with lone surrogates."},
    FunctionSpec{kModule, "verify_password", verify_password, {{"password", "str"}, {"hash_json", "str"}}, "bool",
                 "Check a password against a hash record, in constant time; returns True on a match.\n\n"
                 "The record's own salt, iteration count, output length and hash name (SHA-512 when\n"
                 "absent) are used. False for an empty password, a password that is not valid UTF-8\n"
                 "text, and any record that is not JSON, lacks a field, holds bad Base64 or unusable\n"
                 "numbers, or names an unknown hash. Raises only for arguments of the wrong kind:\n"
                 "TypeError for a record that is not text, AttributeError for a password that is not\n"
                 "text."},
    FunctionSpec{kModule, "needs_rehash", needs_rehash, {{"hash_json", "str"}}, "bool",
                 "Whether a record should be replaced by a new hash; returns True if so.\n\n"
                 "True when the record is unreadable or its iteration count is missing, not a number,\n"
                 "or below UPGRADE_THRESHOLD. Raises only TypeError, for a record that is not text."},
};

}  // namespace
}  // namespace tesmar::py
