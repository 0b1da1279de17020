#include "engine/files.hpp"

#include <algorithm>
#include <cstring>

#include "engine/aes.hpp"
#include "engine/base64.hpp"
#include "engine/errors.hpp"
#include "engine/hybrid.hpp"
#include "engine/keys.hpp"
#include "engine/rsa.hpp"

namespace tesmar::files {

namespace {

constexpr std::size_t TAG = aes::GCM_TAG_SIZE;
constexpr std::size_t NONCE = aes::GCM_NONCE_SIZE;

void check_open(bool finished) {
    if (finished) throw Error(ErrorKind::Value, "the stream is already finished");
}

std::uint64_t be32(ByteView b) {
    std::uint64_t v = 0;
    for (std::uint8_t byte : b.first(4)) v = (v << 8) | byte;
    return v;
}

}  // namespace

Sealer::Sealer(Family family, ByteView key, Bytes header, std::optional<std::uint64_t> tag_at)
    : family_(family), header_(std::move(header)), tag_at_(tag_at) {
    const std::size_t nonce_at = tag_at ? static_cast<std::size_t>(*tag_at) - NONCE : header_.size() - NONCE;
    try {
        ctx_ = aes::gcm_context(key, ByteView(header_).subspan(nonce_at, NONCE), true);
    } catch (const Error& e) {
        fail(e);
    }
}

void Sealer::fail(const Error& e) const {
    // The AES family words its cipher failures; the hybrid envelope passes them on as they are.
    if (family_ == Family::Aes && e.kind() == ErrorKind::Value)
        throw wrap(ErrorKind::Encryption, "AES-GCM encryption failed: ", Cause{e.kind(), e.what()});
    throw e;
}

void Sealer::update(ByteView in, MutableBytes out) {
    check_open(finished_);
    try {
        ossl::cipher_update(ctx_.get(), in, out.data());
    } catch (const Error& e) {
        fail(e);
    }
}

void Sealer::finish(MutableBytes tag) {
    check_open(finished_);
    finished_ = true;
    std::uint8_t none[16];
    int outl = 0;
    if (EVP_EncryptFinal_ex(ctx_.get(), none, &outl) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx_.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(TAG), tag.data()) != 1) {
        try {
            ossl::fail(ErrorKind::Value, "", "encryption failed");
        } catch (const Error& e) {
            fail(e);
        }
    }
}

Sealer aes_sealer(ByteView key32) {
    Bytes header(NONCE);
    ossl::os_random(header);
    return Sealer(Sealer::Family::Aes, key32, std::move(header), std::nullopt);
}

Sealer hybrid_sealer(EVP_PKEY* public_key) {
    const hybrid::WrappedKey key = hybrid::new_wrapped_key(public_key);
    const std::size_t n = key.wrapped.size();
    // The layout with no ciphertext: everything but the tag, which is only known at the end.
    Bytes header(hybrid::sealed_size(n, 0), 0);
    const std::uint32_t field = static_cast<std::uint32_t>(n);
    for (std::size_t i = 0; i < hybrid::KEY_FIELD; ++i) header[i] = static_cast<std::uint8_t>(field >> (8 * i));
    std::memcpy(header.data() + hybrid::KEY_FIELD, key.wrapped.data(), n);
    ossl::os_random(MutableBytes(header).subspan(hybrid::KEY_FIELD + n, NONCE));
    return Sealer(Sealer::Family::Hybrid, key.aes_key, std::move(header), hybrid::KEY_FIELD + n + NONCE);
}

Opener::Opener(ByteView key, ByteView nonce, std::optional<ByteView> tag, std::size_t consumed, Failure failure)
    : ctx_(aes::gcm_context(key, nonce, false)), consumed_(consumed), failure_(failure), held_tag_(!tag) {
    if (tag) std::memcpy(tag_, tag->data(), TAG);
}

void Opener::refuse() const {
    if (failure_.invalid_tag_cause) throw Error(failure_.kind, failure_.message, invalid_tag_cause());
    throw Error(failure_.kind, failure_.message);
}

std::size_t Opener::output_size(std::size_t in) const {
    if (!held_tag_) return in;
    const std::size_t have = tail_len_ + in;
    return have > TAG ? have - TAG : 0;
}

