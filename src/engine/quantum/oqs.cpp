#include "engine/quantum/oqs.hpp"

#include <cstddef>
#include <cstdint>

#include <atomic>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>

namespace tesmar::oqs {

namespace {

// The leading fields of liboqs's OQS_KEM and OQS_SIG (the same from 0.14 on). tesmar only reads
// them through pointers liboqs hands out, so declaring a prefix of each object is enough.
struct OqsKem {
    const char* method_name;
    const char* alg_version;
    std::uint8_t claimed_nist_level;
    bool ind_cca;
    std::size_t length_public_key;
    std::size_t length_secret_key;
    std::size_t length_ciphertext;
    std::size_t length_shared_secret;
};

struct OqsSig {
    const char* method_name;
    const char* alg_version;
    std::uint8_t claimed_nist_level;
    bool euf_cma;
    bool suf_cma;
    bool sig_with_ctx_support;
    std::size_t length_public_key;
    std::size_t length_secret_key;
    std::size_t length_signature;
};

static_assert(offsetof(OqsKem, length_public_key) == 24 && offsetof(OqsKem, length_shared_secret) == 48);
static_assert(offsetof(OqsSig, length_public_key) == 24 && offsetof(OqsSig, length_signature) == 40);

using Status = int;  // OQS_STATUS: OQS_SUCCESS is 0
constexpr Status kSuccess = 0;

// A liboqs function, called like one: its exported name stands beside the type it is declared with.
template <class F>
struct Symbol {
    const char* name;
    F* fn = nullptr;
    template <class... Args>
    decltype(auto) operator()(Args&&... args) const {
        return fn(std::forward<Args>(args)...);
    }
};

struct Api {
    LibraryInfo info;
    Symbol<OqsKem*(const char*)> kem_new{"OQS_KEM_new"};
    Symbol<void(OqsKem*)> kem_free{"OQS_KEM_free"};
    Symbol<Status(const OqsKem*, std::uint8_t*, std::uint8_t*)> kem_keypair{"OQS_KEM_keypair"};
    Symbol<Status(const OqsKem*, std::uint8_t*, std::uint8_t*, const std::uint8_t*)> kem_encaps{"OQS_KEM_encaps"};
    Symbol<Status(const OqsKem*, std::uint8_t*, const std::uint8_t*, const std::uint8_t*)> kem_decaps{
        "OQS_KEM_decaps"};
    Symbol<OqsSig*(const char*)> sig_new{"OQS_SIG_new"};
    Symbol<void(OqsSig*)> sig_free{"OQS_SIG_free"};
    Symbol<Status(const OqsSig*, std::uint8_t*, std::uint8_t*)> sig_keypair{"OQS_SIG_keypair"};
    Symbol<Status(const OqsSig*, std::uint8_t*, std::size_t*, const std::uint8_t*, std::size_t, const std::uint8_t*)>
        sig_sign{"OQS_SIG_sign"};
    Symbol<Status(const OqsSig*, const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t,
                  const std::uint8_t*)>
        sig_verify{"OQS_SIG_verify"};
    Symbol<int()> sig_alg_count{"OQS_SIG_alg_count"};
    Symbol<const char*(std::size_t)> sig_alg_identifier{"OQS_SIG_alg_identifier"};
    Symbol<int(const char*)> sig_alg_is_enabled{"OQS_SIG_alg_is_enabled"};

    // Every symbol above, in the order missing ones are reported; one left out would stay null.
    auto symbols() {
        return std::tie(kem_new, kem_free, kem_keypair, kem_encaps, kem_decaps, sig_new, sig_free, sig_keypair,
                        sig_sign, sig_verify, sig_alg_count, sig_alg_identifier, sig_alg_is_enabled);
    }
};

// Names for the dynamic loader's search: the development symlink, then the soname of 0.14 to 0.16,
// then its neighbours; the same on macOS.
constexpr const char* kLibraryNames[] = {"liboqs.so",    "liboqs.so.9",    "liboqs.so.10",    "liboqs.so.8",
                                         "liboqs.dylib", "liboqs.9.dylib", "liboqs.10.dylib", "liboqs.8.dylib"};
// Last, the copy the tesmar[quantum] companion wheel (tesmar-liboqs) installs in the same
// site-packages as tesmar: <site-packages>/tesmar_liboqs/lib/. Found from the extension's own path
// (<site-packages>/tesmar/__init__.<abi>.so), so nothing of the companion is imported.
constexpr const char* kCompanionNames[] = {"tesmar_liboqs/lib/liboqs.so.9", "tesmar_liboqs/lib/liboqs.9.dylib"};

std::string own_directory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&own_directory), &info) == 0 || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The loaded library, published once and never unloaded: the only mutable global of the engine.
std::atomic<const Api*> g_api{nullptr};
std::mutex g_load_mutex;

