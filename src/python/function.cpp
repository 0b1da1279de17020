#include "python/function.hpp"

#include <cstddef>
#include <deque>
#include <string>

namespace tesmar::py {

namespace {

constexpr std::size_t kMaxParams = 16;

struct NativeFunction {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionSpec* fdef;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* param_names;  // tuple of interned str
    PyObject* defaults;     // tuple of trailing defaults, or nullptr
    std::size_t first_default;  // index of the first parameter with a default
    PyObject* signature;    // built on first use
    PyObject* annotations;  // built on first use
    PyObject* dict;
};

std::deque<FunctionSpec>& function_registry() {
    static std::deque<FunctionSpec> r;
    return r;
}

std::deque<ObjectSpec>& object_registry() {
    static std::deque<ObjectSpec> r;
    return r;
}

// A heap type made once per process (the module refuses subinterpreters) and kept for good.
PyTypeObject* native_function_type = nullptr;

// Quoted parameter names joined as CPython does: 'a', 'a' and 'b', 'a', 'b', and 'c'.
std::string join_names(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() > 2 ? ", " : " ";
        if (i > 0 && i + 1 == names.size()) out += "and ";
        out += "'" + names[i] + "'";
    }
    return out;
}

PyObject* too_many_positional(const NativeFunction* f, std::size_t given) {
    const std::size_t np = f->fdef->params.size();
    const std::size_t lo = f->first_default;
    std::string takes = lo == np ? std::to_string(np) : "from " + std::to_string(lo) + " to " + std::to_string(np);
    PyErr_Format(PyExc_TypeError, "%U() takes %s positional argument%s but %zu %s given", f->qualname,
                 takes.c_str(), np == 1 && lo == np ? "" : "s", given, given == 1 ? "was" : "were");
    return nullptr;
}

PyObject* call(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    const auto& params = f->fdef->params;
    const std::size_t np = params.size();
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    const std::size_t nkw = kwnames ? static_cast<std::size_t>(PyTuple_Size(kwnames)) : 0;
    if (nkw == 0 && nargs == np) return f->fdef->impl(args);
    if (nargs > np) return too_many_positional(f, nargs);

    PyObject* bound[kMaxParams] = {};
    for (std::size_t i = 0; i < nargs; ++i) bound[i] = args[i];
    for (std::size_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GetItem(kwnames, static_cast<Py_ssize_t>(k));
        std::size_t idx = np;
        for (std::size_t i = 0; i < np; ++i) {
            PyObject* pname = PyTuple_GetItem(f->param_names, static_cast<Py_ssize_t>(i));
            if (pname == key || PyUnicode_Compare(pname, key) == 0) {
                idx = i;
                break;
            }
        }
        if (idx == np) {
            PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", f->qualname, key);
            return nullptr;
        }
        if (bound[idx]) {
            PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%U'", f->qualname, key);
            return nullptr;
        }
        bound[idx] = args[nargs + k];
    }
    const std::size_t lo = f->first_default;
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < np; ++i) {
        if (bound[i]) continue;
        if (i >= lo) {
            bound[i] = PyTuple_GetItem(f->defaults, static_cast<Py_ssize_t>(i - lo));
        } else {
            missing.emplace_back(params[i].name);
        }
    }
    if (!missing.empty()) {
        PyErr_Format(PyExc_TypeError, "%U() missing %zu required positional argument%s: %s", f->qualname,
                     missing.size(), missing.size() == 1 ? "" : "s", join_names(missing).c_str());
        return nullptr;
    }
    return f->fdef->impl(bound);
}

PyObject* annotation_text(const char* text) {
    if (!text) return nullptr;
    return PyUnicode_FromString(text);
}

PyObject* get_annotations(PyObject* self, void*) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    if (!f->annotations) {
        PyObject* d = PyDict_New();
        if (!d) return nullptr;
        auto add = [&](const char* key, const char* text) {
            if (!text) return 0;
            PyObject* v = annotation_text(text);
            int rc = v ? PyDict_SetItemString(d, key, v) : -1;
            Py_XDECREF(v);
            return rc;
        };
        for (const Param& p : f->fdef->params) {
            if (add(p.name, p.annotation) < 0) {
                Py_DECREF(d);
                return nullptr;
            }
        }
        if (add("return", f->fdef->returns) < 0) {
            Py_DECREF(d);
            return nullptr;
        }
        f->annotations = d;
    }
    return Py_NewRef(f->annotations);
}

