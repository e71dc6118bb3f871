// Python face of single keyword files: KeywordFile, parse_keyword_file and
// write_keyword.
#include <nanobind/stl/tuple.h>

#include <string>
#include <type_traits>

#include "file/write.hpp"
#include "keywords/library.hpp"
#include "keywords/library_columns.hpp"
#include "parser/parsed_file.hpp"
#include "parser/writer.hpp"
#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "python/keyword_common.hpp"
#include "schema/schema.hpp"
#include "util/text.hpp"

namespace tarvex::py {

nb::dict table_to_pydict(Table&& table) {
    nb::dict d;
    for (auto& [name, col] : table) {
        std::size_t rows = col.rows();
        nb::object value;
        if (col.kind == FieldType::Str) {
            nb::list out;
            if (col.count == 1) {
                for (auto& s : col.strs) out.append(nb::str(s.data(), s.size()));
            } else {
                for (std::size_t r = 0; r < rows; ++r) {
                    nb::list row;
                    for (std::size_t k = 0; k < col.count; ++k) {
                        const std::string& s = col.strs[r * col.count + k];
                        row.append(nb::str(s.data(), s.size()));
                    }
                    out.append(row);
                }
            }
            value = out;
        } else if (col.kind == FieldType::Int) {
            value = col.count == 1 ? nb::cast(to_numpy_1d(std::move(col.ints)))
                                   : nb::cast(to_numpy(std::move(col.ints), {rows, col.count}));
        } else {
            value = col.count == 1 ? nb::cast(to_numpy_1d(std::move(col.floats)))
                                   : nb::cast(to_numpy(std::move(col.floats), {rows, col.count}));
        }
        d[nb::str(name.data(), name.size())] = value;
    }
    return d;
}

Schema schema_from_args(const std::string& keyword, const LayoutArg& cards, bool repeat) {
    std::vector<std::vector<LayoutTuple>> tuples;
    for (const auto& card : cards) {
        std::vector<LayoutTuple> c;
        for (const auto& [name, type, width, count] : card)
            c.emplace_back(name, type, width.get("width"), count.get("count"));
        tuples.push_back(std::move(c));
    }
    return unwrap(build_schema(keyword, tuples, repeat));
}

void check_intact(const ParsedFile& f) {
    if (f.source && f.source->truncated_while_mapped())
        raise(Error{ErrorKind::OS, "file was truncated on disk while in use: " + f.path, 0});
}

namespace {

struct KeywordFile : Claimable {
    ParsedFile file;
};

std::size_t checked_block(const KeywordFile& kf, const Index& index) {
    std::uint64_t i = index.get("index");
    if (i >= kf.file.blocks.size()) raise(Error::index("block index " + std::to_string(i) + " out of range"));
    return static_cast<std::size_t>(i);
}


// A write_keyword column: 1-D int64, float64 or int32 array (any strides,
// copied), or a sequence of str.
bool array_column(nb::handle obj, WCol& out) {
    ArrayView array;
    if (!array.get(obj) || array.ndim() != 1) return false;
    auto gather = [&](auto tag) {
        using S = decltype(tag);
        std::vector<std::conditional_t<std::is_same_v<S, double>, double, std::int64_t>> dst;
        dst.reserve(array.size());
        array.each([&](const char* p) {
            S v;
            std::memcpy(&v, p, sizeof(S));
            dst.push_back(v);
        });
        out = std::move(dst);
        return true;
    };
    char c = array.format();
    std::size_t size = array.itemsize();
    if ((c == 'l' || c == 'q') && size == 8) return gather(std::int64_t{});
    if (c == 'd' && size == 8) return gather(double{});
    if ((c == 'i' || c == 'l') && size == 4) return gather(std::int32_t{});
    return false;
}

bool text_column(nb::handle obj, WCol& out) {
    if (PyUnicode_Check(obj.ptr()) || PyBytes_Check(obj.ptr()) || !PySequence_Check(obj.ptr())) return false;
    Py_ssize_t n = PySequence_Size(obj.ptr());
    if (n < 0) {
        PyErr_Clear();
        return false;
    }
    std::vector<std::string> v;
    v.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        nb::object item = nb::steal(PySequence_GetItem(obj.ptr(), i));
        if (!item.is_valid()) {
            PyErr_Clear();
            return false;
        }
        if (!PyUnicode_Check(item.ptr())) return false;
        Py_ssize_t len;
        const char* s = PyUnicode_AsUTF8AndSize(item.ptr(), &len);
        if (!s) {
            PyErr_Clear();
            return false;
        }
        v.emplace_back(s, static_cast<std::size_t>(len));
    }
    out = std::move(v);
    return true;
}

std::size_t wcol_size(const WCol& c) {
    return std::visit([](const auto& v) { return v.size(); }, c);
}

}  // namespace

