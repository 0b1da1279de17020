// tesmar.password.core: PBKDF2 password-hash records.
//
// Records are JSON read and written as the interpreter's own json module reads and writes them,
// and their numbers and names go through the interpreter's int() and str(), so a record behaves
// exactly as it would for Python code reading it. The json module itself is called only for what
// the short native forms below do not cover: its calls cost more than a short derivation, and all
// of that time the GIL is held, which is what a second thread hashing passwords waits on.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <time.h>  // clock_gettime

#include "engine/base64.hpp"
#include "engine/password.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar.password.core";

PyObject* json_function(const char* name) {
    Ref json(PyImport_ImportModule("json"));
    return json ? PyObject_GetAttrString(json.get(), name) : nullptr;
}

// The password as password.encode("utf-8") gives it: a str yields its UTF-8 (UnicodeEncodeError
// for lone surrogates); anything else answers to its own `encode`, or fails as it would in Python.
class PasswordIn : public Held {
public:
    bool load(PyObject* password) {
        if (PyUnicode_CheckExact(password)) {
            if (!text_.load(password, "password")) return keep_failure();
            arg_ = BytesArg(text_.bytes(), this);
            return true;
        }
        encoded_.reset(PyObject_CallMethod(password, "encode", "s", "utf-8"));
        if (!encoded_ || !buffer_.load(encoded_.get())) return keep_failure();
        arg_ = BytesArg(buffer_.view(), this);
        return true;
    }
    // The truth test first, raising at once if it fails: an empty password is refused before
    // anything else is looked at.
    bool load_truth(PyObject* password) {
        const int truth = PyObject_IsTrue(password);
        if (truth < 0 || !load(password)) return false;
        arg_.set_falsy(!truth);
        return true;
    }
    const BytesArg& arg() const { return arg_; }
    // The kept failure as the current exception again (for callers that judge it at once).
    void restore() const { PyErr_SetRaisedException(take_error()); }

private:
    bool keep_failure() {
        arg_ = BytesArg::unusable(this);
        return keep();
    }
    Text text_;
    Ref encoded_;
    Buffer buffer_;  // declared after encoded_: released before it
    BytesArg arg_;
};

PyObject* raise_unsupported_hash(PyObject* name) {
    Ref written(PyObject_Format(name, nullptr));
    Ref message(written ? PyUnicode_FromFormat("Unsupported hash algorithm: %U", written.get()) : nullptr);
    PyObject* cls = message ? error_class(ErrorKind::Tesmar) : nullptr;
    // The name may hold characters UTF-8 cannot carry (lone surrogates), so the message stays a
    // Python string all the way.
    Ref exc(cls ? call_one(cls, message.get()) : nullptr);
    if (exc) PyErr_SetRaisedException(exc.release());
    return nullptr;
}

// A hash name is upper-cased with the host's str.upper (so any letter case is accepted) and must
// then name one of the engine's hashes.
bool resolve_hash(PyObject* name, password::Hash& out) {
    Ref upper(PyObject_CallMethod(name, "upper", nullptr));
    if (!upper) return false;
    std::optional<password::Hash> hash;
    if (PyUnicode_Check(upper.get())) {
        Py_ssize_t n = 0;
        const char* text = PyUnicode_AsUTF8AndSize(upper.get(), &n);
        if (!text) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
            PyErr_Clear();  // lone surrogates: no hash has such a name
        } else {
            hash = password::hash_named({text, static_cast<std::size_t>(n)});
        }
    }
    if (!hash) {
        raise_unsupported_hash(name);
        return false;
    }
    out = *hash;
    return true;
}

PyObject* derive(PyObject* const* args) {
    password::Hash hash{};
    if (!resolve_hash(args[4], hash)) return nullptr;
    PasswordIn password;
    BytesIn salt;
    IntIn iterations, length;
    if (!password.load(args[0]) || !salt.load(args[1]) || !iterations.load_index(args[2]) ||
        !length.load_index(args[3]))
        return nullptr;
    BytesResult out;
    return call(Gil::pbkdf2(iterations.arg()), [&]() -> BytesResult& {
        password::derive(hash, password.arg(), salt.arg(), iterations.arg(), length.arg(), out);
        return out;
    });
}

// The current UTC time to the whole second, as "2026-12-07T11:33:16Z". Read from the clock the
// host's datetime.now() reads (CLOCK_REALTIME): time() may come from a coarser clock, and a record
// stamped a second ahead of the caller's own clock would look as if it came from the future.
// False with OSError set.
bool utc_now(std::string& out) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return PyErr_SetFromErrno(PyExc_OSError), false;
    const std::time_t now = ts.tv_sec;
    std::tm tm{};
    if (!gmtime_r(&now, &tm)) return PyErr_SetFromErrno(PyExc_OSError), false;
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    out.assign(buf, static_cast<std::size_t>(n));
    return true;
}

