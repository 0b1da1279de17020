// Post-quantum signatures (ML-DSA, SLH-DSA) with self-describing keys: scheme id (1 = ML-DSA,
// 2 = SLH-DSA), strength, then the raw liboqs key. Signatures are the raw liboqs signatures.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/bytes.hpp"
#include "engine/quantum/oqs.hpp"

namespace tesmar::quantum {

inline constexpr int ML_DSA = 1;
inline constexpr int SLH_DSA = 2;

struct SigKey {
    std::uint8_t scheme;
    std::uint8_t strength;
    ByteView raw;  // at least one byte
};

// Error(InvalidInput, "Invalid <label> key: missing header") for keys of two bytes or fewer.
SigKey sig_strip(ByteView headered, std::string_view label);

inline std::string_view sig_kind(int algorithm) { return algorithm == ML_DSA ? "mldsa" : "slhdsa"; }

// Algorithm and strength already validated by the caller.
oqs::KeyPair generate_signature_keypair(int algorithm, std::int64_t strength);
Bytes sign(ByteView data, ByteView private_key);
// The mechanism a signature private key names, judged as sign() judges it (header, scheme id,
// strength; SLH-DSA names need liboqs).
std::string signing_mechanism(ByteView private_key);
// False for a malformed key or any failed verification; raises for a strength byte the tables do
// not have, a missing liboqs, and an SLH-DSA key when no SLH-DSA mechanism is enabled.
bool verify(ByteView data, ByteView signature, ByteView public_key);

}  // namespace tesmar::quantum
