// The one way a native function calls the engine: its converted arguments go in, one engine call
// runs under a GIL policy, its result comes out as a Python object, and every engine error becomes
// the matching Python exception (python/errors.cpp).
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <type_traits>
#include <utility>

#include "engine/args.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"

namespace tesmar::py {

// Whether the engine call runs with the GIL released. Work on a few bytes takes about as long as
// releasing and re-taking the GIL, so it keeps it.
class Gil {
public:
    static constexpr Gil hold() { return Gil(false); }
    static constexpr Gil release() { return Gil(true); }
    static constexpr Gil release_from(std::size_t work_bytes) { return Gil(work_bytes >= kGilReleaseMin); }
    bool releases() const { return release_; }

private:
    explicit constexpr Gil(bool release) : release_(release) {}
    bool release_;
};

// A result the engine writes in place: reserve() makes the bytes object, taking the GIL back for
// that moment if the call released it. A result that is not handed to the caller (the operation
// failed after writing part of it) is wiped before it goes.
class BytesResult final : public Sink {
public:
    BytesResult() = default;
    BytesResult(const BytesResult&) = delete;
    BytesResult& operator=(const BytesResult&) = delete;
    ~BytesResult();
    MutableBytes reserve(std::size_t n) override;
    PyObject* release() {
        PyObject* o = obj_;
        obj_ = nullptr;
        return o;
    }

private:
    PyObject* obj_ = nullptr;
    MutableBytes data_;  // obj_'s bytes
};

// The usual conversions of engine results.
struct ToPython {
    PyObject* operator()(bool value) const { return PyBool_FromLong(value); }
    PyObject* operator()(const Bytes& data) const { return to_bytes(data); }
    PyObject* operator()(const SecureBytes& data) const { return own_bytes(data); }
    PyObject* operator()(BytesResult& out) const { return out.release(); }
    // A bytes object of its own, never the interpreter's shared one-byte object, so that a caller
    // who decodes a secret may wipe it afterwards.
    static PyObject* own_bytes(ByteView data);
};

namespace detail {

class Unlocked {
public:
    explicit Unlocked(Gil gil) : state_(gil.releases() ? PyEval_SaveThread() : nullptr) {}
    ~Unlocked() {
        if (state_) PyEval_RestoreThread(state_);
    }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    PyThreadState* state_;
};

// Sets the Python exception for whatever the engine threw; nullptr.
PyObject* translate_current();

}  // namespace detail

// Runs `work` (the engine call; it must not touch Python objects) under `gil`, then `convert`s its
// result with the GIL held. A void result gives None.
template <class Work, class Convert>
PyObject* call(Gil gil, Work&& work, Convert&& convert) {
    try {
        using R = std::invoke_result_t<Work&>;
        if constexpr (std::is_void_v<R>) {
            {
                detail::Unlocked unlocked(gil);
                work();
            }
            Py_RETURN_NONE;
        } else {
            decltype(auto) result = [&]() -> R {
                detail::Unlocked unlocked(gil);
                return work();
            }();
            return convert(std::forward<R>(result));
        }
    } catch (...) {
        return detail::translate_current();
    }
}

template <class Work>
PyObject* call(Gil gil, Work&& work) {
    return call(gil, std::forward<Work>(work), ToPython{});
}

}  // namespace tesmar::py