template <class F>
void resolve(void* handle, Symbol<F>& symbol, std::string& missing) {
    symbol.fn = reinterpret_cast<F*>(dlsym(handle, symbol.name));
    if (!symbol.fn) missing += missing.empty() ? symbol.name : std::string(", ") + symbol.name;
}

// Opens one candidate; on success returns the finished Api, else appends why to `why`.
std::unique_ptr<Api> open_candidate(const char* name, std::string& why) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        why += std::string(why.empty() ? "" : "; ") + (err ? err : name);
        return nullptr;
    }
    auto api = std::make_unique<Api>();
    std::string missing;
    std::apply([&](auto&... symbol) { (resolve(handle, symbol, missing), ...); }, api->symbols());
    if (!missing.empty()) {
        why += std::string(why.empty() ? "" : "; ") + name + " lacks " + missing;
        dlclose(handle);
        return nullptr;
    }
    // Optional: CPU feature detection (OQS_init) and the version text.
    if (auto init = reinterpret_cast<void (*)()>(dlsym(handle, "OQS_init"))) init();
    auto version = reinterpret_cast<const char* (*)()>(dlsym(handle, "OQS_version"));
    const char* v = version ? version() : nullptr;
    api->info.version = v ? v : "unknown";
    link_map* map = nullptr;
    api->info.path = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name
                         ? map->l_name
                         : name;
    return api;
}

const Api& api() {
    if (const Api* a = g_api.load(std::memory_order_acquire)) return *a;
    std::lock_guard<std::mutex> lock(g_load_mutex);
    if (const Api* a = g_api.load(std::memory_order_acquire)) return *a;
    std::string why;
    std::vector<std::string> candidates(std::begin(kLibraryNames), std::end(kLibraryNames));
    if (const std::string dir = own_directory(); !dir.empty())
        for (const char* name : kCompanionNames) candidates.push_back(dir + "/../" + name);
    for (const std::string& name : candidates) {
        if (auto loaded = open_candidate(name.c_str(), why)) {
            const Api* a = loaded.release();
            g_api.store(a, std::memory_order_release);
            return *a;
        }
    }
    throw Error(ErrorKind::QuantumOperation, INSTALL_MESSAGE,
                Cause{ErrorKind::Import, "liboqs could not be loaded: " + why});
}

[[noreturn]] void fail(const char* prefix, std::string_view alg, const std::string& reason) {
    throw wrap(ErrorKind::QuantumOperation, prefix + std::string(alg) + "): ", Cause{ErrorKind::Value, reason});
}

// Mechanism names go to liboqs as C strings; one with a NUL inside names nothing liboqs knows.
bool usable_name(std::string_view alg) { return alg.find('\0') == std::string_view::npos; }

// liboqs is never handed a null pointer, even for an empty message.
const std::uint8_t* message_data(ByteView message) {
    static const std::uint8_t empty = 0;
    return message.empty() ? &empty : message.data();
}

// Why the sizes an object reports cannot be used (liboqs would be handed empty buffers), or null.
const char* empty_size(const OqsKem& k) {
    const bool sized = k.length_public_key != 0 && k.length_secret_key != 0 && k.length_ciphertext != 0 &&
                       k.length_shared_secret != 0;
    return sized ? nullptr : "liboqs reports an empty key, ciphertext or secret size";
}

const char* empty_size(const OqsSig& s) {
    const bool sized = s.length_public_key != 0 && s.length_secret_key != 0 && s.length_signature != 0;
    return sized ? nullptr : "liboqs reports an empty key or signature size";
}

