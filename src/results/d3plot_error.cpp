#include "results/d3plot_error.hpp"

namespace tarvex::d3plot {

D3plotError D3plotError::io(int err) { return {Kind::Io, os_text(err)}; }

std::string D3plotError::message() const {
    switch (kind) {
        case Kind::Io: return "io: " + text;
        case Kind::NotD3plot: return "not a recognizable d3plot (could not determine word size)";
        case Kind::Message:
        case Kind::Missing: return text;
    }
    return text;
}

}  // namespace tarvex::d3plot
