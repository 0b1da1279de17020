// The generic EVP PBKDF2 rebuilds and finalises two HMAC digests on every iteration. Here every
// iteration after the first is exactly two compression-function calls: the HMAC key pads are
// absorbed once into inner and outer states, and the one block that each of the two hashes of an
// iteration still has to process (the previous digest, the SHA-2 padding and the length) is built
// once, with only its digest words rewritten per iteration. OpenSSL's low-level SHA-2 interface
// supplies the compression function; it is deprecated in OpenSSL 3 but the only public way to run
// a single block on a chosen state.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine/password.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include "engine/errors.hpp"
#include "engine/openssl.hpp"

namespace tesmar::password {
namespace {

template <class W>
W to_big_endian(W w) {
    if constexpr (std::endian::native == std::endian::big) {
        return w;
    } else if constexpr (sizeof(W) == 8) {
        return __builtin_bswap64(w);
    } else {
        return __builtin_bswap32(w);
    }
}

struct Sha512 {
    using Ctx = SHA512_CTX;
    using Word = SHA_LONG64;
    static constexpr std::size_t kBlock = SHA512_CBLOCK;   // 128
    static constexpr std::size_t kDigest = 64;
    static constexpr std::size_t kLengthField = 16;         // 128-bit message length
    static void init(Ctx* c) { SHA512_Init(c); }
    static void update(Ctx* c, const void* p, std::size_t n) { SHA512_Update(c, p, n); }
    static void final(Ctx* c, std::uint8_t* out) { SHA512_Final(out, c); }
    static void transform(Ctx* c, const std::uint8_t* block) { SHA512_Transform(c, block); }
};

struct Sha256 {
    using Ctx = SHA256_CTX;
    using Word = SHA_LONG;
    static constexpr std::size_t kBlock = SHA256_CBLOCK;   // 64
    static constexpr std::size_t kDigest = 32;
    static constexpr std::size_t kLengthField = 8;          // 64-bit message length
    static void init(Ctx* c) { SHA256_Init(c); }
    static void update(Ctx* c, const void* p, std::size_t n) { SHA256_Update(c, p, n); }
    static void final(Ctx* c, std::uint8_t* out) { SHA256_Final(out, c); }
    static void transform(Ctx* c, const std::uint8_t* block) { SHA256_Transform(c, block); }
};

// Everything derived from the password lives here and is wiped on the way out, also when an
// exception leaves early.
template <class H>
struct Scratch {
    using Word = typename H::Word;
    static constexpr std::size_t kWords = H::kDigest / sizeof(Word);  // 8 state words

    typename H::Ctx inner;  // state after the inner key pad: HMAC's keyed starting point
    typename H::Ctx outer;  // same for the outer key pad
    typename H::Ctx work;   // scratch context for whole-message hashing and single blocks
    Word inner_state[kWords];
    Word outer_state[kWords];
    Word sum[kWords];       // T_i accumulated in host word order
    // The second (and last) block of both hashes of one iteration: digest, 0x80, zeros, length.
    // Word-aligned so that the block function reads it in place and the digest words can be
    // stored straight into it.
    alignas(16) std::uint8_t block[H::kBlock];
    std::uint8_t pad[H::kBlock];
    std::uint8_t digest[H::kDigest];

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { OPENSSL_cleanse(this, sizeof *this); }

