// Python face of deck models: parse_deck, Deck and its handles Entity,
// Keyword and File.
#include "python/deck.hpp"

#include <nanobind/stl/pair.h>
#include <nanobind/stl/tuple.h>

#include <cmath>
#include <string>

#include "file/write.hpp"
#include "keywords/library.hpp"
#include "keywords/library_columns.hpp"
#include "model/fields.hpp"
#include "model/indices.hpp"
#include "model/lines.hpp"
#include "python/bindings.hpp"
#include "python/keyword_common.hpp"
#include "python/validate.hpp"
#include "schema/schema.hpp"
#include "util/text.hpp"

namespace tarvex::py {

namespace {

struct PyEntity {
    nb::object deck;
    std::int64_t id = 0;
    std::size_t file = 0, block = 0;
    EntityKind kind = EntityKind::Part;
};

struct PyKeyword {
    nb::object deck;
    std::size_t file = 0, block = 0;
};

struct PyFile {
    nb::object deck;
    std::size_t file = 0;
};

PyDeck& deck_of(const nb::object& o) { return nb::cast<PyDeck&>(o); }

std::string path_text(const ParsedFile& f) { return text::utf8_lossy(f.path); }

// The text a field write puts into the file.
std::string coerce_value(nb::handle value) {
    if (PyUnicode_Check(value.ptr())) return nb::cast<std::string>(value);
    if (PyLong_Check(value.ptr())) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (v == -1 && PyErr_Occurred()) PyErr_Clear();
        else if (!overflow) return std::to_string(v);
    }
    double d = PyFloat_AsDouble(value.ptr());
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        raise(Error::type("value must be str, int, or float"));
    }
    return model::field_text_of_double(d);
}

nb::object outcome_to_py(SetFieldOutcome r) {
    if (r == SetFieldOutcome::NotApplied) return nb::none();
    return nb::str(r == SetFieldOutcome::InPlace ? "in_place" : "reflowed");
}

nb::object value_to_py(const std::optional<model::Value>& v) {
    if (!v) return nb::none();
    switch (v->kind) {
        case model::Value::Kind::Int: return nb::int_(v->i);
        case model::Value::Kind::Float: return nb::float_(v->f);
        case model::Value::Kind::Str: return nb::str(v->s.data(), v->s.size());
    }
    return nb::none();
}

std::string block_name(const Deck& d, std::size_t file, std::size_t block) {
    const ParsedFile& f = d.files[file];
    return keyword_name(f, f.blocks[block]);
}

nb::object make_entity(const nb::object& deck, EntityKind kind, std::int64_t id, model::Site s) {
    return nb::cast(PyEntity{deck, id, s.file, s.block, kind});
}

// Look (kind, id) up with the |id| fallback; an Entity carrying `id`.
nb::object lookup(const nb::object& deck, EntityKind kind, std::int64_t id) {
    const Deck& d = *deck_of(deck).deck;
    auto site = model::site_index(d).find_or_abs(kind, id);
    if (!site) return nb::none();
    return make_entity(deck, kind, id, *site);
}

// A reference value of the entity's file moved into the deck's id space.
std::int64_t global_ref(const Deck& d, std::size_t file, EntityKind kind, std::int64_t v) {
    const auto& t = d.file_transforms()[file];
    return t ? shift_ref(v, offset_for(*t, kind)) : v;
}

nb::object follow_first_ref(const PyEntity& e, EntityKind kind) {
    SharedClaim c(deck_of(e.deck));
    const Deck& d = *deck_of(e.deck).deck;
    auto v = model::first_ref_to(d, e.file, e.block, kind);
    if (!v || *v == 0) return nb::none();
    return lookup(e.deck, kind, global_ref(d, e.file, kind, *v));
}

nb::object follow_reference(const PyEntity& e, const std::string& name) {
    SharedClaim c(deck_of(e.deck));
    const Deck& d = *deck_of(e.deck).deck;
    const keywords::KeywordDef* def = keywords::find(keywords::canonical_base(block_name(d, e.file, e.block)));
    if (!def) return nb::none();
    auto pos = keywords::find_field(*def, name);
    if (!pos) return nb::none();
    auto v = model::entity_field(d, e.file, e.block, pos->def->name_view());
    std::int64_t id;
    if (!v || v->kind == model::Value::Kind::Str) return nb::none();
    id = v->kind == model::Value::Kind::Int ? v->i : model::truncate_saturating(v->f);
    const FieldRef& r = pos->def->refers;
    if (r.tag == FieldRef::Tag::Kind) return lookup(e.deck, r.kind, global_ref(d, e.file, r.kind, id));
    if (r.tag == FieldRef::Tag::AnyOf)
        for (std::uint8_t i = 0; i < r.any_count; ++i) {
            nb::object hit = lookup(e.deck, r.any_of[i], global_ref(d, e.file, r.any_of[i], id));
            if (!hit.is_none()) return hit;
        }
    return nb::none();
}

