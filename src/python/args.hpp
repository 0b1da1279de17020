// Argument conversion and result building shared by every family's binding.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

#include "engine/args.hpp"
#include "engine/bytes.hpp"
#include "engine/errors.hpp"

namespace tesmar::py {

// A str argument as its UTF-8 bytes. load() raises TypeError for other types and the
// interpreter's UnicodeEncodeError for text with lone surrogates (as str.encode() would).
class Text {
public:
    bool load(PyObject* obj, const char* param);
    std::string_view view() const { return text_; }
    ByteView bytes() const { return as_bytes(text_); }
    bool empty() const { return text_.empty(); }

private:
    std::string_view text_;
};

// A bytes-like argument (bytes, bytearray, memoryview, ...), held for the duration of the call so
// it stays valid while the GIL is released.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&buf_);
    }
    bool load(PyObject* obj);  // TypeError for objects without the buffer interface
    ByteView view() const {
        return {static_cast<const std::uint8_t*>(buf_.buf), static_cast<std::size_t>(buf_.len)};
    }
    std::size_t size() const { return static_cast<std::size_t>(buf_.len); }

private:
    Py_buffer buf_{};
    bool held_ = false;
};

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
        PyObject* old = p_;
        p_ = p;
        Py_XDECREF(old);  // last: releasing it may run code that looks at this reference
    }

private:
    PyObject* p_ = nullptr;
};

// Points `slot` at `value` (a new reference or nullptr) and then lets the old one go, in that order:
// releasing it may run code that looks at the slot.
inline void replace(PyObject*& slot, PyObject* value) {
    PyObject* old = slot;
    slot = value;
    Py_XDECREF(old);
}

// callable(arg): a new reference, or nullptr with the error set.
inline PyObject* call_one(PyObject* callable, PyObject* arg) { return PyObject_Vectorcall(callable, &arg, 1, nullptr); }

// The name the interpreter's own messages give the type of `obj` ("int", "datetime.date", "Foo"),
// for TypeErrors worded as the interpreter words them. Never raises.
std::string type_name(PyObject* obj);

// ---- Arguments for the engine (engine/args.hpp): converted, or unusable with the reason kept.
//
// load() never raises for an argument it cannot convert: it keeps the exception for the engine
// call to raise (or to record as a cause) where the operation meets the argument. It returns
// false only when the conversion raised an interrupt or an interpreter exit, which is left
// pending and must be passed on at once.

class Held : public Origin {
public:
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        Py_XDECREF(error_);
        Py_XDECREF(object_);
    }
    // The kept conversion failure (new reference), taken once.
    PyObject* take_error() const;
    // The Python value the argument was converted from, when the engine may name it (KeyError).
    PyObject* object() const { return object_; }

protected:
    // Keeps the pending exception; false, leaving it pending, when it must not be kept.
    bool keep();
    mutable PyObject* error_ = nullptr;
    PyObject* object_ = nullptr;
};

// A bytes-like argument, held for the call so that it stays valid with the GIL released.
class BytesIn : public Held {
public:
    bool load(PyObject* obj);
    // Also measures an object without the buffer interface with len(), for operations whose size
    // checks come before they need the bytes. A failing len() raises at once (false).
    bool load_measured(PyObject* obj);
    // First the truth test of the caller's value (raising at once if it fails), for operations
    // that refuse any empty value before its type; then load(), or load_measured() for a value
    // that is not empty when `measured`.
    bool load_truth(PyObject* obj, bool measured);
    const BytesArg& arg() const { return arg_; }

private:
    Buffer buf_;
    BytesArg arg_;
};

// A str argument as its UTF-8 bytes ("<param> must be str, not <type>").
class TextIn : public Held {
public:
    bool load(PyObject* obj, const char* param);
    const TextArg& arg() const { return arg_; }

private:
    TextArg arg_;
};

// Key text: a str of ASCII characters ("key text must be str, not <type>", or the interpreter's
// UnicodeEncodeError for other characters).
class PemIn : public Held {
public:
    bool load(PyObject* obj);
    const TextArg& arg() const { return arg_; }

private:
    TextArg arg_;
};

// Base64 text handed in as str or as ASCII bytes; the engine decodes it by the strict rule.
class Base64In : public Held {
public:
    bool load(PyObject* obj);
    const TextArg& arg() const { return arg_; }

private:
    Buffer buf_;
    TextArg arg_;
};

// An integer through the host's int(), saturated to 64 bits so that a huge value meets the
// operation's bounds rather than an overflow of its own; the int itself is kept for KeyError.
class IntIn : public Held {
public:
    bool load(PyObject* obj);        // int(obj)
    bool load_index(PyObject* obj);  // operator.index(obj): only true integers
    bool load_ssize(PyObject* obj);  // operator.index(obj) within Py_ssize_t, else OverflowError

    const Arg<std::int64_t>& arg() const { return arg_; }

private:
    bool load_through(PyObject* (*convert)(PyObject*), PyObject* obj);
    Arg<std::int64_t> arg_;
};

// Work below this size takes about as long as releasing and re-taking the GIL (hashlib draws the
// line at the same place), so it keeps the GIL.
inline constexpr std::size_t kGilReleaseMin = 2048;

PyObject* to_bytes(ByteView data);
PyObject* bytes_pair(ByteView a, ByteView b);  // a new (bytes, bytes) tuple
PyObject* to_ascii(std::string_view text);  // text known to be ASCII (Base64, PEM)
PyObject* base64_text(ByteView data);       // standard Base64 as str, written in place

// Strict Base64 decoding of a str or bytes-like argument into `out`. Returns nullptr with the
// decoding failure set (binascii.Error, or TypeError for other types): callers wrap it as cause.
// Returns a borrowed Py_None on success.
PyObject* decode_base64_arg(PyObject* obj, std::optional<Bytes>& out);

// Strict UTF-8 decoding. On failure the real UnicodeDecodeError is set (callers wrap it).
PyObject* decode_utf8(ByteView data);

// Decrypted text: strict UTF-8, else `kind(message)` with the UnicodeDecodeError as cause.
PyObject* decrypted_text(ByteView plain, ErrorKind kind, const char* message);

}  // namespace tesmar::py
