// tesmar.files.core's native part: chunked sealing and opening states for the file functions.
// A state is a capsule over an engine Sealer or Opener; the Python glue moves the bytes.
#include "engine/files.hpp"

#include <memory>
#include <mutex>

#include "engine/aes.hpp"
#include "python/call.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

constexpr const char* kModule = "tesmar.files.core";
constexpr const char* kSealer = "tesmar.files.sealer";
constexpr const char* kOpener = "tesmar.files.opener";

// One call at a time per state: a large piece is worked on with the GIL released.
template <class T>
struct State {
    std::mutex lock;
    T engine;
};

template <class T>
void destroy(PyObject* capsule) {
    delete static_cast<State<T>*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
}

template <class T>
PyObject* capsule(T&& engine, const char* name) {
    auto* state = new State<T>{{}, std::move(engine)};
    PyObject* c = PyCapsule_New(state, name, destroy<T>);
    if (!c) delete state;
    return c;
}

// The state behind a capsule of the right kind; nullptr with ValueError or TypeError set.
template <class T>
State<T>* state_of(PyObject* obj, const char* name) {
    if (!PyCapsule_CheckExact(obj)) {
        PyErr_SetString(PyExc_TypeError, "state must be one returned by this module");
        return nullptr;
    }
    return static_cast<State<T>*>(PyCapsule_GetPointer(obj, name));
}

PyObject* sealer_result(files::Sealer&& sealer) {
    PyObject* header = to_bytes(sealer.header());
    PyObject* tag_at = sealer.tag_at() ? PyLong_FromUnsignedLongLong(*sealer.tag_at()) : Py_NewRef(Py_None);
    PyObject* state = header && tag_at ? capsule(std::move(sealer), kSealer) : nullptr;
    if (!state) {
        Py_XDECREF(header);
        Py_XDECREF(tag_at);
        return nullptr;
    }
    return Py_BuildValue("(NNN)", state, header, tag_at);
}

PyObject* opener_result(files::Opener&& opener) {
    const std::size_t consumed = opener.consumed();
    PyObject* state = capsule(std::move(opener), kOpener);
    if (!state) return nullptr;
    return Py_BuildValue("(Nn)", state, static_cast<Py_ssize_t>(consumed));
}

PyObject* aes_seal_begin(PyObject* const* args) {
    TextIn key;
    if (!key.load(args[0], "key")) return nullptr;
    return call(Gil::hash_or_cbc(key.arg().length()), [&] { return files::aes_sealer(key.arg()); }, sealer_result);
}

PyObject* hybrid_seal_begin(PyObject* const* args) {
    PemIn pem;
    if (!pem.load(args[0])) return nullptr;
    return call(Gil::public_key(), [&] { return files::hybrid_sealer(pem.arg()); }, sealer_result);
}

PyObject* aes_open_begin(PyObject* const* args) {
    TextIn key;
    BytesIn head;
    if (!key.load(args[0], "key") || !head.load(args[1])) return nullptr;
    return call(Gil::hash_or_cbc(key.arg().length()), [&] { return files::aes_opener(key.arg(), head.arg()); }, opener_result);
}

PyObject* hybrid_open_begin(PyObject* const* args) {
    PemIn pem;
    BytesIn head;
    if (!pem.load(args[0]) || !head.load(args[1])) return nullptr;
    return call(Gil::public_key(), [&] { return files::hybrid_opener(pem.arg(), head.arg()); }, opener_result);
}

// A state's lock, for a call running under `gil`. Its holder may be waiting for the GIL (to make
// its result's bytes object), so a thread that holds the GIL never waits for the lock: it lets the
// GIL go while it waits.
template <class T>
std::unique_lock<std::mutex> lock_state(State<T>& state, Gil gil) {
    std::unique_lock lock(state.lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        PyThreadState* saved = gil.releases() ? nullptr : PyEval_SaveThread();
        lock.lock();
        if (saved) PyEval_RestoreThread(saved);
    }
    return lock;
}

