#include "results/binout_edit.hpp"

#include <bit>
#include <cstring>

#include "results/lsda.hpp"
#include "util/text.hpp"

namespace tarvex::results {

static_assert(std::endian::native == std::endian::little, "the editor stores elements in host order");

unsigned EditDataset::width(std::uint8_t variant) noexcept {
    static constexpr unsigned kWidth[11] = {1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 1};
    return variant < 11 ? kWidth[variant] : 1;
}

namespace {

template <class T>
void put_bytes(const std::vector<T>& v, EditDataset& d) {
    d.bytes.resize(v.size() * sizeof(T));
    if (!v.empty()) std::memcpy(d.bytes.data(), v.data(), d.bytes.size());
}

EditDataset to_data(ReadResult&& r) {
    EditDataset d;
    switch (r.kind) {
        case ResultKind::I8: d.variant = 0; put_bytes(std::get<std::vector<std::int8_t>>(r.data), d); break;
        case ResultKind::I16: d.variant = 1; put_bytes(std::get<std::vector<std::int16_t>>(r.data), d); break;
        case ResultKind::I32: d.variant = 2; put_bytes(std::get<std::vector<std::int32_t>>(r.data), d); break;
        case ResultKind::I64: d.variant = 3; put_bytes(std::get<std::vector<std::int64_t>>(r.data), d); break;
        case ResultKind::U16: d.variant = 5; put_bytes(std::get<std::vector<std::uint16_t>>(r.data), d); break;
        case ResultKind::U32: d.variant = 6; put_bytes(std::get<std::vector<std::uint32_t>>(r.data), d); break;
        case ResultKind::U64: d.variant = 7; put_bytes(std::get<std::vector<std::uint64_t>>(r.data), d); break;
        case ResultKind::F32: d.variant = 8; put_bytes(std::get<std::vector<float>>(r.data), d); break;
        case ResultKind::F64: d.variant = 9; put_bytes(std::get<std::vector<double>>(r.data), d); break;
        default:  // uint8, link data and unrecognised codes
            d.variant = 4;
            put_bytes(std::get<std::vector<std::uint8_t>>(r.data), d);
            break;
    }
    return d;
}

void put_u64(std::string& out, std::uint64_t v) {
    char b[8];
    std::memcpy(b, &v, 8);
    out.append(b, 8);
}
void set_u64(std::string& out, std::size_t at, std::uint64_t v) { std::memcpy(out.data() + at, &v, 8); }

}  // namespace

LsdaResult<bool> load_dir(const Binout& b, const SymNode& node, EditNode& into, std::uint64_t& budget) {
    for (std::size_t i = 0; i < node.names.size(); ++i) {
        const SymNode& child = node.children[i];
        auto n = std::make_unique<EditNode>();
        if (child.is_dir()) {
            n->is_dir = true;
            auto r = load_dir(b, child, *n, budget);
            if (!r) return r;
        } else {
            auto r = read_node(b.disk(), child);
            if (!r) return std::move(r).error();
            n->is_dir = false;
            n->data = to_data(std::move(*r));
            // Entries of a sound file never hold more bytes than the files
            // themselves; aliased records could otherwise exhaust memory.
            if (n->data.bytes.size() > budget)
                return LsdaError::conversion("corrupt binout: datasets overlap (more data than file bytes)");
            budget -= n->data.bytes.size();
        }
        into.children[text::utf8_lossy(node.names[i])] = std::move(n);
    }
    return true;
}

LsdaResult<BinoutEditor> BinoutEditor::load(const std::string& pattern) {
    auto b = Binout::open(pattern);
    if (!b) return std::move(b).error();
    BinoutEditor e;
    std::uint64_t budget = b->total_bytes();
    auto r = load_dir(*b, b->root(), e.root_, budget);
    if (!r) return std::move(r).error();
    return e;
}

const EditNode* BinoutEditor::find(const SymPath& path) const {
    const EditNode* at = &root_;
    for (const auto& seg : path) {
        if (!at->is_dir) return nullptr;
        auto it = at->children.find(seg);
        if (it == at->children.end()) return nullptr;
        at = it->second.get();
    }
    return at;
}

LsdaResult<bool> BinoutEditor::set(const SymPath& path, EditDataset data) {
    if (path.empty()) return LsdaError::invalid_path("cannot set the root");
    if (path.size() > kMaxDepth)
        return LsdaError::invalid_path("path deeper than " + std::to_string(kMaxDepth) + " levels");
    EditNode* at = &root_;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        auto& kids = at->children;
        auto it = kids.find(path[i]);
        if (it == kids.end()) {
            it = kids.emplace(path[i], std::make_unique<EditNode>()).first;
        } else if (!it->second->is_dir) {
            if (i + 2 < path.size()) return LsdaError::invalid_path("'" + path[i] + "' is a dataset, not a directory");
            return LsdaError::invalid_path("parent is a dataset, not a directory");
        }
        at = it->second.get();
    }
    auto n = std::make_unique<EditNode>();
    n->is_dir = false;
    n->data = std::move(data);
    at->children[path.back()] = std::move(n);
    return true;
}