PyObject* get_signature(PyObject* self, void*) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    if (f->signature) return Py_NewRef(f->signature);
    PyObject* inspect = PyImport_ImportModule("inspect");
    if (!inspect) return nullptr;
    PyObject* result = nullptr;
    PyObject* parameter_cls = PyObject_GetAttrString(inspect, "Parameter");
    PyObject* signature_cls = PyObject_GetAttrString(inspect, "Signature");
    PyObject* kind = parameter_cls ? PyObject_GetAttrString(parameter_cls, "POSITIONAL_OR_KEYWORD") : nullptr;
    PyObject* empty = signature_cls ? PyObject_GetAttrString(signature_cls, "empty") : nullptr;
    PyObject* list = PyList_New(0);
    const std::size_t lo = f->first_default;
    bool ok = kind && empty && list;
    for (std::size_t i = 0; ok && i < f->fdef->params.size(); ++i) {
        const Param& p = f->fdef->params[i];
        PyObject* ann = p.annotation ? PyUnicode_FromString(p.annotation) : Py_NewRef(empty);
        PyObject* def = Py_NewRef(i >= lo ? PyTuple_GetItem(f->defaults, static_cast<Py_ssize_t>(i - lo)) : empty);
        PyObject* kw = Py_BuildValue("{s:N,s:N}", "default", def, "annotation", ann);
        PyObject* posargs = Py_BuildValue("(sO)", p.name, kind);
        PyObject* param = kw && posargs ? PyObject_Call(parameter_cls, posargs, kw) : nullptr;
        Py_XDECREF(kw);
        Py_XDECREF(posargs);
        ok = param && PyList_Append(list, param) == 0;
        Py_XDECREF(param);
    }
    if (ok) {
        PyObject* ret = f->fdef->returns ? PyUnicode_FromString(f->fdef->returns) : Py_NewRef(empty);
        PyObject* posargs = Py_BuildValue("(O)", list);
        PyObject* kw = Py_BuildValue("{s:N}", "return_annotation", ret);
        result = posargs && kw ? PyObject_Call(signature_cls, posargs, kw) : nullptr;
        Py_XDECREF(posargs);
        Py_XDECREF(kw);
    }
    Py_XDECREF(list);
    Py_XDECREF(empty);
    Py_XDECREF(kind);
    Py_XDECREF(signature_cls);
    Py_XDECREF(parameter_cls);
    Py_DECREF(inspect);
    if (result) f->signature = Py_NewRef(result);
    return result;
}

PyObject* get_defaults(PyObject* self, void*) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    return Py_NewRef(f->defaults ? f->defaults : Py_None);
}

PyObject* get_kwdefaults(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* reduce(PyObject* self, PyObject*) {
    // Pickled by reference, like a Python function: module + qualname.
    return Py_NewRef(reinterpret_cast<NativeFunction*>(self)->qualname);
}

PyObject* repr(PyObject* self) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    return PyUnicode_FromFormat("<native function %U.%U>", f->module, f->qualname);
}

// Like a static method: reading it through a class or an instance gives the function itself.
// This also makes pydoc and inspect list it among a module's routines.
PyObject* descr_get(PyObject* self, PyObject*, PyObject*) { return Py_NewRef(self); }

int traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->defaults);
    Py_VISIT(f->signature);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    return 0;
}

int clear(PyObject* self) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->signature);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    return 0;
}

void dealloc(PyObject* self) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->param_names);
    PyObject_GC_Del(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// A heap type's own __module__ and __doc__ live in its dictionary, where descriptors of the same
// names for its instances would take their place (type(f).__module__ would be a descriptor).
// So the type's dictionary keeps its own, and a function's are looked up first by getattro.
PyObject** own_attribute(PyObject* self, PyObject* name) {
    auto* f = reinterpret_cast<NativeFunction*>(self);
    if (PyUnicode_Check(name)) {
        if (PyUnicode_CompareWithASCIIString(name, "__module__") == 0) return &f->module;
        if (PyUnicode_CompareWithASCIIString(name, "__doc__") == 0) return &f->doc;
    }
    return nullptr;
}

PyObject* getattro(PyObject* self, PyObject* name) {
    if (PyObject** slot = own_attribute(self, name)) return Py_NewRef(*slot);
    return PyObject_GenericGetAttr(self, name);
}

int setattro(PyObject* self, PyObject* name, PyObject* value) {
    if (own_attribute(self, name)) {
        PyErr_SetString(PyExc_AttributeError, "readonly attribute");
        return -1;
    }
    return PyObject_GenericSetAttr(self, name, value);
}

PyMemberDef members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(NativeFunction, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(NativeFunction, qualname), Py_READONLY, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(NativeFunction, vectorcall), Py_READONLY, nullptr},
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(NativeFunction, dict), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"__reduce__", reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A function of tesmar implemented in C++.")},
    {Py_tp_getattro, reinterpret_cast<void*>(getattro)},
    {Py_tp_setattro, reinterpret_cast<void*>(setattro)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_members, members},
    {Py_tp_getset, getset},
    {Py_tp_methods, methods},
    {Py_tp_descr_get, reinterpret_cast<void*>(descr_get)},
    {0, nullptr},
};