// An OQS_KEM or OQS_SIG for one call: made by the Api member `create`, freed by `destroy` on every
// path.
template <class Object, auto create, auto destroy>
class Handle {
public:
    Handle(const Api& api, std::string_view alg, const char* prefix) : api_(api), alg_(alg), prefix_(prefix) {
        const std::string name(alg);
        obj_ = usable_name(alg) ? (api_.*create)(name.c_str()) : nullptr;
        if (!obj_) fail("mechanism is unknown to liboqs " + api_.info.version + " or disabled in it");
        if (const char* why = empty_size(*obj_)) {
            (api_.*destroy)(obj_);  // a throwing constructor runs no destructor
            fail(why);
        }
    }
    ~Handle() { (api_.*destroy)(obj_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const Object& operator*() const { return *obj_; }
    const Object* get() const { return obj_; }
    [[noreturn]] void fail(const std::string& reason) const { oqs::fail(prefix_, alg_, reason); }
    void check(Status s, const char* function) const {
        if (s != kSuccess) fail(std::string("liboqs reported an error from ") + function);
    }
    // liboqs reads exactly the mechanism's size from each buffer it is given.
    void expect(const char* what, std::size_t size, ByteView input) const {
        if (input.size() == size) return;
        fail(std::string(what) + " must be " + std::to_string(size) + " bytes, not " + std::to_string(input.size()));
    }

private:
    const Api& api_;
    std::string_view alg_;
    const char* prefix_;
    Object* obj_ = nullptr;
};

using Kem = Handle<OqsKem, &Api::kem_new, &Api::kem_free>;
using Sig = Handle<OqsSig, &Api::sig_new, &Api::sig_free>;

// A KEM or signature key pair from `keypair` (the Api member), named `function` in failures.
template <class Mechanism, class Keypair>
KeyPair generate(std::string_view alg, const char* prefix, Keypair Api::*keypair, const char* function) {
    const Api& a = api();
    const Mechanism handle(a, alg, prefix);
    KeyPair out{Bytes((*handle).length_public_key), SecureBytes((*handle).length_secret_key)};
    handle.check((a.*keypair)(handle.get(), out.public_key.data(), out.secret_key.data()), function);
    return out;
}

constexpr std::string_view kNames[4][STRENGTHS] = {
    {"FrodoKEM-640-AES", "FrodoKEM-976-AES", "FrodoKEM-1344-AES"},
    {"Classic-McEliece-6688128", "Classic-McEliece-6960119", "Classic-McEliece-8192128"},
    {"ML-KEM-512", "ML-KEM-768", "ML-KEM-1024"},
    {"ML-DSA-44", "ML-DSA-65", "ML-DSA-87"},
};

const SlhCandidates kSlhDsa[STRENGTHS] = {
    {"SLH-DSA-SHA2-128f", "SLH_DSA_PURE_SHA2_128F"},
    {"SLH-DSA-SHA2-192f", "SLH_DSA_PURE_SHA2_192F"},
    {"SLH-DSA-SHA2-256f", "SLH_DSA_PURE_SHA2_256F"},
};

std::size_t strength_index(std::int64_t strength) {
    if (strength < 0 || strength >= STRENGTHS) throw Error::missing_key(strength);
    return static_cast<std::size_t>(strength);
}

}  // namespace

const LibraryInfo& library() { return api().info; }

namespace {

// liboqs reads keys, ciphertexts and signatures with loads as wide as the words it computes in
// (FrodoKEM reads its secret key as uint16_t), which is defined only on memory aligned for them,
// and it only ever allocates such memory itself. A view into the middle of a caller's buffer (a
// scheme 7 key follows an RSA key of any length) is handed over as an aligned, wiped copy.
class Aligned {
public:
    explicit Aligned(ByteView v) : view_(v) {
        if (reinterpret_cast<std::uintptr_t>(v.data()) % alignof(std::max_align_t) != 0) {
            copy_ = SecureBytes(v);
            view_ = copy_.view();
        }
    }
    const std::uint8_t* data() const { return view_.data(); }

private:
    ByteView view_;
    SecureBytes copy_;
};

}  // namespace

std::string_view mechanism(Family family, std::int64_t strength) {
    return kNames[static_cast<int>(family)][strength_index(strength)];
}

const SlhCandidates& slhdsa_candidates(std::int64_t strength) { return kSlhDsa[strength_index(strength)]; }

std::vector<std::string> enabled_sig_mechanisms() {
    const Api& a = api();
    std::vector<std::string> names;
    const int count = a.sig_alg_count();
    for (int i = 0; i < count; ++i) {
        const char* id = a.sig_alg_identifier(static_cast<std::size_t>(i));
        if (id && a.sig_alg_is_enabled(id)) names.emplace_back(id);
    }
    return names;
}

std::string sig_algorithm(std::string_view kind, std::int64_t strength) {
    if (kind == "mldsa") return std::string(mechanism(Family::Mldsa, strength));
    const std::vector<std::string> enabled = enabled_sig_mechanisms();
    const SlhCandidates& candidates = slhdsa_candidates(strength);
    for (std::string_view candidate : candidates)
        for (const std::string& name : enabled)
            if (name == candidate) return name;
    std::string tried = "[";
    for (std::size_t i = 0; i < candidates.size(); ++i)
        tried += (i ? ", '" : "'") + std::string(candidates[i]) + "'";
    throw Error(ErrorKind::QuantumOperation, "No SLH-DSA mechanism available; tried " + tried + "]");
}

KeyPair kem_keypair(std::string_view alg) {
    return generate<Kem>(alg, KEM_KEYPAIR_PREFIX, &Api::kem_keypair, "OQS_KEM_keypair");
}

Encapsulation encapsulate(std::string_view alg, ByteView public_key) {
    const Api& a = api();
    const Kem kem(a, alg, ENCAPS_PREFIX);
    kem.expect("the public key", (*kem).length_public_key, public_key);
    Encapsulation out{Bytes((*kem).length_ciphertext), SecureBytes((*kem).length_shared_secret)};
    kem.check(a.kem_encaps(kem.get(), out.ciphertext.data(), out.shared_secret.data(), Aligned(public_key).data()),
              "OQS_KEM_encaps");
    return out;
}

SecureBytes decapsulate(std::string_view alg, ByteView secret_key, ByteView ciphertext) {
    const Api& a = api();
    const Kem kem(a, alg, DECAPS_PREFIX);
    kem.expect("the secret key", (*kem).length_secret_key, secret_key);
    kem.expect("the ciphertext", (*kem).length_ciphertext, ciphertext);
    SecureBytes secret((*kem).length_shared_secret);
    kem.check(a.kem_decaps(kem.get(), secret.data(), Aligned(ciphertext).data(), Aligned(secret_key).data()),
              "OQS_KEM_decaps");
    return secret;
}

KeyPair sig_keypair(std::string_view alg) {
    return generate<Sig>(alg, SIG_KEYPAIR_PREFIX, &Api::sig_keypair, "OQS_SIG_keypair");
}

Bytes sig_sign(std::string_view alg, ByteView secret_key, ByteView message) {
    const Api& a = api();
    const Sig sig(a, alg, SIGN_PREFIX);
    sig.expect("the secret key", (*sig).length_secret_key, secret_key);
    Bytes signature((*sig).length_signature);
    std::size_t length = 0;
    sig.check(a.sig_sign(sig.get(), signature.data(), &length, message_data(message), message.size(),
                         Aligned(secret_key).data()),
              "OQS_SIG_sign");
    if (length > signature.size()) sig.fail("liboqs reported a signature longer than its maximum");
    signature.resize(length);
    return signature;
}

bool sig_verify(std::string_view alg, ByteView public_key, ByteView message, ByteView signature) {
    const Api& a = api();
    try {
        const Sig sig(a, alg, "");
        if (public_key.size() != (*sig).length_public_key) return false;
        // liboqs's verifiers may read the mechanism's full signature size whatever length they are
        // told (SLH-DSA does), so only a signature of exactly that size is handed over. Every
        // mechanism tesmar uses (ML-DSA, SLH-DSA) signs at exactly that size, so nothing valid is
        // lost; any other length is simply not a signature.
        if (signature.size() != (*sig).length_signature) return false;
        return a.sig_verify(sig.get(), message_data(message), message.size(), Aligned(signature).data(),
                            signature.size(), Aligned(public_key).data()) == kSuccess;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace tesmar::oqs
