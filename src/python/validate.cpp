// Python face of validation: Rule, Predicate, Finding, Report, Cmp, Severity
// and Deck.validate.  Arguments are converted here; the rules run natively.
#include "python/validate.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "python/bindings.hpp"
#include "util/text.hpp"
#include "validate/expr.hpp"
#include "validate/rules.hpp"

namespace tarvex::py {

namespace {

using validate::ExprPtr;
using validate::Finding;
using validate::Report;
using validate::Rule;
using SeverityV = EnumValue<SeverityTag>;
using CmpV = EnumValue<CmpTag>;

struct PyPredicate {
    ExprPtr expr;
};

std::vector<std::string> patterns_arg(nb::handle h) { return arg_str_seq(h, "patterns"); }

validate::Severity severity_arg(nb::handle h) {
    if (!nb::isinstance<SeverityV>(h)) raise(type_error("severity", "Severity"));
    return static_cast<validate::Severity>(nb::cast<const SeverityV&>(h).value);
}

validate::Cmp cmp_arg(nb::handle h) {
    if (!nb::isinstance<CmpV>(h)) raise(type_error("cmp", "Cmp"));
    return static_cast<validate::Cmp>(nb::cast<const CmpV&>(h).value);
}

ExprPtr predicate_arg(nb::handle h, const char* param) {
    if (!nb::isinstance<PyPredicate>(h)) raise(type_error(param, "Predicate"));
    return nb::cast<const PyPredicate&>(h).expr;
}

std::vector<ExprPtr> predicates_arg(nb::handle h) {
    nb::object keep;
    std::vector<ExprPtr> out;
    for (nb::handle item : seq_items(h, "preds", "a sequence of Predicate", keep)) {
        if (!nb::isinstance<PyPredicate>(item)) raise(type_error("preds", "a sequence of Predicate"));
        out.push_back(nb::cast<const PyPredicate&>(item).expr);
    }
    return out;
}

// A rule value: an int (or anything converting to a 64-bit signed integer,
// bool included) is Int; else anything converting to a double is Float; else
// a str is Str; anything else is refused.
model::Value py_to_value(nb::handle h) {
    PyObject* o = h.ptr();
    if (PyLong_Check(o) || PyIndex_Check(o)) {
        nb::object as_int = PyLong_Check(o) ? nb::borrow(h) : nb::steal(PyNumber_Index(o));
        if (as_int.is_valid()) {
            int overflow = 0;
            long long v = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
            if (!(v == -1 && PyErr_Occurred()) && overflow == 0) return model::Value::of_int(v);
        }
        PyErr_Clear();
    }
    if (!PyUnicode_Check(o)) {
        double d = PyFloat_AsDouble(o);
        if (!(d == -1.0 && PyErr_Occurred())) return model::Value::of_float(d);
        PyErr_Clear();
    } else {
        return model::Value::of_str(arg_str(h, "value"));
    }
    raise(Error::value("rule value must be int, float, or str"));
}

std::vector<model::Value> values_arg(nb::handle h) {
    nb::object keep;
    std::vector<model::Value> out;
    for (nb::handle item : seq_items(h, "values", "a sequence of int, float or str", keep))
        out.push_back(py_to_value(item));
    return out;
}

nb::object severity_to_py(validate::Severity s) { return enum_member<SeverityTag>(static_cast<std::int64_t>(s)); }

const char* kRuleSig = "def {}() -> Rule";

}  // namespace

std::vector<validate::Rule> rules_from_py(nb::handle rules) {
    nb::object keep;
    std::vector<Rule> out;
    std::vector<nb::handle> items = seq_items(rules, "rules", "a sequence of Rule", keep);
    out.reserve(items.size());
    for (nb::handle item : items) {
        if (!nb::isinstance<Rule>(item)) raise(type_error("rules", "a sequence of Rule"));
        out.push_back(nb::cast<const Rule&>(item));
    }
    return out;
}

nb::object report_to_py(validate::Report&& report) {
    // The Python-side report holds the same record with every file as text.
    for (auto& f : report.findings) f.file = text::utf8_lossy(f.file);
    return nb::cast(std::move(report));
}

void add_deck_validate(nb::class_<PyDeck>& cls) {
    cls.def(
        "validate",
        [](const PyDeck& self, nb::handle rules) {
            std::vector<Rule> rs = rules_from_py(rules);
            SharedClaim claim(self);
            return report_to_py(released([&] { return validate::run_rules(*self.deck, rs); }));
        },
        nb::arg("rules").none(), nb::sig("def validate(self, rules: collections.abc.Sequence[Rule]) -> Report"),
        "Run the rules over the deck and return their findings as a Report.\n\n"
        "The rules run in parallel with the interpreter lock released; the findings come in the order of "
        "`rules`, each rule's in its own order.  An empty list gives an empty report.  Raises TypeError when "
        "an element is not a Rule.");
}

void bind_rule(nb::module_& m) {
    auto sig = [](const char* name) {
        std::string s = kRuleSig;
        return s.replace(s.find("{}"), 2, name);
    };
    static const std::string sigs[] = {sig("references_resolve"), sig("references_resolve_with_connectivity"),
                                       sig("duplicate_ids"),       sig("unreferenced_entities"),
                                       sig("rigid_context"),       sig("include_missing")};
    nb::class_<Rule>(m, "Rule",
                     "A validation rule: a built-in check with a file scope and an optional severity override.\n\n"
                     "Made by the static constructors; with_severity, only_in and except_in return new rules that "
                     "share the check.",
                     nb::is_final())
        .def_static("references_resolve", &Rule::references_resolve, nb::sig(sigs[0].c_str()),
                    "Every id reference of a library keyword resolves to a definition in the deck "
                    "(element connectivity is not read).")
        .def_static("references_resolve_with_connectivity", &Rule::references_resolve_with_connectivity,
                    nb::sig(sigs[1].c_str()),
                    "Every id reference resolves, element connectivity (nodes, parts of elements) included.")
        .def_static("duplicate_ids", &Rule::duplicate_ids, nb::sig(sigs[2].c_str()),
                    "No two definitions of one kind share an id after include offsets (nodes and elements are "
                    "not checked); one finding per defining keyword.")
        .def_static("unreferenced_entities", &Rule::unreferenced_entities, nb::sig(sigs[3].c_str()),
                    "Warn about materials, sections, curves, sets and the other referable definitions that no "
                    "field of the deck references.")
        .def_static("rigid_context", &Rule::rigid_context, nb::sig(sigs[4].c_str()),
                    "Rigid-body keywords (LOAD_RIGID_BODY, CONSTRAINED_RIGID_BODIES, ...) target parts whose "
                    "material is *MAT_RIGID.")
        .def_static("include_missing", &Rule::include_missing, nb::sig(sigs[5].c_str()),
                    "Every include directive resolves to an existing file (reported at line 0 of the including "
                    "file).")
        .def_static(
            "keyword_forbidden",
            [](nb::handle keyword) { return unwrap(Rule::keyword_forbidden(arg_str(keyword, "keyword"))); },
            nb::arg("keyword").none(), nb::sig("def keyword_forbidden(keyword: str) -> Rule"),
            "The keyword must not appear (matched by canonical base: PART also flags PART_TITLE).\n\n"
            "Surrounding whitespace is trimmed; an empty keyword raises ValueError.")
        .def_static(
            "field_required",
            [](nb::handle keyword, nb::handle require, nb::handle when) {
                std::string k = arg_str(keyword, "keyword");
                ExprPtr req = predicate_arg(require, "require");
                ExprPtr w = when.is_none() ? ExprPtr() : predicate_arg(when, "when");
                return unwrap(Rule::field_required(k, std::move(req), std::move(w)));
            },
            nb::arg("keyword").none(), nb::arg("require").none(), nb::arg("when") = nb::none(),
            nb::sig("def field_required(keyword: str, require: Predicate, when: Predicate | None "
                    "= None) -> Rule"),
            "Every occurrence of the keyword on which `when` holds (every occurrence without `when`) must "
            "satisfy `require`.\n\nRaises ValueError when the keyword is empty after trimming.")
        .def_static(
            "field_forbidden_values",
            [](nb::handle keyword, nb::handle field, nb::handle values) {
                std::string k = arg_str(keyword, "keyword");
                std::string f = arg_str(field, "field");
                std::vector<model::Value> vs = values_arg(values);
                return unwrap(Rule::field_forbidden_values(k, std::move(f), std::move(vs)));
            },
            nb::arg("keyword").none(), nb::arg("field").none(), nb::arg("values").none(),
            nb::sig("def field_forbidden_values(keyword: str, field: str, values: "
                    "collections.abc.Sequence[int | float | str]) -> Rule"),
            "The named field of the keyword must hold none of the values (numbers compared as doubles, "
            "strings by bytes); at most one finding per occurrence.\n\nRaises ValueError for a value that is "
            "not int, float or str, then for an empty keyword.")
        .def(
            "with_severity", [](const Rule& r, nb::handle severity) { return r.with_severity(severity_arg(severity)); },
            nb::arg("severity").none(), nb::sig("def with_severity(self, severity: Severity) -> Rule"),
            "A copy of the rule whose findings all get `severity`.")
        .def(
            "only_in", [](const Rule& r, nb::handle patterns) { return r.only_in(patterns_arg(patterns)); },
            nb::arg("patterns").none(), nb::sig("def only_in(self, patterns: collections.abc.Sequence[str]) -> Rule"),
            "A copy of the rule that keeps only findings in files whose path contains one of the patterns "
            "(ASCII case ignored).  Replaces any earlier scope.")
        .def(
            "except_in", [](const Rule& r, nb::handle patterns) { return r.except_in(patterns_arg(patterns)); },
            nb::arg("patterns").none(), nb::sig("def except_in(self, patterns: collections.abc.Sequence[str]) -> Rule"),
            "A copy of the rule that drops findings in files whose path contains one of the patterns (ASCII "
            "case ignored).  Replaces any earlier scope.");
}

void bind_predicate(nb::module_& m) {
    nb::class_<PyPredicate>(m, "Predicate",
                            "A condition on the fields of one keyword occurrence, for Rule.field_required.",
                            nb::is_final())
        .def_static(
            "field",
            [](nb::handle field, nb::handle cmp, nb::handle value) {
                std::string f = arg_str(field, "field");
                validate::Cmp c = cmp_arg(cmp);
                return PyPredicate{validate::Expr::make_field(std::move(f), c, py_to_value(value))};
            },
            nb::arg("field").none(), nb::arg("cmp").none(), nb::arg("value").none(),
            nb::sig("def field(field: str, cmp: Cmp, value: int | float | str) -> Predicate"),
            "Compare the named field (ASCII case ignored) with `value`.\n\n"
            "Numbers compare as doubles; a str equals only the same str and is never ordered; a field the "
            "occurrence lacks makes the predicate false.  Raises ValueError for a value that is not int, "
            "float or str.")
        .def_static(
            "all_", [](nb::handle preds) { return PyPredicate{validate::Expr::make_all(predicates_arg(preds))}; },
            nb::arg("preds").none(),
            nb::sig("def all_(preds: collections.abc.Sequence[Predicate]) -> Predicate"),
            "True when every predicate holds (in order, stopping at the first false); all_([]) is true.")
        .def_static(
            "any_", [](nb::handle preds) { return PyPredicate{validate::Expr::make_any(predicates_arg(preds))}; },
            nb::arg("preds").none(),
            nb::sig("def any_(preds: collections.abc.Sequence[Predicate]) -> Predicate"),
            "True when some predicate holds (in order, stopping at the first true); any_([]) is false.")
        .def_static(
            "not_", [](nb::handle pred) { return PyPredicate{validate::Expr::make_not(predicate_arg(pred, "pred"))}; },
            nb::arg("pred").none(), nb::sig("def not_(pred: Predicate) -> Predicate"),
            "True when `pred` is false.");
}

void bind_finding(nb::module_& m) {
    nb::class_<Finding>(m, "Finding", "One violation found by a rule, with its location.", nb::is_final())
        .def_prop_ro(
            "rule", [](const Finding& f) { return f.rule; }, "The name of the rule that reported it.")
        .def_prop_ro(
            "severity", [](const Finding& f) { return severity_to_py(f.severity); },
            nb::sig("def severity(self) -> Severity"), "Its severity (the rule's override, else the check's).")
        .def_prop_ro(
            "message", [](const Finding& f) { return f.message; }, "What is wrong, in words.")
        .def_prop_ro(
            "file", [](const Finding& f) { return f.file; },
            "The path of the file holding the offending block (invalid UTF-8 replaced by U+FFFD).")
        .def_prop_ro(
            "line", [](const Finding& f) { return f.line; },
            "The 1-based line of the offending keyword (0 when the check has no line).")
        .def_prop_ro(
            "keyword", [](const Finding& f) { return f.keyword; }, "The keyword the finding is about.")
        .def("location", &validate::finding_location, "The file, a colon and the line: /runs/m.k:42.")
        .def("__repr__", &validate::finding_repr);
}

void bind_report(nb::module_& m) {
    nb::class_<Report>(m, "Report", "The findings of a validation run, in rule order.", nb::is_final())
        .def_prop_ro(
            "findings", [](const Report& r) { return r.findings; },
            nb::sig("def findings(self) -> list[Finding]"),
            "The findings in report order: a new list of copies on every access.")
        .def("__len__", [](const Report& r) { return r.findings.size(); })
        .def(
            "count", [](const Report& r, nb::handle severity) { return r.count(severity_arg(severity)); },
            nb::arg("severity").none(), nb::sig("def count(self, severity: Severity) -> int"),
            "The number of findings with this severity.")
        .def(
            "is_clean", [](const Report& r) { return r.is_clean(); },
            "True when no finding has severity Error (warnings and infos are allowed).")
        .def("__repr__", [](const Report& r) { return validate::report_repr(r.findings.size()); });
}

void bind_cmp(nb::module_& m) {
    bind_enum<CmpTag>(m, "Cmp", "The comparison of a field predicate: ==, !=, <, <=, >, >=.",
                      {{"Eq", 0}, {"Ne", 1}, {"Lt", 2}, {"Le", 3}, {"Gt", 4}, {"Ge", 5}});
}

void bind_severity(nb::module_& m) {
    bind_enum<SeverityTag>(m, "Severity", "How serious a finding is: Error, Warning or Info.",
                           {{"Error", 0}, {"Warning", 1}, {"Info", 2}});
}

}  // namespace tarvex::py