void bind_keyword_file(nb::module_& m) {
    nb::class_<KeywordFile>(m, "KeywordFile",
                            "One LS-DYNA keyword file split into blocks: byte-exact round trip, block access, "
                            "columnar reads and whole-block edits. Made by parse_keyword_file().",
                            nb::is_final())
        .def_prop_ro(
            "num_blocks",
            [](const KeywordFile& k) {
                SharedClaim c(k);
                return k.file.blocks.size();
            },
            "Number of keyword blocks.")
        .def_prop_ro(
            "dirty",
            [](const KeywordFile& k) {
                SharedClaim c(k);
                return k.file.dirty();
            },
            "Whether any block has a pending edit.")
        .def(
            "block_names",
            [](const KeywordFile& k) {
                SharedClaim c(k);
                std::vector<std::string> names;
                names.reserve(k.file.blocks.size());
                for (const Block& b : k.file.blocks) names.push_back(keyword_name(k.file, b));
                check_intact(k.file);
                return names;
            },
            "Keyword name of every block, in file order, as written (no '*', options not included).")
        .def(
            "keyword",
            [](const KeywordFile& k, const Index& index) {
                SharedClaim c(k);
                std::size_t i = checked_block(k, index);
                const Block& b = k.file.blocks[i];
                nb::dict d;
                d["name"] = keyword_name(k.file, b);
                d["options"] = keyword_options(k.file, b);
                d["cards"] = card_iter(k.file.body(b), b.format);
                check_intact(k.file);
                return d;
            },
            nb::arg("index"),
            nb::sig("def keyword(self, index: int) -> dict[str, typing.Any]"),
            "The block at `index` as a dict: 'name' (str), 'options' (list[str]) and 'cards' "
            "(list[list[str]], the card lines cut into fields). Pending edits are not seen.")
        .def(
            "parse_schema",
            [](const KeywordFile& k, const std::string& keyword, const LayoutArg& cards, std::optional<Bool> repeat) {
                SharedClaim c(k);
                Schema schema = schema_from_args(keyword, cards, repeat.value_or(Bool{}).v);
                Table table = released([&] { return parse_schema_files({&k.file}, schema); });
                check_intact(k.file);
                return table_to_pydict(std::move(table));
            },
            nb::arg("keyword"), nb::arg("cards"), nb::arg("repeat") = nb::none(),
            nb::sig("def parse_schema(self, keyword: str, cards: typing.Sequence[typing.Sequence[tuple[str, str, int, "
                    "int]]], repeat: bool = False) -> dict[str, typing.Any]"),
            "Read every block named `keyword` (case-insensitive, whole name) against a layout: `cards` is a "
            "list of cards, each a list of (name, type, width, count) with type 'int', 'float' or 'str'. With "
            "`repeat` the cards repeat until the block's card lines run out. Returns a dict of columns: int64 / "
            "float64 arrays (2-D (rows, count) when count > 1) and lists of str.")
        .def(
            "parse_builtin",
            [](const KeywordFile& k, const std::string& keyword) {
                SharedClaim c(k);
                std::optional<Table> table =
                    released([&] { return keywords::read_library_columns({&k.file}, keyword); });
                if (!table) raise(Error::key("'" + keyword + "' is not in the built-in keyword library"));
                check_intact(k.file);
                return table_to_pydict(std::move(*table));
            },
            nb::arg("keyword"), nb::sig("def parse_builtin(self, keyword: str) -> dict[str, typing.Any]"),
            "Read every block of `keyword` with its layout from the built-in keyword library, as the solver "
            "reads it (the name is looked up without regard to case; blocks are matched against the library's "
            "name). A name ending in _TITLE or _ID that the library lacks is read with its base entry plus the "
            "title line (a first column TITLE) or the ID card. Blank lines before a block's last card line are "
            "cards with default values; cards whose condition is false are skipped; missing trailing cards read "
            "as defaults; a block holding several records gives one row per record. A layout with a table "
            "(curve points, set members) gives one row per table row, the record's other values repeated on "
            "each row. Returns the same dict of columns as parse_schema. Raises KeyError when the library has "
            "no layout for the keyword.")
        .def(
            "set_keyword",
            [](KeywordFile& k, const Index& index, const std::string& name,
               const std::vector<std::vector<std::string>>& cards, std::optional<std::vector<std::string>> options) {
                ExclusiveClaim c(k);
                std::size_t i = checked_block(k, index);
                set_keyword(k.file, i, name, cards, options.value_or(std::vector<std::string>{}));
            },
            nb::arg("index"), nb::arg("name"), nb::arg("cards"), nb::arg("options") = nb::none(),
            "Replace block `index` by the keyword line '*name options...' and the given cards, written "
            "comma-separated. Comment lines in front of the block are kept; every other block keeps its bytes.")
        .def(
            "to_bytes",
            [](const KeywordFile& k) {
                SharedClaim c(k);
                std::string out = to_bytes(k.file);
                check_intact(k.file);
                return nb::bytes(out.data(), out.size());
            },
            "The file's bytes with pending edits applied.")
        .def(
            "write",
            [](const KeywordFile& k, const std::string& path) {
                SharedClaim c(k);
                std::string out = to_bytes(k.file);
                check_intact(k.file);
                unwrap(write_file(path, out));
            },
            nb::arg("path"),
            "Write to_bytes() to `path`, creating or replacing the file (also the file this object was read "
            "from). Edits stay pending.")
        .def("__repr__", [](const KeywordFile& k) {
            SharedClaim c(k);
            return "KeywordFile('" + text::utf8_lossy(k.file.path) + "', " + std::to_string(k.file.blocks.size()) +
                   " blocks" + (k.file.dirty() ? ", edited" : "") + ")";
        });
}

