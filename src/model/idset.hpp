// The defined ids of one entity kind: a dense bitmap for well-numbered decks,
// a hash set otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace tarvex::model {

// Multiplicative integer hash: the id times 0x517cc1b727220a95, no mixing.
struct IntHasher {
    std::size_t operator()(std::int64_t v) const noexcept {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(v) * 0x517cc1b727220a95ull);
    }
};

class IdSet {
public:
    IdSet() = default;

    // Dense when there is a non-negative id, the span max - min + 1 of the
    // non-negative ids is at most 2**30 and at most 128 x their count (the
    // negative ids are then dropped); sparse (all ids) otherwise.
    static IdSet build(const std::vector<const std::vector<std::int64_t>*>& lists);
    static IdSet build(const std::vector<std::int64_t>& ids);

    // q or |q| is in the set.
    bool contains(std::int64_t q) const noexcept { return has(q) || (q < 0 && has(abs_of(q))); }
    // Ids in the set (set bits, or elements).
    std::size_t size() const noexcept { return size_; }
    bool is_dense() const noexcept { return dense_; }

private:
    static std::int64_t abs_of(std::int64_t q) noexcept {
        return q == INT64_MIN ? q : -q;
    }
    bool has(std::int64_t q) const noexcept;

    bool dense_ = false;
    std::int64_t min_ = 0, max_ = -1;
    std::vector<std::uint64_t> bits_;
    std::unordered_set<std::int64_t, IntHasher> sparse_;
    std::size_t size_ = 0;
};

}  // namespace tarvex::model
