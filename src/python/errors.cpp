#include "python/errors.hpp"

namespace tesmar::py {

namespace {

const char* tesmar_class_name(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Tesmar: return "TesmarError";
        case ErrorKind::InvalidInput: return "InvalidInputError";
        case ErrorKind::Encryption: return "EncryptionError";
        case ErrorKind::Decryption: return "DecryptionError";
        case ErrorKind::Signature: return "SignatureError";
        case ErrorKind::QuantumOperation: return "QuantumOperationError";
        default: return nullptr;
    }
}

// The authentication failure recorded as cause of failed AEAD decryptions. It has no message,
// like the tag errors of other AEAD libraries, and it is not part of the public API.
PyObject* invalid_tag_class() {
    static PyObject* cls = PyErr_NewExceptionWithDoc(
        "tesmar._internal.InvalidTag", "The authentication tag did not verify.", nullptr, nullptr);
    return cls;
}

// binascii.Error, the class of every Base64 failure the standard library reports.
PyObject* binascii_error() {
    PyObject* mod = PyImport_ImportModule("binascii");
    PyObject* cls = mod ? PyObject_GetAttrString(mod, "Error") : nullptr;
    Py_XDECREF(mod);
    Py_XDECREF(cls);  // the module keeps the class alive
    return cls;
}

}  // namespace

PyObject* error_class(ErrorKind kind) {
    if (const char* name = tesmar_class_name(kind)) {
        PyObject* name_obj = PyUnicode_FromString("tesmar.errors");
        if (!name_obj) return nullptr;
        PyObject* mod = PyImport_GetModule(name_obj);  // already loaded: tesmar imports it first
        Py_DECREF(name_obj);
        if (!mod && !PyErr_Occurred()) mod = PyImport_ImportModule("tesmar.errors");
        if (!mod) return nullptr;
        PyObject* cls = PyObject_GetAttrString(mod, name);
        Py_DECREF(mod);
        Py_XDECREF(cls);  // the module keeps the class alive
        return cls;
    }
    switch (kind) {
        case ErrorKind::Type: return PyExc_TypeError;
        case ErrorKind::Key: return PyExc_KeyError;
        case ErrorKind::Overflow: return PyExc_OverflowError;
        case ErrorKind::OS: return PyExc_OSError;
        case ErrorKind::Import: return PyExc_ImportError;
        case ErrorKind::Memory: return PyExc_MemoryError;
        case ErrorKind::Base64: return binascii_error();
        default: return PyExc_ValueError;
    }
}

PyObject* raise_with_cause(ErrorKind kind, const std::string& message, PyObject* cause) {
    PyObject* cls = error_class(kind);
    if (!cls) {
        Py_XDECREF(cause);
        return nullptr;
    }
    PyObject* exc = PyObject_CallFunction(cls, "s#", message.data(), static_cast<Py_ssize_t>(message.size()));
    if (!exc) {
        Py_XDECREF(cause);
        return nullptr;
    }
    if (cause) PyException_SetCause(exc, cause);  // steals; also suppresses the context
    PyErr_SetRaisedException(exc);
    return nullptr;
}

PyObject* raise(ErrorKind kind, const std::string& message) { return raise_with_cause(kind, message, nullptr); }

bool current_is_ordinary() { return PyErr_ExceptionMatches(PyExc_Exception) != 0; }

PyObject* raise_fixed_from_current(ErrorKind kind, const std::string& message) {
    if (!current_is_ordinary()) return nullptr;
    return raise_with_cause(kind, message, PyErr_GetRaisedException());
}

namespace {

// Only the binding makes origins, and every one is a Held (python/args.hpp).
const Held& held(const Origin* origin) { return *static_cast<const Held*>(origin); }

// The exception for an engine cause (new reference).
PyObject* make_cause(const Cause& cause) {
    if (cause.argument) return held(cause.argument).take_error();
    PyObject* cls = cause.invalid_tag ? invalid_tag_class() : error_class(cause.kind);
    if (!cls) return nullptr;
    if (cause.invalid_tag) return PyObject_CallNoArgs(cls);
    return PyObject_CallFunction(cls, "s#", cause.message.data(), static_cast<Py_ssize_t>(cause.message.size()));
}

// str(exc) as UTF-8 appended to `out`; false with the error set.
bool append_text(PyObject* exc, std::string& out) {
    PyObject* text = PyObject_Str(exc);
    Py_ssize_t n = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text, &n) : nullptr;
    if (utf8) out.append(utf8, static_cast<std::size_t>(n));
    Py_XDECREF(text);
    return utf8 != nullptr;
}

}  // namespace

void set_error(const Error& e) {
    switch (e.kind()) {
        case ErrorKind::Argument:
            PyErr_SetRaisedException(held(e.subject()).take_error());
            return;
        case ErrorKind::Key: {
            PyObject* key = e.subject() && held(e.subject()).object() ? Py_NewRef(held(e.subject()).object())
                                                                       : PyLong_FromLongLong(e.key());
            if (key) {
                PyErr_SetObject(PyExc_KeyError, key);
                Py_DECREF(key);
            }
            return;
        }
        default:
            break;
    }
    std::string message = e.message();
    PyObject* cause = nullptr;
    if (e.cause()) {
        cause = make_cause(*e.cause());
        if (!cause) return;
        if (e.cause()->append_text && !append_text(cause, message)) {
            Py_DECREF(cause);
            return;
        }
    }
    raise_with_cause(e.kind(), message, cause);
}

}  // namespace tesmar::py