void Opener::update(ByteView in, MutableBytes out) {
    check_open(finished_);
    if (!held_tag_) {
        ossl::cipher_update(ctx_.get(), in, out.data());
        ciphertext_ += in.size();
        return;
    }
    // The last 16 bytes seen so far may be the tag: they are held back until more input (or the
    // end) shows what they are.
    if (in.size() >= TAG) {
        const std::size_t body = in.size() - TAG;
        ossl::cipher_update(ctx_.get(), ByteView(tag_, tail_len_), out.data());
        ossl::cipher_update(ctx_.get(), in.first(body), out.data() + tail_len_);
        ciphertext_ += tail_len_ + body;
        std::memcpy(tag_, in.data() + body, TAG);
        tail_len_ = TAG;
        return;
    }
    std::uint8_t joined[2 * TAG];
    std::memcpy(joined, tag_, tail_len_);
    std::memcpy(joined + tail_len_, in.data(), in.size());
    const std::size_t have = tail_len_ + in.size();
    const std::size_t emit = have > TAG ? have - TAG : 0;
    ossl::cipher_update(ctx_.get(), ByteView(joined, emit), out.data());
    ciphertext_ += emit;
    std::memcpy(tag_, joined + emit, have - emit);
    tail_len_ = have - emit;
    OPENSSL_cleanse(joined, sizeof joined);
}

void Opener::finish() {
    check_open(finished_);
    finished_ = true;
    // An envelope needs one byte of ciphertext and a whole tag (as the whole-buffer readers do).
    if (held_tag_ && (tail_len_ < TAG || ciphertext_ == 0)) refuse();
    std::uint8_t none[16];
    int outl = 0;
    if (EVP_CIPHER_CTX_ctrl(ctx_.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(TAG), tag_) != 1 ||
        EVP_DecryptFinal_ex(ctx_.get(), none, &outl) != 1) {
        ossl::last_error("");  // drain the queue: a failed tag is an answer, not an error
        refuse();
    }
}

Opener aes_opener(ByteView key32, ByteView head) {
    const Opener::Failure failure{ErrorKind::Decryption, aes::ENVELOPE_FAILURE, false};
    if (head.size() < NONCE) throw Error(failure.kind, failure.message);
    return Opener(key32, head.first(NONCE), std::nullopt, NONCE, failure);
}

Opener hybrid_opener(EVP_PKEY* private_key, ByteView head) {
    switch (hybrid::detect(head)) {
        case hybrid::Layout::LengthPrefixed: {
            constexpr std::size_t nonce_at = hybrid::KEY_FIELD + hybrid::RSA_BLOCK, tag_at = nonce_at + NONCE;
            const SecureBytes key = rsa::decrypt_block(private_key, head.subspan(hybrid::KEY_FIELD, hybrid::RSA_BLOCK));
            aes::check_key_size(key.size());
            return Opener(key, head.subspan(nonce_at, NONCE), head.subspan(tag_at, TAG), hybrid::NET_MIN,
                          {ErrorKind::Decryption, hybrid::GCM_FAILURE, true});
        }
        case hybrid::Layout::Legacy: {
            const std::uint64_t key_end = 8 + be32(head.subspan(4));
            // A wrapped key running past the head is longer than any RSA block the package reads.
            if (key_end + NONCE > head.size()) throw Error(ErrorKind::Decryption, hybrid::LEGACY_INVALID);
            const SecureBytes raw = rsa::decrypt_block(private_key, slice(head, 8, key_end));
            // The envelope's key is the key text rule applied to the Base64 text of the unwrapped key.
            SecureBytes text(b64::encoded_size(raw.size()));
            b64::encode_into(raw, reinterpret_cast<char*>(text.data()));
            const SecureBytes key = keys::convert_key(as_text(text));
            const std::size_t at = static_cast<std::size_t>(key_end);
            return Opener(key, head.subspan(at, NONCE), std::nullopt, at + NONCE,
                          {ErrorKind::Decryption, aes::ENVELOPE_FAILURE, false});
        }
        case hybrid::Layout::BareOaep:
            break;
    }
    // Taken for one OAEP block, as the whole-buffer reader takes it: longer than any block, so
    // the RSA step refuses it.
    (void)rsa::decrypt_block(private_key, head);
    throw Error(ErrorKind::Decryption, std::string(rsa::DECRYPT_PREFIX) + "data too large for a block");
}

Sealer aes_sealer(const TextArg& key_text) { return aes_sealer(keys::convert_key(key_text.get())); }

Sealer hybrid_sealer(const TextArg& public_pem) {
    const ossl::PKey key = rsa::public_key_from_text(public_pem);
    return hybrid_sealer(key.get());
}

Opener aes_opener(const TextArg& key_text, const BytesArg& head) {
    const SecureBytes key = keys::convert_key(key_text.get());
    return aes_opener(key, head.get());
}

Opener hybrid_opener(const TextArg& private_pem, const BytesArg& head) {
    // Text that cannot be key text is refused before the head, a key that does not load after it.
    const std::string_view pem = private_pem.get_or(ErrorKind::InvalidInput, rsa::PRIVATE_PEM_PREFIX);
    const ByteView bytes = head.get();
    const ossl::PKey key = rsa::private_key_from_text(pem);
    return hybrid_opener(key.get(), bytes);
}

}  // namespace tesmar::files
