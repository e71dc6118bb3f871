#include "results/lsda.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "util/text.hpp"

namespace tarvex::results {

namespace {

constexpr bool kHostLittle = std::endian::native == std::endian::little;

// Arena node of the index under construction; index 0 is the root.
struct RNode {
    std::unordered_map<std::string, std::size_t> kids;
    std::size_t parent = 0;
    std::size_t depth = 0;
    bool leaf = false;
    std::uint8_t type_code = 0;
    std::uint64_t offset = 0, count = 0, name_len = 0;
    std::uint32_t file = 0;
};

LsdaError past_end() { return LsdaError::conversion("read past end of LSDA file"); }
LsdaError seek_out_of_range() { return LsdaError::conversion("seek out of range in LSDA file"); }
LsdaError corrupt_entry(const char* reason, std::uint64_t p) {
    return LsdaError::conversion(std::string("corrupt binout symbol-table entry: ") + reason + " (" +
                                 std::to_string(p) + "-byte record)");
}

LsdaError too_deep() {
    return LsdaError::conversion("corrupt binout symbol table: directories nested deeper than " +
                                 std::to_string(kMaxDepth) + " levels");
}

class Indexer {
public:
    std::vector<RNode> arena{1};
    std::size_t cwd = 0;

    // A CD record: move the current directory along `raw`.
    LsdaResult<bool> cd(std::string_view raw) {
        std::string path = text::utf8_lossy(raw);
        if (path.empty()) return true;
        if (path.size() > 1 && path.back() == '/') path.pop_back();
        if (path == "/") {
            cwd = 0;
            return true;
        }
        std::size_t at = cwd;
        std::string_view rest(path);
        if (rest.front() == '/') {
            at = 0;
            rest.remove_prefix(1);
        }
        while (!rest.empty()) {
            std::size_t slash = rest.find('/');
            std::string_view comp = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            if (comp.empty()) continue;
            if (comp == "..") {
                at = arena[at].parent;
                continue;
            }
            auto& kids = arena[at].kids;
            auto it = kids.find(std::string(comp));
            if (it != kids.end()) {
                if (arena[it->second].leaf) break;  // a dataset stops the walk
                at = it->second;
                continue;
            }
            std::size_t depth = arena[at].depth + 1;
            if (depth > kMaxDepth) return too_deep();
            std::size_t idx = arena.size();
            kids.emplace(std::string(comp), idx);
            RNode n;
            n.parent = at;
            n.depth = depth;
            arena.push_back(std::move(n));
            at = idx;
        }
        cwd = at;
        return true;
    }

