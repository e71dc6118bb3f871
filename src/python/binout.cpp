// Python face of the binout layer: Binout, parse_binout and BinoutEditor.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "file/write.hpp"
#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "results/binout.hpp"
#include "results/binout_edit.hpp"
#include "results/lsda_error.hpp"
#include "util/text.hpp"

namespace tarvex::py {

using results::Binout;
using results::BinoutEditor;
using results::LsdaError;
using results::LsdaResult;
using results::ReadResult;
using results::ResultKind;
using results::SymPath;

namespace {

// ---- Arguments ------------------------------------------------------------

// A directory path: a sequence of str segments.
SymPath arg_path(nb::handle h, const char* param) { return arg_str_seq(h, param); }

// A branch: "elout/shell" (str, split at "/") or a sequence of str segments.
SymPath arg_branch(nb::handle h, const char* param) {
    if (PyUnicode_Check(h.ptr())) return results::branch_path(arg_str(h, param));
    const char* want = "str or a sequence of str";
    nb::object keep;
    SymPath out;
    for (nb::handle it : seq_items(h, param, want, keep)) {
        if (!PyUnicode_Check(it.ptr())) raise(type_error(param, want));
        out.push_back(arg_str(it, param));
    }
    return out;
}

std::vector<SymPath> arg_paths(nb::handle h, const char* param) {
    nb::object keep;
    std::vector<SymPath> out;
    for (nb::handle it : seq_items(h, param, "a sequence of sequences of str", keep)) {
        if (PyUnicode_Check(it.ptr()) || PyBytes_Check(it.ptr()) || !PySequence_Check(it.ptr()))
            raise(type_error(param, "a sequence of sequences of str"));
        out.push_back(arg_path(it, param));
    }
    return out;
}

// ---- Results --------------------------------------------------------------

nb::list str_list(const std::vector<std::string>& v) {
    nb::list out;
    for (const auto& s : v) out.append(nb::str(s.data(), s.size()));
    return out;
}

template <class T>
nb::object arr(std::vector<T>&& v) {
    return nb::cast(to_numpy_1d<T>(std::move(v)));
}

nb::object result_to_py(ReadResult&& r) {
    switch (r.kind) {
        case ResultKind::Dir: return str_list(r.keys());
        case ResultKind::I8: return arr(std::get<std::vector<std::int8_t>>(std::move(r.data)));
        case ResultKind::I16: return arr(std::get<std::vector<std::int16_t>>(std::move(r.data)));
        case ResultKind::I32: return arr(std::get<std::vector<std::int32_t>>(std::move(r.data)));
        case ResultKind::I64: return arr(std::get<std::vector<std::int64_t>>(std::move(r.data)));
        case ResultKind::U16: return arr(std::get<std::vector<std::uint16_t>>(std::move(r.data)));
        case ResultKind::U32: return arr(std::get<std::vector<std::uint32_t>>(std::move(r.data)));
        case ResultKind::U64: return arr(std::get<std::vector<std::uint64_t>>(std::move(r.data)));
        case ResultKind::F32: return arr(std::get<std::vector<float>>(std::move(r.data)));
        case ResultKind::F64: return arr(std::get<std::vector<double>>(std::move(r.data)));
        case ResultKind::U8:
        case ResultKind::Link: return arr(std::get<std::vector<std::uint8_t>>(std::move(r.data)));
    }
    return nb::none();
}

nb::object f64_2d(std::vector<double>&& v, std::size_t rows, std::size_t cols) {
    return nb::cast(to_numpy<double>(std::move(v), {rows, cols}));
}

// The (T, M) table check of an aggregation.
void check_shape(std::uint64_t T, std::uint64_t M, std::size_t n) {
    std::uint64_t want;
    if (__builtin_mul_overflow(T, M, &want)) raise(Error::value("ShapeError/Overflow: arithmetic overflow"));
    if (n < want) raise(Error::value("ShapeError/OutOfBounds: out of bounds indexing"));
    if (n > want) raise(Error::value("ShapeError/IncompatibleShape: incompatible shapes"));
}


// ---- Selectors ------------------------------------------------------------

// Which of id, ids, name, names was given (at most one, checked before any
// conversion); nothing when none was.
enum class SelectorArg { None, Id, Ids, Name, Names };

SelectorArg selector_arg(nb::handle id, nb::handle ids, nb::handle name, nb::handle names) {
    int given = !id.is_none() + !ids.is_none() + !name.is_none() + !names.is_none();
    if (given > 1) raise(Error::value("pass only one of id, ids, name, names"));
    if (!id.is_none()) return SelectorArg::Id;
    if (!ids.is_none()) return SelectorArg::Ids;
    if (!name.is_none()) return SelectorArg::Name;
    if (!names.is_none()) return SelectorArg::Names;
    return SelectorArg::None;
}

results::EntitySelection convert_selector(SelectorArg k, nb::handle id, nb::handle ids, nb::handle name,
                                          nb::handle names) {
    results::EntitySelection s;
    s.by_id = k == SelectorArg::Id || k == SelectorArg::Ids;
    switch (k) {
        case SelectorArg::Id: s.ids.push_back(arg_i64(id, "id")); break;
        case SelectorArg::Ids: s.ids = arg_i64_seq(ids, "ids"); break;
        case SelectorArg::Name: s.names.push_back(arg_str(name, "name")); break;
        case SelectorArg::Names: s.names = arg_str_seq(names, "names"); break;
        case SelectorArg::None: break;
    }
    return s;
}

// The values of selected columns: [T] for one entity given as id/name,
// [T, k] for a list.
nb::object selected_values(results::StateColumns&& sc, SelectorArg k) {
    if (k == SelectorArg::Id || k == SelectorArg::Name) return arr(std::move(sc.values));
    return f64_2d(std::move(sc.values), sc.n_states, sc.n_columns);
}

// ---- The Python classes ---------------------------------------------------

struct PyBinout : Claimable {
    Binout b;
};

struct PyEditor : Claimable {
    BinoutEditor e;
};

nb::object py_read(PyBinout& self, nb::args args, nb::handle id, nb::handle ids, nb::handle name,
                   nb::handle names) {
    SharedClaim claim(self);
    const Binout& b = self.b;
    SymPath path;
    if (args.size() == 1 && (PyList_Check(args[0].ptr()) || PyTuple_Check(args[0].ptr()))) {
        path = arg_path(args[0], "path");
    } else {
        for (nb::handle a : args) {
            if (!PyUnicode_Check(a.ptr())) raise(Error::type("argument 'path': every segment must be str"));
            path.push_back(arg_str(a, "path"));
        }
    }
    SelectorArg k = selector_arg(id, ids, name, names);
    if (k != SelectorArg::None) {
        if (path.size() < 2) raise(Error::value("read(branch, var, id=/name=...) needs a branch and a variable"));
        results::EntitySelection sel = convert_selector(k, id, ids, name, names);
        SymPath branch(path.begin(), path.end() - 1);
        auto picked = unwrap(released([&] { return b.read_selected(branch, path.back(), sel); }));
        return selected_values(std::move(picked.columns), k);
    }
    auto read = unwrap(released([&] { return b.read_path(path); }));
    switch (read.kind) {
        case results::PathRead::Kind::Dataset: return result_to_py(std::move(read.dataset));
        case results::PathRead::Kind::Listing: return str_list(read.listing);
        case results::PathRead::Kind::Aggregate: break;
    }
    results::StateValues& sv = read.aggregate;
    if (sv.n_channels > 1) {
        check_shape(sv.n_states, sv.n_channels, sv.values.size());
        return f64_2d(std::move(sv.values), sv.n_states, sv.n_channels);
    }
    return arr(std::move(sv.values));
}

nb::object py_read_states(PyBinout& self, nb::handle branch_h, nb::handle var_h, nb::handle id, nb::handle ids,
                          nb::handle name, nb::handle names) {
    SharedClaim claim(self);
    const Binout& b = self.b;
    SymPath branch = arg_branch(branch_h, "branch");
    std::string var = arg_str(var_h, "var");
    SelectorArg k = selector_arg(id, ids, name, names);
    nb::dict d;
    if (k == SelectorArg::None) {
        auto sv = unwrap(released([&] { return b.read_states(branch, var); }));
        check_shape(sv.n_states, sv.n_channels, sv.values.size());
        d["time"] = arr(std::move(sv.times));
        d["values"] = f64_2d(std::move(sv.values), sv.n_states, sv.n_channels);
        d["ids"] = arr(std::move(sv.ids));
        d["n_steps"] = nb::int_(sv.n_states);
        d["n_channels"] = nb::int_(sv.n_channels);
        return d;
    }
    results::EntitySelection sel = convert_selector(k, id, ids, name, names);
    auto picked = unwrap(released([&] { return b.read_selected(branch, var, sel); }));
    d["time"] = arr(std::move(picked.columns.times));
    d["values"] = selected_values(std::move(picked.columns), k);
    d["ids"] = arr(std::move(picked.ids));
    return d;
}

// A Python value as a dataset.
results::EditDataset pyany_to_data(nb::handle v) {
    results::EditDataset d;
    if (PyUnicode_Check(v.ptr())) {
        std::string s = arg_str(v, "values");
        d.variant = 10;
        d.bytes.assign(s.begin(), s.end());
        return d;
    }
    const char* msg = "expected a 1-D numpy array, a list of numbers, or a str";
    if (is_ndarray(v)) {
        nb::object dtype = nb::borrow(v).attr("dtype");
        std::string kind = nb::cast<std::string>(dtype.attr("kind"));
        if (kind == "c") raise(Error::type(msg));  // would silently drop the imaginary parts
        auto size = nb::cast<std::size_t>(dtype.attr("itemsize"));
        int variant = -1;
        const char* native = nullptr;
        if (kind == "f" && size == 8) variant = 9, native = "<f8";
        else if (kind == "f" && size == 4) variant = 8, native = "<f4";
        else if (kind == "i" && size == 8) variant = 3, native = "<i8";
        else if (kind == "i" && size == 4) variant = 2, native = "<i4";
        else if (kind == "i" && size == 2) variant = 1, native = "<i2";
        else if (kind == "i" && size == 1) variant = 0, native = "i1";
        else if (kind == "u" && size == 8) variant = 7, native = "<u8";
        else if (kind == "u" && size == 4) variant = 6, native = "<u4";
        else if (kind == "u" && size == 2) variant = 5, native = "<u2";
        else if (kind == "u" && size == 1) variant = 4, native = "u1";
        if (variant >= 0) {
            nb::module_ np = nb::module_::import_("numpy");
            nb::object c = np.attr("ascontiguousarray")(v, nb::arg("dtype") = native);
            ArrayView view;
            if (!view.get(c)) raise(Error::type(msg));
            d.variant = static_cast<std::uint8_t>(variant);
            const std::size_t width = view.itemsize();
            d.bytes.resize(view.size() * width);
            unsigned char* out = d.bytes.data();
            view.each([&](const char* p) {
                std::memcpy(out, p, width);
                out += width;
            });
            return d;
        }
    }
    if (!PySequence_Check(v.ptr())) raise(Error::type(msg));
    PyObject* fast = PySequence_Fast(v.ptr(), "");
    if (!fast) {
        PyErr_Clear();
        raise(Error::type(msg));
    }
    nb::object keep = nb::steal(fast);
    Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
    PyObject** items = PySequence_Fast_ITEMS(fast);
    std::vector<double> vals(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        double x = PyFloat_AsDouble(items[i]);
        if (x == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            raise(Error::type(msg));
        }
        vals[static_cast<std::size_t>(i)] = x;
    }
    d.variant = 9;
    d.bytes.resize(vals.size() * 8);
    if (!vals.empty()) std::memcpy(d.bytes.data(), vals.data(), d.bytes.size());
    return d;
}

template <class T>
nb::object data_arr(const results::EditDataset& d) {
    std::vector<T> v(d.bytes.size() / sizeof(T));
    if (!v.empty()) std::memcpy(v.data(), d.bytes.data(), v.size() * sizeof(T));
    return arr(std::move(v));
}

nb::object data_to_py(const results::EditDataset& d) {
    switch (d.variant) {
        case 0: return data_arr<std::int8_t>(d);
        case 1: return data_arr<std::int16_t>(d);
        case 2: return data_arr<std::int32_t>(d);
        case 3: return data_arr<std::int64_t>(d);
        case 4: return data_arr<std::uint8_t>(d);
        case 5: return data_arr<std::uint16_t>(d);
        case 6: return data_arr<std::uint32_t>(d);
        case 7: return data_arr<std::uint64_t>(d);
        case 8: return data_arr<float>(d);
        case 9: return data_arr<double>(d);
        default: {
            std::string s = text::utf8_lossy(
                std::string_view(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size()));
            return nb::str(s.data(), s.size());
        }
    }
}

const char* kReadDoc =
    "Read a dataset, list a directory, or aggregate a variable over a branch's states.\n\n"
    "The path is given as separate str segments or as one list/tuple of str.  A dataset is returned as a "
    "NumPy array of its stored dtype; a directory lists the variables of its first state directory (or its own "
    "children when it has none).  A path that is not a dataset aggregates its last segment (the variable) over "
    "the state directories of the branch its other segments name, at any depth (read(\"nodout\", "
    "\"x_acceleration\"), read(\"elout\", \"shell\", \"sig_xx\")), into float64 [T, M] ([T] when M <= 1); "
    "paths of three or more segments aggregate only when that branch has state directories.  With one of id, "
    "ids, name, names (branch segments, then the variable) the selected entity columns are returned, float64 "
    "[T] for id/name, [T, k] otherwise.";

}  // namespace

void bind_binout(nb::module_& m) {
    nb::class_<PyBinout>(m, "Binout",
                         "A binout (LSDA time-history database): one file or a numbered family (base, base%001, ...) "
                         "indexed once and read by directory path.",
                         nb::is_final())
        .def(
            "__init__",
            [](PyBinout* self, nb::handle pattern) {
                std::string p = arg_str(pattern, "pattern");
                Binout b = unwrap(released([&] { return Binout::open(p); }));
                new (self) PyBinout();
                self->b = std::move(b);
            },
            nb::arg("pattern"), nb::sig("def __init__(self, pattern: str) -> None"),
            "Open the binout files matching a glob pattern or plain path, with their continuation files "
            "(name%001, name%002, ... up to the first gap).  Raises FileNotFoundError \"File not found\" when "
            "nothing matches, RuntimeError for unreadable or corrupt files.")
        .def_prop_ro(
            "files",
            [](const PyBinout& self) {
                SharedClaim claim(self);
                nb::list out;
                for (const auto& f : self.b.files()) {
                    std::string s = text::utf8_lossy(f);
                    out.append(nb::str(s.data(), s.size()));
                }
                return out;
            },
            nb::sig("def files(self) -> list[str]"), "The family's files, sorted (a base file before its continuations).")
        .def(
            "__repr__",
            [](const PyBinout& self) {
                SharedClaim claim(self);
                return "Binout(" + std::to_string(self.b.files().size()) + " file(s))";
            },
            "Binout({n} file(s)).")
        .def(
            "channels",
            [](const PyBinout& self, nb::handle path) {
                SharedClaim claim(self);
                SymPath p = arg_path(path, "path");
                return str_list(unwrap(released([&] { return self.b.read(p); })).keys());
            },
            nb::arg("path") = nb::list(), nb::sig("def channels(self, path: collections.abc.Sequence[str] = []) -> list[str]"),
            "Child names of the directory at path (sorted); [] for a dataset.")
        .def("read", &py_read, nb::arg("path"), nb::arg("id") = nb::none(), nb::arg("ids") = nb::none(),
             nb::arg("name") = nb::none(), nb::arg("names") = nb::none(),
             nb::sig("def read(self, *path: str | collections.abc.Sequence[str], id: int | None = None, "
                     "ids: collections.abc.Sequence[int] | None = None, name: str | None = None, "
                     "names: collections.abc.Sequence[str] | None = None) -> object"),
             kReadDoc)
        .def("read_states", &py_read_states, nb::arg("branch"), nb::arg("var"), nb::arg("id") = nb::none(),
             nb::arg("ids") = nb::none(), nb::arg("name") = nb::none(), nb::arg("names") = nb::none(),
             nb::sig("def read_states(self, branch: str | collections.abc.Sequence[str], var: str, id: int | None = None, "
                     "ids: collections.abc.Sequence[int] | None = None, name: str | None = None, "
                     "names: collections.abc.Sequence[str] | None = None) -> dict[str, object]"),
             "Aggregate var over the branch's state directories; the branch is a path of any depth, as "
             "\"elout/shell\" or a sequence of segments.  Without a selector: {\"time\": [T], "
             "\"values\": [T, M], \"ids\", \"n_steps\": T, \"n_channels\": M}.  With id, ids, name or names: "
             "{\"time\", \"values\" ([T] for id/name, [T, k] otherwise), \"ids\": the selected columns' ids}.")
        .def(
            "read_time_series",
            [](const PyBinout& self, nb::handle path) {
                SharedClaim claim(self);
                SymPath p = arg_path(path, "path");
                auto series = unwrap(released([&] { return self.b.read_time_series(p); }));
                nb::dict d;
                d["time"] = arr(std::move(series.times));
                d["values"] = arr(std::move(series.values));
                d["channel"] = nb::str(p.back().data(), p.back().size());
                return d;
            },
            nb::arg("path"), nb::sig("def read_time_series(self, path: collections.abc.Sequence[str]) -> dict[str, object]"),
            "A dataset as float64 values with the sibling \"time\" dataset (0, 1, ... n-1 when there is none): "
            "{\"time\", \"values\", \"channel\"}.")
        .def(
            "read_f64",
            [](const PyBinout& self, nb::handle path) {
                SharedClaim claim(self);
                SymPath p = arg_path(path, "path");
                return arr(unwrap(released([&] { return self.b.read_f64(p); })));
            },
            nb::arg("path"), nb::sig("def read_f64(self, path: collections.abc.Sequence[str]) -> numpy.ndarray"),
            "A dataset converted to a 1-D float64 array (a directory gives an empty array).")
        .def(
            "read_many",
            [](const PyBinout& self, nb::handle paths) {
                SharedClaim claim(self);
                std::vector<SymPath> ps = arg_paths(paths, "paths");
                std::vector<LsdaResult<ReadResult>> rs = released([&] { return self.b.read_many(ps); });
                for (auto& r : rs)
                    if (!r) raise(r.error());
                nb::list out;
                for (auto& r : rs) out.append(result_to_py(std::move(r).value()));
                return out;
            },
            nb::arg("paths"), nb::sig("def read_many(self, paths: collections.abc.Sequence[collections.abc.Sequence[str]]) -> list[object]"),
            "Read many paths in parallel: a list aligned with paths (arrays of their stored dtype, or lists of "
            "names for directories).  The first failing path raises.")
        .def(
            "ids",
            [](const PyBinout& self, nb::handle branch) {
                SharedClaim claim(self);
                SymPath br = arg_branch(branch, "branch");
                return arr(unwrap(released([&] { return self.b.ids(br); })));
            },
            nb::arg("branch"), nb::sig("def ids(self, branch: str | collections.abc.Sequence[str]) -> numpy.ndarray"),
            "The branch's entity ids (branch/metadata/ids) as int64; the branch is \"nodout\", "
            "\"elout/shell\" or a sequence of segments.")
        .def(
            "legend",
            [](const PyBinout& self, nb::handle branch) {
                SharedClaim claim(self);
                return str_list(unwrap(self.b.legend(arg_branch(branch, "branch"))));
            },
            nb::arg("branch"), nb::sig("def legend(self, branch: str | collections.abc.Sequence[str]) -> list[str]"),
            "The branch's entity names (branch/metadata/legend cut into one piece per id, trimmed); the branch "
            "as for ids().")
        .def(
            "title",
            [](const PyBinout& self, nb::handle branch) {
                SharedClaim claim(self);
                std::string t = unwrap(self.b.title(arg_branch(branch, "branch")));
                return nb::str(t.data(), t.size());
            },
            nb::arg("branch"), nb::sig("def title(self, branch: str | collections.abc.Sequence[str]) -> str"),
            "The branch's title (branch/metadata/title as text, trimmed); the branch as for ids().");
}

void bind_parse_binout(nb::module_& m) {
    m.def(
        "parse_binout",
        [](nb::handle pattern) {
            arg_str(pattern, "pattern");
            return nb::borrow(nb::type<PyBinout>())(pattern);
        },
        nb::arg("pattern"), nb::sig("def parse_binout(pattern: str) -> Binout"),
        "Open a binout (glob pattern or plain path): the same as Binout(pattern).");
}

void bind_binout_editor(nb::module_& m) {
    nb::class_<PyEditor>(m, "BinoutEditor",
                         "A whole binout held in memory as directories and typed datasets, edited by path and "
                         "written back as one complete LSDA file.",
                         nb::is_final())
        .def(
            "__init__",
            [](PyEditor* self, nb::handle path) {
                BinoutEditor e;
                if (!path.is_none()) {
                    std::string p = arg_str(path, "path");
                    e = unwrap(released([&] { return BinoutEditor::load(p); }));
                }
                new (self) PyEditor();
                self->e = std::move(e);
            },
            nb::arg("path") = nb::none(), nb::sig("def __init__(self, path: str | None = None) -> None"),
            "An empty editor, or one holding a copy of every dataset of the binout at path (glob pattern or "
            "plain path, with continuation files, as for Binout).")
        .def(
            "list",
            [](const PyEditor& self, nb::handle path) -> nb::object {
                ExclusiveClaim claim(self);
                const results::EditNode* n = self.e.find(arg_path(path, "path"));
                if (!n || !n->is_dir) return nb::none();
                nb::list out;
                for (const auto& [name, child] : n->children) {
                    std::string s = text::utf8_lossy(name);
                    out.append(nb::str(s.data(), s.size()));
                }
                return out;
            },
            nb::arg("path") = nb::list(), nb::sig("def list(self, path: collections.abc.Sequence[str] = []) -> list[str] | None"),
            "Child names of the directory at path, sorted; None for a dataset or a missing path.")
        .def(
            "get",
            [](const PyEditor& self, nb::handle path) -> nb::object {
                ExclusiveClaim claim(self);
                const results::EditNode* n = self.e.find(arg_path(path, "path"));
                if (!n || n->is_dir) return nb::none();
                return data_to_py(n->data);
            },
            nb::arg("path"), nb::sig("def get(self, path: collections.abc.Sequence[str]) -> numpy.ndarray | str | None"),
            "The dataset at path as a NumPy array of its dtype (str for text); None for a directory or a "
            "missing path.")
        .def(
            "set",
            [](PyEditor& self, nb::handle path, nb::handle values) {
                ExclusiveClaim claim(self);
                SymPath p = arg_path(path, "path");
                results::EditDataset d = pyany_to_data(values);
                unwrap(self.e.set(p, std::move(d)));
            },
            nb::arg("path"), nb::arg("values"),
            nb::sig("def set(self, path: collections.abc.Sequence[str], values: numpy.ndarray | collections.abc.Sequence[float] | str) -> None"),
            "Create or replace the dataset at path (missing parent directories are created).  A NumPy array "
            "keeps its dtype (int8..uint64, float32, float64; flattened), a list of numbers becomes float64, a "
            "str is stored as text.")
        .def(
            "remove",
            [](PyEditor& self, nb::handle path) {
                ExclusiveClaim claim(self);
                return self.e.remove(arg_path(path, "path"));
            },
            nb::arg("path"), nb::sig("def remove(self, path: collections.abc.Sequence[str]) -> bool"),
            "Remove the dataset or directory (with everything below it) at path; whether a node was removed.")
        .def(
            "to_bytes",
            [](const PyEditor& self) {
                ExclusiveClaim claim(self);
                std::string bytes = self.e.to_bytes();
                return nb::bytes(bytes.data(), bytes.size());
            },
            "The whole tree as one LSDA file.")
        .def(
            "write",
            [](const PyEditor& self, nb::handle path) {
                ExclusiveClaim claim(self);
                std::string p = arg_str(path, "path");
                std::string bytes = self.e.to_bytes();
                unwrap(released([&] { return tarvex::write_file(p, bytes); }));
            },
            nb::arg("path"), nb::sig("def write(self, path: str) -> None"),
            "Write the whole tree as one LSDA file (created or truncated).  Raises OSError on failure.");
}

}  // namespace tarvex::py
