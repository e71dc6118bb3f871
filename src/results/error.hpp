// The error of the binout layer (LSDA index, reader, editor) and its one
// conversion into the module's error values.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "util/error.hpp"

namespace tarvex::results {

struct LsdaError {
    enum class Kind {
        Io,                   // "IO error: {text}"              -> RuntimeError
        InvalidDataTypeSize,  // "Invalid data type size"        -> RuntimeError
        FileNotFound,         // "File not found"                -> FileNotFoundError
        SymbolNotFound,       // "Symbol not found: {text}"      -> KeyError
        InvalidPath,          // "Invalid path: {text}"          -> RuntimeError
        Conversion,           // "Conversion error: {text}"      -> RuntimeError
        Utf8,                 // "UTF-8 error: {text}"           -> RuntimeError
    };
    Kind kind = Kind::Conversion;
    std::string text;

    static LsdaError io(std::string t) { return {Kind::Io, std::move(t)}; }
    static LsdaError invalid_data_type_size() { return {Kind::InvalidDataTypeSize, {}}; }
    static LsdaError file_not_found() { return {Kind::FileNotFound, {}}; }
    static LsdaError symbol_not_found(std::string t) { return {Kind::SymbolNotFound, std::move(t)}; }
    static LsdaError invalid_path(std::string t) { return {Kind::InvalidPath, std::move(t)}; }
    static LsdaError conversion(std::string t) { return {Kind::Conversion, std::move(t)}; }

    // The full message, as the Python exception carries it.
    std::string message() const;
};

// The module error value (exception kind and text) of an LsdaError.
Error lsda_err(const LsdaError& e);

// A value or an LsdaError.
template <class T>
class [[nodiscard]] LsdaResult {
public:
    LsdaResult(T v) : v_(std::in_place_index<0>, std::move(v)) {}
    LsdaResult(LsdaError e) : v_(std::in_place_index<1>, std::move(e)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const T& value() const& { return std::get<0>(v_); }
    const LsdaError& error() const& { return std::get<1>(v_); }
    LsdaError&& error() && { return std::get<1>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }

    // As a module Result (the error converted by lsda_err).
    Result<T> into_result() && {
        if (ok()) return std::get<0>(std::move(v_));
        return lsda_err(std::get<1>(v_));
    }

private:
    std::variant<T, LsdaError> v_;
};

// Deepest directory nesting the binout layer accepts (files and editor
// paths).  Real binouts are a handful of levels deep; the limit keeps the
// recursive tree builders, copies and destructors within any thread's stack.
inline constexpr std::size_t kMaxDepth = 1000;

}  // namespace tarvex::results
