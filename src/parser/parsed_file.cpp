#include "parser/parsed_file.hpp"

#include <cstring>

#include "util/text.hpp"

namespace tarvex {

bool is_card_line(std::string_view line) noexcept {
    std::size_t i = 0, n = line.size();
    while (i < n && text::is_blank(line[i])) ++i;
    if (i == n || line[i] == '$') return false;
    for (; i < n; ++i)
        if (!text::is_ws(line[i])) return true;
    return false;
}

namespace {

// A line that a keyword block takes in front of its keyword line: empty,
// blanks (then only whitespace), or a comment.
bool attachable(std::string_view line) noexcept {
    std::string_view rest = text::trim_left_blanks(line);
    if (rest.empty() || rest.front() == '$') return true;
    for (char c : rest)
        if (!text::is_ws(c)) return false;
    return true;
}

// Whether this keyword line switches the whole file to long format
// ("*KEYWORD ... LONG=S" or "=Y").
bool sets_long_format(std::string_view line) noexcept {
    line = text::trim_right(line);
    if (line.size() < 8 || !text::iequals(line.substr(1, 7), "KEYWORD")) return false;
    for (std::size_t p = 0; p + 4 <= line.size(); ++p) {
        if (!text::iequals(line.substr(p, 4), "LONG")) continue;
        std::size_t i = p + 4;
        while (i < line.size() && text::is_blank(line[i])) ++i;
        if (i >= line.size() || line[i] != '=') return false;
        ++i;
        while (i < line.size() && text::is_blank(line[i])) ++i;
        if (i >= line.size()) return false;
        char c = text::upper(line[i]);
        return c == 'S' || c == 'Y';
    }
    return false;
}

}  // namespace

std::vector<Block> split_blocks(std::string_view bytes) {
    std::vector<Block> blocks;
    const char* base = bytes.data();
    std::size_t n = bytes.size();
    std::vector<std::size_t> kw;
    for (std::size_t pos = 0; pos < n;) {
        const void* hit = std::memchr(base + pos, '*', n - pos);
        if (!hit) break;
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        if (at == 0 || base[at - 1] == '\n') kw.push_back(at);
        pos = at + 1;
    }
    if (kw.empty()) return blocks;

    bool long_format = false;
    for (std::size_t k : kw) {
        if (sets_long_format(text::line_at(bytes, k).content)) {
            long_format = true;
            break;
        }
    }
    CardFormat fmt = long_format ? CardFormat::Long : CardFormat::Fixed;

    blocks.resize(kw.size());
    for (std::size_t i = 0; i < kw.size(); ++i) {
        Block& b = blocks[i];
        b.kw_start = kw[i];
        b.format = fmt;
        if (i == 0) {
            b.start = 0;
            continue;
        }
        // Walk upward over attachable lines.
        std::size_t start = kw[i];
        while (start > 0) {
            // The line above ends with the LF at start-1.
            std::size_t lf = start - 1;
            std::size_t ls = lf;
            while (ls > 0 && base[ls - 1] != '\n') --ls;
            if (!attachable(std::string_view(base + ls, lf - ls))) break;
            start = ls;
        }
        b.start = start;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        Block& b = blocks[i];
        b.end = (i + 1 < blocks.size()) ? blocks[i + 1].start : n;
        const void* lf = std::memchr(base + b.kw_start, '\n', n - b.kw_start);
        std::size_t kw_end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) + 1 : n;
        b.kw_end = kw_end < b.end ? kw_end : b.end;
    }
    return blocks;
}

ParsedFile parse_source(std::string path, SourcePtr source) {
    ParsedFile f;
    f.path = std::move(path);
    f.source = std::move(source);
    f.blocks = split_blocks(f.bytes());
    return f;
}

Result<ParsedFile> parse_file_blocks(const std::string& path) {
    auto opened = Source::open(path);
    if (auto* fail = std::get_if<OpenFailure>(&opened)) return open_failure_error(*fail);
    return parse_source(path, std::get<SourcePtr>(std::move(opened)));
}

std::string_view keyword_name_bytes(std::string_view line) noexcept {
    if (!line.empty() && line.front() == '*') line.remove_prefix(1);
    std::size_t i = 0;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\n' && line[i] != '\r') ++i;
    return line.substr(0, i);
}

std::string keyword_name(const ParsedFile& f, const Block& b) {
    return text::utf8_or_empty(keyword_name_bytes(f.keyword_line(b)));
}

std::vector<std::string> keyword_options(const ParsedFile& f, const Block& b) {
    std::string_view line = text::trim_right(f.keyword_line(b));
    if (!line.empty() && line.front() == '*') line.remove_prefix(1);
    std::size_t sp = line.find_first_of(" \t");
    if (sp == std::string_view::npos) return {};
    std::string_view rest = line.substr(sp + 1);
    if (!text::is_valid_utf8(rest)) return {};
    return text::split_unicode_ws(rest);
}

std::vector<std::vector<std::string>> card_iter(std::string_view body, CardFormat fmt) {
    std::vector<std::vector<std::string>> cards;
    std::size_t piece = fmt == CardFormat::Long ? 20 : 8;
    std::size_t pos = 0;
    while (pos < body.size()) {
        text::Line ln = text::line_at(body, pos);
        pos = ln.next;
        std::string_view c = ln.content;
        if (c.empty() || c.front() == '$') continue;
        bool all_ws = true;
        for (char ch : c)
            if (!text::is_ws(ch)) {
                all_ws = false;
                break;
            }
        if (all_ws) continue;
        std::vector<std::string> fields;
        if (fmt == CardFormat::Free || c.find(',') != std::string_view::npos) {
            std::string_view l = strip_crlf(c);
            std::size_t s = 0;
            for (;;) {
                std::size_t comma = l.find(',', s);
                std::string_view p = l.substr(s, comma == std::string_view::npos ? std::string_view::npos : comma - s);
                fields.push_back(text::utf8_or_empty(trim_field(p)));
                if (comma == std::string_view::npos) break;
                s = comma + 1;
            }
        } else {
            std::string_view l = text::trim_right(c);
            for (std::size_t s = 0; s < l.size(); s += piece)
                fields.push_back(text::utf8_or_empty(trim_field(l.substr(s, piece))));
        }
        cards.push_back(std::move(fields));
    }
    return cards;
}

std::string to_bytes(const ParsedFile& f) {
    std::string_view all = f.bytes();
    if (f.blocks.empty()) return std::string(all);
    std::size_t total = 0;
    for (std::size_t i = 0; i < f.blocks.size(); ++i) {
        auto e = f.edits.find(i);
        total += e != f.edits.end() ? e->second.size() : f.blocks[i].end - f.blocks[i].start;
    }
    std::string out;
    out.reserve(total);
    for (std::size_t i = 0; i < f.blocks.size(); ++i) {
        auto e = f.edits.find(i);
        if (e != f.edits.end())
            out.append(e->second);
        else
            out.append(f.block_bytes(f.blocks[i]));
    }
    return out;
}

std::vector<std::uint64_t> keyword_line_numbers(const ParsedFile& f) {
    std::vector<std::uint64_t> out;
    out.reserve(f.blocks.size());
    std::string_view bytes = f.bytes();
    std::uint64_t line = 1;
    std::size_t pos = 0;
    for (const Block& b : f.blocks) {
        std::size_t to = std::min(b.kw_start, bytes.size());
        while (pos < to) {
            const void* lf = std::memchr(bytes.data() + pos, '\n', to - pos);
            if (!lf) break;
            ++line;
            pos = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
        }
        if (pos < to) pos = to;
        out.push_back(line);
    }
    return out;
}

}  // namespace tarvex