// The named field write of a keyword occurrence.
nb::object set_named_field(const nb::object& deck, std::size_t file, std::size_t block, const std::string& name,
                           nb::handle value) {
    std::string text = coerce_value(value);
    PyDeck& pd = deck_of(deck);
    ExclusiveClaim c(pd);
    Deck& d = *pd.deck;
    auto loc = model::keyword_field(d, file, block, name);
    if (!loc) return nb::none();
    model::FieldWrite w = model::field_write_target(*loc);
    return outcome_to_py(set_data_line_field(d.files[file], block, w.line, w.column, w.widths, text));
}

nb::list keyword_handles(const nb::object& deck, std::size_t file, const std::optional<std::string>& name) {
    const Deck& d = *deck_of(deck).deck;
    const ParsedFile& f = d.files[file];
    nb::list out;
    std::string base = name ? keywords::canonical_base(*name) : std::string();
    for (std::size_t b = 0; b < f.blocks.size(); ++b)
        if (!name || keywords::canonical_base(keyword_name(f, f.blocks[b])) == base)
            out.append(nb::cast(PyKeyword{deck, file, b}));
    return out;
}

// Whether `path` ends with `suffix` at a component boundary.
bool ends_with_components(std::string_view path, std::string_view suffix) {
    if (suffix.empty() || suffix.size() > path.size()) return false;
    if (path.substr(path.size() - suffix.size()) != suffix) return false;
    if (suffix.size() == path.size() || suffix.front() == '/') return true;
    return path[path.size() - suffix.size() - 1] == '/';
}

Table read_table(const PyDeck& pd, const Schema& schema) {
    const Deck& d = *pd.deck;
    std::vector<const ParsedFile*> files;
    for (const auto& f : d.files) files.push_back(&f);
    Table table = released([&] { return parse_schema_files(files, schema); });
    for (const auto& f : d.files) check_intact(f);
    return table;
}

std::unique_ptr<Deck> parse_deck_unlocked(const std::string& path) {
    return unwrap(released([&] { return parse_deck(path); }));
}



nb::list entities_of(const nb::object& deck, EntityKind kind) {
    SharedClaim c(deck_of(deck));
    const Deck& d = *deck_of(deck).deck;
    nb::list out;
    for (const auto& e : model::site_index(d).entries())
        if (e.kind == kind) out.append(make_entity(deck, kind, e.id, e.site));
    return out;
}

}  // namespace

nb::object deck_to_py(std::unique_ptr<Deck> d) {
    auto* pd = new PyDeck();
    pd->deck = std::move(d);
    return nb::cast(pd, nb::rv_policy::take_ownership);
}

