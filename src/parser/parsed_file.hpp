// A keyword file split into blocks.  Blocks tile the file exactly: comment and
// blank lines in front of a keyword line belong to that keyword's block, and
// whatever precedes the first keyword line belongs to block 0.  Edits replace
// whole blocks and live beside the unchanged source bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "file/source.hpp"
#include "parser/field.hpp"
#include "util/error.hpp"

namespace tarvex {

struct Block {
    std::size_t start = 0;     // first byte, attached comment lines included
    std::size_t end = 0;       // one past the last byte
    std::size_t kw_start = 0;  // the '*' of the keyword line
    std::size_t kw_end = 0;    // one past the keyword line's LF (at most `end`)
    CardFormat format = CardFormat::Fixed;
};

struct ParsedFile {
    std::string path;  // as the caller gave it
    SourcePtr source;
    std::vector<Block> blocks;
    std::map<std::size_t, std::string> edits;  // block index -> replacement of [start, end)

    std::string_view bytes() const noexcept { return source ? source->bytes() : std::string_view(); }
    std::string_view block_bytes(const Block& b) const noexcept { return bytes().substr(b.start, b.end - b.start); }
    std::string_view body(const Block& b) const noexcept { return bytes().substr(b.kw_end, b.end - b.kw_end); }
    std::string_view keyword_line(const Block& b) const noexcept {
        return bytes().substr(b.kw_start, b.kw_end - b.kw_start);
    }
    bool dirty() const noexcept { return !edits.empty(); }
};

// Split already-loaded bytes into blocks.
std::vector<Block> split_blocks(std::string_view bytes);

// Open, map and split a file.
Result<ParsedFile> parse_file_blocks(const std::string& path);

// A ParsedFile over the given source (already opened).
ParsedFile parse_source(std::string path, SourcePtr source);

// The keyword's name as written (no '*'; up to the first blank, CR or LF);
// empty when not valid UTF-8.
std::string keyword_name(const ParsedFile& f, const Block& b);
// The raw bytes of the name, for matching without decoding.
std::string_view keyword_name_bytes(std::string_view keyword_line) noexcept;

// The option words after the name.
std::vector<std::string> keyword_options(const ParsedFile& f, const Block& b);

// Cards of a body as KeywordFile.keyword reports them.
std::vector<std::vector<std::string>> card_iter(std::string_view body, CardFormat fmt);

// A card line: its first byte other than a blank is not '$', and it holds a
// byte other than blank, CR or LF (a line of blanks around a lone CR is
// blank).  `line` may include its LF.  The one rule for every reader and
// editor of card lines.
bool is_card_line(std::string_view line) noexcept;

// Calls f(line) for every card line of `body`, with trailing CR/LF removed.
template <class F>
void for_each_card_line(std::string_view body, F&& f) {
    std::size_t pos = 0, n = body.size();
    while (pos < n) {
        const void* lf = std::memchr(body.data() + pos, '\n', n - pos);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - body.data()) : n;
        std::string_view line = body.substr(pos, end - pos);
        pos = lf ? end + 1 : n;
        if (is_card_line(line)) f(strip_crlf(line));
    }
}

// Whether a line that is no card line is blank (not a `$` comment).
inline bool is_blank_line(std::string_view line) noexcept {
    for (char c : line)
        if (c != ' ' && c != '\t') return c != '$';
    return true;
}

// Calls f(line, offset, blank) for every data line of `body`, in order: each
// card line, and each blank line that stands before the body's last card line
// (the solver reads such a line as a card whose fields all take their
// defaults).  Comment lines and the blank lines after the last card line are
// no data lines.  `line` has its trailing CR/LF removed; `offset` is its
// position in `body`.  Allocates nothing.
template <class F>
void for_each_data_line(std::string_view body, F&& f) {
    std::size_t pos = 0, n = body.size();
    std::size_t pending = n;  // start of the first blank line not yet reported
    while (pos < n) {
        const void* lf = std::memchr(body.data() + pos, '\n', n - pos);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - body.data()) : n;
        std::size_t start = pos;
        std::string_view line = body.substr(start, end - start);
        pos = lf ? end + 1 : n;
        if (!is_card_line(line)) {
            if (pending == n && is_blank_line(line)) pending = start;
            continue;
        }
        // A card line: the blank lines since `pending` are data lines.
        for (std::size_t q = pending; q < start;) {
            const void* lf2 = std::memchr(body.data() + q, '\n', start - q);
            std::size_t e2 = lf2 ? static_cast<std::size_t>(static_cast<const char*>(lf2) - body.data()) : start;
            std::string_view l2 = body.substr(q, e2 - q);
            if (is_blank_line(l2)) f(strip_crlf(l2), q, true);
            q = e2 + 1;
        }
        pending = n;
        f(strip_crlf(line), start, false);
    }
}

// For each block, the 1-based line number of its keyword line (1 plus the
// line feeds before the block's '*'), in one pass over the file.
std::vector<std::uint64_t> keyword_line_numbers(const ParsedFile& f);

// The file with pending edits applied.
std::string to_bytes(const ParsedFile& f);

// ---- Editing -------------------------------------------------------------

enum class SetFieldOutcome : std::uint8_t { InPlace = 0, Reflowed = 1, NotApplied = 2 };

// Replace block `index` (checked by the caller) by a new keyword line and
// comma-separated cards, keeping the comment lines attached in front of it.
void set_keyword(ParsedFile& f, std::size_t index, std::string_view name,
                 const std::vector<std::vector<std::string>>& cards, const std::vector<std::string>& options);

// Change one value of one card line of a block: `card` counts the block's
// card lines (is_card_line) from 0.
SetFieldOutcome set_field(ParsedFile& f, std::size_t block, std::size_t card, std::size_t value,
                          const std::vector<std::size_t>& widths, std::string_view text);

// The same, with `line` counting the block's data lines (for_each_data_line:
// blank lines before the last card line included), as the record walker
// numbers them (CardHit::line).  The lines are found in the block's current
// text (its pending edit, if any).
SetFieldOutcome set_data_line_field(ParsedFile& f, std::size_t block, std::size_t line, std::size_t value,
                                    const std::vector<std::size_t>& widths, std::string_view text);

}  // namespace tarvex
