// Byte and text helpers shared by the scanners: blanks, whitespace, ASCII case
// folding, line cutting, UTF-8 validation and lossy decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::text {

inline bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }
inline bool is_ws(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline char upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

inline bool iequals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

inline std::string_view trim_right(std::string_view s) noexcept {
    while (!s.empty() && is_ws(s.back())) s.remove_suffix(1);
    return s;
}
inline std::string_view trim_left_blanks(std::string_view s) noexcept {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    return s;
}

// The line that starts at `pos`: its content (without the LF and one CR
// before it) and the position just past its LF (or the end of the data).
struct Line {
    std::string_view content;
    std::size_t next;
};
inline Line line_at(std::string_view data, std::size_t pos) noexcept {
    const char* base = data.data() + pos;
    std::size_t left = data.size() - pos;
    const void* lf = std::memchr(base, '\n', left);
    std::size_t len = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : left;
    std::size_t next = lf ? pos + len + 1 : data.size();
    std::string_view c(base, len);
    if (lf && !c.empty() && c.back() == '\r') c.remove_suffix(1);
    return {c, next};
}

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there do not
// start one.  Follows the well-formed byte sequences of the Unicode standard.
inline std::size_t utf8_seq_len(std::string_view s, std::size_t i) noexcept {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n = s.size() - i;
    auto cont = [&](std::size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 2) return 0;
        unsigned char c1 = b(i + 1);
        unsigned char lo = (c == 0xE0) ? 0xA0 : 0x80, hi = (c == 0xED) ? 0x9F : 0xBF;
        if (c1 < lo || c1 > hi) return 0;
        return cont(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 2) return 0;
        unsigned char c1 = b(i + 1);
        unsigned char lo = (c == 0xF0) ? 0x90 : 0x80, hi = (c == 0xF4) ? 0x8F : 0xBF;
        if (c1 < lo || c1 > hi) return 0;
        if (!cont(i + 2)) return 0;
        return cont(i + 3) ? 4 : 0;
    }
    return 0;
}

inline bool is_valid_utf8(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = utf8_seq_len(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// Decode as UTF-8, replacing each maximal invalid subpart with U+FFFD.
std::string utf8_lossy(std::string_view s);

// The text itself when valid UTF-8, otherwise the empty string.
inline std::string utf8_or_empty(std::string_view s) {
    return is_valid_utf8(s) ? std::string(s) : std::string();
}

// Remove characters with the Unicode White_Space property from both ends of
// valid UTF-8 text.
std::string_view trim_unicode(std::string_view s) noexcept;

}  // namespace tarvex::text

namespace tarvex::text {
// Split valid UTF-8 text at runs of Unicode whitespace; no empty pieces.
std::vector<std::string> split_unicode_ws(std::string_view s);
}  // namespace tarvex::text

namespace tarvex::text {
// A double as the shortest decimal that reads back the same, positional
// ("1", "0.25", "0.0000001", "-0"), or "inf", "-inf", "NaN".
void append_number(std::string& out, double v);
std::string format_number(double v);

// A text as a double-quoted literal with backslash escapes for quotes,
// backslashes and control characters (\n, \r, \t, \0, \u{1b}).
std::string quoted(std::string_view s);
}  // namespace tarvex::text
