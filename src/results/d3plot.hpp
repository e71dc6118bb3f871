// d3plot result databases (and the interface-force variants intfor and
// FSIFOR): the control block, the layout of the sections before the first
// state and of one state record, the family reader, the two writers and the
// family editor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "file/source.hpp"
#include "results/d3plot_error.hpp"

namespace tarvex::d3plot {

// ---- Control block ----------------------------------------------------------

enum class StateBlock : int { Displacement = 0, Velocity, Acceleration, Solid, ThickShell, Beam, Shell };
inline constexpr int kNumStateBlocks = 7;
const char* state_block_name(StateBlock b) noexcept;

// Position of one result block inside a state record.
struct BlockExtent {
    std::uint64_t start_word = 0;  // from the start of the state
    std::uint64_t count = 0;       // entities
    std::uint64_t values = 0;      // values per entity
};

// Last and tens decimal digit with floored division (0 ... 9 for any x).
inline std::int64_t digit_last(std::int64_t x) noexcept { return ((x % 10) + 10) % 10; }
inline std::int64_t digit_tens(std::int64_t x) noexcept {
    std::int64_t q = x / 10;
    if (x % 10 < 0) --q;
    return digit_last(q);
}

struct Control {
    std::uint64_t word_size = 4;
    // Control words (counts clamped at 0 where negative values mean nothing).
    std::int64_t filetype = 0, ndim = 0;
    std::uint64_t numnp = 0, nglbv = 0;
    std::int64_t it = 0, iu = 0, iv = 0, ia = 0;
    std::uint64_t nel8 = 0, nv3d = 0, nel2 = 0, nv1d = 0, nel4 = 0, nv2d = 0, neips = 0;
    std::int64_t maxint = 0;
    std::uint64_t nmsph = 0, narbs = 0, nelt = 0, nv3dt = 0;
    std::int64_t ioshl[4] = {0, 0, 0, 0};
    std::uint64_t ialemat = 0, nmmat = 0;
    std::int64_t npefg = 0;
    std::uint64_t nel48 = 0;
    std::int64_t idtdt = 0;
    std::uint64_t extra = 0;
    std::uint64_t widths[5] = {0, 0, 0, 0, 0};  // interface fields wear ... gap
    std::uint64_t word65 = 0;
    std::uint64_t numrbe = 0;
    bool fsifor = false;  // NV2D < 0
    bool ndim9 = false;

    // Derived by walk_geometry.
    std::uint64_t coords_offset = 0;  // bytes
    std::uint64_t states_offset = 0;  // bytes, first file
    std::uint64_t sph_words = 0;
    std::uint64_t n_airbags = 0, airbag_geom_words = 0, airbag_vars = 0, airbag_particles = 0,
                  airbag_state_words = 0;
    std::uint64_t n_rigid_entries = 0;
    std::uint64_t n_road_surfaces = 0;

    // Extra node values besides displacement, velocity and acceleration.
    std::uint64_t extra_node_values() const noexcept;
    // All node values per node.
    std::uint64_t node_values() const noexcept;
    std::uint64_t words_per_state() const noexcept;  // saturating
    std::uint64_t bytes_per_state() const noexcept;  // saturating
    std::optional<BlockExtent> block_extent(StateBlock b) const noexcept;
    // Byte offsets (first file) of the geometry sections.
    std::uint64_t solids_offset() const noexcept;
    std::uint64_t thick_shells_offset() const noexcept;
    std::uint64_t beams_offset() const noexcept;
    std::uint64_t shells_offset() const noexcept;
    std::uint64_t narbs_offset() const noexcept;
};

// Parse the control words of the first file (the derived fields stay 0).
D3Result<Control> parse_control(std::string_view file);
// Walk the sections before the first state; words past the end read as 0.
void walk_geometry(Control& c, std::string_view file);

// ---- Files --------------------------------------------------------------------

// The family of `base`: base itself, then every base<digits> of its directory
// by numeric key.
std::vector<std::string> family_paths(const std::string& base);
// Output names for n files: base, base01 ... base99, base100 ...
std::vector<std::string> family_names(const std::string& base, std::size_t n);

struct StateRef {
    std::uint32_t file = 0;
    std::uint64_t offset = 0;  // bytes
};

// What opening a family yields besides the bytes.
struct Layout {
    Control control;
    std::vector<StateRef> states;
    std::vector<double> times;
    std::vector<double> initial_coords;  // 3 * NUMNP
};

// Control block, geometry walk, state index and initial coordinates of the
// family whose file contents are `files` (first file first).
D3Result<Layout> read_layout(const std::vector<std::string_view>& files);

// count reals of the word size at `offset`, widened to double.
D3Status read_floats_into(std::string_view file, std::uint64_t offset, std::uint64_t count, std::uint64_t ws,
                          double* out);
D3Result<std::vector<double>> read_floats_at(std::string_view file, std::uint64_t offset, std::uint64_t count,
                                             std::uint64_t ws);
// Up to count words as signed integers, clamped to the file.
std::vector<std::int64_t> read_ints_at(std::string_view file, std::uint64_t offset, std::uint64_t count,
                                       std::uint64_t ws);

// ---- Reader -------------------------------------------------------------------

class D3plot {
public:
    static D3Result<D3plot> open(const std::string& path);

