// Block and field edits: each replaces the bytes of exactly one block; the
// source and the block table never change.
#include <string>

#include "parser/parsed_file.hpp"
#include "util/text.hpp"

namespace tarvex {

void set_keyword(ParsedFile& f, std::size_t index, std::string_view name,
                 const std::vector<std::vector<std::string>>& cards, const std::vector<std::string>& options) {
    const Block& b = f.blocks[index];
    std::string out(f.bytes().substr(b.start, b.kw_start - b.start));
    out.push_back('*');
    out.append(name);
    for (const auto& o : options) {
        out.push_back(' ');
        out.append(o);
    }
    out.push_back('\n');
    for (const auto& card : cards) {
        for (std::size_t i = 0; i < card.size(); ++i) {
            if (i) out.push_back(',');
            out.append(card[i]);
        }
        out.push_back('\n');
    }
    f.edits[index] = std::move(out);
}

namespace {

// Where the edited text of a block starts: past the first line that starts
// with '*' (the keyword line), or npos when there is none.
std::size_t body_start(std::string_view w) noexcept {
    std::size_t pos = 0;
    while (pos < w.size()) {
        text::Line ln = text::line_at(w, pos);
        pos = ln.next;
        if (!ln.content.empty() && ln.content.front() == '*') return pos;
    }
    return std::string_view::npos;
}

// Start of the `index`-th card line of the working copy, or npos.
std::size_t nth_card_line(std::string_view w, std::size_t index) noexcept {
    std::size_t pos = body_start(w), count = 0;
    if (pos == std::string_view::npos) return pos;
    while (pos < w.size()) {
        text::Line ln = text::line_at(w, pos);
        if (is_card_line(ln.content) && count++ == index) return pos;
        pos = ln.next;
    }
    return std::string_view::npos;
}

// Start of the `index`-th data line of the working copy, or npos.
std::size_t nth_data_line(std::string_view w, std::size_t index) noexcept {
    std::size_t body = body_start(w), found = std::string_view::npos, count = 0;
    if (body == std::string_view::npos) return body;
    for_each_data_line(w.substr(body), [&](std::string_view, std::size_t offset, bool) {
        if (count++ == index) found = body + offset;
    });
    return found;
}

SetFieldOutcome edit_line(ParsedFile& f, std::size_t block, bool data_lines, std::size_t index, std::size_t value,
                          const std::vector<std::size_t>& widths, std::string_view new_text);

}  // namespace

SetFieldOutcome set_field(ParsedFile& f, std::size_t block, std::size_t card, std::size_t value,
                          const std::vector<std::size_t>& widths, std::string_view new_text) {
    return edit_line(f, block, false, card, value, widths, new_text);
}

SetFieldOutcome set_data_line_field(ParsedFile& f, std::size_t block, std::size_t line, std::size_t value,
                                    const std::vector<std::size_t>& widths, std::string_view new_text) {
    return edit_line(f, block, true, line, value, widths, new_text);
}

namespace {

SetFieldOutcome edit_line(ParsedFile& f, std::size_t block, bool data_lines, std::size_t index, std::size_t value,
                          const std::vector<std::size_t>& widths, std::string_view new_text) {
    if (block >= f.blocks.size()) return SetFieldOutcome::NotApplied;
    const Block& b = f.blocks[block];
    auto existing = f.edits.find(block);
    std::string work = existing != f.edits.end() ? existing->second : std::string(f.block_bytes(b));

    std::string_view w(work);
    std::size_t line_start = data_lines ? nth_data_line(w, index) : nth_card_line(w, index);
    if (line_start == std::string_view::npos) return SetFieldOutcome::NotApplied;
    std::size_t content_len = text::line_at(w, line_start).content.size();
    std::string_view line = w.substr(line_start, content_len);

    std::string new_line;
    SetFieldOutcome outcome = SetFieldOutcome::InPlace;
    if (b.format != CardFormat::Free && line.find(',') == std::string_view::npos) {
        if (value >= widths.size()) return SetFieldOutcome::NotApplied;
        std::size_t col = 0;
        for (std::size_t i = 0; i < value; ++i) {
            if (widths[i] > static_cast<std::size_t>(-1) - col) return SetFieldOutcome::NotApplied;
            col += widths[i];
        }
        std::size_t width = widths[value], t = new_text.size();
        // The padded line must be representable (widths come from layouts).
        if (width > static_cast<std::size_t>(-1) - col || (t <= width && col + width > (std::size_t{1} << 40)))
            return SetFieldOutcome::NotApplied;
        if (t <= width) {
            new_line.assign(line.substr(0, std::min(col, line.size())));
            new_line.resize(col + (width - t), ' ');
            new_line.append(new_text);
            if (line.size() > col + width) new_line.append(line.substr(col + width));
        } else {
            std::vector<std::string> toks = fixed_tokens(line, widths);
            if (toks.size() <= value) toks.resize(value + 1);
            toks[value] = std::string(new_text);
            while (toks.size() > value + 1 && toks.back().empty()) toks.pop_back();
            for (std::size_t i = 0; i < toks.size(); ++i) {
                if (i) new_line.push_back(',');
                new_line.append(toks[i]);
            }
            outcome = SetFieldOutcome::Reflowed;
        }
    } else {
        // Comma-separated: replace the piece, or append commas up to it.  The
        // line's trailing CR (content keeps one CR only if there were several)
        // stays outside the pieces.
        std::string_view body = strip_crlf(line);
        std::string_view tail = line.substr(body.size());
        std::vector<std::string_view> pieces;
        std::size_t s = 0;
        for (;;) {
            std::size_t comma = body.find(',', s);
            if (comma == std::string_view::npos) {
                pieces.push_back(body.substr(s));
                break;
            }
            pieces.push_back(body.substr(s, comma - s));
            s = comma + 1;
        }
        if (value < pieces.size()) {
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                if (i) new_line.push_back(',');
                if (i == value)
                    new_line.append(new_text);
                else
                    new_line.append(pieces[i]);
            }
        } else {
            new_line.assign(body);
            new_line.append(value - pieces.size() + 1, ',');
            new_line.append(new_text);
        }
        new_line.append(tail);
    }
    work.replace(line_start, content_len, new_line);
    f.edits[block] = std::move(work);
    return outcome;
}

}  // namespace

}  // namespace tarvex