// Made only by the module loader, and as immutable as a built-in function.
PyType_Spec type_spec = {
    "tesmar.native_function",
    sizeof(NativeFunction),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

int init_function_type() {
    if (native_function_type) return 0;
    native_function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    return native_function_type ? 0 : -1;
}

namespace {

// A default's expression, evaluated in the module's namespace.
PyObject* evaluate(const char* expr, PyObject* globals) {
    PyObject* code = Py_CompileString(expr, "<default>", Py_eval_input);
    PyObject* value = code ? PyEval_EvalCode(code, globals, globals) : nullptr;
    Py_XDECREF(code);
    return value;
}

}  // namespace

PyObject* make_function(const FunctionSpec& fdef, PyObject* globals) {
    if (fdef.params.size() > kMaxParams) {
        PyErr_SetString(PyExc_SystemError, "too many parameters for a native function");
        return nullptr;
    }
    auto* f = PyObject_GC_New(NativeFunction, native_function_type);
    if (!f) return nullptr;
    f->vectorcall = call;
    f->fdef = &fdef;
    f->name = PyUnicode_InternFromString(fdef.name);
    f->qualname = Py_XNewRef(f->name);
    f->module = PyUnicode_FromString(fdef.module);
    f->doc = fdef.doc ? PyUnicode_FromString(fdef.doc) : Py_NewRef(Py_None);
    f->param_names = PyTuple_New(static_cast<Py_ssize_t>(fdef.params.size()));
    f->defaults = nullptr;
    f->first_default = fdef.params.size();
    f->signature = nullptr;
    f->annotations = nullptr;
    f->dict = nullptr;
    PyObject_GC_Track(f);
    PyObject* self = reinterpret_cast<PyObject*>(f);
    if (!f->name || !f->module || !f->doc || !f->param_names) {
        Py_DECREF(self);
        return nullptr;
    }
    std::vector<PyObject*> defaults;
    bool ok = true;
    for (std::size_t i = 0; ok && i < fdef.params.size(); ++i) {
        PyObject* pname = PyUnicode_InternFromString(fdef.params[i].name);
        ok = pname != nullptr;
        ok = ok && PyTuple_SetItem(f->param_names, static_cast<Py_ssize_t>(i), pname) == 0;
        if (ok && fdef.params[i].default_expr) {
            PyObject* v = evaluate(fdef.params[i].default_expr, globals);
            ok = v != nullptr;
            if (ok) {
                if (defaults.empty()) f->first_default = i;
                defaults.push_back(v);
            }
        } else if (ok && !defaults.empty()) {
            PyErr_Format(PyExc_SystemError, "%s: parameter without default after one with", fdef.name);
            ok = false;
        }
    }
    if (ok && !defaults.empty()) {
        f->defaults = PyTuple_New(static_cast<Py_ssize_t>(defaults.size()));
        ok = f->defaults != nullptr;
        for (std::size_t i = 0; ok && i < defaults.size(); ++i) {
            ok = PyTuple_SetItem(f->defaults, static_cast<Py_ssize_t>(i), defaults[i]) == 0;  // steals it
            defaults[i] = nullptr;
        }
    }
    for (PyObject* d : defaults) Py_XDECREF(d);
    if (!ok) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

Register::Register(std::initializer_list<FunctionSpec> functions) {
    for (const auto& s : functions) function_registry().push_back(s);
}

Register::Register(std::initializer_list<ObjectSpec> objects) {
    for (const auto& s : objects) object_registry().push_back(s);
}

int install_natives(PyObject* module) {
    const char* name = PyModule_GetName(module);
    if (!name) return -1;
    PyObject* globals = PyModule_GetDict(module);  // borrowed
    // Objects first: default expressions of the functions may name them.
    for (const ObjectSpec& fdef : object_registry()) {
        if (std::string_view(fdef.module) != name) continue;
        PyObject* obj = fdef.make();
        if (!obj || PyModule_Add(module, fdef.name, obj) < 0) return -1;
    }
    for (const FunctionSpec& fdef : function_registry()) {
        if (std::string_view(fdef.module) != name) continue;
        PyObject* fn = make_function(fdef, globals);
        if (!fn || PyModule_Add(module, fdef.name, fn) < 0) return -1;
    }
    return 0;
}

}  // namespace tesmar::py
