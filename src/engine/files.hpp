// AES-GCM over data that arrives in pieces: the AES envelope and the hybrid envelope's layouts,
// byte for byte as the whole-buffer functions write and read them, with a working set of one piece.
//
// The caller moves the bytes (files, pipes); these objects own the cipher state and know the
// layouts: which header comes first, where the tag goes, which bytes of the input are the header.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/args.hpp"
#include "engine/bytes.hpp"
#include "engine/openssl.hpp"

namespace tesmar::files {

// The openers take the first bytes of the input at once: this many (or all, if fewer) are enough
// to hold every header the hybrid layouts can have with the keys the package reads.
inline constexpr std::size_t HEAD_SIZE = 64 * 1024;

class Sealer {
public:
    enum class Family { Aes, Hybrid };

    Sealer(Family family, ByteView key, Bytes header, std::optional<std::uint64_t> tag_at);

    // Bytes to write before the ciphertext. In the hybrid layout it holds a 16-byte space for the
    // tag, at tag_at(); the AES envelope's tag follows the ciphertext (tag_at() is empty).
    const Bytes& header() const { return header_; }
    std::optional<std::uint64_t> tag_at() const { return tag_at_; }

    // Ciphertext bytes that update() writes for `in` more bytes of input: as many.
    std::size_t output_size(std::size_t in) const { return in; }
    // Encrypts `in` into `out` (in.size() bytes).
    void update(ByteView in, MutableBytes out);
    // The 16-byte tag; no update may follow.
    void finish(MutableBytes tag);

private:
    [[noreturn]] void fail(const Error& e) const;

    Family family_;
    ossl::CipherCtx ctx_;
    Bytes header_;
    std::optional<std::uint64_t> tag_at_;
    bool finished_ = false;
};

// The AES envelope under a 32-byte key: header is a fresh nonce.
Sealer aes_sealer(ByteView key32);
// The length-prefixed hybrid layout to an RSA public key: a fresh AES-256 key wrapped with OAEP
// (the RSA family's errors), a fresh nonce, then room for the tag.
Sealer hybrid_sealer(EVP_PKEY* public_key);

class Opener {
public:
    struct Failure {
        ErrorKind kind;
        const char* message;
        bool invalid_tag_cause;
    };

    // `tag` given: it was read in the header. Otherwise the last 16 bytes of the input are the tag.
    Opener(ByteView key, ByteView nonce, std::optional<ByteView> tag, std::size_t consumed, Failure failure);

    // How many bytes of the head passed to the factory were header (the rest is ciphertext, to be
    // passed to update()).
    std::size_t consumed() const { return consumed_; }
    // Plaintext bytes that update() writes for `in` more bytes of input.
    std::size_t output_size(std::size_t in) const;
    void update(ByteView in, MutableBytes out);
    // Checks the tag: throws the family's decryption error when the input does not authenticate.
    // Until it returns, no plaintext written by update() may be released.
    void finish();

private:
    [[noreturn]] void refuse() const;

    ossl::CipherCtx ctx_;
    std::size_t consumed_;
    Failure failure_;
    bool held_tag_;  // the tag is the input's last 16 bytes
    std::uint8_t tag_[16] = {};
    std::size_t tail_len_ = 0;  // bytes of tag_ holding input not yet known to be ciphertext
    std::uint64_t ciphertext_ = 0;
    bool finished_ = false;
};

// AES envelope: the head starts with the nonce. Heads too short to hold one byte of ciphertext are
// the whole-buffer function's business; here they fail like any envelope that does not open.
Opener aes_opener(ByteView key32, ByteView head);
// Hybrid layouts recognised as the whole-buffer reader recognises them, from the head of an input
// longer than HEAD_SIZE: the legacy layout, the length-prefixed layout; anything else is refused
// as the bare OAEP block it would be taken for.
Opener hybrid_opener(EVP_PKEY* private_key, ByteView head);

// The same from the caller's key text or PEM text: the key first, then the head.
Sealer aes_sealer(const TextArg& key_text);
Sealer hybrid_sealer(const TextArg& public_pem);
Opener aes_opener(const TextArg& key_text, const BytesArg& head);
Opener hybrid_opener(const TextArg& private_pem, const BytesArg& head);

}  // namespace tesmar::files
