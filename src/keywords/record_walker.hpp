// The record walker: which line of a keyword block holds which card of its
// library layout.
//
// Every positioned read of a library keyword goes through this walker (the
// columnar read of library layouts, field reads and writes by name,
// definition ids, reference scans), so readers and writers always agree on
// which line holds a card.  It reads a block as the solver does:
//
//   Data lines.  A block's data lines are its card lines (parser's
//   is_card_line) and the blank lines that stand before its last card line:
//   the solver reads such a blank line as a card whose fields all take their
//   defaults.  `$` comment lines and the blank lines after the last card line
//   are no data lines.  Data lines are numbered from 0 in body order; this
//   number is `CardHit::line`.
//
//   Records.  The layout's cards are taken in the order decks write them
//   (KeywordDef::walk_card) over the data lines:
//   - a `_TITLE` block's record starts with its title line (card kTitleLine,
//     or the layout's own Title card where it has one: the COUPID, TITLE card
//     of the coupling keywords, which is skipped in blocks without _TITLE);
//     an `_ID` block's record then with the layout's ID card (card kIdLine);
//     an `_MPP` block's record then with the MPP cards (kMppLine + k), each
//     when its condition holds (the second one when its line starts with &);
//   - a card whose condition (CardDef::active) is false is skipped and the
//     same line is tried with the next card; a condition naming a field of its
//     own card is decided on the line that card would read;
//   - a Plain card reads one line;
//   - a Table card reads `length` lines (rows), or every remaining line
//     when it has no count;
//   - a Series card reads ceil(length / fields) lines, or every remaining
//     line when it has no count;
//   - a run of TableGroup cards reads its lines `length` times (or until the
//     lines run out), each card's condition decided anew for each row;
//   - the run of cards that KeywordDef::group_first names is read
//     group_length times (shell stresses per layer), its repetitions as rows;
//   - when the lines run out, the cards not reached are missing (a block may
//     leave out trailing cards: their fields take their defaults);
//   - then the optional cards of options A … G (def->tail_cards(), contact
//     keywords) while lines remain, as cards kTailLine + k;
//   - when the layout is done and lines remain, a new record starts (several
//     parts, sections or materials in one block).  A record that would read
//     no line ends the walk.
//   One-card layouts (one Plain card, or one Table or Series card without a
//   count, without condition and with no title or ID line: NODE,
//   ELEMENT_SHELL, ...) take a fast path: every data line that is not blank
//   is one record (row 0); a blank row defines nothing and is skipped.
//
//   *ELEMENT_SOLID blocks in the two-line form (the first data line holds only
//   the id and part fields) are read with element_solid_two_line_entry():
//   card 0 (EID, PID) and card 1 (N1 … N8).  walk_block() and
//   refine_for_block() pick that layout per block; use the layout they return
//   to find field positions.
//
// Typical use, reading field SECID of the first record of block `b` of `f`:
//
//     std::vector<DataLine> lines;                       // reused from block to block
//     block_data_lines(f, b, lines);
//     BlockLayout layout = refine_for_block(layout_for_name(keyword_name(f, b)), f.bytes(), lines, b.format);
//     if (!layout) return;                               // no library layout
//     auto pos = find_field(*layout.def, "SECID");       // card and field index
//     auto hit = first_card_line(f.bytes(), lines, b.format, layout, static_cast<std::uint16_t>(pos->card));
//     std::string_view raw = card_field(f.bytes().substr(hit->begin, hit->end - hit->begin),
//                                       layout.def->cards()[pos->card], pos->field, b.format);
//
// and writing it: set_data_line_field(f, block_index, hit->line, value_index, widths, text)
// (parser/parsed_file.hpp), where value_index counts the values of the line
// (pos->field for library cards, whose fields have a count of 1).
//
// Everything here is pure: the functions read constant library data and the
// caller's bytes, may be called from any number of threads at once, and
// allocate nothing per line (the data-line list is a caller's vector, reused
// from block to block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "keywords/library.hpp"
#include "parser/parsed_file.hpp"

namespace tarvex::keywords {

// One data line of a block: its bytes [begin, end) in the file (trailing CR
// and LF excluded), and whether it is blank.
struct DataLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool blank = false;
};

// The data lines of block `b` of `f` (in the parsed source), into `out`
// (cleared first).
void block_data_lines(const ParsedFile& f, const Block& b, std::vector<DataLine>& out);
// The same over the body [body_begin, body_end) of `bytes`.
void data_lines(std::string_view bytes, std::size_t body_begin, std::size_t body_end, std::vector<DataLine>& out);

// Card numbers of the option lines around a record's layout cards.
inline constexpr std::uint16_t kTitleLine = 0xFFFF;  // the title line of a _TITLE block
inline constexpr std::uint16_t kIdLine = 0xFFFE;     // the ID card of an _ID block (BlockLayout::id_card)
inline constexpr std::uint16_t kTailLine = 0xFF00;   // + k: option card k (A, B, …) of def->tail_cards()
inline constexpr std::uint16_t kMppLine = 0xFE00;    // + k: MPP card k of def->mpp_cards() (an _MPP block)