bool BinoutEditor::remove(const SymPath& path) {
    if (path.empty()) return false;
    EditNode* at = &root_;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if (!at->is_dir) return false;
        auto it = at->children.find(path[i]);
        if (it == at->children.end()) return false;
        at = it->second.get();
    }
    if (!at->is_dir) return false;
    return at->children.erase(path.back()) > 0;
}

void collect_dir_groups(const EditNode& node, const std::string& path, std::vector<DirGroup>& groups) {
    DirGroup g;
    g.path = path;
    for (const auto& [name, child] : node.children)
        if (!child->is_dir) g.datasets.emplace_back(&name, &child->data);
    if (!g.datasets.empty()) groups.push_back(std::move(g));
    for (const auto& [name, child] : node.children)
        if (child->is_dir) collect_dir_groups(*child, path == "/" ? "/" + name : path + "/" + name, groups);
}

std::string BinoutEditor::to_bytes() const {
    std::vector<DirGroup> groups;
    collect_dir_groups(root_, "/", groups);

    std::size_t total = 8 + 17 + 9 + 17;
    for (const auto& g : groups) {
        total += 2 * (9 + g.path.size());
        for (const auto& [name, d] : g.datasets) total += 11 + name->size() + d->bytes.size() + 26 + name->size();
    }
    std::string out;
    out.reserve(total);
    out.append("\x08\x08\x08\x01\x01\x01\x00\x00", 8);
    put_u64(out, 17);
    out.push_back(7);
    put_u64(out, 0);

    auto cd = [&](const std::string& p) {
        put_u64(out, p.size() + 9);
        out.push_back(2);
        out.append(p);
    };
    std::vector<std::uint64_t> positions;
    for (const auto& g : groups) {
        cd(g.path);
        for (const auto& [name, d] : g.datasets) {
            positions.push_back(out.size());
            put_u64(out, d->bytes.size() + name->size() + 11);
            out.push_back(3);
            out.push_back(static_cast<char>(d->type_code()));
            out.push_back(static_cast<char>(name->size() & 0xFF));
            out.append(*name);
            out.append(reinterpret_cast<const char*>(d->bytes.data()), d->bytes.size());
        }
    }
    const std::size_t S = out.size();
    put_u64(out, 0);
    out.push_back(5);
    std::size_t k = 0;
    for (const auto& g : groups) {
        cd(g.path);
        for (const auto& [name, d] : g.datasets) {
            put_u64(out, name->size() + 26);
            out.push_back(4);
            out.append(*name);
            out.push_back(static_cast<char>(d->type_code()));
            put_u64(out, positions[k++]);
            put_u64(out, d->count());
        }
    }
    put_u64(out, 17);
    out.push_back(6);
    put_u64(out, 0);
    set_u64(out, S, out.size() - S);
    set_u64(out, 17, S);
    return out;
}

}  // namespace tarvex::results