void bind_parse_keyword_file(nb::module_& m) {
    m.def(
        "parse_keyword_file",
        [](const std::string& path) {
            auto kf = std::make_unique<KeywordFile>();
            kf->file = unwrap(released([&] { return parse_file_blocks(path); }));
            return kf.release();
        },
        nb::arg("path"), nb::rv_policy::take_ownership,
        "Read and split an LS-DYNA keyword file into blocks. Raises OSError when the file cannot be opened "
        "or mapped.");
}

void bind_write_keyword(nb::module_& m) {
    m.def(
        "write_keyword",
        [](const std::string& path, const std::string& name, nb::dict columns) {
            std::vector<WCol> cols;
            for (auto [key, value] : columns) {
                WCol c;
                if (!array_column(value, c) && !text_column(value, c))
                    raise(Error::type("each column must be an int64/float64 numpy array or a list[str]"));
                cols.push_back(std::move(c));
            }
            if (cols.empty()) raise(Error::value("no columns given"));
            std::size_t rows = wcol_size(cols[0]);
            for (const auto& c : cols)
                if (wcol_size(c) != rows) raise(Error::value("all columns must have the same length"));
            std::string out = released([&] { return emit_free_deck(name, cols, rows); });
            unwrap(write_file(path, out));
        },
        nb::arg("path"), nb::arg("name"), nb::arg("columns"),
        nb::sig("def write_keyword(path: str, name: str, columns: dict[typing.Any, typing.Any]) -> None"),
        "Write a single-keyword deck: '*KEYWORD', '*name', one comma-separated card line per row, '*END'. "
        "`columns` maps any keys to equally long columns, in dict order: 1-D int64 / float64 / int32 NumPy "
        "arrays or sequences of str.");
}

}  // namespace tarvex::py
