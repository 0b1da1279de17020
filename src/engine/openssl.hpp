// RAII owners for OpenSSL objects, cached algorithm handles, error text and the OS random source.
#pragma once
#include <memory>
#include <string>

#include <openssl/evp.h>

#include "engine/bytes.hpp"
#include "engine/errors.hpp"

namespace tesmar::ossl {

template <auto Fn>
struct Deleter {
    template <class T>
    void operator()(T* p) const { Fn(p); }
};

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;

CipherCtx new_cipher_ctx();
MdCtx new_md_ctx();

// Algorithms fetched once per process and never changed afterwards (immutable, so they are not
// shared mutable state). Fetching on every call costs a lock and a lookup inside OpenSSL.
const EVP_CIPHER* aes_gcm(std::size_t key_len);  // 16, 24 or 32; nullptr for other lengths
const EVP_CIPHER* aes_256_cbc();
const EVP_MD* sha256();
const EVP_MD* sha512();

// Runs all of `in` through the cipher into `out` (which must have room for it), in chunks that
// EVP's int lengths can carry, so any size_t length works. Throws Error(Value) on failure.
void cipher_update(EVP_CIPHER_CTX* ctx, ByteView in, std::uint8_t* out);

// The oldest queued OpenSSL error as text (the reason string), and clears the queue.
// `fallback` is used when OpenSSL queued nothing.
std::string last_error(const char* fallback);

// Throws Error(kind, prefix + OpenSSL reason) with a ValueError cause carrying the reason.
[[noreturn]] void fail(ErrorKind kind, const std::string& prefix, const char* fallback);

// The OpenSSL this build runs on, as it names itself ("OpenSSL 3.5.7 1 Jul 2025").
std::string version_text();

// Fills `out` from the operating system's random source (getrandom).
void os_random(MutableBytes out);

// Constant-time equality of two byte strings (length leaks, contents do not).
bool equal_ct(ByteView a, ByteView b);

Bytes sha256_of(ByteView data);
void sha256_into(ByteView data, MutableBytes out32);

}  // namespace tesmar::ossl
