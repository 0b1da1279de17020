// The extension's entry point. `tesmar` is created by multi-phase initialisation; its exec slot
// installs the loader for the frozen submodules (glue/_bootstrap.py) and runs the package body.
#include <string_view>

#include "python/args.hpp"
#include "python/function.hpp"
#include "python/glue.hpp"

namespace tesmar::py {
namespace {

PyObject* install_natives_py(PyObject*, PyObject* module) {
    if (install_natives(module) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef install_def = {"install_natives", install_natives_py, METH_O,
                           "Adds the native functions and objects of a module to it."};

PyObject* frozen_sources() {
    PyObject* d = PyDict_New();
    if (!d) return nullptr;
    for (const GlueSource& g : glue_sources()) {
        PyObject* src = PyUnicode_FromString(g.source);
        if (!src || PyDict_SetItemString(d, g.name, src) < 0) {
            Py_XDECREF(src);
            Py_DECREF(d);
            return nullptr;
        }
        Py_DECREF(src);
    }
    return d;
}

int exec_tesmar(PyObject* m) {
    if (init_function_type() < 0) return -1;
    PyObject* path = PyList_New(0);
    if (!path || PyModule_Add(m, "__path__", path) < 0) return -1;

    PyObject* sources = frozen_sources();
    if (!sources) return -1;
    PyObject* bootstrap = PyDict_GetItemString(sources, "_bootstrap");  // borrowed
    PyObject* installer = PyCFunction_New(&install_def, nullptr);
    PyObject* name = PyUnicode_FromString("tesmar._bootstrap");
    PyObject* ns = PyDict_New();
    int rc = -1;
    if (bootstrap && installer && name && ns && PyDict_SetItemString(ns, "__builtins__", PyEval_GetBuiltins()) == 0 &&
        PyDict_SetItemString(ns, "__name__", name) == 0 &&
        PyDict_SetItemString(ns, "_SOURCES", sources) == 0 &&
        PyDict_SetItemString(ns, "_install_natives", installer) == 0) {
        const char* src = PyUnicode_AsUTF8AndSize(bootstrap, nullptr);
        PyObject* code = src ? Py_CompileString(src, "<tesmar._bootstrap>", Py_file_input) : nullptr;
        PyObject* res = code ? PyEval_EvalCode(code, ns, ns) : nullptr;
        PyObject* boot = res ? PyDict_GetItemString(ns, "boot") : nullptr;  // borrowed
        PyObject* done = boot ? call_one(boot, m) : nullptr;
        rc = done ? 0 : -1;
        Py_XDECREF(done);
        Py_XDECREF(res);
        Py_XDECREF(code);
    }
    Py_XDECREF(ns);
    Py_XDECREF(name);
    Py_XDECREF(installer);
    Py_DECREF(sources);
    return rc;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_tesmar)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "tesmar", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tesmar::py

PyMODINIT_FUNC PyInit_tesmar() { return PyModuleDef_Init(&tesmar::py::module_def); }
