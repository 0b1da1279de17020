// Byte views and owned buffers shared by the whole engine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/crypto.h>

namespace tesmar {

using ByteView = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline ByteView as_bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

inline std::string_view as_text(ByteView b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// An owned buffer that is wiped when it goes away: keys, shared secrets, derived keys and
// plaintext copies live in one of these.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(std::size_t n) : data_(n) {}
    explicit SecureBytes(ByteView v) : data_(v.begin(), v.end()) {}
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;
    SecureBytes(SecureBytes&& o) noexcept : data_(std::move(o.data_)) {}
    SecureBytes& operator=(SecureBytes&& o) noexcept {
        if (this != &o) {
            wipe();
            data_ = std::move(o.data_);
        }
        return *this;
    }
    ~SecureBytes() { wipe(); }

    std::uint8_t* data() { return data_.data(); }
    const std::uint8_t* data() const { return data_.data(); }
    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }
    ByteView view() const { return {data_.data(), data_.size()}; }
    MutableBytes span() { return {data_.data(), data_.size()}; }
    operator ByteView() const { return view(); }

    // Shrinks without reallocating; the dropped tail is wiped first.
    void truncate(std::size_t n) {
        if (n < data_.size()) {
            OPENSSL_cleanse(data_.data() + n, data_.size() - n);
            data_.resize(n);
        }
    }

private:
    void wipe() {
        if (!data_.empty()) OPENSSL_cleanse(data_.data(), data_.size());
    }
    std::vector<std::uint8_t> data_;
};

// Python-style slice of a view: out-of-range bounds give a shorter (possibly empty) result.
inline ByteView slice(ByteView v, std::uint64_t start, std::uint64_t stop) {
    const std::uint64_t n = v.size();
    if (start > n) start = n;
    if (stop > n) stop = n;
    if (stop < start) stop = start;
    return v.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(stop - start));
}

inline ByteView slice_from(ByteView v, std::uint64_t start) { return slice(v, start, v.size()); }

// The little-endian 32-bit field at the start of `at` (the hybrid envelope's key length, the
// post-quantum keys' and capsules' part lengths). The caller has checked the four bytes are there.
inline std::uint32_t read_u32le(ByteView at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace tesmar
