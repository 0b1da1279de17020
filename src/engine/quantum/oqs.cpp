#include "engine/quantum/oqs.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <mutex>

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

struct Api {
    LibraryInfo info;
    OqsKem* (*kem_new)(const char*);
    void (*kem_free)(OqsKem*);
    Status (*kem_keypair)(const OqsKem*, std::uint8_t*, std::uint8_t*);
    Status (*kem_encaps)(const OqsKem*, std::uint8_t*, std::uint8_t*, const std::uint8_t*);
    Status (*kem_decaps)(const OqsKem*, std::uint8_t*, const std::uint8_t*, const std::uint8_t*);
    OqsSig* (*sig_new)(const char*);
    void (*sig_free)(OqsSig*);
    Status (*sig_keypair)(const OqsSig*, std::uint8_t*, std::uint8_t*);
    Status (*sig_sign)(const OqsSig*, std::uint8_t*, std::size_t*, const std::uint8_t*, std::size_t,
                       const std::uint8_t*);
    Status (*sig_verify)(const OqsSig*, const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t,
                         const std::uint8_t*);
    int (*sig_alg_count)();
    const char* (*sig_alg_identifier)(std::size_t);
    int (*sig_alg_is_enabled)(const char*);
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

template <class Fn>
bool resolve(void* handle, const char* symbol, Fn& out, std::string& missing) {
    out = reinterpret_cast<Fn>(dlsym(handle, symbol));
    if (!out) missing += missing.empty() ? symbol : std::string(", ") + symbol;
    return out != nullptr;
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
    resolve(handle, "OQS_KEM_new", api->kem_new, missing);
    resolve(handle, "OQS_KEM_free", api->kem_free, missing);
    resolve(handle, "OQS_KEM_keypair", api->kem_keypair, missing);
    resolve(handle, "OQS_KEM_encaps", api->kem_encaps, missing);
    resolve(handle, "OQS_KEM_decaps", api->kem_decaps, missing);
    resolve(handle, "OQS_SIG_new", api->sig_new, missing);
    resolve(handle, "OQS_SIG_free", api->sig_free, missing);
    resolve(handle, "OQS_SIG_keypair", api->sig_keypair, missing);
    resolve(handle, "OQS_SIG_sign", api->sig_sign, missing);
    resolve(handle, "OQS_SIG_verify", api->sig_verify, missing);
    resolve(handle, "OQS_SIG_alg_count", api->sig_alg_count, missing);
    resolve(handle, "OQS_SIG_alg_identifier", api->sig_alg_identifier, missing);
    resolve(handle, "OQS_SIG_alg_is_enabled", api->sig_alg_is_enabled, missing);
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

std::string size_text(const char* what, std::size_t expected, std::size_t got) {
    return std::string(what) + " must be " + std::to_string(expected) + " bytes, not " + std::to_string(got);
}

// Mechanism names go to liboqs as C strings; one with a NUL inside names nothing liboqs knows.
bool usable_name(std::string_view alg) { return alg.find('\0') == std::string_view::npos; }

// What differs between an OQS_KEM and an OQS_SIG for the handle below: how liboqs makes and frees
// one, and whether the sizes it reports are usable.
struct KemOps {
    using Object = OqsKem;
    static constexpr auto create = &Api::kem_new;
    static constexpr auto destroy = &Api::kem_free;
    static constexpr const char* kEmptySize = "liboqs reports an empty key, ciphertext or secret size";
    static bool sized(const OqsKem& k) {
        return k.length_public_key != 0 && k.length_secret_key != 0 && k.length_ciphertext != 0 &&
               k.length_shared_secret != 0;
    }
};

struct SigOps {
    using Object = OqsSig;
    static constexpr auto create = &Api::sig_new;
    static constexpr auto destroy = &Api::sig_free;
    static constexpr const char* kEmptySize = "liboqs reports an empty key or signature size";
    static bool sized(const OqsSig& s) {
        return s.length_public_key != 0 && s.length_secret_key != 0 && s.length_signature != 0;
    }
};

// An OQS_KEM or OQS_SIG for one call, freed on every path.
template <class Ops>
class Handle {
public:
    using Object = typename Ops::Object;

    Handle(const Api& api, std::string_view alg, const char* prefix) : api_(api), alg_(alg), prefix_(prefix) {
        const std::string name(alg);
        obj_ = usable_name(alg) ? (api_.*Ops::create)(name.c_str()) : nullptr;
        if (!obj_) fail("mechanism is unknown to liboqs " + api_.info.version + " or disabled in it");
        if (!Ops::sized(*obj_)) {
            (api_.*Ops::destroy)(obj_);  // a throwing constructor runs no destructor
            fail(Ops::kEmptySize);
        }
    }
    ~Handle() { (api_.*Ops::destroy)(obj_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const Object& operator*() const { return *obj_; }
    const Object* get() const { return obj_; }
    [[noreturn]] void fail(const std::string& reason) const { oqs::fail(prefix_, alg_, reason); }
    void check(Status s, const char* function) const {
        if (s != kSuccess) fail(std::string("liboqs reported an error from ") + function);
    }

private:
    const Api& api_;
    std::string_view alg_;
    const char* prefix_;
    Object* obj_ = nullptr;
};

using Kem = Handle<KemOps>;
using Sig = Handle<SigOps>;

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
    if (strength < 0 || strength >= STRENGTHS) throw Error(ErrorKind::Key, std::to_string(strength));
    return static_cast<std::size_t>(strength);
}

}  // namespace

const LibraryInfo& library() { return api().info; }

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

namespace {

// Some of liboqs's implementations read keys and ciphertexts as arrays of wider integers
// (FrodoKEM's matrices as uint16_t), which is undefined for a buffer at an odd address, such as a
// key sliced out of a longer one (scheme 7's FrodoKEM key follows a DER key of any length). Such
// a buffer is handed over as an aligned copy, wiped afterwards.
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
    SecureBytes copy_;
    ByteView view_;
};

}  // namespace

KeyPair kem_keypair(std::string_view alg) {
    const Api& a = api();
    const Kem kem(a, alg, KEM_KEYPAIR_PREFIX);
    KeyPair out{Bytes((*kem).length_public_key), SecureBytes((*kem).length_secret_key)};
    kem.check(a.kem_keypair(kem.get(), out.public_key.data(), out.secret_key.data()), "OQS_KEM_keypair");
    return out;
}

Encapsulation encapsulate(std::string_view alg, ByteView public_key) {
    const Api& a = api();
    const Kem kem(a, alg, ENCAPS_PREFIX);
    if (public_key.size() != (*kem).length_public_key)
        kem.fail(size_text("the public key", (*kem).length_public_key, public_key.size()));
    Encapsulation out{Bytes((*kem).length_ciphertext), SecureBytes((*kem).length_shared_secret)};
    kem.check(a.kem_encaps(kem.get(), out.ciphertext.data(), out.shared_secret.data(), Aligned(public_key).data()),
              "OQS_KEM_encaps");
    return out;
}

SecureBytes decapsulate(std::string_view alg, ByteView secret_key, ByteView ciphertext) {
    const Api& a = api();
    const Kem kem(a, alg, DECAPS_PREFIX);
    if (secret_key.size() != (*kem).length_secret_key)
        kem.fail(size_text("the secret key", (*kem).length_secret_key, secret_key.size()));
    if (ciphertext.size() != (*kem).length_ciphertext)
        kem.fail(size_text("the ciphertext", (*kem).length_ciphertext, ciphertext.size()));
    SecureBytes secret((*kem).length_shared_secret);
    kem.check(a.kem_decaps(kem.get(), secret.data(), Aligned(ciphertext).data(), Aligned(secret_key).data()),
              "OQS_KEM_decaps");
    return secret;
}

KeyPair sig_keypair(std::string_view alg) {
    const Api& a = api();
    const Sig sig(a, alg, SIG_KEYPAIR_PREFIX);
    KeyPair out{Bytes((*sig).length_public_key), SecureBytes((*sig).length_secret_key)};
    sig.check(a.sig_keypair(sig.get(), out.public_key.data(), out.secret_key.data()), "OQS_SIG_keypair");
    return out;
}

Bytes sig_sign(std::string_view alg, ByteView secret_key, ByteView message) {
    const Api& a = api();
    const Sig sig(a, alg, SIGN_PREFIX);
    if (secret_key.size() != (*sig).length_secret_key)
        sig.fail(size_text("the secret key", (*sig).length_secret_key, secret_key.size()));
    Bytes signature((*sig).length_signature);
    std::size_t length = 0;
    static const std::uint8_t empty = 0;  // liboqs is never handed a null message pointer
    sig.check(a.sig_sign(sig.get(), signature.data(), &length, message.empty() ? &empty : message.data(),
                         message.size(), Aligned(secret_key).data()),
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
        static const std::uint8_t empty = 0;
        return a.sig_verify(sig.get(), message.empty() ? &empty : message.data(), message.size(),
                            Aligned(signature).data(), signature.size(), Aligned(public_key).data()) == kSuccess;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace tesmar::oqs
