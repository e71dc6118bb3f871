// Named views of a d3plot: the control words under their database names,
// and the per-state result arrays under the names users of other d3plot
// readers know (node_displacement, element_shell_stress, ...), each located
// as a strided slice of the state record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "results/d3plot.hpp"

namespace tarvex::d3plot {

// One control word: an integer, a real (VERSION) or text (TITLE, RELEASE_NUMBER).
using ControlValue = std::variant<std::int64_t, double, std::string>;
struct ControlWord {
    std::string name;
    ControlValue value;
};
// Every control word the first file holds, in file order: words 0 ... 57,
// the interface-field widths of an interface-force file, the EXTRA words
// that have a name, and NUMRBE when the material-type section is present.
std::vector<ControlWord> control_words(const Control& c, std::string_view first_file);

// The shell and thick-shell layout flags the control words encode.
struct ResultLayout {
    std::uint64_t layers = 0;          // shell / thick-shell integration layers (|MAXINT| without 10000)
    bool shell_stress = false, shell_pstrain = false, shell_forces = false, shell_extra = false;
    bool solid_stress = false, solid_pstrain = false;
    bool strain = false;                // ISTRN: element strain tensors stored
    bool plastic_strain_tensor = false, thermal_strain_tensor = false;
    std::uint64_t neiph = 0, neips = 0, neipb = 0;
};
ResultLayout result_layout(const Control& c, std::string_view first_file);

// A named array: values at start_word + sum(index_i * strides_i) words of
// every state, shape (states, shape...).
struct NamedArray {
    std::string name;
    std::uint64_t start_word = 0;
    std::vector<std::uint64_t> shape;
    std::vector<std::uint64_t> strides;  // words
    // Words from the first to one past the last value of one state.
    std::uint64_t extent_words() const noexcept;
    std::uint64_t size() const noexcept;  // values per state
};

// Every named array the control block describes, in state-record order.  An
// element block whose control words disagree with its size names no array;
// it is recorded instead with the prefix of its names and the error
// "d3plot control word {NAME} ({value}) disagrees with ...".
struct StateArrays {
    struct Problem {
        std::string prefix;  // "element_shell_" ...
        D3plotError error;
    };
    std::vector<NamedArray> arrays;
    std::vector<Problem> problems;
};
StateArrays state_arrays(const Control& c, std::string_view first_file);

// The arrays of an open family; the first problem fails the listing.
D3Result<std::vector<NamedArray>> list_arrays(const D3plot& d);

// How one named array of selected states is read: a zero-copy view when
// there is one, otherwise a copy of `elements` values of the word size.
struct ArrayRead {
    std::vector<std::size_t> states;
    NamedArray array;
    std::optional<D3plot::View> view;
    std::size_t elements = 0;  // states * values per state
};
// Missing "array \"{name}\" is not present in this d3plot" for a name the
// family does not hold; the block's error when its control words disagree.
D3Result<ArrayRead> plan_array(const D3plot& d, std::string_view name,
                               const std::optional<std::vector<std::int64_t>>& states);
// Copy a planned array into `out` (plan.elements values of the word size, C order).
D3Status copy_array(const D3plot& d, const ArrayRead& plan, void* out);

}  // namespace tarvex::d3plot
