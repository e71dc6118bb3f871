#include "include/tree.hpp"

#include "file/path.hpp"
#include "file/source.hpp"

namespace tarvex {

std::uint64_t IncludeNode::total_bytes() const noexcept {
    std::uint64_t t = byte_count;
    for (const auto& c : children) t += c.total_bytes();
    return t;
}

std::uint64_t IncludeNode::total_files() const noexcept {
    std::uint64_t t = 1;
    for (const auto& c : children) t += c.total_files();
    return t;
}

std::optional<LoadedFile<std::uint64_t>> measure_file(const WalkEntry& entry) {
    auto opened = Source::open(entry.path);
    if (auto* f = std::get_if<OpenFailure>(&opened)) {
        const char* what = f->stage == OpenFailure::Stage::Open ? "Cannot open file " : "Cannot mmap file ";
        throw ErrorException(Error{ErrorKind::OS, what + entry.path + ": " + os_text(f->err), f->err});
    }
    const SourcePtr& src = std::get<SourcePtr>(opened);
    std::string_view bytes = src->bytes();
    std::string base = path::parent(entry.path);
    std::vector<IncludeHit> hits = scan_all_hits(bytes);
    std::vector<std::size_t> extent = name_extents(bytes, hits, kResolvableNameBytes);

    // The tree needs a directive only for the file or directory it names:
    // names spread over more lines than any path can fill are not read, and
    // directives whose target does not exist (which the walk would skip) are
    // not kept, so neither time nor memory grows with names that cannot name
    // a file (a '+' continuation running through thousands of keyword lines).
    std::vector<RawInclude> paths;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const IncludeHit& h = hits[i];
        if (!is_path_kind(h.kind) || extent[i] > kResolvableNameBytes) continue;
        auto name = read_include_name(bytes, h.name_pos);
        if (!name) continue;
        RawInclude r{std::move(name->text), {}, h.kind, std::move(name->raw)};
        std::vector<RawInclude> one{r};
        std::vector<std::string> dir = extend_search(one, base, {});
        if (!path::exists(dir.front())) continue;  // no candidate below it can exist
        paths.push_back(std::move(r));
    }
    std::vector<std::string> search = extend_search(paths, base, entry.search);

    LoadedFile<std::uint64_t> out;
    out.directives = resolve_directives(paths, base, entry.search);
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const IncludeHit& h = hits[i];
        if (is_path_kind(h.kind) || extent[i] > kResolvableNameBytes) continue;
        auto name = read_include_name(bytes, h.name_pos);
        if (!name) continue;
        RawInclude r{std::move(name->text), {}, h.kind, std::move(name->raw)};
        std::string resolved = resolve_one(r, base, search);
        if (!path::exists(resolved)) continue;
        out.directives.push_back({std::move(r.name), std::move(resolved), {}, h.kind});
    }
    out.payload = bytes.size();
    return out;
}

IncludeNode build_node(const std::vector<GraphNode<std::uint64_t>>& nodes, std::size_t index) {
    const auto& n = nodes[index];
    IncludeNode out{n.path, n.kind, n.payload, {}};
    out.children.reserve(n.children.size());
    for (std::size_t c : n.children) out.children.push_back(build_node(nodes, c));
    return out;
}

Result<IncludeNode> build_include_tree(const std::string& root) {
    try {
        auto walked = walk_includes<std::uint64_t>(root, measure_file);
        if (!walked) return std::move(walked).error();
        return build_node(walked.value(), 0);
    } catch (const ErrorException& e) {
        return e.error();  // a file that exists but cannot be read
    }
}

}  // namespace tarvex
