// Byte views and owned buffers shared by the whole engine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <openssl/crypto.h>

// AddressSanitizer is told that a kept block is out of bounds until it is handed out again.
#if defined(__SANITIZE_ADDRESS__)
#define TESMAR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESMAR_ASAN 1
#endif
#endif
#ifdef TESMAR_ASAN
#include <sanitizer/asan_interface.h>
#define TESMAR_KEEP_AWAY(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TESMAR_HAND_OUT(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TESMAR_KEEP_AWAY(p, n) ((void)(p), (void)(n))
#define TESMAR_HAND_OUT(p, n) ((void)(p), (void)(n))
#endif

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

// Memory for secrets. A thread keeps the last large block it let go of (already wiped) for its
// next one of the same size, up to 4 MiB: a decrypted megabyte is followed by a Python object of
// the same size, made with the GIL held, and had both gone back to the heap the allocator would
// return that much to the system and the next call's object would fault in fresh pages with the
// GIL held (a quarter of a 1 MiB decryption's time, which two threads cannot spend at once).
template <class T>
struct SecretAllocator {
    using value_type = T;
    static constexpr std::size_t kKeepFrom = std::size_t{128} << 10;
    static constexpr std::size_t kKeepUpTo = std::size_t{4} << 20;
    static constexpr std::size_t kGrain = std::size_t{64} << 10;

    SecretAllocator() = default;
    template <class U>
    SecretAllocator(const SecretAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t size = block_size(n);
        if (!size) return std::allocator<T>().allocate(n);
        Spare& spare = spare_block();
        if (spare.block && spare.size == size) {
            TESMAR_HAND_OUT(spare.block, size);
            return static_cast<T*>(std::exchange(spare.block, nullptr));
        }
        return static_cast<T*>(::operator new(size));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t size = block_size(n);
        if (!size) return std::allocator<T>().deallocate(p, n);
        Spare& spare = spare_block();
        if (spare.block) {
            TESMAR_HAND_OUT(spare.block, spare.size);
            ::operator delete(spare.block);
        }
        TESMAR_KEEP_AWAY(p, size);
        spare.block = p;
        spare.size = size;
    }
    template <class U>
    bool operator==(const SecretAllocator<U>&) const noexcept {
        return true;
    }

private:
    struct Spare {
        void* block = nullptr;
        std::size_t size = 0;
        ~Spare() {
            if (block) {
                TESMAR_HAND_OUT(block, size);
                ::operator delete(block);
            }
        }
    };
    static Spare& spare_block() {
        thread_local Spare spare;
        return spare;
    }
    // The kept size of n elements, or 0 for what goes to the heap as usual.
    static std::size_t block_size(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kKeepFrom || bytes > kKeepUpTo) return 0;
        return (bytes + kGrain - 1) / kGrain * kGrain;
    }
};

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
    std::vector<std::uint8_t, SecretAllocator<std::uint8_t>> data_;
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
