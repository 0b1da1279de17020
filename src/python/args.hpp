// Argument conversion and result building shared by every family's binding.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

#include "engine/bytes.hpp"

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

// Releases the GIL for the lifetime of the object. Never touch Python objects inside.
class NoGil {
public:
    NoGil() : state_(PyEval_SaveThread()) {}
    ~NoGil() { PyEval_RestoreThread(state_); }
    NoGil(const NoGil&) = delete;
    NoGil& operator=(const NoGil&) = delete;

private:
    PyThreadState* state_;
};

// Releases the GIL only for work big enough to pay for the switch. Below this size the work takes
// about as long as releasing and re-taking the GIL (hashlib draws the line at the same place).
inline constexpr std::size_t kGilReleaseMin = 2048;

class NoGilFor {
public:
    explicit NoGilFor(std::size_t work_bytes) : state_(work_bytes >= kGilReleaseMin ? PyEval_SaveThread() : nullptr) {}
    ~NoGilFor() {
        if (state_) PyEval_RestoreThread(state_);
    }
    NoGilFor(const NoGilFor&) = delete;
    NoGilFor& operator=(const NoGilFor&) = delete;

private:
    PyThreadState* state_;
};

// A new bytes object of `n` bytes to be written in place (no copy of the result).
class OutBytes {
public:
    explicit OutBytes(std::size_t n);
    ~OutBytes() { Py_XDECREF(obj_); }
    bool ok() const { return obj_ != nullptr; }
    MutableBytes span() {
        return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(obj_)), static_cast<std::size_t>(PyBytes_GET_SIZE(obj_))};
    }
    void wipe();                              // before dropping a result that held secrets
    PyObject* release() {                     // the finished object (new reference)
        PyObject* o = obj_;
        obj_ = nullptr;
        return o;
    }

private:
    PyObject* obj_ = nullptr;
};

PyObject* to_bytes(ByteView data);
PyObject* to_ascii(std::string_view text);  // text known to be ASCII (Base64, PEM)
PyObject* base64_text(ByteView data);       // standard Base64 as str, written in place

// Strict Base64 decoding of a str or bytes-like argument into `out`. Returns nullptr with the
// decoding failure set (binascii.Error, or TypeError for other types): callers wrap it as cause.
// Returns a borrowed Py_None on success.
PyObject* decode_base64_arg(PyObject* obj, std::optional<Bytes>& out);

// The contents of a bytes object.
inline ByteView view_of_bytes(PyObject* bytes) {
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(bytes)), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
}

// Strict UTF-8 decoding. On failure the real UnicodeDecodeError is set (callers wrap it).
PyObject* decode_utf8(ByteView data);

}  // namespace tesmar::py
