#include "include/tree.hpp"

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

std::optional<Parsed<std::uint64_t>> measure_file(const Meta& entry) {
    auto opened = Source::open(entry.path);
    if (auto* f = std::get_if<OpenFailure>(&opened)) {
        if (f->stage == OpenFailure::Stage::Open)
            throw Panic("Cannot open file " + entry.path + ": " + os_text(f->err));
        throw Panic("Cannot mmap file " + entry.path + ": " + os_text(f->err));
    }
    const SourcePtr& src = std::get<SourcePtr>(opened);
    std::string_view bytes = src->bytes();
    auto raw = scan_includes(bytes);
    Parsed<std::uint64_t> out;
    out.directives = resolve_directives(raw, path::parent(entry.path), entry.search);
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
    auto walked = walk_includes<std::uint64_t>(root, measure_file);
    if (!walked) return std::move(walked).error();
    return build_node(walked.value(), 0);
}

}  // namespace tarvex
