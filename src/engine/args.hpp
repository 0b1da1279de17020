// Arguments as the binding hands them over: converted, or unusable with the reason kept.
//
// The binding converts every argument before it calls the engine, and never raises for one it
// could not convert: it passes it on as unusable. The operation then meets the argument where it
// first needs it, so that the order in which an operation reports its problems is written once,
// here in the engine, whatever the binding met first.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "engine/bytes.hpp"
#include "engine/errors.hpp"

namespace tesmar {

template <class T>
class Arg {
public:
    Arg() = default;
    Arg(T value) : value_(std::move(value)), usable_(true) {}  // NOLINT: plain values are usable
    Arg(T value, const Origin* origin) : value_(std::move(value)), usable_(true), origin_(origin) {}

    // An argument the binding could not convert. `length` is what len() gave for it, when the
    // operation's size checks look at it; `none` marks the caller's None.
    static Arg unusable(const Origin* origin, std::uint64_t length = 0, bool none = false) {
        Arg a;
        a.origin_ = origin;
        a.length_ = length;
        a.none_ = none;
        return a;
    }

    bool usable() const { return usable_; }
    bool is_none() const { return none_; }
    // The caller's value is false in a truth test (the binding tells, for operations that refuse
    // empty data of any kind before they look at its type).
    bool falsy() const { return falsy_; }
    void set_falsy(bool falsy) { falsy_ = falsy; }
    const Origin* origin() const { return origin_; }

    // The size of a byte argument, converted or not.
    std::uint64_t length() const {
        if constexpr (std::is_same_v<T, ByteView> || std::is_same_v<T, std::string_view>) {
            if (usable_) return value_.size();
        }
        return length_;
    }

    // The value; an unusable argument raises its own conversion failure.
    const T& get() const {
        if (!usable_) throw Error::argument(origin_);
        return value_;
    }

    // The value; an unusable argument raises `kind(prefix + reason)` with the reason as cause.
    // (The texts are views so that the usual, usable case builds no string.)
    const T& get_or(ErrorKind kind, std::string_view prefix) const {
        if (!usable_) throw wrap(kind, std::string(prefix), Cause{ErrorKind::Value, "", false, origin_});
        return value_;
    }

    // The value; an unusable argument raises `kind(message)` with the reason as cause.
    const T& get_or_fixed(ErrorKind kind, std::string_view message) const {
        if (!usable_) throw Error(kind, std::string(message), Cause{ErrorKind::Value, "", false, origin_});
        return value_;
    }

private:
    T value_{};
    bool usable_ = false;
    bool none_ = false;
    bool falsy_ = false;
    std::uint64_t length_ = 0;
    const Origin* origin_ = nullptr;
};

using BytesArg = Arg<ByteView>;
using TextArg = Arg<std::string_view>;

// Messages several families share.
inline constexpr const char* DATA_EMPTY = "Data cannot be empty";
inline constexpr const char* PLAINTEXT_EMPTY = "Plaintext cannot be empty";
inline constexpr const char* NOT_BASE64 = "Ciphertext is not valid Base64";
inline constexpr const char* NOT_UTF8 = "Decrypted data is not valid UTF-8";

// Where an operation writes a result whose size only it knows: the binding hands over a sink that
// makes the caller's object of that size, so that large results are written once, in place.
class Sink {
public:
    virtual MutableBytes reserve(std::size_t n) = 0;

protected:
    ~Sink() = default;
};

// A sink into an owned buffer (Bytes, or SecureBytes for plaintext), for results the binding
// converts further (Base64 or UTF-8 text).
template <class Buffer>
class OwnedSink final : public Sink {
public:
    MutableBytes reserve(std::size_t n) override {
        data = Buffer(n);
        return {data.data(), data.size()};
    }
    Buffer data;
};

}  // namespace tesmar
