#include "schema/schema.hpp"

#include <cstring>
#include <new>

#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex {

Result<Schema> build_schema(std::string keyword, const std::vector<std::vector<LayoutTuple>>& cards, bool repeat) {
    Schema s;
    s.keyword = std::move(keyword);
    s.repeat = repeat;
    for (const auto& card : cards) {
        Card c;
        for (const auto& [name, type, width, count] : card) {
            FieldSpec f;
            f.name = name;
            if (type == "int")
                f.ty = FieldType::Int;
            else if (type == "float")
                f.ty = FieldType::Float;
            else if (type == "str")
                f.ty = FieldType::Str;
            else
                return Error::value("unknown field type '" + type + "' (expected int/float/str)");
            f.width = width;
            f.count = count ? count : 1;
            c.push_back(std::move(f));
        }
        s.cards.push_back(std::move(c));
    }
    return s;
}

std::vector<std::string> field_names(const std::vector<Card>& cards) {
    std::vector<std::string> out;
    for (const auto& c : cards)
        for (const auto& f : c) out.push_back(f.name);
    return out;
}

bool keyword_matches(std::string_view name, std::string_view keyword) noexcept {
    // Names are compared as decoded: a name that is not valid UTF-8 reads as
    // the empty name.  A match against valid text implies valid bytes.
    if (keyword.empty()) return name.empty() || !text::is_valid_utf8(name);
    return text::iequals(name, keyword);
}

void Column::push(std::string_view raw) {
    switch (kind) {
        case FieldType::Int: ints.push_back(Field::as_i64(raw).value_or(0)); break;
        case FieldType::Float: floats.push_back(Field::as_f64(raw).value_or(0.0)); break;
        case FieldType::Str: strs.push_back(text::utf8_or_empty(trim_field(raw))); break;
    }
}

std::size_t parse_card_line(std::string_view line, const Card& card, CardFormat fmt, std::vector<Column>& cols,
                            std::size_t first) {
    LineCutter cut(line, fmt);
    std::size_t ci = first;
    for (const auto& f : card) {
        Column& col = cols[ci++];
        for (std::size_t k = 0; k < f.count; ++k) col.push(cut.next(f.width));
    }
    return ci;
}

namespace {

struct MatchedBody {
    std::string_view body;
    CardFormat format;
};

std::vector<MatchedBody> matching_bodies(const std::vector<const ParsedFile*>& files, std::string_view keyword) {
    std::vector<MatchedBody> out;
    for (const ParsedFile* f : files)
        for (const Block& b : f->blocks)
            if (keyword_matches(keyword_name_bytes(f->keyword_line(b)), keyword))
                out.push_back({f->body(b), b.format});
    return out;
}

std::vector<Column> empty_columns(const std::vector<Card>& cards) {
    std::vector<Column> cols;
    for (const auto& c : cards)
        for (const auto& f : c) {
            Column col;
            col.kind = f.ty;
            col.count = f.count;
            cols.push_back(std::move(col));
        }
    return cols;
}

Table to_table(const std::vector<Card>& cards, std::vector<Column>&& cols) {
    Table t;
    std::size_t i = 0;
    for (const auto& c : cards)
        for (const auto& f : c) t.emplace_back(f.name, std::move(cols[i++]));
    return t;
}

// Position just past the first LF at or after `from`, or the end.
std::size_t after_lf(std::string_view s, std::size_t from) noexcept {
    const void* lf = std::memchr(s.data() + from, '\n', s.size() - from);
    return lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) + 1 : s.size();
}

// Numeric single-card layout: count rows per piece, then every piece writes
// its rows straight into the final arrays.
std::vector<Column> parse_parallel_numeric(const std::vector<Chunk>& chunks, const Card& card) {
    std::vector<std::size_t> rows = pool::parallel_map<std::size_t>(chunks.size(), [&](std::size_t i) {
        std::size_t n = 0;
        for_each_card_line(chunks[i].bytes, [&](std::string_view) { ++n; });
        return n;
    });
    std::vector<std::size_t> first(chunks.size() + 1, 0);
    for (std::size_t i = 0; i < chunks.size(); ++i) first[i + 1] = first[i] + rows[i];
    std::size_t total = first.back();

    std::vector<Column> cols = empty_columns({card});
    for (Column& c : cols) {
        // rows x count values must be addressable (a caller's count may be huge).
        if (total && c.count > (static_cast<std::size_t>(-1) / sizeof(double)) / total) throw std::bad_alloc();
        if (c.kind == FieldType::Int)
            c.ints.resize(total * c.count);
        else
            c.floats.resize(total * c.count);
    }
    pool::parallel_each(chunks.size(), [&](std::size_t i) {
        std::size_t row = first[i], row_end = first[i + 1];
        CardFormat fmt = chunks[i].format;
        for_each_card_line(chunks[i].bytes, [&](std::string_view line) {
            // The mapped bytes can change under us if another process writes
            // the file; never write past the rows this piece counted.
            if (row >= row_end) return;
            LineCutter cut(line, fmt);
            for (std::size_t fi = 0; fi < card.size(); ++fi) {
                const FieldSpec& f = card[fi];
                Column& col = cols[fi];
                std::size_t at = row * f.count;
                for (std::size_t k = 0; k < f.count; ++k) {
                    std::string_view raw = cut.next(f.width);
                    if (f.ty == FieldType::Int)
                        col.ints[at + k] = Field::as_i64(raw).value_or(0);
                    else
                        col.floats[at + k] = Field::as_f64(raw).value_or(0.0);
                }
            }
            ++row;
        });
    });
    return cols;
}