void bind_deck(nb::module_& m) {

    auto cls = nb::class_<PyDeck>(m, "Deck",
                                  "A parsed deck: a root keyword file and every file it includes, with the id "
                                  "offsets of *INCLUDE_TRANSFORM composed down the include chain. Navigate it by "
                                  "entity (part, material, ...), keyword or file, read keywords as columns, edit "
                                  "fields and validate it against rules.",
                                  nb::is_final());
    add_deck_validate(cls);
    cls.def(
           "__init__",
           [](PyDeck* self, const std::string& path) {
               std::unique_ptr<Deck> d = parse_deck_unlocked(path);
               new (self) PyDeck();
               self->deck = std::move(d);
           },
           nb::arg("path"),
           "Parse the deck whose root file is `path` (the interpreter lock is released for the whole parse). "
           "Missing includes and include cycles are skipped. Raises RuntimeError when the root path cannot "
           "be resolved or read.")
        .def(
            "part", [](nb::object self, std::int64_t id) {
                SharedClaim c(deck_of(self));
                return lookup(self, EntityKind::Part, id);
            },
            nb::arg("id"), nb::sig("def part(self, id: int) -> Entity | None"),
            "The part defined with `id` (or with |id|), or None. The entity's id is the id passed in.")
        .def(
            "material", [](nb::object self, std::int64_t id) {
                SharedClaim c(deck_of(self));
                return lookup(self, EntityKind::Material, id);
            },
            nb::arg("id"), nb::sig("def material(self, id: int) -> Entity | None"),
            "The material defined with `id` (or with |id|), or None.")
        .def(
            "section", [](nb::object self, std::int64_t id) {
                SharedClaim c(deck_of(self));
                return lookup(self, EntityKind::Section, id);
            },
            nb::arg("id"), nb::sig("def section(self, id: int) -> Entity | None"),
            "The section defined with `id` (or with |id|), or None.")
        .def(
            "curve", [](nb::object self, std::int64_t id) {
                SharedClaim c(deck_of(self));
                return lookup(self, EntityKind::Curve, id);
            },
            nb::arg("id"), nb::sig("def curve(self, id: int) -> Entity | None"),
            "The curve (or table or function) defined with `id` (or with |id|), or None.")
        .def(
            "parts", [](nb::object self) { return entities_of(self, EntityKind::Part); },
            nb::sig("def parts(self) -> list[Entity]"),
            "Every defined part, each once (its first definition), in file then block order.")
        .def(
            "materials", [](nb::object self) { return entities_of(self, EntityKind::Material); },
            nb::sig("def materials(self) -> list[Entity]"),
            "Every defined material (thermal materials excluded), in file then block order.")
        .def(
            "sections", [](nb::object self) { return entities_of(self, EntityKind::Section); },
            nb::sig("def sections(self) -> list[Entity]"), "Every defined section, in file then block order.")
        .def(
            "curves", [](nb::object self) { return entities_of(self, EntityKind::Curve); },
            nb::sig("def curves(self) -> list[Entity]"),
            "Every defined curve, table and function, in file then block order.")
        .def(
            "keywords",
            [](nb::object self, const std::string& keyword) {
                SharedClaim c(deck_of(self));
                const Deck& d = *deck_of(self).deck;
                nb::list out;
                for (std::size_t f = 0; f < d.files.size(); ++f)
                    for (nb::handle h : keyword_handles(self, f, keyword)) out.append(h);
                return out;
            },
            nb::arg("keyword"), nb::sig("def keywords(self, keyword: str) -> list[Keyword]"),
            "Every block, files in deck order and blocks in file order, whose keyword has the same canonical "
            "base as `keyword` (upper case, a trailing _TITLE then _ID removed): SECTION_SHELL, "
            "section_shell_title and SECTION_SHELL_ID all match the same blocks.")
        .def(
            "file",
            [](nb::object self, const std::string& suffix) -> nb::object {
                SharedClaim c(deck_of(self));
                const Deck& d = *deck_of(self).deck;
                for (std::size_t f = 0; f < d.files.size(); ++f)
                    if (ends_with_components(d.files[f].path, suffix)) return nb::cast(PyFile{self, f});
                return nb::none();
            },
            nb::arg("suffix"), nb::sig("def file(self, suffix: str) -> File | None"),
            "The first file in deck order whose path ends with `suffix` by whole path components "
            "(sub.k matches /a/sub.k, not /a/mysub.k), or None.")
        .def(
            "files",
            [](nb::object self) {
                SharedClaim c(deck_of(self));
                nb::list out;
                for (std::size_t f = 0; f < deck_of(self).deck->files.size(); ++f) out.append(nb::cast(PyFile{self, f}));
                return out;
            },
            nb::sig("def files(self) -> list[File]"),
            "One File per file instance of the deck, the root first, in breadth-first include order.")
        .def(
            "table",
            [](const PyDeck& self, const std::string& keyword) {
                SharedClaim c(self);
                const Deck& d = *self.deck;
                std::vector<const ParsedFile*> files;
                for (const auto& f : d.files) files.push_back(&f);
                std::optional<Table> table = released([&] { return keywords::read_library_columns(files, keyword); });
                if (!table) raise(Error::key("'" + keyword + "' is not in the built-in keyword library"));
                for (const auto& f : d.files) check_intact(f);
                return table_to_pydict(std::move(*table));
            },
            nb::arg("keyword"), nb::sig("def table(self, keyword: str) -> dict[str, typing.Any]"),
            "Read every block of `keyword` in every file of the deck, in deck order, with its built-in layout "
            "as the solver reads it, as a dict of columns (the same as KeywordFile.parse_builtin: one row per "
            "record, or per table row with the record's header values repeated). Ids are as written (no "
            "transform offsets). Raises KeyError when the library does not hold the keyword.")
        .def(
            "table_with",
            [](const PyDeck& self, const std::string& keyword, const LayoutArg& cards, std::optional<Bool> repeat) {
                SharedClaim c(self);
                Schema schema = schema_from_args(keyword, cards, repeat.value_or(Bool{}).v);
                return table_to_pydict(read_table(self, schema));
            },
            nb::arg("keyword"), nb::arg("cards"), nb::arg("repeat") = nb::none(),
            nb::sig("def table_with(self, keyword: str, cards: typing.Sequence[typing.Sequence[tuple[str, str, "
                    "int, int]]], repeat: bool = False) -> dict[str, typing.Any]"),
            "Read every block named `keyword` in every file of the deck against a caller layout, as "
            "KeywordFile.parse_schema does.")
        .def(
            "register_schema",
            [](PyDeck& self, const std::string& keyword, const LayoutArg& cards, std::optional<Bool> repeat) {
                Schema schema = schema_from_args(keyword, cards, repeat.value_or(Bool{}).v);
                ExclusiveClaim c(self);
                self.deck->user_schemas[keywords::canonical_base(keyword)] = std::move(schema);
            },
            nb::arg("keyword"), nb::arg("cards"), nb::arg("repeat") = nb::none(),
            nb::sig("def register_schema(self, keyword: str, cards: typing.Sequence[typing.Sequence[tuple[str, "
                    "str, int, int]]], repeat: bool = False) -> None"),
            "Use a caller layout for the blocks of `keyword` (by canonical base) in Keyword.field, set_field and "
            "the reference scans, replacing any layout registered for the same base. Entity.field, table and "
            "indices already built are not affected.")
        .def(
            "definition_counts",
            [](const PyDeck& self) {
                SharedClaim c(self);
                nb::list out;
                for (const auto& [kind, count] : model::definition_counts(*self.deck))
                    out.append(nb::make_tuple(nb::str(entity_kind_name(kind)), count));
                return out;
            },
            nb::sig("def definition_counts(self) -> list[tuple[str, int]]"),
            "(kind, number of defined ids) for every kind some block defines, most numerous first; kinds with "
            "equal counts in kind order.")
        .def("__repr__", [](const PyDeck& self) {
            SharedClaim c(self);
            return "Deck(" + std::to_string(self.deck->files.size()) + " files)";
        });
}

