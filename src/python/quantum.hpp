// Helpers shared by the bindings of tesmar.quantum._oqs and tesmar.quantum.core.
#pragma once
#include <cstdint>

#include "engine/quantum/oqs.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"

namespace tesmar::py::quantum {

// A strength-like argument through the host's int(), and the value the engine looks up. Values
// that do not fit 64 bits are passed on as -1: no table has them either.
class Strength {
public:
    Strength() = default;
    Strength(const Strength&) = delete;
    Strength& operator=(const Strength&) = delete;
    ~Strength() { Py_XDECREF(obj_); }
    bool load(PyObject* arg) {
        obj_ = PyNumber_Long(arg);
        if (!obj_) return false;
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj_, &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        value_ = overflow ? -1 : v;
        return true;
    }
    PyObject* object() const { return obj_; }
    std::int64_t value() const { return value_; }

private:
    PyObject* obj_ = nullptr;
    std::int64_t value_ = -1;
};

// Like guarded(), but a strength missing from the mechanism tables becomes KeyError carrying the
// integer, as a dict lookup gives. `strength` is the looked-up integer when the caller has it.
template <class F>
PyObject* run(PyObject* strength, F&& body) {
    try {
        return body();
    } catch (const Error& e) {
        if (e.kind() != ErrorKind::Key) {
            set_error(e);
            return nullptr;
        }
        PyObject* key = strength ? Py_NewRef(strength) : PyLong_FromString(e.what(), nullptr, 10);
        if (key) {
            PyErr_SetObject(PyExc_KeyError, key);
            Py_DECREF(key);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    }
    return nullptr;
}

// Loads liboqs (GIL released); false with the installation error set when it cannot be loaded.
inline bool load_library() {
    return released([] { oqs::library(); });
}

// A new (bytes, bytes) tuple.
inline PyObject* pair(ByteView a, ByteView b) {
    PyObject* t = PyTuple_New(2);
    if (!t) return nullptr;
    PyObject* first = to_bytes(a);
    PyObject* second = first ? to_bytes(b) : nullptr;
    if (!second) {
        Py_XDECREF(first);
        Py_DECREF(t);
        return nullptr;
    }
    PyTuple_SET_ITEM(t, 0, first);
    PyTuple_SET_ITEM(t, 1, second);
    return t;
}

}  // namespace tesmar::py::quantum
