// Card fields: the tolerant number readers and cutting a card line into values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

enum class CardFormat : std::uint8_t { Fixed = 0, Long = 1, Free = 2 };

struct Field {
    // Optional sign and digits only; out of the int64 range is no value.
    static std::optional<std::int64_t> as_i64(std::string_view bytes) noexcept;
    // Standard decimal syntax, inf/infinity/nan, then Fortran D exponents,
    // then exponents written without the letter ("1.5-3").
    static std::optional<double> as_f64(std::string_view bytes) noexcept;
};

// Leading blanks and trailing whitespace removed.
std::string_view trim_field(std::string_view s) noexcept;

// Pieces of the given widths from the start of the line, trimmed; a piece
// that is not valid UTF-8 becomes empty.
std::vector<std::string> fixed_tokens(std::string_view line, const std::vector<std::size_t>& widths);

// The line without every trailing CR and LF.
std::string_view strip_crlf(std::string_view line) noexcept;

// Whether a card line is read comma-separated.
inline bool is_free_line(std::string_view line, CardFormat fmt) noexcept {
    return fmt == CardFormat::Free || line.find(',') != std::string_view::npos;
}

// Cuts one card line into consecutive values: comma pieces in comma mode,
// fixed columns otherwise (widths doubled in Long format).  `next(width)`
// returns the next value's raw bytes (not trimmed; empty when missing).
class LineCutter {
public:
    LineCutter(std::string_view line, CardFormat fmt) noexcept
        : line_(strip_crlf(line)), free_(is_free_line(line_, fmt)), scale_(fmt == CardFormat::Long ? 2 : 1) {}

    std::string_view next(std::size_t width) noexcept {
        if (free_) {
            if (done_) return {};
            std::size_t comma = line_.find(',', pos_);
            std::string_view piece;
            if (comma == std::string_view::npos) {
                piece = line_.substr(pos_);
                done_ = true;
            } else {
                piece = line_.substr(pos_, comma - pos_);
                pos_ = comma + 1;
            }
            return piece;
        }
        // Saturating: a caller's width may be anything up to 2**64 - 1.
        constexpr std::size_t kMax = static_cast<std::size_t>(-1);
        std::size_t w = width > kMax / scale_ ? kMax : width * scale_;
        std::size_t start = pos_;
        pos_ = w > kMax - pos_ ? kMax : pos_ + w;
        if (start >= line_.size()) return {};
        return line_.substr(start, w);
    }

private:
    std::string_view line_;
    bool free_;
    std::size_t scale_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

}  // namespace tarvex

namespace tarvex {
// The standard decimal syntax only ([sign] digits[.digits] | .digits, an
// optional e/E exponent; inf, infinity, nan in any case), no Fortran forms;
// `s` is taken as is (no trimming).
std::optional<double> parse_standard_f64(std::string_view s) noexcept;
}  // namespace tarvex
