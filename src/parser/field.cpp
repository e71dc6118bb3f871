#include "parser/field.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "util/text.hpp"

namespace tarvex {

std::string_view trim_field(std::string_view s) noexcept { return text::trim_left_blanks(text::trim_right(s)); }

std::string_view strip_crlf(std::string_view line) noexcept {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

std::optional<std::int64_t> Field::as_i64(std::string_view s) noexcept {
    s = trim_field(s);
    if (s.empty()) return std::nullopt;
    if (s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() == '-') return std::nullopt;
    }
    std::int64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Standard syntax only: [sign] (digits[.digits] | .digits) [e[sign]digits],
// or inf / infinity / nan in any case.  `s` is trimmed and non-empty.
std::optional<double> parse_standard(std::string_view s) noexcept {
    std::string_view body = s;
    bool neg = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        neg = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;
    char c0 = body.front();
    if (!is_digit(c0) && c0 != '.') {
        if (text::iequals(body, "inf") || text::iequals(body, "infinity"))
            return neg ? -HUGE_VAL : HUGE_VAL;
        if (text::iequals(body, "nan")) return neg ? -std::nan("") : std::nan("");
        return std::nullopt;
    }
    // Validate the decimal form before handing it to from_chars (which would
    // also take "nan(...)" and the like).
    std::size_t i = 0, n = body.size(), digits = 0;
    while (i < n && is_digit(body[i])) ++i, ++digits;
    if (i < n && body[i] == '.') {
        ++i;
        while (i < n && is_digit(body[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < n && (body[i] == '+' || body[i] == '-')) ++i;
        std::size_t e0 = i;
        while (i < n && is_digit(body[i])) ++i;
        if (i == e0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    double v = 0;
    auto r = std::from_chars(body.data(), body.data() + n, v);
    if (r.ptr != body.data() + n) return std::nullopt;
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow or underflow: strtod rounds those to inf / 0 / subnormal.
        std::string z(body);
        v = std::strtod(z.c_str(), nullptr);
    } else if (r.ec != std::errc()) {
        return std::nullopt;
    }
    return neg ? -v : v;
}

}  // namespace

std::optional<double> Field::as_f64(std::string_view s) noexcept {
    s = trim_field(s);
    if (s.empty()) return std::nullopt;
    if (auto v = parse_standard(s)) return v;
    // Fortran styles: copy into a small buffer (fields are short).
    char stack[64];
    std::string heap;
    char* buf = stack;
    if (s.size() + 2 > sizeof(stack)) {
        heap.resize(s.size() + 2);
        buf = heap.data();
    }
    bool changed = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == 'd' || c == 'D') {
            c = 'E';
            changed = true;
        }
        buf[i] = c;
    }
    std::string_view t(buf, s.size());
    if (changed)
        if (auto v = parse_standard(t)) return v;
    for (std::size_t p = 1; p < t.size(); ++p) {
        char c = t[p], prev = t[p - 1];
        if ((c == '+' || c == '-') && (is_digit(prev) || prev == '.')) {
            // Insert 'E' before position p.
            for (std::size_t k = t.size(); k > p; --k) buf[k] = buf[k - 1];
            buf[p] = 'E';
            return parse_standard(std::string_view(buf, t.size() + 1));
        }
    }
    return std::nullopt;
}

std::vector<std::string> fixed_tokens(std::string_view line, const std::vector<std::size_t>& widths) {
    std::vector<std::string> out;
    out.reserve(widths.size());
    std::size_t pos = 0;
    for (std::size_t w : widths) {
        std::string_view piece;
        if (pos < line.size()) piece = line.substr(pos, w);
        pos += w;
        out.push_back(text::utf8_or_empty(trim_field(piece)));
    }
    return out;
}

}  // namespace tarvex

namespace tarvex {
std::optional<double> parse_standard_f64(std::string_view s) noexcept {
    if (s.empty()) return std::nullopt;
    return parse_standard(s);
}
}  // namespace tarvex
