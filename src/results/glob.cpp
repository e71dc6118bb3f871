#include "results/glob.hpp"

#include <algorithm>
#include <set>
#include <utility>

#include "file/path.hpp"
#include "util/text.hpp"

namespace tarvex::results {

namespace {

struct ClassItem {
    char32_t lo, hi;  // a single character has lo == hi
};

struct Token {
    enum Kind { Char, AnyChar, AnySeq, Recursive, Within, Except, Sep } kind;
    char32_t c = 0;
    std::vector<ClassItem> items;
};

std::u32string decode(std::string_view s) {
    std::string valid = text::utf8_lossy(s);
    std::u32string out;
    out.reserve(valid.size());
    std::size_t i = 0;
    while (i < valid.size()) {
        auto b = static_cast<unsigned char>(valid[i]);
        std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < n && i + k < valid.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        out.push_back(cp);
        i += n;
    }
    return out;
}

std::vector<ClassItem> parse_class_items(const std::u32string& cs, std::size_t from, std::size_t to) {
    std::vector<ClassItem> out;
    std::size_t i = from;
    while (i < to) {
        if (i + 3 <= to && cs[i + 1] == U'-') {
            out.push_back({cs[i], cs[i + 2]});
            i += 3;
        } else {
            out.push_back({cs[i], cs[i]});
            i += 1;
        }
    }
    return out;
}

LsdaError syntax(std::size_t pos, const char* reason) {
    return LsdaError::invalid_path("Pattern syntax error near position " + std::to_string(pos) + ": " + reason);
}

LsdaResult<std::vector<Token>> tokenize(const std::u32string& cs) {
    static const char* kWild = "wildcards are either regular `*` or recursive `**`";
    static const char* kRec = "recursive wildcards must form a single path component";
    std::vector<Token> toks;
    const std::size_t n = cs.size();
    std::size_t i = 0;
    while (i < n) {
        char32_t c = cs[i];
        if (c == U'?') {
            toks.push_back(Token{Token::AnyChar, 0, {}});
            ++i;
        } else if (c == U'*') {
            std::size_t old = i;
            while (i < n && cs[i] == U'*') ++i;
            std::size_t count = i - old;
            if (count > 2) return syntax(old + 2, kWild);
            if (count == 2) {
                if (!(old == 0 || cs[old - 1] == U'/')) return syntax(old - 1, kRec);
                bool sep = false;
                if (i < n && cs[i] == U'/') {
                    ++i;
                    sep = true;
                } else if (i != n) {
                    return syntax(i, kRec);
                }
                // Consecutive `**` components collapse into one.
                std::size_t k = toks.size();
                bool repeat = k >= 2 && toks[k - 1].kind == Token::Sep && toks[k - 2].kind == Token::Recursive;
                if (!repeat) {
                    toks.push_back(Token{Token::Recursive, 0, {}});
                    if (sep) toks.push_back(Token{Token::Sep, 0, {}});
                }
            } else {
                toks.push_back(Token{Token::AnySeq, 0, {}});
            }
        } else if (c == U'[') {
            bool done = false;
            if (i + 4 <= n && cs[i + 1] == U'!') {
                auto it = std::find(cs.begin() + static_cast<std::ptrdiff_t>(i + 3), cs.end(), U']');
                if (it != cs.end()) {
                    std::size_t j = static_cast<std::size_t>(it - cs.begin());  // the closing bracket
                    toks.push_back({Token::Except, 0, parse_class_items(cs, i + 2, j)});
                    i = j + 1;
                    done = true;
                }
            } else if (i + 3 <= n && cs[i + 1] != U'!') {
                auto it = std::find(cs.begin() + static_cast<std::ptrdiff_t>(i + 2), cs.end(), U']');
                if (it != cs.end()) {
                    std::size_t j = static_cast<std::size_t>(it - cs.begin());
                    toks.push_back({Token::Within, 0, parse_class_items(cs, i + 1, j)});
                    i = j + 1;
                    done = true;
                }
            }
            if (!done) return syntax(i, "invalid range pattern");
        } else if (c == U'/') {
            toks.push_back(Token{Token::Sep, 0, {}});
            ++i;
        } else {
            toks.push_back(Token{Token::Char, c, {}});
            ++i;
        }
    }
    return toks;
}

bool in_class(const std::vector<ClassItem>& items, char32_t c) {
    for (const auto& s : items)
        if (c >= s.lo && c <= s.hi) return true;
    return false;
}

bool token_matches(const Token& t, char32_t c) {
    switch (t.kind) {
        case Token::Char: return t.c == c;
        case Token::AnyChar: return true;
        case Token::Within: return in_class(t.items, c);
        case Token::Except: return !in_class(t.items, c);
        default: return false;
    }
}

// Wildcard match with single-star backtracking (linear in practice, at
// worst quadratic; no recursion).
bool match_tokens(const std::vector<Token>& pat, const std::u32string& name) {
    std::size_t p = 0, s = 0, star = SIZE_MAX, mark = 0;
    while (s < name.size()) {
        if (p < pat.size() && pat[p].kind == Token::AnySeq) {
            star = p++;
            mark = s;
        } else if (p < pat.size() && token_matches(pat[p], name[s])) {
            ++p;
            ++s;
        } else if (star != SIZE_MAX) {
            p = star + 1;
            s = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p].kind == Token::AnySeq) ++p;
    return p == pat.size();
}

struct Component {
    enum Kind { Literal, Recursive, Pattern } kind;
    std::string literal;
    std::vector<Token> tokens;
};

// `dir` and every directory below it, depth first in name order.  Loop
// guard: a directory (device, inode) already visited is not entered again,
// so symbolic links that lead back up the tree end the descent.
void subdirs(const std::string& dir, std::set<std::pair<dev_t, ino_t>>& seen, std::vector<std::string>& out) {
    auto id = path::directory_id(dir);
    if (!id || !seen.insert(*id).second) return;
    out.push_back(dir);
    for (const auto& n : path::list_dir(dir)) {
        std::string q = path::join(dir, n);
        if (path::is_dir(q)) subdirs(q, seen, out);
    }
}

}  // namespace

LsdaResult<std::vector<std::string>> glob_paths(const std::string& pattern) {
    std::u32string cs = decode(pattern);
    auto toks = tokenize(cs);
    if (!toks) return std::move(toks).error();

    // Split at separators into components.
    std::vector<Component> comps;
    std::vector<Token> cur;
    auto flush = [&]() {
        if (cur.empty()) return;
        Component c;
        if (cur.size() == 1 && cur[0].kind == Token::Recursive) {
            c.kind = Component::Recursive;
        } else if (std::all_of(cur.begin(), cur.end(), [](const Token& t) { return t.kind == Token::Char; })) {
            c.kind = Component::Literal;
            std::u32string s;
            for (const auto& t : cur) s.push_back(t.c);
            // Back to UTF-8.
            for (char32_t cp : s) {
                if (cp < 0x80) {
                    c.literal.push_back(static_cast<char>(cp));
                } else if (cp < 0x800) {
                    c.literal.push_back(static_cast<char>(0xC0 | (cp >> 6)));
                    c.literal.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                } else if (cp < 0x10000) {
                    c.literal.push_back(static_cast<char>(0xE0 | (cp >> 12)));
                    c.literal.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                    c.literal.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                } else {
                    c.literal.push_back(static_cast<char>(0xF0 | (cp >> 18)));
                    c.literal.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                    c.literal.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                    c.literal.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                }
            }
        } else {
            c.kind = Component::Pattern;
            c.tokens = cur;
        }
        comps.push_back(std::move(c));
        cur.clear();
    };
    for (auto& t : *toks) {
        if (t.kind == Token::Sep)
            flush();
        else
            cur.push_back(std::move(t));
    }
    flush();

    // A literal pattern is matched as the path itself (no re-spelling of
    // "a//b" or a trailing slash).
    bool literal_only = std::all_of(comps.begin(), comps.end(),
                                    [](const Component& c) { return c.kind == Component::Literal; });
    if (literal_only) {
        if (path::exists(pattern)) return std::vector<std::string>{pattern};
        return std::vector<std::string>{};
    }

    std::vector<std::string> paths{!pattern.empty() && pattern[0] == '/' ? std::string("/") : std::string()};
    for (std::size_t k = 0; k < comps.size(); ++k) {
        const bool last = k + 1 == comps.size();
        const Component& c = comps[k];
        std::vector<std::string> next;
        for (const auto& p : paths) {
            if (c.kind == Component::Literal) {
                std::string q = path::join(p, c.literal);
                if (last ? path::exists(q) : path::is_dir(q)) next.push_back(std::move(q));
            } else if (c.kind == Component::Recursive) {
                std::set<std::pair<dev_t, ino_t>> seen;
                std::vector<std::string> dirs;
                subdirs(p, seen, dirs);
                for (auto& d : dirs)
                    if (!(last && d.empty())) next.push_back(std::move(d));
            } else {
                for (const auto& n : path::list_dir(p)) {
                    if (!match_tokens(c.tokens, decode(n))) continue;
                    std::string q = path::join(p, n);
                    if (last || path::is_dir(q)) next.push_back(std::move(q));
                }
            }
        }
        paths = std::move(next);
    }
    // The empty relative start is never a result by itself.
    paths.erase(std::remove(paths.begin(), paths.end(), std::string()), paths.end());
    return paths;
}

}  // namespace tarvex::results
