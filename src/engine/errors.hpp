// The engine's one exception type. It mirrors the Python hierarchy: the binding turns `kind` into
// the matching tesmar.errors class (or a built-in class) and `cause` into the explicit __cause__.
#pragma once
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
};

// A lower-level failure recorded as the explicit cause of a package error.
struct Cause {
    ErrorKind kind;  // built-in kind of the cause (Value, Type, Key, Import, ...)
    std::string message;
    // Authentication failures carry this flag; the binding raises tesmar's InvalidTag for them.
    bool invalid_tag = false;
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, std::string message)
        : std::runtime_error(std::move(message)), kind_(kind) {}
    Error(ErrorKind kind, std::string message, Cause cause)
        : std::runtime_error(std::move(message)), kind_(kind), cause_(std::move(cause)) {}

    ErrorKind kind() const { return kind_; }
    const std::optional<Cause>& cause() const { return cause_; }

private:
    ErrorKind kind_;
    std::optional<Cause> cause_;
};

// "prefix" + cause text, with the cause recorded: the package's one wrapping shape.
inline Error wrap(ErrorKind kind, const std::string& prefix, Cause cause) {
    std::string msg = prefix + cause.message;
    return Error(kind, std::move(msg), std::move(cause));
}

inline Cause invalid_tag_cause() { return Cause{ErrorKind::Value, "", true}; }

}  // namespace tesmar
