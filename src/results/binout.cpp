#include "results/binout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

#include "file/path.hpp"
#include "results/glob.hpp"
#include "results/lsda.hpp"
#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex::results {

namespace {

// The doubles of a metadata text dataset as bytes.
std::string to_bytes(const std::vector<double>& v) {
    std::string out;
    out.reserve(v.size());
    for (double d : v) {
        unsigned char b;
        if (std::isnan(d) || d < 0)
            b = 0;
        else if (d > 255)
            b = 255;
        else
            b = static_cast<unsigned char>(d);
        out.push_back(static_cast<char>(b));
    }
    return out;
}

std::string trimmed(const std::string& s) {
    std::string v = text::utf8_lossy(s);
    return std::string(text::trim_unicode(v));
}

// The leaf [branch, dir, var] below an already resolved state directory.
LsdaResult<const SymNode*> state_leaf(const SymNode& dir, std::string_view var) {
    const SymNode* v = dir.is_leaf ? nullptr : dir.child(var);
    if (!v) return LsdaError::symbol_not_found(std::string(var));
    return v;
}

// The child of that name, trying position `hint` first (updated on a hit
// elsewhere): the state directories of a branch usually list the same names.
const SymNode* child_hinted(const SymNode& dir, std::string_view name, std::size_t& hint) {
    if (dir.is_leaf) return nullptr;
    if (hint < dir.names.size() && dir.names[hint] == name) return &dir.children[hint];
    const SymNode* c = dir.child(name);
    if (c) hint = static_cast<std::size_t>(c - dir.children.data());
    return c;
}

}  // namespace

// How many states ahead the gathers prefetch.
constexpr std::size_t kAhead = 8;

// A hint to load element j of a leaf soon (never faults, whatever the address).
void Binout::prefetch_element(const SymNode& n, std::uint64_t j) const noexcept {
    if (n.is_dir() || n.file >= disk_.size()) return;
    const Diskfile& d = disk_[n.file];
    std::uintptr_t at = reinterpret_cast<std::uintptr_t>(d.data) + n.offset + d.data_head + n.name_len +
                        j * type_width(n.type_code);
    __builtin_prefetch(reinterpret_cast<const void*>(at));
}

// A state's time: the first element of its "time" dataset as a double, as a
// read converted to doubles gives it (the whole dataset must lie in the file;
// link data has no values); 0.0 otherwise.
double Binout::time_value(const SymNode* t) const noexcept {
    if (!t || t->count == 0 || t->type_code == kLink) return 0.0;
    auto where = leaf_data(disk_, *t);
    if (!where) return 0.0;
    double v = 0.0;
    decode_f64(where->begin, 1, t->type_code, where->file->little, &v);
    return v;
}

