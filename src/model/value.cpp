#include "model/value.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "parser/field.hpp"
#include "util/text.hpp"

namespace tarvex::model {

std::string Value::display() const {
    switch (kind) {
        case Kind::Int: return std::to_string(i);
        case Kind::Float: return text::format_number(f);
        case Kind::Str: return s;
    }
    return {};
}

std::int64_t truncate_saturating(double v) noexcept {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (v < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

std::optional<std::int64_t> read_id(std::string_view raw) noexcept {
    if (auto i = Field::as_i64(raw)) return i;
    if (auto f = Field::as_f64(raw)) return truncate_saturating(*f);
    return std::nullopt;
}

std::optional<double> parse_plain_float(std::string_view raw) noexcept {
    if (!text::is_valid_utf8(raw)) return std::nullopt;
    return parse_standard_f64(text::trim_unicode(raw));
}

std::string field_text_of_double(double v) {
    std::string positional = text::format_number(v);
    if (!std::isfinite(v)) return positional;
    // Shortest digits and exponent of the value.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    // to_chars writes d.ddde+XX: rewrite the exponent without '+' and leading zeros.
    std::size_t e = sci.find('e');
    std::string mant(sci.substr(0, e));
    std::string_view ex = sci.substr(e + 1);
    bool neg = false;
    if (!ex.empty() && (ex.front() == '+' || ex.front() == '-')) {
        neg = ex.front() == '-';
        ex.remove_prefix(1);
    }
    while (ex.size() > 1 && ex.front() == '0') ex.remove_prefix(1);
    std::string scientific = mant + "e" + (neg ? "-" : "") + std::string(ex);
    return scientific.size() < positional.size() ? scientific : positional;
}

}  // namespace tarvex::model
