// The error of the binout layer (LSDA index, reader, editor).  The binding
// layer turns it into the Python exception named beside each kind.
#pragma once

#include <string>
#include <utility>

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
        EntityNotFound,       // "{text}" (an id or name not in a branch) -> KeyError
    };
    Kind kind = Kind::Conversion;
    std::string text;

    static LsdaError io(std::string t) { return {Kind::Io, std::move(t)}; }
    static LsdaError invalid_data_type_size() { return {Kind::InvalidDataTypeSize, {}}; }
    static LsdaError file_not_found() { return {Kind::FileNotFound, {}}; }
    static LsdaError symbol_not_found(std::string t) { return {Kind::SymbolNotFound, std::move(t)}; }
    static LsdaError invalid_path(std::string t) { return {Kind::InvalidPath, std::move(t)}; }
    static LsdaError conversion(std::string t) { return {Kind::Conversion, std::move(t)}; }
    static LsdaError entity_not_found(std::string t) { return {Kind::EntityNotFound, std::move(t)}; }

    // The full message, as the Python exception carries it.
    std::string message() const;
};

// A value or an LsdaError.
template <class T>
using LsdaResult = Result<T, LsdaError>;

// Deepest directory nesting the binout layer accepts (files and editor
// paths).  Real binouts are a handful of levels deep; the limit keeps the
// recursive tree builders, copies and destructors within any thread's stack.
inline constexpr std::size_t kMaxDepth = 1000;

}  // namespace tarvex::results
