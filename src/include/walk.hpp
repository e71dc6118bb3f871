// The breadth-first include walk, generic over a per-file loader.
//
// The loader is called for every file of one level in parallel on the pool;
// results are consumed in work-list order on the calling thread, so the
// outcome never depends on timing.  Missing files and include cycles are
// skipped; a (path, effective offsets) pair is visited once, under its first
// includer.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "file/path.hpp"
#include "include/include.hpp"
#include "util/error.hpp"
#include "util/pool.hpp"

namespace tarvex {

// An inherited search list.  Every file reached from one includer inherits
// the same list, so it is shared instead of copied per file (a file with many
// path directives and many includes would otherwise cost their product).
class SearchList {
public:
    SearchList() = default;
    SearchList(std::vector<std::string> dirs)  // NOLINT: implicit by design
        : dirs_(std::make_shared<const std::vector<std::string>>(std::move(dirs))) {}

    const std::vector<std::string>& get() const noexcept {
        static const std::vector<std::string> none;
        return dirs_ ? *dirs_ : none;
    }
    operator const std::vector<std::string>&() const noexcept { return get(); }  // NOLINT
    auto begin() const noexcept { return get().begin(); }
    auto end() const noexcept { return get().end(); }
    std::size_t size() const noexcept { return get().size(); }
    bool empty() const noexcept { return get().empty(); }
    const std::string& operator[](std::size_t i) const noexcept { return get()[i]; }

private:
    std::shared_ptr<const std::vector<std::string>> dirs_;
};

// One file of the walk's work list: who included it, where it is, the search
// list and transform offsets it inherits, and the directive kind that reached it.
struct WalkEntry {
    std::optional<std::size_t> parent;
    std::string path;
    SearchList search;
    TransformOffsets offsets;
    std::optional<IncludeKind> kind;
};

// What a loader returns for one file: its include directives and the
// loader's own payload (a size, a parsed file).
template <class T>
struct LoadedFile {
    std::vector<IncludeDirective> directives;
    T payload;
};

template <class T>
struct GraphNode {
    std::string path;
    std::optional<IncludeKind> kind;
    TransformOffsets offsets;
    std::vector<IncludeDirective> directives;
    std::vector<std::size_t> children;
    T payload;
};

namespace detail {
struct VisitKey {
    std::string path;
    TransformOffsets offsets;
    bool operator==(const VisitKey& o) const noexcept { return offsets == o.offsets && path == o.path; }
};
struct VisitKeyHash {
    std::size_t operator()(const VisitKey& k) const noexcept {
        std::size_t h = std::hash<std::string>()(k.path);
        for (auto x : k.offsets.v) h = h * 1000003u ^ std::hash<std::int64_t>()(x);
        return h;
    }
};
}  // namespace detail

// Walk the include graph from `root`.  `loader(const WalkEntry&)` returns
// std::optional<LoadedFile<T>>; an empty result leaves the file out.
template <class T, class Loader>
Result<std::vector<GraphNode<T>>> walk_includes(const std::string& root, Loader&& loader) {
    auto canon = path::canonical(root);
    if (!canon) return Error::runtime("Cannot resolve root path " + root + ": " + canon.error().message);

    std::vector<WalkEntry> work;
    std::vector<std::optional<LoadedFile<T>>> results;
    std::vector<std::vector<std::size_t>> children;
    std::unordered_set<detail::VisitKey, detail::VisitKeyHash> visited;

    work.push_back(WalkEntry{std::nullopt, canon.value(), {}, {}, std::nullopt});
    visited.insert({canon.value(), {}});

    std::size_t level_begin = 0;
    while (level_begin < work.size()) {
        std::size_t level_end = work.size();
        std::size_t count = level_end - level_begin;
        auto loaded = pool::parallel_map<std::optional<LoadedFile<T>>>(
            count, [&](std::size_t i) { return loader(static_cast<const WalkEntry&>(work[level_begin + i])); });
        results.resize(level_end);
        children.resize(level_end);
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t idx = level_begin + i;
            results[idx] = std::move(loaded[i]);
            if (!results[idx]) continue;
            const LoadedFile<T>& parsed = *results[idx];
            // Copy what the loop needs: `work` grows below.
            std::string entry_path = work[idx].path;
            TransformOffsets entry_offsets = work[idx].offsets;
            SearchList search =
                extend_search_resolved(parsed.directives, path::parent(entry_path), work[idx].search.get());
            for (const auto& d : parsed.directives) {
                if (is_path_kind(d.kind)) continue;
                if (!path::exists(d.resolved)) continue;
                auto c = path::canonical(d.resolved);
                std::string p = c ? std::move(c.value()) : d.resolved;
                bool cycle = false;
                for (std::optional<std::size_t> a = idx; a; a = work[*a].parent)
                    if (path::same(p, work[*a].path)) {
                        cycle = true;
                        break;
                    }
                if (cycle) continue;
                TransformOffsets o = entry_offsets + d.offsets;
                if (!visited.insert({p, o}).second) continue;
                children[idx].push_back(work.size());
                work.push_back(WalkEntry{idx, std::move(p), search, o, d.kind});
            }
        }
        level_begin = level_end;
    }

    // Drop entries without payload and renumber the rest in work-list order.
    constexpr std::size_t kGone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> renum(work.size(), kGone);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < work.size(); ++i)
        if (results[i]) renum[i] = kept++;
    std::vector<GraphNode<T>> nodes;
    nodes.reserve(kept);
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!results[i]) continue;
        GraphNode<T> n;
        n.path = std::move(work[i].path);
        n.kind = work[i].kind;
        n.offsets = work[i].offsets;
        n.directives = std::move(results[i]->directives);
        n.payload = std::move(results[i]->payload);
        for (std::size_t c : children[i])
            if (renum[c] != kGone) n.children.push_back(renum[c]);
        nodes.push_back(std::move(n));
    }
    return nodes;
}

}  // namespace tarvex
