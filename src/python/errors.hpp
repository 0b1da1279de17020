// Raising tesmar errors from native code, with or without an explicit cause, and translating the
// engine's errors (set_error, used by the one engine call of python/call.hpp).
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

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

// Takes the exception currently set and raises `kind(message)` with it as cause. An exception
// outside the ordinary family is left pending unchanged.
PyObject* raise_fixed_from_current(ErrorKind kind, const std::string& message);

// Sets the Python error for an engine error.
void set_error(const Error& e);

}  // namespace tesmar::py
