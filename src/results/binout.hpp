// The binout reader: one file or a numbered family (base, base%001, ...)
// indexed once, then read by directory path; per-state variables of a branch
// (branch/d000001/var, ...) are aggregated into (states x entities) tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "results/diskfile.hpp"
#include "results/lsda_error.hpp"
#include "results/symbol.hpp"

namespace tarvex::results {

using SymPath = std::vector<std::string>;

// The full aggregation of one variable over a branch's states.
struct StateValues {
    std::vector<double> times;   // one per state
    std::vector<double> values;  // all states' values concatenated
    std::vector<std::int64_t> ids;
    std::uint64_t n_states = 0;
    std::uint64_t n_channels = 0;  // length of the first state's values
};

// Selected columns of one variable over a branch's states.
struct StateColumns {
    std::vector<double> times;
    std::vector<double> values;  // state-major, n_states x n_columns
    std::uint64_t n_states = 0;
    std::uint64_t n_columns = 0;
};

// Entities chosen by user id or by legend name.
struct EntitySelection {
    bool by_id = true;
    std::vector<std::int64_t> ids;
    std::vector<std::string> names;
};

// Selected entity columns of a variable, with the id of each column (0 when
// the branch's id list is shorter).
struct SelectedColumns {
    StateColumns columns;
    std::vector<std::int64_t> ids;
};

// What a path reads: a dataset, a listing of a directory's variables, or the
// aggregation of a (branch, var) pair that is no dataset.
struct PathRead {
    enum class Kind { Dataset, Listing, Aggregate } kind = Kind::Dataset;
    ReadResult dataset;
    std::vector<std::string> listing;
    StateValues aggregate;
};

// A dataset as float64 with its sibling "time" dataset.
struct TimeSeries {
    std::vector<double> times;  // 0, 1, ... n-1 when there is no sibling "time"
    std::vector<double> values;
};

// True for a state directory name: "d" followed by at least one ASCII digit
// and nothing else.
bool is_state_dir(std::string_view name) noexcept;

// The path of a branch written as text: "elout/shell" is {"elout", "shell"}
// (empty segments skipped, as a CD record does); a text without "/" is one
// segment as it is.
SymPath branch_path(std::string_view text);
// A branch path as text, its segments joined by "/" (for messages).
std::string branch_text(const SymPath& branch);

class Binout {
public:
    // Expand the pattern, add continuation files, map and index them.
    static LsdaResult<Binout> open(const std::string& pattern);

    // The family's file names (as found on disk), sorted byte-wise.
    const std::vector<std::string>& files() const noexcept { return names_; }
    const SymNode& root() const noexcept { return root_; }
    const std::vector<Diskfile>& disk() const noexcept { return disk_; }
    // Sum of the family's file sizes.
    std::uint64_t total_bytes() const noexcept { return total_bytes_; }

    LsdaResult<const SymNode*> resolve(const SymPath& path) const;
    LsdaResult<ReadResult> read(const SymPath& path) const;
    // Every path read on the pool; results in input order.
    std::vector<LsdaResult<ReadResult>> read_many(const std::vector<SymPath>& paths) const;

    LsdaResult<std::vector<std::string>> state_dirs(const SymPath& branch) const;
    // Whether the path is a directory with at least one state directory.
    bool has_states(const SymPath& branch) const;
    std::vector<double> state_times(const SymPath& branch, const std::vector<std::string>& dirs) const;
    LsdaResult<StateValues> read_states(const SymPath& branch, const std::string& var) const;
    LsdaResult<StateColumns> read_columns(const SymPath& branch, const std::string& var,
                                          const std::vector<std::uint64_t>& columns) const;

    // A dataset as stored; a directory lists the variables of its first
    // state directory (its own children when it has none); a path that is
    // neither is the aggregation of its last segment over the states of the
    // directory its other segments name: always for two segments, and for
    // longer paths when that directory has state directories (elout/shell/
    // sig_xx); otherwise the read's failure.
    LsdaResult<PathRead> read_path(const SymPath& path) const;

    // A dataset converted to float64.
    LsdaResult<std::vector<double>> read_f64(const SymPath& path) const;
    // A dataset as float64 with its sibling "time" dataset; an empty path is
    // InvalidPath "empty path".
    LsdaResult<TimeSeries> read_time_series(const SymPath& path) const;

    // Column index of each selected entity: the first column whose id (or
    // legend name) equals it; EntityNotFound "id \"{id}\" not found in
    // '{branch}'" / "name \"{name}\" not found in '{branch}'" otherwise.
    LsdaResult<std::vector<std::uint64_t>> select_columns(const SymPath& branch,
                                                          const EntitySelection& sel) const;
    // The selected columns of `var` over the branch's states, with their ids.
    LsdaResult<SelectedColumns> read_selected(const SymPath& branch, const std::string& var,
                                              const EntitySelection& sel) const;

    LsdaResult<std::vector<std::int64_t>> ids(const SymPath& branch) const;
    LsdaResult<std::vector<std::string>> legend(const SymPath& branch) const;
    LsdaResult<std::string> title(const SymPath& branch) const;

private:
    // The state directories of a branch in name order (the tree's children
    // are already sorted byte-wise).
    LsdaResult<std::vector<const SymNode*>> state_nodes(const SymPath& branch) const;
    // branch + [name] (the metadata datasets).
    LsdaResult<ReadResult> read_meta(const SymPath& branch, const char* name) const;
    std::vector<double> times_of(const std::vector<const SymNode*>& states) const;
    void prefetch_element(const SymNode& leaf, std::uint64_t j) const noexcept;
    double time_value(const SymNode* time_leaf) const noexcept;

    SymNode root_;
    std::vector<std::string> names_;
    std::vector<Diskfile> disk_;
    std::uint64_t total_bytes_ = 0;
};

// Double to 64-bit integer: NaN gives 0, out-of-range values saturate,
// others are truncated toward zero.
std::int64_t f64_to_i64(double v) noexcept;

}  // namespace tarvex::results
