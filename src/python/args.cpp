#include "python/args.hpp"

#include "engine/base64.hpp"
#include "python/errors.hpp"

namespace tesmar::py {

std::string type_name(PyObject* obj) {
    // A type's C-level name is not part of the stable ABI; it is made of the same parts read through
    // the type's attributes: a built-in type or a class is named by its own name, a static type of an
    // extension by its module and name.
    PyTypeObject* type = Py_TYPE(obj);
    PyObject* pending = PyErr_GetRaisedException();
    std::string out = "object";
    if (Ref name(PyType_GetName(type)); name) {
        Py_ssize_t n = 0;
        const char* s = PyUnicode_AsUTF8AndSize(name.get(), &n);
        if (s) out.assign(s, static_cast<std::size_t>(n));
        if (s && !(PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE)) {
            Ref module(PyType_GetModuleName(type));
            const char* m = module ? PyUnicode_AsUTF8AndSize(module.get(), &n) : nullptr;
            if (m && std::string_view(m, static_cast<std::size_t>(n)) != "builtins")
                out = std::string(m, static_cast<std::size_t>(n)) + "." + out;
        }
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
    return out;
}

bool Text::load(PyObject* obj, const char* param) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be str, not %.200s", param, type_name(obj).c_str());
        return false;
    }
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &n);
    if (!utf8) return false;
    text_ = std::string_view(utf8, static_cast<std::size_t>(n));
    return true;
}

bool Buffer::load(PyObject* obj) {
    if (PyObject_GetBuffer(obj, &buf_, PyBUF_SIMPLE) < 0) return false;
    held_ = true;
    return true;
}

PyObject* to_bytes(ByteView data) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size()));
}

PyObject* bytes_pair(ByteView a, ByteView b) {
    PyObject* first = to_bytes(a);
    PyObject* second = first ? to_bytes(b) : nullptr;
    if (!second) {
        Py_XDECREF(first);
        return nullptr;
    }
    return Py_BuildValue("(NN)", first, second);
}

PyObject* to_ascii(std::string_view text) {
    return PyUnicode_DecodeASCII(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* base64_text(ByteView data) {
    // The stable ABI has no way to write into a new str, so the text is encoded beside it (on the
    // stack when it is small) and copied in. Base64 is ASCII, so the Latin-1 decoder's plain copy
    // gives the same compact ASCII string as any other decoder, with the fewest instructions.
    const std::size_t n = b64::encoded_size(data.size());
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    constexpr std::size_t kStack = 4096;
    char stack[kStack];
    std::string heap;
    char* out = stack;
    if (n > kStack) {
        try {
            heap.resize(n);
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
        out = heap.data();
    }
    b64::encode_into(data, out);
    return PyUnicode_DecodeLatin1(out, static_cast<Py_ssize_t>(n), nullptr);
}

PyObject* decode_utf8(ByteView data) {
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size()), "strict");
}

PyObject* decrypted_text(ByteView plain, ErrorKind kind, const char* message) {
    PyObject* text = decode_utf8(plain);
    return text ? text : raise_fixed_from_current(kind, message);
}

PyObject* decode_base64_arg(PyObject* obj, std::optional<Bytes>& out) {
    std::string_view text;
    Buffer buf;
    if (PyUnicode_Check(obj)) {
        Py_ssize_t n = 0;
        const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!s) return nullptr;
        text = {s, static_cast<std::size_t>(n)};
    } else if (PyObject_CheckBuffer(obj)) {
        if (!buf.load(obj)) return nullptr;
        text = as_text(buf.view());
    } else {
        PyErr_Format(PyExc_TypeError, "argument should be a bytes-like object or ASCII string, not '%.100s'",
                     type_name(obj).c_str());
        return nullptr;
    }
    std::string why;
    out = b64::decode_strict(text, &why);
    if (!out) {
        PyObject* binascii = PyImport_ImportModule("binascii");
        PyObject* cls = binascii ? PyObject_GetAttrString(binascii, "Error") : nullptr;
        Py_XDECREF(binascii);
        if (!cls) return nullptr;
        PyErr_SetString(cls, why.c_str());
        Py_DECREF(cls);
        return nullptr;
    }
    return Py_None;
}

}  // namespace tesmar::py

