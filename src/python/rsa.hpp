// Binding pieces shared by tesmar.rsa.core (rsa.cpp) and tesmar.hybrid.core (hybrid.cpp): key
// text arguments, byte arguments whose conversion failure surfaces where the operation meets it,
// the OAEP block operations, and the two hybrid operations that the RSA family calls.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string_view>

#include "engine/bytes.hpp"
#include "python/args.hpp"

namespace tesmar::py::rsafam {

// A PEM argument: a str of ASCII characters. Anything else raises InvalidInputError with the
// loader's prefix followed by the text of the TypeError or UnicodeEncodeError, which is recorded
// as cause: the loaders take every failure of the key text, its encoding included.
bool pem_text(PyObject* obj, const char* prefix, std::string_view& out);

// A bytes-like argument. When the object has no buffer, the TypeError is kept and raised (or
// wrapped) at the point where the operation first needs the bytes, so that earlier checks (key
// text, sizes) report first, in the order the operations define. An interrupt or interpreter exit
// raised by the conversion is not kept: load() then returns false with it pending, to be passed on
// at once.
class BytesArg {
public:
    BytesArg() = default;
    BytesArg(const BytesArg&) = delete;
    BytesArg& operator=(const BytesArg&) = delete;
    ~BytesArg() { Py_XDECREF(error_); }

    // False only when an exception outside the ordinary family is pending.
    bool load(PyObject* obj);
    void set(ByteView view) { view_ = view, ok_ = true; }
    bool ok() const { return ok_; }
    ByteView view() const { return view_; }
    // len(obj): the buffer's length, or the object's own len() (TypeError if it has none).
    bool length(PyObject* obj, std::uint64_t& n);
    // Sets the kept conversion error as the current exception. Returns nullptr.
    PyObject* restore();

private:
    Buffer buf_;
    ByteView view_;
    bool ok_ = false;
    PyObject* error_ = nullptr;
};

// The OAEP block operations with their order of checks: key text, then the data.
PyObject* encrypt_oaep(BytesArg& data, PyObject* public_pem);
PyObject* decrypt_oaep(BytesArg& blob, PyObject* private_pem);

// tesmar.hybrid.core's encrypt_bytes (after its emptiness test) and decrypt_auto.
PyObject* hybrid_encrypt(BytesArg& data, PyObject* public_pem);
PyObject* hybrid_decrypt_auto(ByteView blob, PyObject* private_pem);

// The text variants: "Plaintext cannot be empty", UTF-8 in and Base64 out; strict Base64 in and
// strict UTF-8 out ("Ciphertext is not valid Base64", "Decrypted data is not valid UTF-8").
PyObject* encrypt_text(PyObject* plaintext, PyObject* pem, PyObject* (*encrypt)(BytesArg&, PyObject*));
PyObject* decrypt_text(PyObject* text, PyObject* pem, PyObject* (*decrypt)(ByteView, PyObject*));

}  // namespace tesmar::py::rsafam
