#include "include/include.hpp"

#include <cstring>
#include <unordered_map>

#include "file/path.hpp"
#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex {

const char* include_kind_name(IncludeKind k) noexcept {
    switch (k) {
        case IncludeKind::Include: return "Include";
        case IncludeKind::IncludePath: return "IncludePath";
        case IncludeKind::IncludePathRelative: return "IncludePathRelative";
        case IncludeKind::IncludeTransform: return "IncludeTransform";
        case IncludeKind::IncludeAutoZzfree: return "IncludeAutoZzfree";
        case IncludeKind::IncludeBinary: return "IncludeBinary";
        case IncludeKind::IncludeCompensated: return "IncludeCompensated";
        case IncludeKind::IncludeStampedPart: return "IncludeStampedPart";
    }
    return "Include";
}

std::optional<IncludeKind> include_kind_of_line(std::string_view l) noexcept {
    using text::iequals;
    if (l.size() < 8 || !iequals(l.substr(1, 7), "INCLUDE")) return std::nullopt;
    if (l.size() == 8 || text::is_ws(l[8])) return IncludeKind::Include;
    std::string_view s = text::trim_right(l).substr(8);
    if (s.empty() || s.front() != '_') return std::nullopt;
    switch (s.size()) {
        case 5:
            if (iequals(s, "_PATH")) return IncludeKind::IncludePath;
            break;
        case 7:
            if (iequals(s, "_BINARY")) return IncludeKind::IncludeBinary;
            break;
        case 10:
            if (iequals(s, "_TRANSFORM")) return IncludeKind::IncludeTransform;
            break;
        case 12:
            if (iequals(s, "_COMPENSATED")) return IncludeKind::IncludeCompensated;
            if (iequals(s, "_AUTO_ZZFREE")) return IncludeKind::IncludeAutoZzfree;
            break;
        case 13:
            if (iequals(s, "_STAMPED_PART")) return IncludeKind::IncludeStampedPart;
            break;
        case 14:
            if (iequals(s, "_PATH_RELATIVE")) return IncludeKind::IncludePathRelative;
            break;
        default:
            break;
    }
    return std::nullopt;
}

std::optional<std::string> read_include_filename(std::string_view bytes, std::size_t pos) {
    auto n = read_include_name(bytes, pos);
    if (!n) return std::nullopt;
    return std::move(n->text);
}

std::optional<IncludeName> read_include_name(std::string_view bytes, std::size_t pos) {
    if (pos >= bytes.size()) return std::nullopt;
    // Comment lines are skipped before the first name line only.
    for (;;) {
        text::Line ln = text::line_at(bytes, pos);
        if (ln.content.empty() || ln.content.front() != '$') break;
        if (ln.next >= bytes.size()) return std::nullopt;
        pos = ln.next;
    }
    std::string raw;
    std::vector<std::string_view> pieces;
    bool valid = true;
    for (;;) {
        text::Line ln = text::line_at(bytes, pos);
        if (ln.content.empty()) break;
        std::string_view piece = text::trim_left_blanks(ln.content);
        if (piece.empty()) break;
        piece = text::trim_right(piece);
        bool more = !piece.empty() && piece.back() == '+';
        if (more) {
            piece.remove_suffix(1);
            piece = text::trim_right(piece);
        }
        if (valid && !text::is_valid_utf8(piece)) valid = false;
        pieces.push_back(piece);
        raw.append(piece);
        if (!more || ln.next >= bytes.size()) break;
        pos = ln.next;
    }
    if (valid) {
        std::string_view t = text::trim_unicode(raw);
        if (t.empty()) return std::nullopt;
        return IncludeName{std::string(t), {}};
    }
    // Each piece is decoded on its own (a sequence split over two lines is
    // two invalid ones).
    std::string joined;
    for (std::string_view p : pieces) joined.append(text::utf8_lossy(p));
    std::string_view t = text::trim_unicode(joined);
    if (t.empty()) return std::nullopt;
    return IncludeName{std::string(t), std::string(text::trim_unicode(raw))};
}

namespace {
// Whether the name goes on after the line `ln` (the continuation rule of
// read_include_name).
bool continues(const text::Line& ln, std::size_t size) noexcept {
    if (ln.content.empty() || ln.next >= size) return false;
    std::string_view piece = text::trim_right(text::trim_left_blanks(ln.content));
    return !piece.empty() && piece.back() == '+';
}
}  // namespace

std::vector<std::size_t> name_extents(std::string_view bytes, const std::vector<IncludeHit>& hits,
                                      std::size_t limit) {
    const std::size_t cap = limit + 1;
    std::unordered_map<std::size_t, std::size_t> memo;  // line start -> bytes from there on
    // Bytes of the continuation run from `pos` on (no comment skipping).
    // Stops at a line whose count is known, or once past the limit.
    auto run = [&](std::size_t pos) -> std::size_t {
        std::size_t start = pos, total = 0;
        while (pos < bytes.size() && total < cap) {
            if (auto m = memo.find(pos); m != memo.end()) {
                total += m->second;
                break;
            }
            text::Line ln = text::line_at(bytes, pos);
            total += ln.next - pos;
            if (!continues(ln, bytes.size())) break;
            pos = ln.next;
        }
        if (total > cap) total = cap;
        memo[start] = total;
        return total;
    };
    std::vector<std::size_t> out(hits.size(), 0);
    // Last directive first: an earlier name that runs into a later one stops
    // at the later one's known count.
    for (std::size_t k = hits.size(); k-- > 0;) {
        std::size_t pos = hits[k].name_pos;
        std::size_t first = pos;
        while (pos < bytes.size()) {
            text::Line ln = text::line_at(bytes, pos);
            if (ln.content.empty() || ln.content.front() != '$') break;
            pos = ln.next;
        }
        out[k] = run(pos);
        if (first != pos) run(first);  // the same lines read as a name of an earlier directive
    }
    return out;
}

