#include "python/args.hpp"

#include "engine/base64.hpp"

namespace tesmar::py {

bool Text::load(PyObject* obj, const char* param) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be str, not %.200s", param, Py_TYPE(obj)->tp_name);
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

OutBytes::OutBytes(std::size_t n) {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        PyErr_NoMemory();
        return;
    }
    obj_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
}

void OutBytes::wipe() {
    if (obj_ && PyBytes_GET_SIZE(obj_) > 0) OPENSSL_cleanse(PyBytes_AS_STRING(obj_), PyBytes_GET_SIZE(obj_));
}

PyObject* to_bytes(ByteView data) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size()));
}

PyObject* to_ascii(std::string_view text) {
    return PyUnicode_DecodeASCII(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* base64_text(ByteView data) {
    const std::size_t n = b64::encoded_size(data.size());
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
    if (!s) return nullptr;
    b64::encode_into(data, reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(s)));
    return s;
}

PyObject* decode_utf8(ByteView data) {
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size()), "strict");
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
                     Py_TYPE(obj)->tp_name);
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
