#include "model/idset.hpp"

#include <algorithm>
#include <bit>

namespace tarvex::model {

bool IdSet::has(std::int64_t q) const noexcept {
    if (dense_) {
        if (q < min_ || q > max_) return false;
        std::uint64_t i = static_cast<std::uint64_t>(q) - static_cast<std::uint64_t>(min_);
        return (bits_[i >> 6] >> (i & 63)) & 1u;
    }
    return sparse_.count(q) != 0;
}

IdSet IdSet::build(const std::vector<std::int64_t>& ids) {
    return build(std::vector<const std::vector<std::int64_t>*>{&ids});
}

IdSet IdSet::build(const std::vector<const std::vector<std::int64_t>*>& lists) {
    IdSet s;
    std::size_t count = 0, total = 0;
    std::int64_t lo = 0, hi = -1;
    for (const auto* l : lists) {
        total += l->size();
        for (std::int64_t v : *l) {
            if (v < 0) continue;
            if (count == 0) lo = hi = v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            ++count;
        }
    }
    if (count > 0) {
        std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
        if (span <= (1ull << 30) && span <= 128ull * count) {
            s.dense_ = true;
            s.min_ = lo;
            s.max_ = hi;
            s.bits_.assign((span + 63) / 64, 0);
            for (const auto* l : lists)
                for (std::int64_t v : *l) {
                    if (v < 0) continue;
                    std::uint64_t i = static_cast<std::uint64_t>(v - lo);
                    s.bits_[i >> 6] |= 1ull << (i & 63);
                }
            std::size_t n = 0;
            for (auto w : s.bits_) n += static_cast<std::size_t>(std::popcount(w));
            s.size_ = n;
            return s;
        }
    }
    s.sparse_.reserve(total);
    for (const auto* l : lists)
        for (std::int64_t v : *l) s.sparse_.insert(v);
    s.size_ = s.sparse_.size();
    return s;
}

}  // namespace tarvex::model