std::vector<IncludeHit> scan_hits(std::string_view bytes, std::size_t start, std::size_t end) {
    std::vector<IncludeHit> out;
    if (end > bytes.size()) end = bytes.size();
    const char* base = bytes.data();
    std::size_t pos = start;
    while (pos < end) {
        const void* hit = std::memchr(base + pos, '*', end - pos);
        if (!hit) break;
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        pos = at + 1;
        if (at != 0 && base[at - 1] != '\n') continue;
        text::Line ln = text::line_at(bytes, at);
        if (auto kind = include_kind_of_line(ln.content)) out.push_back({ln.next, *kind});
        // The rest of the keyword line holds no line start.
        if (ln.next > pos) pos = ln.next;
    }
    return out;
}

std::vector<IncludeHit> scan_all_hits(std::string_view bytes) {
    std::size_t size = bytes.size();
    if (size < kParallelScanBytes) return scan_hits(bytes, 0, size);
    std::size_t n = pool::num_threads();
    if (n < 1) n = 1;
    std::vector<std::size_t> bounds{0};
    for (std::size_t i = 1; i < n; ++i) {
        std::size_t p = static_cast<std::size_t>((static_cast<unsigned __int128>(i) * size) / n);
        const void* lf = std::memchr(bytes.data() + p, '\n', size - p);
        p = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1 : size;
        if (p < size && p > bounds.back()) bounds.push_back(p);
    }
    bounds.push_back(size);
    std::size_t pieces = bounds.size() - 1;
    auto parts = pool::parallel_map<std::vector<IncludeHit>>(
        pieces, [&](std::size_t i) { return scan_hits(bytes, bounds[i], bounds[i + 1]); });
    std::vector<IncludeHit> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

namespace {
std::vector<RawInclude> named(std::string_view bytes, const std::vector<IncludeHit>& hits) {
    std::vector<RawInclude> out;
    for (const IncludeHit& h : hits)
        if (auto name = read_include_name(bytes, h.name_pos))
            out.push_back({std::move(name->text), {}, h.kind, std::move(name->raw)});
    return out;
}
}  // namespace

std::vector<RawInclude> scan_range(std::string_view bytes, std::size_t start, std::size_t end) {
    return named(bytes, scan_hits(bytes, start, end));
}

std::vector<RawInclude> scan_includes(std::string_view bytes) { return named(bytes, scan_all_hits(bytes)); }

namespace {
template <class D>
void append_path_dirs(std::vector<std::string>& search, const std::vector<D>& dirs, const std::string& base) {
    for (const auto& d : dirs) {
        if (d.kind == IncludeKind::IncludePathRelative)
            search.push_back(path::join(base, d.name));
        else if (d.kind == IncludeKind::IncludePath)
            search.push_back(d.name);
    }
}
}  // namespace

std::vector<std::string> extend_search(const std::vector<RawInclude>& raw, const std::string& base,
                                       const std::vector<std::string>& inherited) {
    std::vector<std::string> search = inherited;
    append_path_dirs(search, raw, base);
    return search;
}

template <class D>
std::vector<std::string> extend_search_resolved(const std::vector<D>& dirs, const std::string& base,
                                                const std::vector<std::string>& inherited) {
    std::vector<std::string> search = inherited;
    append_path_dirs(search, dirs, base);
    return search;
}
template std::vector<std::string> extend_search_resolved<IncludeDirective>(const std::vector<IncludeDirective>&,
                                                                           const std::string&,
                                                                           const std::vector<std::string>&);

std::string resolve_one(const RawInclude& r, const std::string& base, const std::vector<std::string>& search) {
    // The first existing candidate for `name`, or nothing.
    auto find = [&](const std::string& name) -> std::optional<std::string> {
        if (!name.empty() && name.front() == '/') {
            if (path::exists(name)) return name;
            return std::nullopt;
        }
        std::string local = path::join(base, name);
        if (path::exists(local)) return local;
        for (const auto& dir : search) {
            std::string cand = path::join(dir, name);
            if (path::exists(cand)) return cand;
        }
        return std::nullopt;
    };
    std::optional<std::string> hit = find(r.name);
    if (!hit && !r.raw_name.empty()) hit = find(r.raw_name);
    if (hit) return std::move(*hit);
    if (!r.name.empty() && r.name.front() == '/') return r.name;
    return path::join(base, r.name);
}

std::vector<IncludeDirective> resolve_directives(const std::vector<RawInclude>& raw, const std::string& base,
                                                 const std::vector<std::string>& inherited) {
    std::vector<std::string> search = extend_search(raw, base, inherited);
    std::vector<IncludeDirective> out;
    out.reserve(raw.size());
    for (const auto& r : raw) out.push_back({r.name, resolve_one(r, base, search), r.offsets, r.kind});
    return out;
}

}  // namespace tarvex