    const Control& control() const noexcept { return layout_.control; }
    std::uint64_t num_nodes() const noexcept { return layout_.control.numnp; }
    std::size_t num_states() const noexcept { return layout_.states.size(); }
    const std::vector<double>& times() const noexcept { return layout_.times; }
    const std::vector<double>& initial_coords() const noexcept { return layout_.initial_coords; }
    const std::vector<StateRef>& states() const noexcept { return layout_.states; }
    std::string_view file(std::size_t i) const noexcept { return files_[i]->bytes(); }
    std::size_t num_files() const noexcept { return files_.size(); }

    // "state index {index} out of range ({n} states)" for indices that do
    // not resolve; negative indices count from the end.
    D3Result<std::vector<std::size_t>> resolve_states(const std::optional<std::vector<std::int64_t>>& sel) const;

    // Calls that need current coordinates fail with "d3plot has no nodal
    // displacement data (IU=0)" on a family without displacements.
    D3Status require_displacements() const;
    D3Result<std::vector<double>> node_coordinates(std::uint64_t state) const;
    // The current coordinates of every state into num_states * 3 * NUMNP doubles.
    D3Status node_coordinates_all_into(double* out) const;
    D3Result<std::vector<double>> displacement_magnitudes(std::uint64_t state) const;
    D3Result<double> max_displacement_final() const;

    std::vector<std::int64_t> node_ids() const;
    std::vector<std::int64_t> solid_ids() const;
    std::vector<std::int64_t> shell_ids() const;
    std::vector<std::int64_t> part_ids() const;
    std::vector<std::int64_t> beam_ids() const;
    std::vector<std::int64_t> thick_shell_ids() const;
    // Connectivity (k node numbers per element) and part numbers.
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> solid_connectivity() const;
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> shell_connectivity() const;
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> thick_shell_connectivity() const;
    // Part ids and titles of the title section that follows the geometry
    // (after an end marker, in the first file); empty when there is none.
    struct PartTitle {
        std::int64_t id;
        std::string title;  // trailing blanks removed
    };
    std::vector<PartTitle> part_titles() const;
    // Beams: the five node words (two end nodes, the orientation node and
    // two further words as stored) and the part number.
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> beam_connectivity() const;

    // A zero-copy location of a block over selected states, when one exists:
    // single precision, present block, evenly increasing offsets in one file.
    struct View {
        const float* data;
        std::uint64_t stride_bytes;
    };
    std::optional<View> view(StateBlock b, const std::vector<std::size_t>& sel) const;
    // The same for any extent of `extent_words` words at `start_word` of a
    // state (nothing for an empty extent).
    std::optional<View> view_words(std::uint64_t start_word, std::uint64_t extent_words,
                                   const std::vector<std::size_t>& sel) const;
    // "d3plot truncated: float block out of range" unless `words` words at
    // `start_word` lie inside every selected state's file.
    D3Status check_extent(std::uint64_t start_word, std::uint64_t words, const std::vector<std::size_t>& sel) const;

    // Copy the block of the selected states into `out` (n * count * values
    // elements of the word size: float for 4, double for 8).  The block must
    // be present.
    D3Status copy_block(const BlockExtent& layout, const std::vector<std::size_t>& sel, void* out) const;

    // How one block of selected states is read: a zero-copy view when there
    // is one, otherwise a copy of `elements` values of the word size.
    struct BlockRead {
        std::vector<std::size_t> states;  // resolved state indices
        BlockExtent extent;
        std::optional<View> view;
        std::size_t elements = 0;  // states * count * values
    };
    // A missing block is Missing "block {name} is not present in this d3plot";
    // counts no array can hold are "d3plot truncated: float block out of
    // range" (std::bad_alloc when only the selection makes them too large).
    D3Result<BlockRead> plan_block(StateBlock b, const std::optional<std::vector<std::int64_t>>& states) const;
    // Copy a planned block into `out` (plan.elements values of the word size).
    D3Status copy_block(const BlockRead& plan, void* out) const { return copy_block(plan.extent, plan.states, out); }

    // One named per-segment field of an interface-force or FSIFOR file:
    // the `index`-th interface field (its width from the control block) or
    // the `index`-th FSIFOR value, of the selected states, as singles.
    enum class SegmentFieldKind { Interface, Fsifor };
    struct SegmentField {
        std::size_t states = 0, segments = 0, width = 0;
        std::vector<float> values;  // states * segments * width
    };
    D3Result<SegmentField> segment_field(SegmentFieldKind kind, std::int64_t index,
                                         const std::optional<std::vector<std::int64_t>>& states) const;

private:
    std::vector<SourcePtr> files_;
    Layout layout_;

