// The one place that touches liboqs: loading it on first use, mechanism names by strength, and the
// six operations on plain bytes.
//
// liboqs is reached through its C API with dlopen, so the package imports and its other families
// work without it. Every operation creates its own OQS_KEM / OQS_SIG object and frees it on every
// path; every input is checked against the object's sizes before liboqs sees it, because liboqs
// reads exactly that many bytes from each buffer.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytes.hpp"
#include "engine/errors.hpp"

namespace tesmar::oqs {

inline constexpr const char* INSTALL_MESSAGE =
    "Post-quantum support requires the native liboqs binding. Install it with:  pip install 'tesmar[quantum]'";

struct LibraryInfo {
    std::string path;     // the file the dynamic loader picked
    std::string version;  // OQS_version()
};

// Loads liboqs if no earlier call did, and describes it. A failed load is not remembered: the next
// call tries again. Throws Error(QuantumOperation, INSTALL_MESSAGE) with an Import cause naming
// what failed to load.
const LibraryInfo& library();

// ---- mechanism names -------------------------------------------------------------------------

enum class Family { Frodo, Cmce, Mlkem, Mldsa };

// The liboqs name of a family at strength 0, 1 or 2. Other strengths throw Error(Key, "<strength>").
std::string_view mechanism(Family family, std::int64_t strength);

// The two spellings of the SLH-DSA SHA2 fast parameter set at a strength, in order of preference.
using SlhCandidates = std::array<std::string_view, 2>;
const SlhCandidates& slhdsa_candidates(std::int64_t strength);  // Error(Key) as above

inline constexpr int STRENGTHS = 3;  // strengths 0, 1 and 2

// "mldsa" gives the ML-DSA name without loading liboqs. Any other kind means SLH-DSA: liboqs is
// loaded and the first enabled candidate is chosen.
std::string sig_algorithm(std::string_view kind, std::int64_t strength);

// Names of every enabled signature mechanism of the loaded liboqs.
std::vector<std::string> enabled_sig_mechanisms();

// ---- operations ------------------------------------------------------------------------------
// Failures other than the missing library throw Error(QuantumOperation, "<prefix><alg>): <reason>")
// with a Value cause carrying the reason.

struct KeyPair {
    Bytes public_key;
    SecureBytes secret_key;
};

struct Encapsulation {
    Bytes ciphertext;
    SecureBytes shared_secret;
};

KeyPair kem_keypair(std::string_view alg);
Encapsulation encapsulate(std::string_view alg, ByteView public_key);
SecureBytes decapsulate(std::string_view alg, ByteView secret_key, ByteView ciphertext);

KeyPair sig_keypair(std::string_view alg);
Bytes sig_sign(std::string_view alg, ByteView secret_key, ByteView message);
// False for every failure (unknown name, wrong sizes, bad signature); only a missing liboqs throws.
bool sig_verify(std::string_view alg, ByteView public_key, ByteView message, ByteView signature);

inline constexpr const char* KEM_KEYPAIR_PREFIX = "KEM key generation failed (";
inline constexpr const char* ENCAPS_PREFIX = "KEM encapsulation failed (";
inline constexpr const char* DECAPS_PREFIX = "KEM decapsulation failed (";
inline constexpr const char* SIG_KEYPAIR_PREFIX = "Signature key generation failed (";
inline constexpr const char* SIGN_PREFIX = "Signing failed (";

}  // namespace tesmar::oqs
