#include "engine/hybrid.hpp"

#include <algorithm>
#include <cstring>

#include "engine/aes.hpp"
#include "engine/base64.hpp"
#include "engine/errors.hpp"
#include "engine/keys.hpp"
#include "engine/rsa.hpp"

namespace tesmar::hybrid {

namespace {

// Big-endian value of up to four bytes (a legacy blob handed over directly may be cut short).
std::uint64_t be_uint(ByteView b) {
    std::uint64_t v = 0;
    for (std::uint8_t byte : b) v = (v << 8) | byte;
    return v;
}

}  // namespace

Layout detect(ByteView blob) {
    if (blob.size() >= LEGACY_MIN && std::equal(HYBR.begin(), HYBR.end(), blob.begin())) return Layout::Legacy;
    if (blob.size() >= NET_MIN && read_u32le(blob) == RSA_BLOCK) return Layout::LengthPrefixed;
    return Layout::BareOaep;
}

std::size_t sealed_size(std::size_t wrapped_len, std::size_t data_len) {
    return KEY_FIELD + wrapped_len + NONCE + TAG + data_len;
}

WrappedKey new_wrapped_key(EVP_PKEY* public_key) {
    WrappedKey k{SecureBytes(AES_KEY), {}};
    ossl::os_random(k.aes_key.span());
    k.wrapped = rsa::encrypt_block(public_key, k.aes_key);
    return k;
}

void seal(const WrappedKey& key, ByteView data, MutableBytes out) {
    const std::size_t n = key.wrapped.size();
    const std::uint32_t field = static_cast<std::uint32_t>(n);  // an RSA block: a few hundred bytes
    for (std::size_t i = 0; i < KEY_FIELD; ++i) out[i] = static_cast<std::uint8_t>(field >> (8 * i));
    std::memcpy(out.data() + KEY_FIELD, key.wrapped.data(), n);
    MutableBytes nonce = out.subspan(KEY_FIELD + n, NONCE);
    MutableBytes tag = out.subspan(KEY_FIELD + n + NONCE, TAG);
    MutableBytes ct = out.subspan(KEY_FIELD + n + NONCE + TAG);
    ossl::os_random(nonce);
    aes::gcm_seal(key.aes_key, nonce, data, ct, tag);
}

std::size_t net_plain_size(ByteView blob) { return blob.size() > NET_MIN ? blob.size() - NET_MIN : 0; }

void net_open(EVP_PKEY* private_key, ByteView blob, MutableBytes out) {
    constexpr std::uint64_t nonce_at = KEY_FIELD + RSA_BLOCK, tag_at = nonce_at + NONCE, ct_at = tag_at + TAG;
    const SecureBytes aes_key = rsa::decrypt_block(private_key, slice(blob, KEY_FIELD, nonce_at));
    const ByteView nonce = slice(blob, nonce_at, tag_at);
    const ByteView tag = slice(blob, tag_at, ct_at);
    const ByteView ct = slice_from(blob, ct_at);
    aes::check_key_size(aes_key.size());
    // Only a blob handed to the reader directly can be this short. Such a nonce is refused as
    // AES-GCM refuses it; ciphertext and tag together too short to hold a tag cannot authenticate.
    if (nonce.size() < 8)
        throw Error(ErrorKind::Value, "initialization_vector must be between 8 and 128 bytes (64 and 1024 bits).");
    if (tag.size() < TAG) throw Error(ErrorKind::Decryption, GCM_FAILURE, invalid_tag_cause());
    if (!aes::gcm_open(aes_key, nonce, ct, tag, out.first(ct.size())))
        throw Error(ErrorKind::Decryption, GCM_FAILURE, invalid_tag_cause());
}

LegacyParts legacy_split(ByteView blob) {
    // 64-bit arithmetic: a length field near 2^32 must not wrap around.
    const std::uint64_t key_end = 8 + be_uint(slice(blob, 4, 8));
    if (key_end >= blob.size()) throw Error(ErrorKind::Decryption, LEGACY_INVALID);
    return {slice(blob, 8, key_end), slice_from(blob, key_end)};
}

std::size_t legacy_plain_size(const LegacyParts& parts) {
    return parts.envelope.size() >= aes::MIN_ENVELOPE ? parts.envelope.size() - aes::ENVELOPE_OVERHEAD : 0;
}

void legacy_open(EVP_PKEY* private_key, const LegacyParts& parts, MutableBytes out) {
    const SecureBytes raw = rsa::decrypt_block(private_key, parts.wrapped);
    if (parts.envelope.size() < aes::MIN_ENVELOPE) throw Error(ErrorKind::Decryption, aes::ENVELOPE_FAILURE);
    // The envelope's key is the key text rule applied to the Base64 text of the unwrapped key:
    // 32 (or 64) bytes come back unchanged, any other length is hashed.
    SecureBytes text(b64::encoded_size(raw.size()));
    b64::encode_into(raw, reinterpret_cast<char*>(text.data()));
    const SecureBytes key = keys::convert_key(as_text(text));
    if (!aes::envelope_open(key, parts.envelope, out.first(parts.envelope.size() - aes::ENVELOPE_OVERHEAD)))
        throw Error(ErrorKind::Decryption, aes::ENVELOPE_FAILURE);
}

namespace {

void seal_to(const BytesArg& data, const TextArg& public_pem, Sink& out) {
    WrappedKey key;
    {
        const ossl::PKey pub = rsa::public_key_from_text(public_pem);
        key = new_wrapped_key(pub.get());
    }
    const ByteView bytes = data.get();
    seal(key, bytes, out.reserve(sealed_size(key.wrapped.size(), bytes.size())));
}

void oaep_to(const BytesArg& data, const TextArg& public_pem, Sink& out) {
    const Bytes block = rsa::encrypt_oaep(data, public_pem);
    std::copy_n(block.data(), block.size(), out.reserve(block.size()).data());
}

}  // namespace

void encrypt_data(const BytesArg& data, const TextArg& public_pem, Sink& out) {
    if (data.falsy()) throw Error(ErrorKind::InvalidInput, DATA_EMPTY);
    seal_to(data, public_pem, out);
}

bool needs_envelope(std::uint64_t n) { return n > rsa::MAX_OAEP_PLAINTEXT; }

void encrypt_any(const BytesArg& data, const TextArg& public_pem, Sink& out) {
    if (data.falsy()) throw Error(ErrorKind::InvalidInput, DATA_EMPTY);
    if (needs_envelope(data.length())) {
        seal_to(data, public_pem, out);
    } else {
        oaep_to(data, public_pem, out);
    }
}

namespace {

Bytes encrypt_text_with(void (*encrypt)(const BytesArg&, const TextArg&, Sink&), const TextArg& plaintext,
                        const TextArg& public_pem) {
    const ByteView data = as_bytes(plaintext.get());
    if (data.empty()) throw Error(ErrorKind::InvalidInput, PLAINTEXT_EMPTY);
    OwnedSink<Bytes> out;
    encrypt(data, public_pem, out);
    return std::move(out.data);
}

}  // namespace

Bytes encrypt_text(const TextArg& plaintext, const TextArg& public_pem) {
    return encrypt_text_with(encrypt_data, plaintext, public_pem);
}

Bytes encrypt_any_text(const TextArg& plaintext, const TextArg& public_pem) {
    return encrypt_text_with(encrypt_any, plaintext, public_pem);
}

void decrypt_auto(const BytesArg& blob, const TextArg& private_pem, Sink& out) {
    const ByteView bytes = blob.get();
    switch (detect(bytes)) {
        case Layout::Legacy:
            return legacy_decrypt(bytes, private_pem, out);
        case Layout::LengthPrefixed:
            return net_decrypt(bytes, private_pem, out);
        case Layout::BareOaep:
            break;
    }
    const SecureBytes plain = rsa::decrypt_oaep(bytes, private_pem);
    std::copy_n(plain.data(), plain.size(), out.reserve(plain.size()).data());
}

SecureBytes decrypt_text(const TextArg& b64, const TextArg& private_pem) {
    const Bytes blob = b64::decode_arg(b64, ErrorKind::Decryption, NOT_BASE64);
    OwnedSink<SecureBytes> out;
    decrypt_auto(ByteView(blob), private_pem, out);
    return std::move(out.data);
}

void net_decrypt(const BytesArg& blob, const TextArg& private_pem, Sink& out) {
    const ByteView bytes = blob.get();
    const ossl::PKey key = rsa::private_key_from_text(private_pem);
    net_open(key.get(), bytes, out.reserve(net_plain_size(bytes)));
}

void legacy_decrypt(const BytesArg& blob, const TextArg& private_pem, Sink& out) {
    // The blob's own bounds are checked before the key text is looked at.
    const LegacyParts parts = legacy_split(blob.get());
    const ossl::PKey key = rsa::private_key_from_text(private_pem);
    legacy_open(key.get(), parts, out.reserve(legacy_plain_size(parts)));
}

}  // namespace tesmar::hybrid