// One line of canonical JSON: sorted keys, no white space, non-ASCII escaped.
PyObject* canonical_json(PyObject* value) {
    Ref dumps(json_function("dumps"));
    Ref args(dumps ? PyTuple_Pack(1, value) : nullptr);
    Ref kwargs(args ? Py_BuildValue("{s:O,s:(ss)}", "sort_keys", Py_True, "separators", ",", ":") : nullptr);
    return kwargs ? PyObject_Call(dumps.get(), args.get(), kwargs.get()) : nullptr;
}

PyObject* int_object(std::int64_t v) { return PyLong_FromLongLong(v); }

// One record, in the order of its keys; the iteration count goes in as the caller gave it. Every
// field but the count is ASCII that JSON writes as it stands, so with a plain int (as good as every
// caller's) the text is written here, character for character what json.dumps writes; any other
// integer type goes through json.dumps, which writes it its own way (True as true) or refuses it.
PyObject* record_text(const password::NewRecord& r, PyObject* iterations, std::int64_t count) {
    std::string created;
    if (!utc_now(created)) return nullptr;
    if (PyLong_CheckExact(iterations)) {
        std::string text = "{\"algorithm\":\"";
        text += password::ALGORITHM;
        text += "\",\"createdUtc\":\"" + created + "\",\"hash\":\"" + b64::encode(r.hash) +
                "\",\"parameters\":{\"hashAlgorithm\":\"";
        text += password::HASH_ALGORITHM;
        text += "\",\"iterations\":" + std::to_string(count) +
                ",\"outputLength\":" + std::to_string(password::OUTPUT_LENGTH) +
                ",\"saltLength\":" + std::to_string(password::SALT_LENGTH) + "},\"salt\":\"" +
                b64::encode(r.salt) + "\",\"version\":" + std::to_string(password::VERSION) + "}";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }
    Ref hash_text(base64_text(r.hash));
    Ref salt_text(hash_text ? base64_text(r.salt) : nullptr);
    Ref created_text(salt_text ? PyUnicode_FromStringAndSize(created.data(), static_cast<Py_ssize_t>(created.size()))
                               : nullptr);
    if (!created_text) return nullptr;
    Ref parameters(Py_BuildValue("{s:s,s:O,s:n,s:n}", "hashAlgorithm", password::HASH_ALGORITHM, "iterations",
                                 iterations, "outputLength", static_cast<Py_ssize_t>(password::OUTPUT_LENGTH),
                                 "saltLength", static_cast<Py_ssize_t>(password::SALT_LENGTH)));
    Ref record(parameters ? Py_BuildValue("{s:s,s:O,s:O,s:O,s:O,s:i}", "algorithm", password::ALGORITHM,
                                          "createdUtc", created_text.get(), "hash", hash_text.get(), "parameters",
                                          parameters.get(), "salt", salt_text.get(), "version", password::VERSION)
                          : nullptr);
    return record ? canonical_json(record.get()) : nullptr;
}

PyObject* hash_password(PyObject* const* args) {
    PasswordIn password;
    IntIn iterations;
    if (!password.load_truth(args[0]) || !iterations.load_index(args[1])) return nullptr;
    return call(
        Gil::pbkdf2(iterations.arg()),
        [&] { return password::new_record(password.arg(), iterations.arg()); },
        [&](const password::NewRecord& r) { return record_text(r, args[1], iterations.arg().get()); });
}

// The short form of JSON that records are written in, read without the json module: objects
// (nested at most twice) of printable-ASCII strings without escapes and of integers up to 18
// digits, with no white space. For such text the result is the dict json.loads makes (a repeated
// key keeps its first place and its last value, as there); anything else is left to json.loads.
class ShortJson {
public:
    explicit ShortJson(std::string_view text) : at_(text.data()), end_(text.data() + text.size()) {}

    // The dict; nullptr when the text is not of the short form (no exception set) or on a
    // failure of the interpreter's (exception set).
    PyObject* object(int depth = 0) {
        if (depth > 1 || !take('{')) return nullptr;
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        if (take('}')) return dict.release();
        do {
            Ref key(string());
            Ref value(key && take(':') ? this->value(depth) : nullptr);
            if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
        } while (take(','));
        return take('}') ? dict.release() : nullptr;
    }
    bool at_end() const { return at_ == end_; }

private:
    bool take(char c) {
        if (at_ == end_ || *at_ != c) return false;
        ++at_;
        return true;
    }
    PyObject* value(int depth) {
        if (at_ == end_) return nullptr;
        if (*at_ == '"') return string();
        if (*at_ == '{') return object(depth + 1);
        return integer();
    }
    PyObject* string() {
        if (!take('"')) return nullptr;
        const char* start = at_;
        while (at_ != end_ && *at_ != '"') {
            if (*at_ < 0x20 || *at_ > 0x7e || *at_ == '\\') return nullptr;
            ++at_;
        }
        if (at_ == end_) return nullptr;
        const auto size = static_cast<Py_ssize_t>(at_++ - start);
        return PyUnicode_FromStringAndSize(start, size);
    }
    PyObject* integer() {
        const char* start = at_;
        long long v = 0;
        while (at_ != end_ && *at_ >= '0' && *at_ <= '9' && at_ - start < 18) v = v * 10 + (*at_++ - '0');
        const auto digits = at_ - start;
        if (digits == 0 || (digits > 1 && *start == '0')) return nullptr;
        // A number that goes on (more digits, a fraction, an exponent) is not of the short form.
        if (at_ != end_ && ((*at_ >= '0' && *at_ <= '9') || *at_ == '.' || *at_ == 'e' || *at_ == 'E'))
            return nullptr;
        return PyLong_FromLongLong(v);
    }
    const char* at_;
    const char* end_;
};

