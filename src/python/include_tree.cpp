// Python face of the include tree: IncludeNode and parse_include_tree.
#include <string>

#include "include/tree.hpp"
#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "util/text.hpp"

namespace tarvex::py {

namespace {
std::string node_repr(const IncludeNode& n) {
    std::string r = "IncludeNode('" + text::utf8_lossy(n.path) + "'";
    if (n.kind) r += std::string(" [") + include_kind_name(*n.kind) + "]";
    r += ", " + std::to_string(n.byte_count) + " bytes, " + std::to_string(n.children.size()) + " children)";
    return r;
}
}  // namespace

void bind_include_node(nb::module_& m) {
    nb::class_<IncludeNode>(m, "IncludeNode",
                            "One file of an include tree: its path, the kind of directive that reached it, "
                            "its size and the files it includes.",
                            nb::is_final())
        .def_prop_ro(
            "path", [](const IncludeNode& n) { return text::utf8_lossy(n.path); },
            "The file's path (invalid UTF-8 replaced by U+FFFD).")
        .def_prop_ro(
            "kind",
            [](const IncludeNode& n) -> std::optional<std::string> {
                if (!n.kind) return std::nullopt;
                return std::string(include_kind_name(*n.kind));
            },
            "Name of the include directive kind that reached this file (e.g. 'Include', "
            "'IncludeTransform'); None for the root.")
        .def_prop_ro(
            "byte_count", [](const IncludeNode& n) { return n.byte_count; }, "Size of this file in bytes.")
        .def_prop_ro(
            "children", [](const IncludeNode& n) { return n.children; },
            "The included files, in discovery order: a new list of independent copies on every access.")
        .def("total_bytes", &IncludeNode::total_bytes, "Total bytes across all files in this subtree.")
        .def("total_files", &IncludeNode::total_files, "Total number of files in this subtree (including self).")
        .def("__repr__", &node_repr);
}

void bind_parse_include_tree(nb::module_& m) {
    m.def(
        "parse_include_tree",
        [](const std::string& path) { return unwrap(build_include_tree(path)); }, nb::arg("path"),
        "Parse an LS-DYNA keyword file and return the include tree.\n\n"
        "Follows *INCLUDE, *INCLUDE_PATH, *INCLUDE_PATH_RELATIVE, *INCLUDE_TRANSFORM and the other "
        "include keywords breadth first; missing files and include cycles are skipped.  Raises "
        "RuntimeError when the root path cannot be resolved.");
}

}  // namespace tarvex::py