void bind_entity(nb::module_& m) {
    nb::class_<PyEntity>(m, "Entity",
                         "A labelled definition of the deck (a part, material, section, curve, ...): the block "
                         "that defines it and the id it was looked up with.",
                         nb::is_final())
        .def_prop_ro(
            "kind", [](const PyEntity& e) { return entity_kind_name(e.kind); },
            "The entity kind: 'Part', 'Material', 'Section', 'Curve', or the kind a reference led to.")
        .def_prop_ro("id", [](const PyEntity& e) { return e.id; }, "The id the entity was looked up with.")
        .def_prop_ro(
            "keyword",
            [](const PyEntity& e) {
                SharedClaim c(deck_of(e.deck));
                return block_name(*deck_of(e.deck).deck, e.file, e.block);
            },
            "The full keyword name of the defining block (e.g. SECTION_SHELL_TITLE).")
        .def_prop_ro(
            "line",
            [](const PyEntity& e) {
                SharedClaim c(deck_of(e.deck));
                return deck_of(e.deck).deck->block_line(e.file, e.block);
            },
            "The 1-based line of the block's keyword line in its file.")
        .def_prop_ro(
            "file",
            [](const PyEntity& e) {
                SharedClaim c(deck_of(e.deck));
                return path_text(deck_of(e.deck).deck->files[e.file]);
            },
            "The path of the file that holds the defining block.")
        .def(
            "field",
            [](const PyEntity& e, const std::string& name) {
                SharedClaim c(deck_of(e.deck));
                return value_to_py(model::entity_field(*deck_of(e.deck).deck, e.file, e.block, name));
            },
            nb::arg("name"), nb::sig("def field(self, name: str) -> int | float | str | None"),
            "The named field of the defining block through its built-in layout (names compared without regard "
            "to case): int, float or str, or None when the field, its line or a readable value is missing.")
        .def(
            "set_field",
            [](const PyEntity& e, const std::string& name, nb::handle value) {
                return set_named_field(e.deck, e.file, e.block, name, value);
            },
            nb::arg("name"), nb::arg("value"),
            nb::sig("def set_field(self, name: str, value: str | int | float) -> str | None"),
            "Write the named field: 'in_place' when the text fits its columns, 'reflowed' when the card was "
            "rewritten comma-separated, None when the layout or block lacks the field. Other bytes are kept; "
            "reads and indices keep showing the file as parsed.")
        .def(
            "reference",
            [](const PyEntity& e, const std::string& name) { return follow_reference(e, name); }, nb::arg("name"),
            nb::sig("def reference(self, name: str) -> Entity | None"),
            "The entity the named reference field points at (offsets of the entity's file applied), or None.")
        .def(
            "material", [](const PyEntity& e) { return follow_first_ref(e, EntityKind::Material); },
            nb::sig("def material(self) -> Entity | None"),
            "The material named by the block's first material field, or None.")
        .def(
            "section", [](const PyEntity& e) { return follow_first_ref(e, EntityKind::Section); },
            nb::sig("def section(self) -> Entity | None"),
            "The section named by the block's first section field, or None.")
        .def(
            "eos", [](const PyEntity& e) { return follow_first_ref(e, EntityKind::Eos); },
            nb::sig("def eos(self) -> Entity | None"),
            "The equation of state named by the block's first EOS field, or None.")
        .def(
            "hourglass", [](const PyEntity& e) { return follow_first_ref(e, EntityKind::Hourglass); },
            nb::sig("def hourglass(self) -> Entity | None"),
            "The hourglass control named by the block's first hourglass field, or None.")
        .def_prop_ro(
            "offsets",
            [](const PyEntity& e) -> nb::object {
                SharedClaim c(deck_of(e.deck));
                const auto& t = deck_of(e.deck).deck->file_transforms()[e.file];
                if (!t) return nb::none();
                nb::dict d;
                for (std::size_t i = 0; i < 8; ++i) d[kOffsetMemberNames[i]] = t->v[i];
                return d;
            },
            nb::sig("def offsets(self) -> dict[str, int] | None"),
            "The *INCLUDE_TRANSFORM id offsets of the entity's file (idnoff, ideoff, idpoff, idmoff, idsoff, "
            "idfoff, iddoff, idroff), or None when all are 0.")
        .def("__repr__", [](const PyEntity& e) {
            SharedClaim c(deck_of(e.deck));
            return std::string("Entity(") + entity_kind_name(e.kind) + " " + std::to_string(e.id) + " [" +
                   block_name(*deck_of(e.deck).deck, e.file, e.block) + "])";
        });
}

