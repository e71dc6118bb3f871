// The binout reader: one file or a numbered family (base, base%001, ...)
// indexed once, then read by directory path; per-state variables of a branch
// (branch/d000001/var, ...) are aggregated into (states x entities) tables.
#pragma once

#include <cstdint>
#include <string>
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

// True for a state directory name: "d" followed by at least one ASCII digit
// and nothing else.
bool is_state_dir(std::string_view name) noexcept;

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

    LsdaResult<std::vector<std::string>> state_dirs(const std::string& branch) const;
    std::vector<double> state_times(const std::string& branch, const std::vector<std::string>& dirs) const;
    LsdaResult<StateValues> read_states(const std::string& branch, const std::string& var) const;
    LsdaResult<StateColumns> read_columns(const std::string& branch, const std::string& var,
                                          const std::vector<std::uint64_t>& columns) const;

    LsdaResult<std::vector<std::int64_t>> ids(const std::string& branch) const;
    LsdaResult<std::vector<std::string>> legend(const std::string& branch) const;
    LsdaResult<std::string> title(const std::string& branch) const;

private:
    // The state directories of a branch in name order (the tree's children
    // are already sorted byte-wise).
    LsdaResult<std::vector<const SymNode*>> state_nodes(const std::string& branch) const;
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
