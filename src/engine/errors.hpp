// The engine's one exception type. It mirrors the Python hierarchy: the binding turns `kind` into
// the matching tesmar.errors class (or a built-in class) and `cause` into the explicit __cause__.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tesmar {

enum class ErrorKind {
    // tesmar.errors classes
    Tesmar,
    InvalidInput,
    Encryption,
    Decryption,
    Signature,
    QuantumOperation,
    // built-in classes, for failures that reach the caller unchanged
    Value,
    Type,
    Key,
    Overflow,
    OS,
    Import,
    Memory,
    Base64,    // binascii.Error: text that is not strict Base64
    // Not a class: the error is the one the binding met converting an argument (see args.hpp)
    Argument,
};

// The binding's record of one argument it converted. The engine only passes it around, so that an
// error can name the argument it is about; the binding knows what it holds.
class Origin {
protected:
    Origin() = default;
    ~Origin() = default;
};

// A lower-level failure recorded as the explicit cause of a package error.
struct Cause {
    ErrorKind kind;  // built-in kind of the cause (Value, Type, Key, Import, ...)
    std::string message;
    // Authentication failures carry this flag; the binding raises tesmar's InvalidTag for them.
    bool invalid_tag = false;
    // A cause that is the failure of converting this argument: the binding supplies it, and its
    // text when `append_text` says the message goes on with it.
    const Origin* argument = nullptr;
    bool append_text = false;
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, std::string message)
        : std::runtime_error(message), kind_(kind), message_(std::move(message)) {}
    Error(ErrorKind kind, std::string message, Cause cause)
        : std::runtime_error(message), kind_(kind), message_(std::move(message)), cause_(std::move(cause)) {}

    // The argument's own conversion failure, raised as it is.
    static Error argument(const Origin* origin) {
        Error e(ErrorKind::Argument, "");
        e.subject_ = origin;
        return e;
    }

    // KeyError for a value no table has, as a dict lookup raises it: the payload is the argument
    // the caller passed when the value came from one, else the value itself.
    static Error missing_key(std::int64_t value, const Origin* origin = nullptr) {
        Error e(ErrorKind::Key, std::to_string(value));
        e.key_ = value;
        e.subject_ = origin;
        return e;
    }

    ErrorKind kind() const { return kind_; }
    // The whole message: unlike what(), it may hold NUL characters (a caller's mechanism name).
    const std::string& message() const { return message_; }
    const std::optional<Cause>& cause() const { return cause_; }
    const Origin* subject() const { return subject_; }
    std::int64_t key() const { return key_; }

private:
    ErrorKind kind_;
    std::string message_;
    std::optional<Cause> cause_;
    const Origin* subject_ = nullptr;
    std::int64_t key_ = 0;
};

// "prefix" + cause text, with the cause recorded: the package's one wrapping shape.
inline Error wrap(ErrorKind kind, const std::string& prefix, Cause cause) {
    if (cause.argument) cause.append_text = true;
    std::string msg = prefix + cause.message;
    return Error(kind, std::move(msg), std::move(cause));
}

inline Cause invalid_tag_cause() { return Cause{ErrorKind::Value, "", true}; }

}  // namespace tesmar