// Single-card layout with text fields: each piece fills its own columns,
// appended in piece order.
std::vector<Column> parse_parallel_partials(const std::vector<Chunk>& chunks, const Card& card) {
    std::vector<std::vector<Column>> parts = pool::parallel_map<std::vector<Column>>(chunks.size(), [&](std::size_t i) {
        std::vector<Column> cols = empty_columns({card});
        for_each_card_line(chunks[i].bytes,
                           [&](std::string_view line) { parse_card_line(line, card, chunks[i].format, cols, 0); });
        return cols;
    });
    std::vector<Column> cols = empty_columns({card});
    for (std::size_t ci = 0; ci < cols.size(); ++ci) {
        std::size_t total = 0;
        for (const auto& p : parts) total += p[ci].values();
        Column& c = cols[ci];
        c.ints.reserve(c.kind == FieldType::Int ? total : 0);
        c.floats.reserve(c.kind == FieldType::Float ? total : 0);
        c.strs.reserve(c.kind == FieldType::Str ? total : 0);
        for (auto& p : parts) {
            Column& src = p[ci];
            c.ints.insert(c.ints.end(), src.ints.begin(), src.ints.end());
            c.floats.insert(c.floats.end(), src.floats.begin(), src.floats.end());
            for (auto& s : src.strs) c.strs.push_back(std::move(s));
        }
    }
    return cols;
}

}  // namespace

std::vector<Chunk> collect_chunks(const std::vector<const ParsedFile*>& files, std::string_view keyword) {
    std::vector<MatchedBody> bodies = matching_bodies(files, keyword);
    std::size_t total = 0;
    for (const auto& b : bodies) total += b.body.size();
    std::size_t n = pool::num_threads();
    std::size_t per = (total + 2 * n - 1) / (2 * n);
    std::size_t target = per > kMinChunkBytes ? per : kMinChunkBytes;
    std::vector<Chunk> chunks;
    for (const auto& b : bodies) {
        std::size_t l = 0, len = b.body.size();
        while (l < len) {
            std::size_t e = (l + target < len) ? after_lf(b.body, l + target) : len;
            chunks.push_back({b.body.substr(l, e - l), b.format});
            l = e;
        }
    }
    return chunks;
}

Table parse_schema_files(const std::vector<const ParsedFile*>& files, const Schema& schema) {
    if (schema.cards.empty()) return {};
    if (schema.cards.size() == 1 && schema.repeat) {
        const Card& card = schema.cards[0];
        std::vector<Chunk> chunks = collect_chunks(files, schema.keyword);
        bool numeric = true;
        for (const auto& f : card)
            if (f.ty == FieldType::Str) numeric = false;
        auto cols = numeric ? parse_parallel_numeric(chunks, card) : parse_parallel_partials(chunks, card);
        return to_table(schema.cards, std::move(cols));
    }
    std::vector<Column> cols = empty_columns(schema.cards);
    std::size_t ncards = schema.cards.size();
    std::vector<std::string_view> lines;
    for (const auto& b : matching_bodies(files, schema.keyword)) {
        lines.clear();
        // A blank line before the block's last card line is a card whose
        // fields take their defaults, as the solver reads it.
        for_each_data_line(b.body, [&](std::string_view line, std::size_t, bool) { lines.push_back(line); });
        std::size_t records = schema.repeat ? lines.size() / ncards : (lines.size() >= ncards ? 1 : 0);
        for (std::size_t r = 0; r < records; ++r) {
            std::size_t ci = 0;
            for (std::size_t c = 0; c < ncards; ++c)
                ci = parse_card_line(lines[r * ncards + c], schema.cards[c], b.format, cols, ci);
        }
    }
    return to_table(schema.cards, std::move(cols));
}

}  // namespace tarvex