void bind_keyword(nb::module_& m) {
    nb::class_<PyKeyword>(m, "Keyword", "One keyword block of a deck.", nb::is_final())
        .def_prop_ro(
            "name",
            [](const PyKeyword& k) {
                SharedClaim c(deck_of(k.deck));
                return block_name(*deck_of(k.deck).deck, k.file, k.block);
            },
            "The full keyword name of the block.")
        .def_prop_ro(
            "file",
            [](const PyKeyword& k) {
                SharedClaim c(deck_of(k.deck));
                return path_text(deck_of(k.deck).deck->files[k.file]);
            },
            "The path of the file that holds the block.")
        .def_prop_ro(
            "line",
            [](const PyKeyword& k) {
                SharedClaim c(deck_of(k.deck));
                return deck_of(k.deck).deck->block_line(k.file, k.block);
            },
            "The 1-based line of the block's keyword line in its file.")
        .def(
            "field",
            [](const PyKeyword& k, const std::string& name) -> nb::object {
                SharedClaim c(deck_of(k.deck));
                auto loc = model::keyword_field(*deck_of(k.deck).deck, k.file, k.block, name);
                if (!loc) return nb::none();
                return value_to_py(model::field_value(*loc));
            },
            nb::arg("name"), nb::sig("def field(self, name: str) -> int | float | str | None"),
            "The named field through the layout registered for the keyword, else its built-in layout: int, "
            "float or str (a blank or unreadable value gives the trimmed text, '' when blank); None when the "
            "layout or the block lacks the field.")
        .def(
            "set_field",
            [](const PyKeyword& k, const std::string& name, nb::handle value) {
                return set_named_field(k.deck, k.file, k.block, name, value);
            },
            nb::arg("name"), nb::arg("value"),
            nb::sig("def set_field(self, name: str, value: str | int | float) -> str | None"),
            "Write the named field: 'in_place', 'reflowed' or None (see Entity.set_field).")
        .def("__repr__", [](const PyKeyword& k) {
            SharedClaim c(deck_of(k.deck));
            const Deck& d = *deck_of(k.deck).deck;
            return "Keyword(" + block_name(d, k.file, k.block) + " [" + path_text(d.files[k.file]) + "])";
        });
}

