// Error values of the native core and the one result type.
//
// Native operations return `Result<T, E>`: a value or an error value `E`.  The
// keyword side uses the module's `Error` (the default); the result-file layers
// use their own error (`LsdaError`, `D3plotError`) as `E`.  The binding layer
// turns every error value into the matching Python exception in exactly one
// place.  A broken invariant is thrown as `Panic` instead and surfaces as the
// module's panic exception.
#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarvex {

enum class ErrorKind {
    Index,         // value out of range             -> IndexError
    Key,           // unknown name or path           -> KeyError
    Value,         // malformed value or shape       -> ValueError
    Type,          // wrong kind of argument         -> TypeError
    Overflow,      // negative or too large integer  -> OverflowError
    OS,            // the OS refused a file operation -> OSError(errno, text)
    FileNotFound,  // a pattern that matches nothing -> FileNotFoundError
    Runtime,       // walk / result-file failures    -> RuntimeError
};

struct Error {
    ErrorKind kind = ErrorKind::Runtime;
    std::string message;
    int os_errno = 0;  // set for ErrorKind::OS

    static Error index(std::string m) { return {ErrorKind::Index, std::move(m), 0}; }
    static Error key(std::string m) { return {ErrorKind::Key, std::move(m), 0}; }
    static Error value(std::string m) { return {ErrorKind::Value, std::move(m), 0}; }
    static Error type(std::string m) { return {ErrorKind::Type, std::move(m), 0}; }
    static Error overflow(std::string m) { return {ErrorKind::Overflow, std::move(m), 0}; }
    static Error runtime(std::string m) { return {ErrorKind::Runtime, std::move(m), 0}; }
    static Error not_found(std::string m) { return {ErrorKind::FileNotFound, std::move(m), 0}; }
    // An operating-system failure, described as os_text() does.
    static Error os(int err);
};

// The operating system's description of an error number, with the number:
// "No such file or directory (os error 2)".
inline std::string os_text(int err) {
    return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")";
}

inline Error Error::os(int err) { return {ErrorKind::OS, os_text(err), err}; }

// An unrecoverable failure.  Thrown, never returned; the binding layer maps it
// to the panic exception (a BaseException subclass) with this text.
class Panic : public std::exception {
public:
    explicit Panic(std::string msg) : msg_(std::move(msg)) {}
    const char* what() const noexcept override { return msg_.c_str(); }

private:
    std::string msg_;
};

// Thrown by core code that reports an `Error` through an exception path (for
// example from inside pool tasks); carried to the binding layer unchanged.
class ErrorException : public std::exception {
public:
    explicit ErrorException(Error e) : err_(std::move(e)) {}
    const char* what() const noexcept override { return err_.message.c_str(); }
    const Error& error() const noexcept { return err_; }

private:
    Error err_;
};

// A value of type T or an error value of type E.
template <class T, class E = Error>
class [[nodiscard]] Result {
public:
    using value_type = T;
    using error_type = E;

    Result(T v) : v_(std::in_place_index<0>, std::move(v)) {}
    Result(E e) : v_(std::in_place_index<1>, std::move(e)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const T& value() const& { return std::get<0>(v_); }
    const E& error() const& { return std::get<1>(v_); }
    E&& error() && { return std::get<1>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }

    // The value, or the error thrown as ErrorException (module errors only:
    // a subsystem error is converted by the binding layer, not here).
    T take() &&
        requires std::is_same_v<E, Error>
    {
        if (!ok()) throw ErrorException(std::get<1>(std::move(v_)));
        return std::get<0>(std::move(v_));
    }

private:
    std::variant<T, E> v_;
};

// The value of an operation that returns nothing.
struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

}  // namespace tarvex
