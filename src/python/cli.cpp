// tesmar.cli's native part: what `inspect` tells of a blob.
#include "engine/inspect.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

PyObject* value_object(const inspect::Value& v) {
    if (const auto* n = std::get_if<std::uint64_t>(&v)) return PyLong_FromUnsignedLongLong(*n);
    const std::string& s = std::get<std::string>(v);
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

PyObject* fields(const inspect::Description& d) {
    PyObject* out = PyDict_New();
    if (!out) return nullptr;
    for (const auto& [name, value] : d) {
        const bool none = name == "kind" && std::get<std::string>(value).empty();
        PyObject* v = none ? Py_NewRef(Py_None) : value_object(value);
        if (!v || PyDict_SetItemString(out, name.c_str(), v) < 0) {
            Py_XDECREF(v);
            Py_DECREF(out);
            return nullptr;
        }
        Py_DECREF(v);
    }
    return out;
}

PyObject* describe(PyObject* const* args) {
    BytesIn head;
    if (!head.load(args[0])) return nullptr;
    const unsigned long long size = PyLong_AsUnsignedLongLong(args[1]);
    if (size == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    return call(Gil::hold(), [&] { return inspect::describe(head.arg().get(), size); }, fields);
}

const Register functions{
    FunctionSpec{"tesmar.cli", "_describe", describe, {{"head", "bytes"}, {"size", "int"}}, "dict",
                 "Tell what a blob is from its first bytes (64 KiB or all of it) and its size.\n\n"
                 "Returns a dict of fields in display order; 'kind' is None for a blob of no known\n"
                 "layout. Nothing is decrypted. Raises TypeError or OverflowError for bad arguments."},
};

}  // namespace
}  // namespace tesmar::py