void bind_file(nb::module_& m) {
    nb::class_<PyFile>(m, "File", "One file instance of a deck.", nb::is_final())
        .def_prop_ro(
            "path",
            [](const PyFile& f) {
                SharedClaim c(deck_of(f.deck));
                return path_text(deck_of(f.deck).deck->files[f.file]);
            },
            "The file's path (the resolved include path, or the resolved root path).")
        .def_prop_ro("index", [](const PyFile& f) { return f.file; }, "The file's index in the deck (0 is the root).")
        .def_prop_ro(
            "dirty",
            [](const PyFile& f) {
                SharedClaim c(deck_of(f.deck));
                return deck_of(f.deck).deck->files[f.file].dirty();
            },
            "Whether the file has a pending edit.")
        .def(
            "keywords",
            [](const PyFile& f, std::optional<std::string> name) {
                SharedClaim c(deck_of(f.deck));
                return keyword_handles(f.deck, f.file, name);
            },
            nb::arg("name") = nb::none(), nb::sig("def keywords(self, name: str | None = None) -> list[Keyword]"),
            "The file's blocks in order; with `name`, only those with the same canonical base.")
        .def(
            "set_field",
            [](const PyFile& f, const Index& block, const Index& row, const Index& col, nb::handle widths,
               nb::handle value) {
                if (PyUnicode_Check(widths.ptr()))
                    raise(Error::type("argument 'widths' must be a sequence of int, not str"));
                std::vector<std::size_t> ws;
                try {
                    for (nb::handle w : nb::iter(widths)) ws.push_back(nb::cast<Index>(w).get("widths"));
                } catch (const nb::cast_error&) {
                    raise(Error::type("argument 'widths' must be a sequence of int"));
                } catch (const nb::python_error&) {
                    raise(Error::type("argument 'widths' must be a sequence of int"));
                }
                std::uint64_t b = block.get("block"), r = row.get("row"), k = col.get("col");
                std::string text = coerce_value(value);
                PyDeck& pd = deck_of(f.deck);
                ExclusiveClaim c(pd);
                return outcome_to_py(set_data_line_field(pd.deck->files[f.file], b, r, k, ws, text));
            },
            nb::arg("block"), nb::arg("row"), nb::arg("col"), nb::arg("widths"), nb::arg("value"),
            nb::sig("def set_field(self, block: int, row: int, col: int, widths: typing.Sequence[int], value: str "
                    "| int | float) -> str | None"),
            "Write field `col` of data line `row` of block `block`, cutting fixed-format lines at `widths`: "
            "'in_place', 'reflowed', or None when the block, row or field does not exist.")
        .def(
            "to_bytes",
            [](const PyFile& f) {
                SharedClaim c(deck_of(f.deck));
                const ParsedFile& pf = deck_of(f.deck).deck->files[f.file];
                std::string out = to_bytes(pf);
                check_intact(pf);
                return nb::bytes(out.data(), out.size());
            },
            "The file's bytes with pending edits applied.")
        .def(
            "write",
            [](const PyFile& f, const std::string& path) {
                SharedClaim c(deck_of(f.deck));
                const ParsedFile& pf = deck_of(f.deck).deck->files[f.file];
                std::string out = to_bytes(pf);
                check_intact(pf);
                unwrap(write_file(path, out));
            },
            nb::arg("path"),
            "Write to_bytes() to `path`, replacing it atomically. Raises OSError when the system refuses.")
        .def("__repr__", [](const PyFile& f) {
            SharedClaim c(deck_of(f.deck));
            const ParsedFile& pf = deck_of(f.deck).deck->files[f.file];
            return "File('" + path_text(pf) + "'" + (pf.dirty() ? ", edited" : "") + ")";
        });
}

void bind_parse_deck(nb::module_& m) {
    m.def(
        "parse_deck", [](const std::string& path) { return deck_to_py(parse_deck_unlocked(path)); },
        nb::arg("path"), nb::sig("def parse_deck(path: str) -> Deck"),
        "Parse a deck from its root keyword file: the same as Deck(path).");
}

}  // namespace tarvex::py
