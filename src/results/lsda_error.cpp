#include "results/lsda_error.hpp"

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
        case Kind::EntityNotFound: return text;
    }
    return text;
}

}  // namespace tarvex::results