namespace tesmar::py {

PyObject* Held::take_error() const {
    PyObject* e = error_;
    error_ = nullptr;
    if (!e) {  // only reached if an operation names an argument twice
        PyErr_SetString(PyExc_TypeError, "argument could not be converted");
        e = PyErr_GetRaisedException();
    }
    return e;
}

bool Held::keep() {
    if (!current_is_ordinary()) return false;
    replace(error_, PyErr_GetRaisedException());
    return true;
}

bool BytesIn::load(PyObject* obj) {
    if (buf_.load(obj)) {
        arg_ = BytesArg(buf_.view(), this);
        return true;
    }
    arg_ = BytesArg::unusable(this, 0, obj == Py_None);
    return keep();
}

bool BytesIn::load_measured(PyObject* obj) {
    if (!load(obj)) return false;
    if (arg_.usable()) return true;
    const Py_ssize_t n = PyObject_Size(obj);
    if (n < 0) return false;
    arg_ = BytesArg::unusable(this, static_cast<std::uint64_t>(n), obj == Py_None);
    return true;
}

bool BytesIn::load_truth(PyObject* obj, bool measured) {
    const int truthy = PyObject_IsTrue(obj);
    if (truthy < 0 || !(truthy && measured ? load_measured(obj) : load(obj))) return false;
    arg_.set_falsy(!truthy);
    return true;
}

bool TextIn::load(PyObject* obj, const char* param) {
    Text text;
    if (text.load(obj, param)) {
        arg_ = TextArg(text.view(), this);
        return true;
    }
    arg_ = TextArg::unusable(this);
    return keep();
}

bool PemIn::load(PyObject* obj) {
    arg_ = TextArg::unusable(this);
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "key text must be str, not %.200s", type_name(obj).c_str());
        return keep();
    }
    // ASCII text is its own UTF-8 (no copy is made), and only ASCII text has as many UTF-8 bytes as
    // characters. Anything else gets the interpreter's own UnicodeEncodeError for the ASCII codec.
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
    if (!s || n != PyUnicode_GetLength(obj)) {
        PyErr_Clear();
        PyObject* encoded = PyUnicode_AsASCIIString(obj);
        Py_XDECREF(encoded);
        return keep();
    }
    arg_ = TextArg(std::string_view(s, static_cast<std::size_t>(n)), this);
    return true;
}

bool Base64In::load(PyObject* obj) {
    arg_ = TextArg::unusable(this);
    if (PyUnicode_Check(obj)) {
        Py_ssize_t n = 0;
        const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!s) return keep();
        arg_ = TextArg(std::string_view(s, static_cast<std::size_t>(n)), this);
        return true;
    }
    if (PyObject_CheckBuffer(obj)) {
        if (!buf_.load(obj)) return keep();
        arg_ = TextArg(as_text(buf_.view()), this);
        return true;
    }
    PyErr_Format(PyExc_TypeError, "argument should be a bytes-like object or ASCII string, not '%.100s'",
                 type_name(obj).c_str());
    return keep();
}

namespace {

// Saturates a Python int to 64 bits; false with the error set for what is not an int.
bool saturated(PyObject* n, std::int64_t& out) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(n, &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    out = overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : v;
    return true;
}

}  // namespace

bool IntIn::load_through(PyObject* (*convert)(PyObject*), PyObject* obj) {
    arg_ = Arg<std::int64_t>::unusable(this);
    replace(object_, convert(obj));
    std::int64_t v = 0;
    if (!object_ || !saturated(object_, v)) return keep();
    arg_ = Arg<std::int64_t>(v, this);
    return true;
}

bool IntIn::load(PyObject* obj) { return load_through(PyNumber_Long, obj); }
bool IntIn::load_index(PyObject* obj) { return load_through(PyNumber_Index, obj); }

bool IntIn::load_ssize(PyObject* obj) {
    arg_ = Arg<std::int64_t>::unusable(this);
    const Py_ssize_t v = PyNumber_AsSsize_t(obj, PyExc_OverflowError);
    if (v == -1 && PyErr_Occurred()) return keep();
    arg_ = Arg<std::int64_t>(v, this);
    return true;
}

}  // namespace tesmar::py
