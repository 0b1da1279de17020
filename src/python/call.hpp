// The one way a native function calls the engine: its converted arguments go in, one engine call
// runs under a GIL policy, its result comes out as a Python object, and every engine error becomes
// the matching Python exception (python/errors.cpp).
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "engine/args.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"

namespace tesmar::py {

// Whether the engine call runs with the GIL released: the one place that decides it, by the kind of
// work behind the call.
//
// Giving the GIL up is cheap only while no other thread wants it. With two threads calling, it goes
// to the other thread, and when this call's work is done its thread sleeps until the other one
// gives the GIL back (at its own next release, or after the switch interval): a wake-up of a
// sleeping thread on every hand-off, paid with the GIL held by nobody. Measured with
// make bench-threads (2 cores), two threads that released it around AES-GCM ran at 0.55-0.59x of
// one thread on 4 KiB (1 us of work), 0.75-0.83x on 16 KiB (2 us), anywhere from 0.6x to 1.7x on
// 64 KiB (5 us: it depends on how much Python runs between the calls) and 1.85-1.89x on 256 KiB
// (17 us); held, two threads run at one thread's rate (0.96-1.02x). So each policy releases only
// work of about 10 us or more, estimated from what that kind of work costs:
//   - public-key work (RSA-4096, the KEMs, X25519, ML-DSA and SLH-DSA), key generation, the hybrid
//     envelope (an RSA operation on every call) and loading liboqs: always; the cheapest of them,
//     an RSA-4096 public operation or an ML-DSA-44 verification, takes 30-70 us.
//   - AES-GCM (whole envelopes and file pieces): from kAesGcmFrom bytes, at some 14 GB/s (VAES).
//   - SHA-256 over data (HMAC, HKDF, a key text made a key) and AES-CBC: from kHashOrCbcFrom bytes,
//     at 1-2 GB/s.
//   - PBKDF2: from kPbkdf2From iterations (some 10 us), whatever the size of the password: an
//     iteration is two hash compressions, some 0.3 us with SHA-512 (at 10 iterations held, two
//     threads 0.97x; at 100 released, 1.7-1.8x).
// In a build without a GIL (Py_GIL_DISABLED) there is no hand-off to pay for: every policy but
// hold() releases there, so a stop-the-world pause never waits for this call.
class Gil {
public:
    static constexpr Gil hold() { return Gil(false); }
    static constexpr Gil release() { return Gil(true); }
    static constexpr Gil public_key() { return release(); }
    static constexpr Gil aes_gcm(std::size_t bytes) { return long_enough(bytes >= kAesGcmFrom); }
    static constexpr Gil hash_or_cbc(std::size_t bytes) { return long_enough(bytes >= kHashOrCbcFrom); }
    static constexpr Gil pbkdf2(std::int64_t iterations) { return long_enough(iterations >= kPbkdf2From); }
    static Gil pbkdf2(const Arg<std::int64_t>& iterations) {
        return pbkdf2(iterations.usable() ? iterations.get() : 0);  // unusable: refused at once
    }
    bool releases() const { return release_; }

    static constexpr std::size_t kAesGcmFrom = 128 * 1024;
    static constexpr std::size_t kHashOrCbcFrom = 16 * 1024;
    static constexpr std::int64_t kPbkdf2From = 32;

private:
    explicit constexpr Gil(bool release) : release_(release) {}
    static constexpr Gil long_enough(bool yes) {
#ifdef Py_GIL_DISABLED
        (void)yes;
        return release();
#else
        return Gil(yes);
#endif
    }
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

#ifdef TESMAR_PLANT_RACE
// Test-only (make tsan builds with it; TESMAR_PLANT_RACE=1 in the environment turns it on): counts
// calls in two plain counters, one with the GIL held, one after it was let go. ThreadSanitizer must
// report the second (the check is live) and not the first (it sees the GIL's ordering).
void planted_race(bool gil_released);
#endif

class Unlocked {
public:
    explicit Unlocked(Gil gil) : state_(gil.releases() ? PyEval_SaveThread() : nullptr) {
#ifdef TESMAR_PLANT_RACE
        planted_race(state_ != nullptr);
#endif
    }
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
