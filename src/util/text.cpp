#include "util/text.hpp"

#include <charconv>
#include <cmath>

namespace tarvex::text {

std::string utf8_lossy(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        std::size_t n = utf8_seq_len(s, i);
        if (n) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        // Maximal subpart: a lead byte followed by as many continuation bytes
        // as would still be valid is replaced as one unit.
        std::size_t skip = 1;
        auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
        if (c >= 0xE0 && c <= 0xF4 && i + 1 < s.size()) {
            unsigned char c1 = at(i + 1);
            unsigned char lo = 0x80, hi = 0xBF;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
            if (c1 >= lo && c1 <= hi) {
                skip = 2;
                if (c >= 0xF0 && i + 2 < s.size() && (at(i + 2) & 0xC0) == 0x80) skip = 3;
            }
        }
        out.append("\xEF\xBF\xBD");
        i += skip;
    }
    return out;
}

namespace {
// Decode the code point at s[i] (valid UTF-8 assumed); returns its length.
std::size_t decode_at(std::string_view s, std::size_t i, char32_t& cp) noexcept {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    std::size_t n = utf8_seq_len(s, i);
    if (n == 0) {
        cp = 0xFFFD;
        return 1;
    }
    if (n == 1) cp = b(i);
    else if (n == 2) cp = char32_t(b(i) & 0x1F) << 6 | (b(i + 1) & 0x3F);
    else if (n == 3) cp = char32_t(b(i) & 0x0F) << 12 | char32_t(b(i + 1) & 0x3F) << 6 | (b(i + 2) & 0x3F);
    else
        cp = char32_t(b(i) & 0x07) << 18 | char32_t(b(i + 1) & 0x3F) << 12 | char32_t(b(i + 2) & 0x3F) << 6 |
             (b(i + 3) & 0x3F);
    return n;
}

bool is_unicode_ws(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}
}  // namespace

std::string_view trim_unicode(std::string_view s) noexcept {
    // Leading.
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t cp;
        std::size_t n = decode_at(s, i, cp);
        if (!is_unicode_ws(cp)) break;
        i += n;
    }
    s.remove_prefix(i);
    // Trailing: step back over continuation bytes to each code point start.
    while (!s.empty()) {
        std::size_t j = s.size() - 1;
        while (j > 0 && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) --j;
        char32_t cp;
        decode_at(s, j, cp);
        if (!is_unicode_ws(cp)) break;
        s.remove_suffix(s.size() - j);
    }
    return s;
}

}  // namespace tarvex::text

namespace tarvex::text {
std::vector<std::string> split_unicode_ws(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0, start = 0;
    bool in_word = false;
    while (i < s.size()) {
        char32_t cp;
        std::size_t n = decode_at(s, i, cp);
        bool ws = is_unicode_ws(cp);
        if (ws && in_word) {
            out.emplace_back(s.substr(start, i - start));
            in_word = false;
        } else if (!ws && !in_word) {
            start = i;
            in_word = true;
        }
        i += n;
    }
    if (in_word) out.emplace_back(s.substr(start));
    return out;
}
}  // namespace tarvex::text

namespace tarvex::text {
void append_number(std::string& out, double v) {
    if (std::isnan(v)) {
        out.append("NaN");
        return;
    }
    if (std::isinf(v)) {
        out.append(v < 0 ? "-inf" : "inf");
        return;
    }
    if (std::fabs(v) < 9007199254740992.0) {
        // Below 2**53 every integer digit is significant, so the shortest
        // fixed form is the shortest digits written positionally.
        char fixed[400];
        auto f = std::to_chars(fixed, fixed + sizeof(fixed), v, std::chars_format::fixed);
        out.append(fixed, f.ptr);
        return;
    }
    // The shortest digits that read back as the same double (scientific
    // to_chars gives them with their exponent), then written positionally:
    // padded with zeros, never the exact binary value's further digits
    // (8.216181435011583e22 is "82161814350115830000000").
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    std::size_t e = sci.find('e');
    std::string_view mant = sci.substr(0, e);
    int exp10 = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+' ? 1 : 0), sci.data() + sci.size(), exp10);
    if (!mant.empty() && mant.front() == '-') {
        out.push_back('-');
        mant.remove_prefix(1);
    }
    char digits[24];
    std::size_t nd = 0;
    for (char c : mant)
        if (c != '.') digits[nd++] = c;
    long point = static_cast<long>(exp10) + 1;  // digits before the decimal point
    long n = static_cast<long>(nd);
    if (point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits, nd);
    } else if (point >= n) {
        out.append(digits, nd);
        out.append(static_cast<std::size_t>(point - n), '0');
    } else {
        out.append(digits, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits + point, nd - static_cast<std::size_t>(point));
    }
}

std::string format_number(double v) {
    std::string out;
    append_number(out, v);
    return out;
}

std::string quoted(std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += "\\u{";
                    if (c >= 0x10) out += hex[c >> 4];
                    out += hex[c & 0xf];
                    out += '}';
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}
}  // namespace tarvex::text
