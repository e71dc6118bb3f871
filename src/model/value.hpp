// Typed field values: what a named field read gives, what rules compare and
// what findings quote.
#pragma once

#include <cstdint>
#include <string>
#include <optional>
#include <string_view>

namespace tarvex::model {

struct Value {
    enum class Kind : std::uint8_t { Int, Float, Str };
    Kind kind = Kind::Str;
    std::int64_t i = 0;
    double f = 0.0;
    std::string s;

    static Value of_int(std::int64_t v) { return {Kind::Int, v, 0.0, {}}; }
    static Value of_float(double v) { return {Kind::Float, 0, v, {}}; }
    static Value of_str(std::string v) { return {Kind::Str, 0, 0.0, std::move(v)}; }

    bool is_number() const noexcept { return kind != Kind::Str; }
    double as_double() const noexcept { return kind == Kind::Int ? static_cast<double>(i) : f; }

    // Int in decimal; Float as the shortest decimal that reads back the same,
    // positional (1, 0.1, 1000000000000000000000, 0.0000001, NaN, inf, -inf);
    // Str as is.
    std::string display() const;
};

// An integer truncated from a double toward zero, saturating at the int64
// range; NaN gives 0.
std::int64_t truncate_saturating(double v) noexcept;

// The id/reference reading of a field's bytes: the integer reading, else the
// float reading truncated (saturating, NaN 0); nothing when both fail.
std::optional<std::int64_t> read_id(std::string_view raw) noexcept;

// A decimal floating-point number in the usual programming-language syntax
// (optional sign, digits with an optional point, optional e/E exponent;
// inf, infinity, nan in any case), surrounding whitespace allowed; no Fortran
// D exponent and no exponent without its letter.  The bytes must be UTF-8.
std::optional<double> parse_plain_float(std::string_view raw) noexcept;

// The text a double is written with in a field edit: the positional or the
// scientific form of its shortest digits (1e3, 2.1e5, 1e-7), whichever is
// strictly shorter, the positional one on a tie.
std::string field_text_of_double(double v);

}  // namespace tarvex::model
