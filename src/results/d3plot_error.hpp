// The error of the d3plot layer (reader, writers, editor).  The binding layer
// turns Missing into KeyError and every other kind into RuntimeError, each
// with message().
#pragma once

#include <string>
#include <utility>

#include "util/error.hpp"

namespace tarvex::d3plot {

struct D3plotError {
    enum class Kind { Io, NotD3plot, Message, Missing } kind = Kind::Message;
    std::string text;  // Io: the system's description; Message: the message

    static D3plotError io(int err);
    static D3plotError io_text(std::string t) { return {Kind::Io, std::move(t)}; }
    static D3plotError not_d3plot() { return {Kind::NotD3plot, {}}; }
    static D3plotError msg(std::string m) { return {Kind::Message, std::move(m)}; }
    // A block or field the file does not hold.
    static D3plotError missing(std::string m) { return {Kind::Missing, std::move(m)}; }

    // The user-facing message of every kind.
    std::string message() const;
};

// A value or a D3plotError.
template <class T>
using D3Result = Result<T, D3plotError>;
using D3Status = D3Result<Unit>;

}  // namespace tarvex::d3plot