// How to read the blocks of one keyword name.
struct BlockLayout {
    const KeywordDef* def = nullptr;  // cards numbered as def->cards(); nullptr: no library layout
    bool title = false;               // each record starts with a title line
    const CardDef* id_card = nullptr;  // each record reads this card next (an _ID block); else nullptr
    bool mpp = false;                  // then the MPP cards (an _MPP block)

    explicit operator bool() const noexcept { return def != nullptr; }
    // The fast path: one Plain card, or one Table / Series card without a
    // count, without condition and with no option line.
    bool one_line_records() const noexcept;
};

// The layout for blocks named `name` (as written, any case):
// - the library entry of that name (find), with a title line when the name
//   ends in _TITLE and the ID card when it ends in _ID (after _TITLE) and the
//   entry does not already begin with it;
// - else, for a name ending in _TITLE, _ID and/or _MPP (in any order), the
//   entry of the name without them, read with the title line, the entry's ID
//   card and/or its MPP cards (a suffix whose cards the entry does not give
//   leaves the name without layout); a _TITLE contact block reads its ID card
//   (CID, HEADING) as its title line (id_card set, title false);
// - else none.
BlockLayout layout_for_name(std::string_view name) noexcept;

// `layout` refined for one block: the two-line *ELEMENT_SOLID form.
BlockLayout refine_for_block(const BlockLayout& layout, std::string_view bytes, std::span<const DataLine> lines,
                             CardFormat fmt) noexcept;

// The card that reads hits numbered `card` (a card of layout.def, kTitleLine,
// kIdLine, kMppLine + k or kTailLine + k); nullptr for a number the layout
// does not have.
const CardDef* layout_card(const BlockLayout& layout, std::uint16_t card) noexcept;

// The raw text (not trimmed; empty when the line is too short) of field
// `field` of `card` on `line` (a data line's bytes): comma pieces on a comma
// line or in Free format, else fixed columns (widths doubled in Long format).
std::string_view card_field(std::string_view line, const CardDef& card, std::size_t field, CardFormat fmt) noexcept;

// Whether the layout has its own Title card (read in _TITLE blocks only).
bool has_title_card(const KeywordDef& def) noexcept;

// Whether card `card` of `def` reads rows (CardHit::row counts them): a
// Table, Series or TableGroup card, or a card of the run repeated within a
// record (KeywordDef::group_first).
bool card_has_rows(const KeywordDef& def, std::size_t card) noexcept;

// Whether block `b` of `f` is an *ELEMENT_SOLID block in the two-line form,
// read from its first two card lines only (cheap on large blocks).
bool two_line_solid_block(const ParsedFile& f, const Block& b) noexcept;

// One card line read by the walker.
struct CardHit {
    std::uint32_t record = 0;  // record of the block, from 0
    std::uint16_t card = 0;    // card of def->cards(), or kTitleLine / kIdLine / kMppLine + k / kTailLine + k
    std::uint32_t row = 0;     // row of a card with rows (card_has_rows), else 0
    std::uint32_t line = 0;    // index among the block's data lines
    std::size_t begin = 0;     // bytes of the line in the file, CR/LF excluded
    std::size_t end = 0;
};

// The callback form of the walk: return false to stop.
using HitFn = bool (*)(void* ctx, const CardHit& hit);

// Walks `lines` (the data lines of one block of `bytes`, in format `fmt`)
// with `layout` (already refined for the block), calling fn(ctx, hit) once
// per data line read, in line order.  Lines after a record that reads
// nothing are not reported (they are not accounted for by the layout).
void walk_lines(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt, const BlockLayout& layout,
                HitFn fn, void* ctx) noexcept;

// The same with any callable taking `const CardHit&` and returning void
// (walk everything) or bool (false stops the walk).
template <class F>
void walk_lines(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt, const BlockLayout& layout,
                F&& f) {
    using Fn = std::remove_reference_t<F>;
    walk_lines(bytes, lines, fmt, layout,
               [](void* ctx, const CardHit& h) -> bool {
                   Fn& fn = *static_cast<Fn*>(ctx);
                   if constexpr (std::is_same_v<decltype(fn(h)), void>) {
                       fn(h);
                       return true;
                   } else {
                       return static_cast<bool>(fn(h));
                   }
               },
               const_cast<void*>(static_cast<const void*>(&f)));
}

// Walks block `b` of `f`: fills `scratch` with its data lines, refines
// `layout` for the block and walks it.  Returns the refined layout (whose
// def numbers the hits' cards).
template <class F>
BlockLayout walk_block(const ParsedFile& f, const Block& b, const BlockLayout& layout, std::vector<DataLine>& scratch,
                       F&& fn) {
    block_data_lines(f, b, scratch);
    BlockLayout refined = refine_for_block(layout, f.bytes(), scratch, b.format);
    walk_lines(f.bytes(), scratch, b.format, refined, std::forward<F>(fn));
    return refined;
}

// The line of card `card` (a card of layout.def, kTitleLine or kIdLine) in
// the block's first record, row 0; nothing when the block leaves it out.
// Stops the walk there.
std::optional<CardHit> first_card_line(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt,
                                       const BlockLayout& layout, std::uint16_t card) noexcept;

}  // namespace tarvex::keywords