    Word* block_words() { return reinterpret_cast<Word*>(block); }
};

// HMAC key: the password, or its digest when it is longer than a block, zero-filled. The inner
// and outer key pads are absorbed once; every later hash starts from these states.
template <class H>
void absorb_key(Scratch<H>& s, ByteView password) {
    std::memset(s.pad, 0, H::kBlock);
    if (password.size() > H::kBlock) {
        H::init(&s.work);
        H::update(&s.work, password.data(), password.size());
        H::final(&s.work, s.pad);
    } else if (!password.empty()) {
        std::memcpy(s.pad, password.data(), password.size());
    }
    for (std::size_t i = 0; i < H::kBlock; ++i) s.pad[i] ^= 0x36;
    H::init(&s.inner);
    H::update(&s.inner, s.pad, H::kBlock);
    for (std::size_t i = 0; i < H::kBlock; ++i) s.pad[i] ^= 0x36 ^ 0x5c;
    H::init(&s.outer);
    H::update(&s.outer, s.pad, H::kBlock);
    std::memcpy(s.inner_state, s.inner.h, sizeof s.inner_state);
    std::memcpy(s.outer_state, s.outer.h, sizeof s.outer_state);

    // Both hashes of an iteration cover one key-pad block plus one digest, so their final block
    // has the same fixed tail: the 0x80 terminator and the bit length of block + digest.
    std::memset(s.block, 0, H::kBlock);
    s.block[H::kDigest] = 0x80;
    const std::uint64_t bits = (H::kBlock + H::kDigest) * 8;
    for (std::size_t i = 0; i < 8; ++i) s.block[H::kBlock - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// T_b = U_1 xor ... xor U_c, left in s.block (big-endian, as the digest reads).
template <class H>
void output_block(Scratch<H>& s, ByteView salt, std::uint32_t b, std::uint32_t iterations) {
    constexpr std::size_t kWords = Scratch<H>::kWords;
    auto* const words = s.block_words();
    // U_1 = HMAC(P, S || INT(b)), the only message of arbitrary length.
    const std::uint8_t index[4] = {static_cast<std::uint8_t>(b >> 24), static_cast<std::uint8_t>(b >> 16),
                                   static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)};
    s.work = s.inner;
    H::update(&s.work, salt.data(), salt.size());
    H::update(&s.work, index, sizeof index);
    H::final(&s.work, s.digest);
    s.work = s.outer;
    H::update(&s.work, s.digest, H::kDigest);
    H::final(&s.work, s.block);  // U_1 lands where the next inner hash reads it
    for (std::size_t k = 0; k < kWords; ++k) s.sum[k] = to_big_endian(words[k]);

    // U_j = HMAC(P, U_{j-1}): the state words go straight back into the block in big-endian
    // order, with no digest serialisation in between.
    for (std::uint32_t j = 1; j < iterations; ++j) {
        std::memcpy(s.work.h, s.inner_state, sizeof s.inner_state);
        H::transform(&s.work, s.block);
        for (std::size_t k = 0; k < kWords; ++k) words[k] = to_big_endian(s.work.h[k]);
        std::memcpy(s.work.h, s.outer_state, sizeof s.outer_state);
        H::transform(&s.work, s.block);
        for (std::size_t k = 0; k < kWords; ++k) {
            words[k] = to_big_endian(s.work.h[k]);
            s.sum[k] ^= s.work.h[k];
        }
    }
    for (std::size_t k = 0; k < kWords; ++k) words[k] = to_big_endian(s.sum[k]);
}

template <class H>
void derive(ByteView password, ByteView salt, std::uint32_t iterations, MutableBytes out) {
    auto s = std::make_unique<Scratch<H>>();
    absorb_key(*s, password);
    const std::size_t blocks = (out.size() + H::kDigest - 1) / H::kDigest;
    for (std::size_t b = 1; b <= blocks; ++b) {
        output_block(*s, salt, static_cast<std::uint32_t>(b), iterations);
        const std::size_t offset = (b - 1) * H::kDigest;
        const std::size_t take = std::min(H::kDigest, out.size() - offset);
        std::memcpy(out.data() + offset, s->block, take);
    }
}

std::string bound_message(const char* what, std::uint64_t max) {
    return std::string(what) + " must be between 1 and " + std::to_string(max);
}

}  // namespace

std::optional<Hash> hash_named(std::string_view upper_name) {
    if (upper_name == "SHA512") return Hash::Sha512;
    if (upper_name == "SHA256") return Hash::Sha256;
    return std::nullopt;
}

std::size_t digest_size(Hash hash) { return hash == Hash::Sha512 ? Sha512::kDigest : Sha256::kDigest; }

std::uint64_t max_output(Hash hash) { return MAX_ITERATIONS * digest_size(hash); }

void check_parameters(Hash hash, std::int64_t iterations, std::int64_t length) {
    if (iterations < 1 || static_cast<std::uint64_t>(iterations) > MAX_ITERATIONS)
        throw Error(ErrorKind::Value, bound_message("iteration count", MAX_ITERATIONS));
    if (length < 1 || static_cast<std::uint64_t>(length) > max_output(hash))
        throw Error(ErrorKind::Value, bound_message("output length", max_output(hash)));
}

void pbkdf2_hmac(Hash hash, ByteView password, ByteView salt, std::uint32_t iterations, MutableBytes out) {
    check_parameters(hash, iterations, static_cast<std::int64_t>(out.size()));
    if (hash == Hash::Sha512) {
        derive<Sha512>(password, salt, iterations, out);
    } else {
        derive<Sha256>(password, salt, iterations, out);
    }
}

void derive(Hash hash, const BytesArg& password, const BytesArg& salt, const Arg<std::int64_t>& iterations,
            const Arg<std::int64_t>& length, Sink& out) {
    const ByteView pw = password.get();
    const ByteView sl = salt.get();
    const std::int64_t count = iterations.get();
    const std::int64_t n = length.get();
    check_parameters(hash, count, n);
    pbkdf2_hmac(hash, pw, sl, static_cast<std::uint32_t>(count), out.reserve(static_cast<std::size_t>(n)));
}

NewRecord new_record(const BytesArg& password, const Arg<std::int64_t>& iterations) {
    if (password.falsy()) throw Error(ErrorKind::InvalidInput, PASSWORD_EMPTY);
    NewRecord r{Bytes(SALT_LENGTH), SecureBytes(OUTPUT_LENGTH)};
    ossl::os_random(r.salt);
    const ByteView pw = password.get();
    const std::int64_t count = iterations.get();
    check_parameters(RECORD_HASH, count, OUTPUT_LENGTH);
    pbkdf2_hmac(RECORD_HASH, pw, r.salt, static_cast<std::uint32_t>(count), r.hash.span());
    return r;
}

bool matches(Hash hash, ByteView password, ByteView salt, ByteView stored, std::int64_t iterations,
             std::int64_t length) {
    try {
        check_parameters(hash, iterations, length);
    } catch (const Error&) {
        return false;
    }
    if (static_cast<std::uint64_t>(length) != stored.size()) return false;
    SecureBytes derived(stored.size());
    pbkdf2_hmac(hash, password, salt, static_cast<std::uint32_t>(iterations), derived.span());
    return ossl::equal_ct(derived, stored);
}

}  // namespace tesmar::password
