// Python face of the batch workspace.
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <string>

#include "batch/workspace.hpp"
#include "python/bindings.hpp"
#include "python/deck.hpp"
#include "python/validate.hpp"
#include "util/pool.hpp"
#include "validate/rules.hpp"

namespace tarvex::py {

namespace {

struct PyWorkspace : Claimable {
    batch::Workspace ws;
};

}  // namespace

void bind_workspace(nb::module_& m) {
    nb::class_<PyWorkspace>(
        m, "Workspace",
        "A cache for parsing and validating many decks that share include files: each distinct file is read, "
        "split and scanned for definitions once, however many decks include it. Files are read once per "
        "workspace: a file changed on disk after it was cached is not read again (make a new Workspace to see "
        "new bytes). Decks from a workspace are ordinary Deck objects.",
        nb::is_final())
        .def(nb::init<>(), "An empty workspace.")
        .def(
            "parse_deck",
            [](PyWorkspace& self, const std::string& path) {
                SharedClaim c(self);
                return deck_to_py(unwrap(released([&] { return self.ws.parse_deck(path); })));
            },
            nb::arg("path"), nb::sig("def parse_deck(self, path: str) -> Deck"),
            "Parse one deck through the workspace's file cache (the interpreter lock is released). Raises "
            "RuntimeError when the root path cannot be resolved or read.")
        .def(
            "parse_decks",
            [](PyWorkspace& self, const std::vector<std::string>& paths) {
                SharedClaim c(self);
                auto results = released([&] {
                    std::vector<Result<std::unique_ptr<Deck>>> out;
                    out.reserve(paths.size());
                    for (const auto& p : paths) out.push_back(self.ws.parse_deck(p));
                    return out;
                });
                for (std::size_t i = 0; i < results.size(); ++i)
                    if (!results[i].ok()) raise(Error::runtime(paths[i] + ": " + results[i].error().message));
                nb::list out;
                for (auto& r : results) out.append(deck_to_py(std::move(r).value()));
                return out;
            },
            nb::arg("paths"), nb::sig("def parse_decks(self, paths: typing.Sequence[str]) -> list[Deck]"),
            "Parse every path in order through the cache (the interpreter lock is released). If any fails, "
            "raises RuntimeError '{path}: {error}' for the first failing path, after every path went through "
            "the cache.")
        .def(
            "validate_decks",
            [](PyWorkspace& self, nb::handle decks, nb::handle rules) {
                SharedClaim c(self);
                if (PyUnicode_Check(decks.ptr()) || !PySequence_Check(decks.ptr()))
                    raise(Error::type("argument 'decks' must be a sequence of Deck"));
                std::vector<nb::object> deck_objs;
                for (nb::handle h : nb::iter(decks)) {
                    if (!nb::isinstance<PyDeck>(h)) raise(Error::type("argument 'decks' must be a sequence of Deck"));
                    deck_objs.push_back(nb::borrow(h));
                }
                std::vector<validate::Rule> rule_list = rules_from_py(rules);
                std::vector<std::unique_ptr<SharedClaim>> claims;
                std::vector<const Deck*> ds;
                for (const auto& o : deck_objs) {
                    const PyDeck& pd = nb::cast<const PyDeck&>(o);
                    claims.push_back(std::make_unique<SharedClaim>(pd));
                    ds.push_back(pd.deck.get());
                }
                // The calling thread keeps the interpreter lock while the pool works.
                self.ws.prime(batch::distinct_files(ds));
                std::vector<validate::Report> reports = pool::parallel_map<validate::Report>(
                    ds.size(), [&](std::size_t i) { return validate::run_rules(*ds[i], rule_list); });
                nb::list out;
                for (auto& r : reports) out.append(report_to_py(std::move(r)));
                return out;
            },
            nb::arg("decks"), nb::arg("rules"),
            nb::sig("def validate_decks(self, decks: typing.Sequence[Deck], rules: typing.Sequence[Rule]) -> "
                    "list[Report]"),
            "Validate every deck against `rules`: the per-file definition ids of all distinct files are built "
            "once, then the decks run in parallel; one Report per deck, in input order (each the same as the "
            "deck's own validate would give).")
        .def(
            "stats",
            [](const PyWorkspace& self) {
                SharedClaim c(self);
                nb::dict d;
                d["files_parsed"] = self.ws.files_parsed();
                d["files_reused"] = self.ws.files_reused();
                d["def_indices_built"] = self.ws.shared_index()->def_indices_built();
                d["ref_indices_built"] = self.ws.shared_index()->ref_indices_built();
                return d;
            },
            nb::sig("def stats(self) -> dict[str, int]"),
            "The counters: files_parsed (read from disk), files_reused (served from the cache), "
            "def_indices_built and ref_indices_built (per-file definition and connectivity indices built).")
        .def("__repr__", [](const PyWorkspace& self) {
            SharedClaim c(self);
            return "Workspace(" + std::to_string(self.ws.files_parsed()) + " files read, " +
                   std::to_string(self.ws.files_reused()) + " reuses)";
        });
}

}  // namespace tarvex::py