// json.loads of the text; None when it is not JSON or not a JSON object.
PyObject* parse_record(PyObject* hash_json) {
    if (!PyUnicode_Check(hash_json)) {
        PyErr_Format(PyExc_TypeError, "hash_json must be str, not %.200s", type_name(hash_json).c_str());
        return nullptr;
    }
    if (PyUnicode_GetLength(hash_json) > 0) {
        Py_ssize_t n = 0;
        const char* text = PyUnicode_AsUTF8AndSize(hash_json, &n);
        if (!text) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
            PyErr_Clear();  // lone surrogates: json.loads judges them
        } else {
            ShortJson reader({text, static_cast<std::size_t>(n)});
            Ref dict(reader.object());
            if (dict && reader.at_end()) return dict.release();
            if (PyErr_Occurred()) return nullptr;
        }
    }
    Ref loads(json_function("loads"));
    if (!loads) return nullptr;
    Ref value(call_one(loads.get(), hash_json));
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

// A record's number as the host's int() reads it, saturated to 64 bits (a huge count then meets
// the bounds of PBKDF2 rather than an overflow of its own).
bool record_count(PyObject* mapping, const char* key, std::int64_t& out) {
    Ref value(PyMapping_GetItemString(mapping, key));
    Ref number(value ? PyNumber_Long(value.get()) : nullptr);
    if (!number) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    out = overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : v;
    return true;
}

// 1 when the password matches the record, 0 when not, -1 with the exception set. The record's
// fields are read as Python code would read them, in this order: salt, hash, the counts, the
// hash name; then the password is encoded and the engine compares.
int check_record(PyObject* password_obj, PyObject* record) {
    std::optional<Bytes> salt;
    std::optional<Bytes> stored;
    Ref salt_text(PyMapping_GetItemString(record, "salt"));
    if (!salt_text || !decode_base64_arg(salt_text.get(), salt)) return -1;
    Ref hash_text(PyMapping_GetItemString(record, "hash"));
    if (!hash_text || !decode_base64_arg(hash_text.get(), stored)) return -1;
    Ref parameters(PyMapping_GetItemString(record, "parameters"));
    std::int64_t iterations = 0, length = 0;
    if (!parameters || !record_count(parameters.get(), "iterations", iterations) ||
        !record_count(parameters.get(), "outputLength", length))
        return -1;
    PyObject* named = nullptr;
    const int has_name = PyMapping_GetOptionalItemString(parameters.get(), "hashAlgorithm", &named);
    if (has_name < 0) return -1;
    Ref name_value(has_name ? named : PyUnicode_FromString(password::HASH_ALGORITHM));
    Ref name(name_value ? PyObject_Str(name_value.get()) : nullptr);
    password::Hash hash{};
    if (!name || !resolve_hash(name.get(), hash)) return -1;
    PasswordIn password;
    if (!password.load(password_obj)) return -1;
    if (!password.arg().usable()) {
        password.restore();
        return -1;
    }
    PyObject* match = call(Gil::pbkdf2(iterations), [&] {
        return password::matches(hash, password.arg().get(), *salt, *stored, iterations, length);
    });
    if (!match) return -1;
    Py_DECREF(match);
    return match == Py_True ? 1 : 0;
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
    Ref threshold(count ? int_object(password::UPGRADE_THRESHOLD) : nullptr);
    const int below = threshold ? PyObject_RichCompareBool(count.get(), threshold.get(), Py_LT) : -1;
    if (below < 0) {
        if (!pending_is_record_problem(false)) return nullptr;
        PyErr_Clear();
        Py_RETURN_TRUE;
    }
    return PyBool_FromLong(below);
}

// The record parameters, from the engine.
const Register constants{
    ObjectSpec{kModule, "ALGORITHM", [] { return PyUnicode_FromString(password::ALGORITHM); }},
    ObjectSpec{kModule, "VERSION", [] { return int_object(password::VERSION); }},
    ObjectSpec{kModule, "DEFAULT_ITERATIONS", [] { return int_object(password::DEFAULT_ITERATIONS); }},
    ObjectSpec{kModule, "SALT_LENGTH", [] { return int_object(password::SALT_LENGTH); }},
    ObjectSpec{kModule, "OUTPUT_LENGTH", [] { return int_object(password::OUTPUT_LENGTH); }},
    ObjectSpec{kModule, "HASH_ALGORITHM", [] { return PyUnicode_FromString(password::HASH_ALGORITHM); }},
    ObjectSpec{kModule, "UPGRADE_THRESHOLD", [] { return int_object(password::UPGRADE_THRESHOLD); }},
};

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
