// Native functions that look like well-documented Python functions: a name, qualname, module,
// docstring, keyword arguments, defaults and an inspect.signature() with annotation texts.
//
// Each family file declares its functions with a static `Register` object; the module loader
// attaches them to their module when that module is first imported.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <vector>

namespace tesmar::py {

struct Param {
    const char* name;
    const char* annotation;              // annotation text, e.g. "str"; nullptr for none
    const char* default_expr = nullptr;  // evaluated in the module's namespace when it is built
};

// Receives exactly one borrowed reference per parameter, defaults filled in.
using Impl = PyObject* (*)(PyObject* const* args);

struct FunctionSpec {
    const char* module;                // dotted module name, e.g. "tesmar.aes.core"
    const char* name;
    Impl impl;
    std::vector<Param> params;
    const char* returns;               // annotation text of the result; nullptr for none
    const char* doc;
};

// Native objects other than functions that a module gets at load time (for example an immutable
// parameter object). `make` returns a new reference or nullptr with an exception set.
struct ObjectSpec {
    const char* module;
    const char* name;
    PyObject* (*make)();
};

class Register {
public:
    Register(std::initializer_list<FunctionSpec> functions);
    Register(std::initializer_list<ObjectSpec> objects);
};

// Adds the registered functions and objects of `module` (by its __name__) to it.
// Returns 0, or -1 with an exception set.
int install_natives(PyObject* module);

// Creates one native function object outside the registry (new reference).
PyObject* make_function(const FunctionSpec& fdef, PyObject* globals);

int init_function_type();

}  // namespace tesmar::py