    // A VARIABLE record with payload p[0..P) of file f.
    LsdaResult<bool> variable(const Diskfile& d, const unsigned char* p, std::uint64_t P, std::uint32_t f) {
        std::uint64_t F = d.variable_fixed;
        if (P < F) return corrupt_entry("record shorter than its fixed fields", P);
        std::uint64_t n = P - F;
        if (F == 0) return corrupt_entry("missing type byte", P);
        std::uint8_t type = p[n];
        std::uint64_t at = n + d.typesize;
        auto off = read_int(p + at, P - at, d.offsetsize, d.little);
        if (!off) return corrupt_entry("truncated offset field", P);
        at += d.offsetsize;
        auto cnt = read_int(p + at, P - at, d.lengthsize, d.little);
        if (!cnt) return corrupt_entry("truncated length field", P);
        // A type-0 entry is a directory and counts against the nesting limit.
        if (type == 0 && arena[cwd].depth + 1 > kMaxDepth) return too_deep();
        std::string name(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
        auto& kids = arena[cwd].kids;
        auto it = kids.find(name);
        std::size_t idx;
        if (it != kids.end()) {
            idx = it->second;
            arena[idx].kids.clear();  // a directory's children leave the tree
        } else {
            idx = arena.size();
            kids.emplace(std::move(name), idx);
            RNode node;
            node.parent = cwd;
            node.depth = arena[cwd].depth + 1;
            arena.push_back(std::move(node));
        }
        RNode& node = arena[idx];
        // Type code 0 marks a directory: such an entry is an (empty)
        // directory that later CD records may enter.
        node.leaf = type != 0;
        node.type_code = type;
        node.offset = *off;
        node.count = *cnt;
        node.name_len = n;
        node.file = f;
        return true;
    }

    LsdaResult<bool> walk(Diskfile& d, std::uint32_t f) {
        std::uint64_t h = std::uint64_t(d.lengthsize) + d.commandsize;
        if (8 + h > d.len) return seek_out_of_range();
        d.cursor = 8 + h;
        auto first = d.read_value(d.offsetsize);
        if (!first) return std::move(first).error();
        std::uint64_t next = *first;
        // Loop guard: every symbol-table block is entered at most once, so a
        // chain of END offsets that points back into itself ends in an error.
        std::unordered_set<std::uint64_t> entered;
        for (;;) {
            if (next == 0) return true;
            if (static_cast<std::int64_t>(next) < 0 || next > d.len) return seek_out_of_range();
            if (!entered.insert(next).second)
                return LsdaError::conversion("corrupt binout symbol table: block chain loops back to offset " +
                                             std::to_string(next));
            d.cursor = next;
            auto len0 = d.read_value(d.lengthsize);
            if (!len0) return std::move(len0).error();
            auto c0 = d.read_byte();
            if (!c0) return std::move(c0).error();
            if (*c0 != 5) return true;
            for (;;) {
                auto L = d.read_value(d.lengthsize);
                if (!L) return std::move(L).error();
                auto c = d.read_byte();
                if (!c) return std::move(c).error();
                if (*L < h)
                    return LsdaError::conversion("corrupt binout symbol table: record length " + std::to_string(*L) +
                                                 " is smaller than its " + std::to_string(h) + "-byte header");
                std::uint64_t P = *L - h;
                if (*c == 2 || *c == 4) {
                    if (P > d.len - d.cursor) return past_end();
                    const unsigned char* p = d.data + d.cursor;
                    d.cursor += P;
                    auto r = *c == 2 ? cd(std::string_view(reinterpret_cast<const char*>(p), P))
                                     : variable(d, p, P, f);
                    if (!r) return std::move(r).error();
                    continue;
                }
                auto off = d.read_value(d.offsetsize);
                if (!off) return std::move(off).error();
                next = *off;
                break;
            }
        }
    }

    SymNode build(std::size_t idx) {
        RNode& r = arena[idx];
        SymNode s;
        if (r.leaf) {
            s.type_code = r.type_code;
            s.is_leaf = true;
            s.offset = r.offset;
            s.count = r.count;
            s.name_len = r.name_len;
            s.file = r.file;
            return s;
        }
        std::vector<std::pair<std::string, std::size_t>> kids;
        kids.reserve(r.kids.size());
        for (auto& [name, k] : r.kids) kids.emplace_back(name, k);
        r.kids.clear();
        std::sort(kids.begin(), kids.end());
        s.names.reserve(kids.size());
        s.children.reserve(kids.size());
        for (auto& [name, k] : kids) {
            s.names.push_back(std::move(name));
            s.children.push_back(build(k));
        }
        return s;
    }
};

template <class T>
std::vector<T> copy_elements(const unsigned char* p, std::uint64_t count, bool little) {
    std::vector<T> out(static_cast<std::size_t>(count));
    if (count) std::memcpy(out.data(), p, static_cast<std::size_t>(count) * sizeof(T));
    if (little != kHostLittle && sizeof(T) > 1) {
        for (auto& v : out) {
            unsigned char b[sizeof(T)];
            std::memcpy(b, &v, sizeof(T));
            std::reverse(b, b + sizeof(T));
            std::memcpy(&v, b, sizeof(T));
        }
    }
    return out;
}

template <class T>
T load(const unsigned char* p, bool little) noexcept {
    unsigned char b[sizeof(T)];
    std::memcpy(b, p, sizeof(T));
    if (little != kHostLittle) std::reverse(b, b + sizeof(T));
    T v;
    std::memcpy(&v, b, sizeof(T));
    return v;
}

template <class T>
void decode_as(const unsigned char* p, std::uint64_t count, bool little, double* out) noexcept {
    if constexpr (std::is_same_v<T, double>) {
        if (little == kHostLittle) {
            std::memcpy(out, p, static_cast<std::size_t>(count) * 8);
            return;
        }
    }
    for (std::uint64_t i = 0; i < count; ++i) out[i] = static_cast<double>(load<T>(p + i * sizeof(T), little));
}

template <class T>
void gather_as(const unsigned char* base, std::uint64_t avail, bool little, const std::uint64_t* cols, std::size_t k,
               double* out) noexcept {
    for (std::size_t j = 0; j < k; ++j)
        out[j] = cols[j] < avail ? static_cast<double>(load<T>(base + cols[j] * sizeof(T), little)) : 0.0;
}

}  // namespace

LsdaResult<std::vector<Diskfile>> open_read_family(const std::vector<std::string>& paths) {
    std::vector<Diskfile> out;
    out.reserve(paths.size());
    for (const auto& path : paths) {
        auto opened = Source::open(path);
        if (auto* fail = std::get_if<OpenFailure>(&opened)) return LsdaError::io(os_text(fail->err));
        Diskfile d;
        d.source = std::get<SourcePtr>(std::move(opened));
        std::string_view bytes = d.source->bytes();
        d.data = reinterpret_cast<const unsigned char*>(bytes.data());
        d.len = bytes.size();
        if (d.len < 8) return LsdaError::conversion("LSDA file shorter than its 8-byte header");
        d.lengthsize = d.data[1];
        d.offsetsize = d.data[2];
        d.commandsize = d.data[3];
        d.typesize = d.data[4];
        d.little = d.data[5] == 1;
        d.variable_fixed = std::uint64_t(d.lengthsize) + d.offsetsize + d.typesize;
        d.data_head = std::uint64_t(d.commandsize) + d.lengthsize + d.typesize + 1;
        out.push_back(std::move(d));
    }
    return out;
}

LsdaResult<SymNode> index_family(std::vector<Diskfile>& files) {
    Indexer ix;
    for (std::size_t f = 0; f < files.size(); ++f) {
        auto r = ix.walk(files[f], static_cast<std::uint32_t>(f));
        if (!r) return std::move(r).error();
    }
    return ix.build(0);
}

LsdaResult<LeafData> leaf_data(const std::vector<Diskfile>& files, const SymNode& leaf) {
    if (leaf.file >= files.size()) return LsdaError::symbol_not_found("file index out of bounds");
    const Diskfile& d = files[leaf.file];
    std::uint64_t bytes = leaf.count;
    if (leaf.type_code >= 2 && leaf.type_code <= 10) {
        if (__builtin_mul_overflow(leaf.count, std::uint64_t(type_width(leaf.type_code)), &bytes))
            return LsdaError::conversion("symbol data past end of file");
    }
    std::uint64_t begin, end;
    if (__builtin_add_overflow(leaf.offset, d.data_head, &begin) ||
        __builtin_add_overflow(begin, leaf.name_len, &begin) || __builtin_add_overflow(begin, bytes, &end) ||
        end > d.len)
        return LsdaError::conversion("symbol data past end of file");
    return LeafData{&d, d.data + begin, bytes};
}

LsdaResult<ReadResult> read_node(const std::vector<Diskfile>& files, const SymNode& node) {
    ReadResult r;
    if (node.is_dir()) {
        r.kind = ResultKind::Dir;
        r.data = node.names;
        return r;
    }
    if (node.file >= files.size()) return LsdaError::symbol_not_found("file index out of bounds");
    const std::uint8_t code = node.type_code;
    LeafData ld;
    if (node.count != 0) {
        auto where = leaf_data(files, node);
        if (!where) return std::move(where).error();
        ld = *where;
    }
    const std::uint64_t n = node.count;
    const bool little = files[node.file].little;
    const unsigned char* p = ld.begin;
    switch (code) {
        case kI8: r.kind = ResultKind::I8; r.data = copy_elements<std::int8_t>(p, n, little); break;
        case kI16: r.kind = ResultKind::I16; r.data = copy_elements<std::int16_t>(p, n, little); break;
        case kI32: r.kind = ResultKind::I32; r.data = copy_elements<std::int32_t>(p, n, little); break;
        case kI64: r.kind = ResultKind::I64; r.data = copy_elements<std::int64_t>(p, n, little); break;
        case kU16: r.kind = ResultKind::U16; r.data = copy_elements<std::uint16_t>(p, n, little); break;
        case kU32: r.kind = ResultKind::U32; r.data = copy_elements<std::uint32_t>(p, n, little); break;
        case kU64: r.kind = ResultKind::U64; r.data = copy_elements<std::uint64_t>(p, n, little); break;
        case kF32: r.kind = ResultKind::F32; r.data = copy_elements<float>(p, n, little); break;
        case kF64: r.kind = ResultKind::F64; r.data = copy_elements<double>(p, n, little); break;
        case kLink:
            r.kind = n == 0 ? ResultKind::U8 : ResultKind::Link;
            r.data = copy_elements<std::uint8_t>(p, n, little);
            break;
        default:  // unsigned 8-bit and every unrecognised code
            r.kind = ResultKind::U8;
            r.data = copy_elements<std::uint8_t>(p, n, little);
            break;
    }
    return r;
}

void decode_f64(const unsigned char* p, std::uint64_t count, std::uint8_t code, bool little, double* out) noexcept {
    switch (code) {
        case kI8: decode_as<std::int8_t>(p, count, little, out); break;
        case kI16: decode_as<std::int16_t>(p, count, little, out); break;
        case kI32: decode_as<std::int32_t>(p, count, little, out); break;
        case kI64: decode_as<std::int64_t>(p, count, little, out); break;
        case kU16: decode_as<std::uint16_t>(p, count, little, out); break;
        case kU32: decode_as<std::uint32_t>(p, count, little, out); break;
        case kU64: decode_as<std::uint64_t>(p, count, little, out); break;
        case kF32: decode_as<float>(p, count, little, out); break;
        case kF64: decode_as<double>(p, count, little, out); break;
        default: decode_as<std::uint8_t>(p, count, little, out); break;
    }
}

}  // namespace tarvex::results

namespace tarvex::results {

ElementView element_view(const std::vector<Diskfile>& files, const SymNode& leaf) noexcept {
    ElementView v;
    if (leaf.is_dir() || leaf.file >= files.size() || leaf.type_code < 1 || leaf.type_code > 10) return v;
    const Diskfile& d = files[leaf.file];
    std::uint64_t at;
    if (__builtin_add_overflow(leaf.offset, d.data_head, &at) || __builtin_add_overflow(at, leaf.name_len, &at) ||
        at > d.len)
        return v;
    v.code = leaf.type_code;
    v.width = type_width(leaf.type_code);
    v.avail = std::min<std::uint64_t>(leaf.count, (d.len - at) / v.width);
    v.base = d.data + at;
    v.little = d.little;
    return v;
}

void gather_f64(const ElementView& v, const std::uint64_t* cols, std::size_t k, double* out) noexcept {
    if (v.avail == 0) {
        for (std::size_t j = 0; j < k; ++j) out[j] = 0.0;
        return;
    }
    const unsigned char* base = v.base;
    const std::uint64_t avail = v.avail;
    const bool little = v.little;
    switch (v.code) {
        case kI8: gather_as<std::int8_t>(base, avail, little, cols, k, out); break;
        case kI16: gather_as<std::int16_t>(base, avail, little, cols, k, out); break;
        case kI32: gather_as<std::int32_t>(base, avail, little, cols, k, out); break;
        case kI64: gather_as<std::int64_t>(base, avail, little, cols, k, out); break;
        case kU8: gather_as<std::uint8_t>(base, avail, little, cols, k, out); break;
        case kU16: gather_as<std::uint16_t>(base, avail, little, cols, k, out); break;
        case kU32: gather_as<std::uint32_t>(base, avail, little, cols, k, out); break;
        case kU64: gather_as<std::uint64_t>(base, avail, little, cols, k, out); break;
        case kF32: gather_as<float>(base, avail, little, cols, k, out); break;
        default: gather_as<double>(base, avail, little, cols, k, out); break;
    }
}

}  // namespace tarvex::results
