#include "python/call.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tesmar::py {

BytesResult::~BytesResult() {
    if (!obj_) return;
    if (data_.size() > 0) OPENSSL_cleanse(data_.data(), data_.size());
    Py_DECREF(obj_);
}

MutableBytes BytesResult::reserve(std::size_t n) {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    const PyGILState_STATE gil = PyGILState_Ensure();
    Py_CLEAR(obj_);
    data_ = {};
    obj_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
    if (obj_) {
        data_ = {reinterpret_cast<std::uint8_t*>(PyBytes_AsString(obj_)), n};
    } else {
        PyErr_Clear();  // reported as the MemoryError it is, once the call has unwound
    }
    PyGILState_Release(gil);
    if (!obj_) throw std::bad_alloc();
    return data_;
}

PyObject* ToPython::own_bytes(ByteView data) {
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(data.size()));
    if (out) std::copy_n(data.data(), data.size(), reinterpret_cast<std::uint8_t*>(PyBytes_AsString(out)));
    return out;
}

namespace detail {

#ifdef TESMAR_PLANT_RACE
namespace {
unsigned long planted_gil_held_count = 0;
unsigned long planted_gil_released_count = 0;
}  // namespace

void planted_race(bool gil_released) {
    static const bool planted = std::getenv("TESMAR_PLANT_RACE") != nullptr;
    if (!planted) return;
    if (gil_released) {
        ++planted_gil_released_count;
        // Stay in the stretch without the GIL long enough that the other thread's write surely falls
        // into it: otherwise a lock this thread meets on its way back could order the two writes,
        // and whether the race is seen would depend on timing.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ++planted_gil_released_count;
    } else {
        ++planted_gil_held_count;
    }
}
#endif

PyObject* translate_current() {
    try {
        throw;
    } catch (const Error& e) {
        set_error(e);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown native failure");
    }
    return nullptr;
}

}  // namespace detail
}  // namespace tesmar::py
