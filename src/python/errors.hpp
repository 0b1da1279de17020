// Raising tesmar errors from native code, with or without an explicit cause, and translating the
// engine's C++ errors. Every native entry point runs its engine work through `guarded`.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <string>

#include "engine/errors.hpp"
#include "python/args.hpp"

namespace tesmar::py {

// The class for a kind: a tesmar.errors class or a built-in one (borrowed reference or nullptr).
PyObject* error_class(ErrorKind kind);

// Raises `kind(message)` with no cause. Always returns nullptr.
PyObject* raise(ErrorKind kind, const std::string& message);

// Raises `kind(message)` whose __cause__ is `cause` (an exception instance; reference stolen).
PyObject* raise_with_cause(ErrorKind kind, const std::string& message, PyObject* cause);

// Whether the pending exception belongs to the ordinary Exception family. Interrupts and
// interpreter exits (KeyboardInterrupt, SystemExit, GeneratorExit) are never caught, wrapped or
// answered with a boolean: they must reach the caller as they are.
bool current_is_ordinary();

// Takes the exception currently set and raises `kind(prefix + str(exc))` with it as cause.
// An exception outside the ordinary family is left pending unchanged.
PyObject* raise_from_current(ErrorKind kind, const std::string& prefix);

// Same, with a fixed message: `kind(message)` from the current exception.
PyObject* raise_fixed_from_current(ErrorKind kind, const std::string& message);

// Sets the Python error for an engine error.
void set_error(const Error& e);

// True when the current exception is an instance of `kind`'s class.
bool current_is(ErrorKind kind);

template <class F>
PyObject* guarded(F&& body) {
    try {
        return body();
    } catch (const Error& e) {
        set_error(e);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    }
    return nullptr;
}

// guarded() for engine work that gives no Python object and runs with the GIL released: true when
// it finished, false with the Python error set.
template <class F>
bool released(F&& body) {
    return guarded([&]() -> PyObject* {
               NoGil nogil;
               body();
               return Py_None;
           }) != nullptr;
}

}  // namespace tesmar::py