    std::vector<std::int64_t> narbs_slice(std::uint64_t skip, std::uint64_t count, std::uint64_t cap) const;
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> connectivity(std::uint64_t offset,
                                                                                std::uint64_t count,
                                                                                std::uint64_t k) const;
};

// ---- Writers ------------------------------------------------------------------

// The user-numbering section for N nodes, S8 solids, S4 shells and P parts.
void write_narbs(std::vector<std::int32_t>& out, std::uint64_t n, std::uint64_t s8, std::uint64_t s4,
                 std::uint64_t p, const std::vector<std::int32_t>* node_ids,
                 const std::vector<std::int32_t>* solid_ids, const std::vector<std::int32_t>* shell_ids,
                 const std::vector<std::int32_t>* part_ids);

class D3plotWriter {
public:
    static D3Result<D3plotWriter> create(std::vector<float> coords, std::string title);
    std::uint64_t num_nodes() const noexcept { return coords_.size() / 3; }

    void add_solids(const std::vector<std::int32_t>& conn8, const std::vector<std::int64_t>* parts);
    void add_shells(const std::vector<std::int32_t>& conn4, const std::vector<std::int64_t>* parts);
    void set_node_ids(std::vector<std::int32_t> v) { node_ids_ = std::move(v); }
    void set_solid_ids(std::vector<std::int32_t> v) { solid_ids_ = std::move(v); }
    void set_shell_ids(std::vector<std::int32_t> v) { shell_ids_ = std::move(v); }
    void set_part_ids(std::vector<std::int32_t> v) { part_ids_ = std::move(v); }
    void set_solid_results(std::uint64_t nv3d, std::vector<float> values);
    void set_shell_results(std::uint64_t nv2d, std::vector<float> values);
    D3Status add_state(float time, std::vector<float> disp, std::optional<std::vector<float>> vel,
                       std::optional<std::vector<float>> acc);

    // The whole file; refuses contents whose sections would disagree.
    D3Result<std::string> to_bytes() const;

private:
    struct State {
        float time;
        std::vector<float> disp, vel, acc;
    };
    std::vector<float> coords_;
    std::string title_;
    std::vector<std::int32_t> solids_, shells_;  // 9 / 5 words each
    std::optional<std::vector<std::int32_t>> node_ids_, solid_ids_, shell_ids_, part_ids_;
    std::uint64_t nv3d_ = 0, nv2d_ = 0;
    std::vector<float> solid_results_, shell_results_;
    bool have_results3_ = false, have_results2_ = false;
    bool has_vel_ = false, has_acc_ = false;
    std::vector<State> states_;
};

class IntforWriter {
public:
    static D3Result<IntforWriter> create(std::vector<float> coords, std::uint64_t n_interfaces,
                                         std::string title);
    std::uint64_t num_nodes() const noexcept { return coords_.size() / 3; }

    void add_segments(const std::vector<std::int32_t>& conn4, const std::vector<std::int64_t>* ids);
    void set_node_ids(std::vector<std::int32_t> v) { node_ids_ = std::move(v); }
    void set_fields(std::uint64_t wear, std::uint64_t pressure, std::uint64_t shear, std::uint64_t force,
                    std::uint64_t gap);
    void set_fsifor(std::uint64_t n) { n_fsi_ = n; }
    std::uint64_t nv2d() const noexcept;
    D3Status add_state(float time, std::vector<float> disp, std::vector<float> vel, std::vector<float> seg);

    D3Result<std::string> to_bytes() const;

private:
    struct State {
        float time;
        std::vector<float> disp, vel, seg;
    };
    std::vector<float> coords_;
    std::string title_;
    std::uint64_t n_if_ = 1;
    std::vector<std::int32_t> segments_;  // 4 nodes + id
    std::optional<std::vector<std::int32_t>> node_ids_;
    std::uint64_t widths_[5] = {0, 0, 0, 0, 0};
    std::uint64_t n_fsi_ = 0;
    std::vector<State> states_;
};

// ---- Editor -------------------------------------------------------------------

class D3plotEditor {
public:
    static D3Result<D3plotEditor> load(const std::string& path);

    std::uint64_t num_nodes() const noexcept { return layout_.control.numnp; }
    std::size_t num_states() const noexcept { return layout_.states.size(); }
    const Control& control() const noexcept { return layout_.control; }

    // Overwrite one block of one state with `data` (count * values singles).
    D3Status set_block(StateBlock b, std::uint64_t state, const std::vector<float>& data);
    // Rewrite the loaded files; write the family under a new base name.
    D3Status save() const;
    D3Status write(const std::string& base) const;

private:
    std::vector<std::string> paths_;
    std::vector<std::string> contents_;
    Layout layout_;
    D3Status write_all(const std::vector<std::string>& names) const;
};

}  // namespace tarvex::d3plot