bool is_state_dir(std::string_view name) noexcept {
    if (name.size() < 2 || name[0] != 'd') return false;
    for (std::size_t i = 1; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

SymPath branch_path(std::string_view text) {
    if (text.find('/') == std::string_view::npos) return {std::string(text)};
    SymPath out;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = std::min(text.find('/', at), text.size());
        if (end > at) out.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string branch_text(const SymPath& branch) {
    std::string out;
    for (std::size_t i = 0; i < branch.size(); ++i) {
        if (i) out += '/';
        out += branch[i];
    }
    return out;
}

std::int64_t f64_to_i64(double v) noexcept {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

LsdaResult<Binout> Binout::open(const std::string& pattern) {
    auto matches = glob_paths(pattern);
    if (!matches) return std::move(matches).error();
    std::vector<std::string> found = std::move(*matches);
    if (found.empty()) return LsdaError::file_not_found();
    std::sort(found.begin(), found.end());
    std::vector<std::string> all = found;
    for (const auto& p : found) {
        for (int j = 1; j <= 999; ++j) {
            const char suffix[5] = {'%', char('0' + j / 100), char('0' + j / 10 % 10), char('0' + j % 10), 0};
            std::string q = p + suffix;
            if (!path::exists(q)) break;
            all.push_back(std::move(q));
        }
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());

    auto disk = open_read_family(all);
    if (!disk) return std::move(disk).error();
    auto root = index_family(*disk);
    if (!root) return std::move(root).error();
    Binout b;
    b.root_ = std::move(*root);
    b.names_ = std::move(all);
    b.disk_ = std::move(*disk);
    for (const auto& d : b.disk_) b.total_bytes_ += d.len;
    return b;
}

LsdaResult<const SymNode*> Binout::resolve(const SymPath& path) const {
    const SymNode* at = &root_;
    for (const auto& seg : path) {
        const SymNode* next = at->is_leaf ? nullptr : at->child(seg);
        if (!next) return LsdaError::symbol_not_found(seg);
        at = next;
    }
    return at;
}

LsdaResult<ReadResult> Binout::read(const SymPath& path) const {
    auto node = resolve(path);
    if (!node) return std::move(node).error();
    return read_node(disk_, **node);
}

std::vector<LsdaResult<ReadResult>> Binout::read_many(const std::vector<SymPath>& paths) const {
    std::vector<std::optional<LsdaResult<ReadResult>>> slots(paths.size());
    pool::parallel_each(paths.size(), [&](std::size_t i) { slots[i].emplace(read(paths[i])); });
    std::vector<LsdaResult<ReadResult>> out;
    out.reserve(paths.size());
    for (auto& s : slots) out.push_back(std::move(*s));
    return out;
}

LsdaResult<std::vector<const SymNode*>> Binout::state_nodes(const SymPath& branch) const {
    auto node = resolve(branch);
    if (!node) return std::move(node).error();
    const SymNode& b = **node;
    std::vector<const SymNode*> out;
    for (std::size_t i = 0; i < b.names.size(); ++i)
        if (is_state_dir(b.names[i])) out.push_back(&b.children[i]);
    if (out.empty()) return LsdaError::symbol_not_found("no state directories under " + branch_text(branch));
    return out;
}

LsdaResult<std::vector<std::string>> Binout::state_dirs(const SymPath& branch) const {
    auto node = resolve(branch);
    if (!node) return std::move(node).error();
    std::vector<std::string> dirs;
    for (const auto& n : (*node)->names)
        if (is_state_dir(n)) dirs.push_back(n);
    if (dirs.empty()) return LsdaError::symbol_not_found("no state directories under " + branch_text(branch));
    return dirs;  // already in byte-wise order
}

bool Binout::has_states(const SymPath& branch) const { return state_nodes(branch).ok(); }

LsdaResult<ReadResult> Binout::read_meta(const SymPath& branch, const char* name) const {
    SymPath p = branch;
    p.emplace_back("metadata");
    p.emplace_back(name);
    return read(p);
}

std::vector<double> Binout::times_of(const std::vector<const SymNode*>& states) const {
    const std::size_t T = states.size();
    std::vector<double> times(T, 0.0);
    std::vector<const SymNode*> leaves(T, nullptr);
    const std::size_t grain = std::max<std::size_t>(pool::default_grain(T), 1024);
    pool::parallel_for(0, T, grain, [&](std::size_t lo, std::size_t hi) {
        std::size_t hint = 0;
        for (std::size_t i = lo; i < hi; ++i) {
            const SymNode* t = child_hinted(*states[i], "time", hint);
            if (t && !t->is_dir() && t->count != 0) leaves[i] = t;
        }
        for (std::size_t i = lo; i < hi && i < lo + kAhead; ++i)
            if (leaves[i]) prefetch_element(*leaves[i], 0);
        for (std::size_t i = lo; i < hi; ++i) {
            if (i + kAhead < hi && leaves[i + kAhead]) prefetch_element(*leaves[i + kAhead], 0);
            times[i] = time_value(leaves[i]);
        }
    });
    return times;
}

std::vector<double> Binout::state_times(const SymPath& branch, const std::vector<std::string>& dirs) const {
    auto node = resolve(branch);
    const SymNode* b = node ? *node : nullptr;
    std::vector<const SymNode*> states(dirs.size(), nullptr);
    static const SymNode kEmpty;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const SymNode* d = b && !b->is_leaf ? b->child(dirs[i]) : nullptr;
        states[i] = d ? d : &kEmpty;
    }
    return times_of(states);
}

LsdaResult<StateValues> Binout::read_states(const SymPath& branch, const std::string& var) const {
    auto states = state_nodes(branch);
    if (!states) return std::move(states).error();
    const std::size_t T = states->size();

    // Locate every state's data first (cheap), then decode all of them in
    // parallel straight into one buffer.
    struct Piece {
        const unsigned char* begin = nullptr;
        std::uint64_t count = 0;
        std::uint8_t code = 0;
        bool little = true;
        std::uint64_t at = 0;  // first value in the output
    };
    std::vector<Piece> pieces(T);
    std::uint64_t total = 0;
    std::size_t hint = 0;
    for (std::size_t i = 0; i < T; ++i) {
        const SymNode* leaf = child_hinted(*(*states)[i], var, hint);
        if (!leaf) return LsdaError::symbol_not_found(var);
        const SymNode& n = *leaf;
        Piece& p = pieces[i];
        p.at = total;
        if (n.is_dir()) continue;  // a directory has no values
        if (n.file >= disk_.size()) return LsdaError::symbol_not_found("file index out of bounds");
        if (n.count == 0) continue;
        auto where = leaf_data(disk_, n);
        if (!where) return std::move(where).error();
        if (n.type_code == kLink) continue;
        p.begin = where->begin;
        p.count = n.count;
        p.code = n.type_code;
        p.little = where->file->little;
        total += n.count;
        // Datasets of a sound file do not overlap, so their values never
        // outnumber the family's bytes; entries aliasing one record could
        // otherwise ask for far more memory than the files hold.
        if (total > total_bytes_)
            return LsdaError::conversion("corrupt binout: state datasets of " + branch_text(branch) + "/" + var +
                                         " overlap (more values than file bytes)");
    }
    StateValues out;
    out.n_states = T;
    out.n_channels = T ? pieces[0].count : 0;
    out.values.resize(static_cast<std::size_t>(total));
    double* dst = out.values.data();
    pool::parallel_for(0, T, 0, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i) {
            const Piece& p = pieces[i];
            if (p.count) decode_f64(p.begin, p.count, p.code, p.little, dst + p.at);
        }
    });
    out.times = times_of(*states);
    auto ids_r = ids(branch);
    if (ids_r) out.ids = std::move(*ids_r);
    return out;
}

LsdaResult<StateColumns> Binout::read_columns(const SymPath& branch, const std::string& var,
                                              const std::vector<std::uint64_t>& columns) const {
    auto states = state_nodes(branch);
    if (!states) return std::move(states).error();
    const std::size_t T = states->size(), k = columns.size();
    StateColumns out;
    out.n_states = T;
    out.n_columns = k;
    std::size_t cells;
    if (__builtin_mul_overflow(T, k, &cells)) return LsdaError::conversion("too many columns selected");
    out.values.assign(cells, 0.0);
    out.times.assign(T, 0.0);
    // One pass per piece of states: find the leaves, then gather the values
    // and the state time with the elements of a later state prefetched (the
    // values are scattered over the whole file, one or two pages per state,
    // so the reads are bound by memory latency).  Pieces are large: the work
    // per state is tiny.
    std::vector<unsigned char> found(T, 0);
    const std::size_t grain = std::max<std::size_t>(pool::default_grain(T), 1024);
    pool::parallel_for(0, T, grain, [&](std::size_t lo, std::size_t hi) {
        std::vector<ElementView> vals(hi - lo);
        std::vector<const SymNode*> times(hi - lo, nullptr);
        std::size_t hint_v = 0, hint_t = 0;  // states usually share one layout
        for (std::size_t i = lo; i < hi; ++i) {
            const SymNode& dir = *(*states)[i];
            if (const SymNode* leaf = child_hinted(dir, var, hint_v);
                leaf && !leaf->is_dir() && leaf->file < disk_.size()) {
                found[i] = 1;
                vals[i - lo] = element_view(disk_, *leaf);
            }
            if (const SymNode* t = child_hinted(dir, "time", hint_t); t && !t->is_dir()) times[i - lo] = t;
        }
        auto prefetch = [&](std::size_t r) {
            const ElementView& v = vals[r];
            if (v.avail)
                for (std::size_t j = 0; j < k; ++j)
                    __builtin_prefetch(v.base + std::min<std::uint64_t>(columns[j], v.avail - 1) * v.width);
            if (times[r]) prefetch_element(*times[r], 0);
        };
        const std::size_t n = hi - lo;
        for (std::size_t r = 0; r < n && r < kAhead; ++r) prefetch(r);
        for (std::size_t r = 0; r < n; ++r) {
            if (r + kAhead < n) prefetch(r + kAhead);
            gather_f64(vals[r], columns.data(), k, out.values.data() + (lo + r) * k);
            out.times[lo + r] = time_value(times[r]);
        }
    });
    // The first failing state, in state order.
    for (std::size_t i = 0; i < T; ++i) {
        if (found[i]) continue;
        auto leaf = state_leaf(*(*states)[i], var);
        if (!leaf) return std::move(leaf).error();
        if ((*leaf)->is_dir()) return LsdaError::conversion("expected a dataset, got a directory");
        return LsdaError::symbol_not_found("file index out of bounds");
    }
    return out;
}

LsdaResult<std::vector<std::int64_t>> Binout::ids(const SymPath& branch) const {
    auto r = read_meta(branch, "ids");
    if (!r) return std::move(r).error();
    std::vector<double> v = r->to_f64_vec();
    std::vector<std::int64_t> out(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) out[i] = f64_to_i64(v[i]);
    return out;
}

LsdaResult<std::vector<std::string>> Binout::legend(const SymPath& branch) const {
    std::size_t n = 0;
    if (auto r = read_meta(branch, "ids"); r) n = r->to_f64_vec().size();
    auto r = read_meta(branch, "legend");
    if (!r) return std::move(r).error();
    std::string bytes = to_bytes(r->to_f64_vec());
    std::vector<std::string> out;
    if (n == 0 || bytes.empty()) return out;
    std::size_t w = std::max<std::size_t>(1, bytes.size() / n);
    for (std::size_t at = 0; at < bytes.size(); at += w) out.push_back(trimmed(bytes.substr(at, w)));
    return out;
}

LsdaResult<std::string> Binout::title(const SymPath& branch) const {
    auto r = read_meta(branch, "title");
    if (!r) return std::move(r).error();
    return trimmed(to_bytes(r->to_f64_vec()));
}

LsdaResult<PathRead> Binout::read_path(const SymPath& path) const {
    PathRead out;
    auto r = read(path);
    if (r.ok()) {
        ReadResult res = std::move(r).value();
        if (!res.is_dir()) {
            out.dataset = std::move(res);
            return out;
        }
        out.kind = PathRead::Kind::Listing;
        for (const auto& child : std::get<0>(res.data)) {
            if (!is_state_dir(child)) continue;
            SymPath sub = path;
            sub.push_back(child);
            auto first_state = read(sub);
            if (!first_state.ok()) return std::move(first_state).error();
            out.listing = first_state.value().keys();
            return out;
        }
        out.listing = res.keys();
        return out;
    }
    if (path.size() < 2) return std::move(r).error();
    SymPath branch(path.begin(), path.end() - 1);
    if (path.size() > 2 && !has_states(branch)) return std::move(r).error();
    auto agg = read_states(branch, path.back());
    if (!agg.ok()) return std::move(agg).error();
    out.kind = PathRead::Kind::Aggregate;
    out.aggregate = std::move(agg).value();
    return out;
}

LsdaResult<std::vector<double>> Binout::read_f64(const SymPath& path) const {
    auto r = read(path);
    if (!r.ok()) return std::move(r).error();
    return r.value().to_f64_vec();
}

LsdaResult<TimeSeries> Binout::read_time_series(const SymPath& path) const {
    if (path.empty()) return LsdaError::invalid_path("empty path");
    auto values = read_f64(path);
    if (!values.ok()) return std::move(values).error();
    TimeSeries out;
    out.values = std::move(values).value();
    SymPath time_path(path.begin(), path.end() - 1);
    time_path.push_back("time");
    auto times = read_f64(time_path);
    if (times.ok()) {
        out.times = std::move(times).value();
    } else {
        out.times.resize(out.values.size());
        for (std::size_t i = 0; i < out.times.size(); ++i) out.times[i] = static_cast<double>(i);
    }
    return out;
}

LsdaResult<std::vector<std::uint64_t>> Binout::select_columns(const SymPath& branch,
                                                              const EntitySelection& sel) const {
    auto missing = [&](const std::string& key) {
        return LsdaError::entity_not_found(std::string(sel.by_id ? "id " : "name ") + text::quoted(key) +
                                           " not found in '" + branch_text(branch) + "'");
    };
    std::vector<std::uint64_t> cols;
    if (sel.by_id) {
        auto all = ids(branch);
        if (!all.ok()) return std::move(all).error();
        const std::vector<std::int64_t>& v = all.value();
        std::unordered_map<std::int64_t, std::uint64_t> first;
        first.reserve(v.size());
        for (std::size_t i = v.size(); i-- > 0;) first[v[i]] = i;
        for (auto id : sel.ids) {
            auto it = first.find(id);
            if (it == first.end()) return missing(std::to_string(id));
            cols.push_back(it->second);
        }
    } else {
        auto all = legend(branch);
        if (!all.ok()) return std::move(all).error();
        const std::vector<std::string>& v = all.value();
        std::unordered_map<std::string, std::uint64_t> first;
        for (std::size_t i = v.size(); i-- > 0;) first[v[i]] = i;
        for (const auto& name : sel.names) {
            auto it = first.find(name);
            if (it == first.end()) return missing(name);
            cols.push_back(it->second);
        }
    }
    return cols;
}

LsdaResult<SelectedColumns> Binout::read_selected(const SymPath& branch, const std::string& var,
                                                  const EntitySelection& sel) const {
    auto cols = select_columns(branch, sel);
    if (!cols.ok()) return std::move(cols).error();
    auto read = read_columns(branch, var, cols.value());
    if (!read.ok()) return std::move(read).error();
    SelectedColumns out{std::move(read).value(), std::vector<std::int64_t>(cols.value().size(), 0)};
    auto all = ids(branch);
    if (all.ok())
        for (std::size_t j = 0; j < cols.value().size(); ++j)
            if (cols.value()[j] < all.value().size()) out.ids[j] = all.value()[cols.value()[j]];
    return out;
}

}  // namespace tarvex::results
