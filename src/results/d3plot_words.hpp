// Word access and saturating count arithmetic shared by the d3plot reader
// and its named views: counts read from a file never wrap around, and words
// past the end of a file are never touched.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace tarvex::d3plot::words {

inline constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

inline std::uint64_t add(std::uint64_t a, std::uint64_t b) noexcept { return a > kMax - b ? kMax : a + b; }
inline std::uint64_t mul(std::uint64_t a, std::uint64_t b) noexcept {
    std::uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? kMax : r;
}
inline std::uint64_t nonneg(std::int64_t v) noexcept { return v < 0 ? 0 : static_cast<std::uint64_t>(v); }

// Signed integer word `w` of the file (the caller checked the bounds).
inline std::int64_t int_word(std::string_view f, std::uint64_t w, std::uint64_t ws) noexcept {
    if (ws == 4) {
        std::int32_t v;
        std::memcpy(&v, f.data() + w * 4, 4);
        return v;
    }
    std::int64_t v;
    std::memcpy(&v, f.data() + w * 8, 8);
    return v;
}

// Word `w`, or 0 when it lies past the end of the file.
inline std::int64_t word_or_zero(std::string_view f, std::uint64_t w, std::uint64_t ws) noexcept {
    if (w >= f.size() / ws) return 0;
    return int_word(f, w, ws);
}

// The real of the word size at `p`, widened to double.
inline double real_word(const char* p, std::uint64_t ws) noexcept {
    if (ws == 4) {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    double v;
    std::memcpy(&v, p, 8);
    return v;
}

// offset + count * ws lies inside a file of `size` bytes.
inline bool fits(std::uint64_t offset, std::uint64_t count, std::uint64_t ws, std::uint64_t size) noexcept {
    std::uint64_t len = mul(count, ws);
    return len != kMax && offset <= size && len <= size - offset;
}

}  // namespace tarvex::d3plot::words