// One piece through a sealing or opening state, under the AES-GCM policy for its size. (The
// result's bytes object is made inside, with the GIL taken back for that moment if it was let go.)
template <class T>
PyObject* update(PyObject* const* args, const char* kind) {
    auto* state = state_of<T>(args[0], kind);
    BytesIn chunk;
    if (!state || !chunk.load(args[1])) return nullptr;
    BytesResult out;
    const Gil gil = Gil::aes_gcm(chunk.arg().length());
    return call(gil, [&]() -> BytesResult& {
        const auto hold = lock_state(*state, gil);
        const ByteView in = chunk.arg().get();
        state->engine.update(in, out.reserve(state->engine.output_size(in.size())));
        return out;
    });
}

PyObject* seal_update(PyObject* const* args) { return update<files::Sealer>(args, kSealer); }
PyObject* open_update(PyObject* const* args) { return update<files::Opener>(args, kOpener); }

PyObject* seal_end(PyObject* const* args) {
    auto* state = state_of<files::Sealer>(args[0], kSealer);
    if (!state) return nullptr;
    BytesResult tag;
    return call(Gil::hold(), [&]() -> BytesResult& {
        const auto hold = lock_state(*state, Gil::hold());
        state->engine.finish(tag.reserve(aes::GCM_TAG_SIZE));
        return tag;
    });
}

PyObject* open_end(PyObject* const* args) {
    auto* state = state_of<files::Opener>(args[0], kOpener);
    if (!state) return nullptr;
    return call(Gil::hold(), [&] {
        const auto hold = lock_state(*state, Gil::hold());
        state->engine.finish();
    });
}

PyObject* head_size() { return PyLong_FromSize_t(files::HEAD_SIZE); }

const Register functions{
    FunctionSpec{kModule, "_aes_seal_begin", aes_seal_begin, {{"key", "str"}}, "tuple[object, bytes, None]",
                 "Start sealing an AES-GCM envelope under a key text in pieces.\n\n"
                 "Returns (state, header, None): write the header (the nonce), then what\n"
                 "_seal_update gives for each piece, then the tag from _seal_end."},
    FunctionSpec{kModule, "_hybrid_seal_begin", hybrid_seal_begin, {{"public_pem", "str"}}, "tuple[object, bytes, int]",
                 "Start sealing the length-prefixed hybrid layout to an RSA public key in pieces.\n\n"
                 "Returns (state, header, tag_at): write the header, then the pieces; the tag from\n"
                 "_seal_end goes at offset tag_at of the output. Raises the RSA family's errors."},
    FunctionSpec{kModule, "_aes_open_begin", aes_open_begin, {{"key", "str"}, {"head", "bytes"}}, "tuple[object, int]",
                 "Start opening an AES-GCM envelope from its first bytes.\n\n"
                 "Returns (state, consumed): pass head[consumed:] and every later piece to\n"
                 "_open_update; the plaintext is authentic only once _open_end returns."},
    FunctionSpec{kModule, "_hybrid_open_begin", hybrid_open_begin, {{"private_pem", "str"}, {"head", "bytes"}},
                 "tuple[object, int]",
                 "Start opening a hybrid blob longer than _HEAD_SIZE from its first _HEAD_SIZE bytes.\n\n"
                 "Returns (state, consumed) as _aes_open_begin. Raises the errors of decrypt_auto for\n"
                 "the key and the header."},
    FunctionSpec{kModule, "_seal_update", seal_update, {{"state", "object"}, {"chunk", "bytes"}}, "bytes",
                 "Encrypt one piece; returns its ciphertext (as long as the piece)."},
    FunctionSpec{kModule, "_seal_end", seal_end, {{"state", "object"}}, "bytes",
                 "Finish sealing; returns the 16-byte tag."},
    FunctionSpec{kModule, "_open_update", open_update, {{"state", "object"}, {"chunk", "bytes"}}, "bytes",
                 "Decrypt one piece; returns plaintext that is not authentic until _open_end returns."},
    FunctionSpec{kModule, "_open_end", open_end, {{"state", "object"}}, nullptr,
                 "Check the tag. Raises DecryptionError with the family's message when it fails."},
};

const Register objects{ObjectSpec{kModule, "_HEAD_SIZE", head_size}};

}  // namespace
}  // namespace tesmar::py
