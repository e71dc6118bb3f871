#include "results/error.hpp"

namespace tarvex::results {

std::string LsdaError::message() const {
    switch (kind) {
        case Kind::Io: return "IO error: " + text;
        case Kind::InvalidDataTypeSize: return "Invalid data type size";
        case Kind::FileNotFound: return "File not found";
        case Kind::SymbolNotFound: return "Symbol not found: " + text;
        case Kind::InvalidPath: return "Invalid path: " + text;
        case Kind::Conversion: return "Conversion error: " + text;
        case Kind::Utf8: return "UTF-8 error: " + text;
    }
    return text;
}

Error lsda_err(const LsdaError& e) {
    switch (e.kind) {
        case LsdaError::Kind::FileNotFound: return Error::not_found(e.message());
        case LsdaError::Kind::SymbolNotFound: return Error::key(e.message());
        default: return Error::runtime(e.message());
    }
}

}  // namespace tarvex::results
