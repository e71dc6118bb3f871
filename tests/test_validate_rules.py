"""Rules, predicates, enumerations, findings and reports: construction, errors, scoping and the run."""

import os
import sys

import pytest

import tarvex
from tarvex import Cmp, Finding, Predicate, Report, Rule, Severity

needs_validate = pytest.mark.skipif(
    not hasattr(tarvex.Deck, "validate"), reason="Deck.validate is not wired into the Deck class in this build"
)

EMPTY_KEYWORD = "keyword name must not be empty"
BAD_VALUE = "rule value must be int, float, or str"


# ---- enumerations ----------------------------------------------------------------

ENUMS = [
    (Cmp, [("Eq", 0), ("Ne", 1), ("Lt", 2), ("Le", 3), ("Gt", 4), ("Ge", 5)]),
    (Severity, [("Error", 0), ("Warning", 1), ("Info", 2)]),
]


@pytest.mark.parametrize("cls, members", ENUMS, ids=["Cmp", "Severity"])
def test_enumeration_members(cls, members):
    for name, number in members:
        member = getattr(cls, name)
        assert member is getattr(cls, name)
        assert int(member) == number
        assert repr(member) == f"{cls.__name__}.{name}"
        assert member == number and not (member != number)
        assert member == member and not (member != member)
    first, second = getattr(cls, members[0][0]), getattr(cls, members[1][0])
    assert first != second and not (first == second)
    assert (first == "x") is False and (first != "x") is True
    assert first.__eq__("x") is NotImplemented and first.__eq__(1.0) is NotImplemented


def member_named(text):
    cls, name = text.split(".")
    return getattr(getattr(tarvex, cls), name)


# Members are named, not held, by the parameter tables: no native object outlives the session.
@pytest.mark.parametrize("a, b", [("Cmp.Le", "Cmp.Gt"), ("Severity.Error", "Severity.Warning"), ("Cmp.Le", 3)])
def test_enumerations_are_not_ordered(a, b):
    a, b = (member_named(x) if isinstance(x, str) else x for x in (a, b))
    for op in (lambda: a < b, lambda: a <= b, lambda: a > b, lambda: a >= b):
        with pytest.raises(TypeError):
            op()


@pytest.mark.parametrize("member", ["Cmp.Eq", "Severity.Error"])
def test_enumerations_are_unhashable(member):
    member = member_named(member)
    with pytest.raises(TypeError):
        hash(member)
    with pytest.raises(TypeError):
        {member: 1}
    with pytest.raises(TypeError):
        {member}


def test_comparing_enumerations_with_other_members_and_ints():
    assert Cmp.Le == 3
    assert Severity.Warning == 1
    assert int(Severity.Info) == 2
    assert Severity.Error != Severity.Warning
    assert (Cmp.Eq == Severity.Error) is False and (Cmp.Eq != Severity.Error) is True


@pytest.mark.parametrize("cls", [Rule, Predicate, Finding, Report, Cmp, Severity])
def test_classes_cannot_be_constructed(cls):
    with pytest.raises(TypeError):
        cls()


# ---- rule construction ---------------------------------------------------------------

def field():
    return Predicate.field("MID", Cmp.Eq, 1)

BUILDERS = [
    lambda: Rule.references_resolve(),
    lambda: Rule.references_resolve_with_connectivity(),
    lambda: Rule.duplicate_ids(),
    lambda: Rule.unreferenced_entities(),
    lambda: Rule.rigid_context(),
    lambda: Rule.include_missing(),
    lambda: Rule.keyword_forbidden("PART"),
    lambda: Rule.field_required("PART", field()),
    lambda: Rule.field_required("PART", field(), when=field()),
    lambda: Rule.field_required(keyword="PART", require=field(), when=None),
    lambda: Rule.field_forbidden_values("PART", "mid", [1, 2.5, "x"]),
    lambda: Rule.field_forbidden_values(keyword="PART", field="mid", values=()),
]


@pytest.mark.parametrize("build", BUILDERS)
def test_builders_make_rules_and_builder_methods_return_new_rules(build):
    rule = build()
    assert type(rule) is Rule
    for derived in (rule.with_severity(Severity.Info), rule.only_in(["a"]), rule.except_in(("a", "b")),
                    rule.with_severity(severity=Severity.Error), rule.only_in(patterns=[])):
        assert type(derived) is Rule and derived is not rule


@pytest.mark.parametrize(
    "build, error, message",
    [
        (lambda: Rule.keyword_forbidden("   "), ValueError, EMPTY_KEYWORD),
        (lambda: Rule.keyword_forbidden(""), ValueError, EMPTY_KEYWORD),
        (lambda: Rule.keyword_forbidden("\u3000\t\n"), ValueError, EMPTY_KEYWORD),
        (lambda: Rule.field_required(" ", field()), ValueError, EMPTY_KEYWORD),
        (lambda: Rule.field_forbidden_values(" ", "mid", [1]), ValueError, EMPTY_KEYWORD),
        # Values are converted before the keyword is checked.
        (lambda: Rule.field_forbidden_values(" ", "mid", [1, None]), ValueError, BAD_VALUE),
        (lambda: Rule.field_forbidden_values("PART", "mid", [[1]]), ValueError, BAD_VALUE),
        # The arguments are converted in order, before the keyword is checked.
        (lambda: Rule.field_required(" ", "MID == 1"), TypeError, "require"),
        (lambda: Rule.field_required(" ", field(), when=1), TypeError, "when"),
        (lambda: Rule.field_required(5, "MID == 1"), TypeError, "keyword"),
        (lambda: Rule.field_forbidden_values(" ", 5, [None]), TypeError, "field"),
        (lambda: Rule.field_forbidden_values("PART", "mid", "12"), TypeError, "values"),
        (lambda: Rule.field_forbidden_values("PART", "mid", 12), TypeError, "values"),
        (lambda: Rule.keyword_forbidden(b"PART"), TypeError, "keyword"),
        (lambda: Rule.keyword_forbidden(None), TypeError, "keyword"),
        (lambda: Rule.duplicate_ids().with_severity(0), TypeError, "severity"),
        (lambda: Rule.duplicate_ids().with_severity(Cmp.Eq), TypeError, "severity"),
        (lambda: Rule.duplicate_ids().only_in("sub"), TypeError, "patterns"),
        (lambda: Rule.duplicate_ids().except_in([b"sub"]), TypeError, "patterns"),
        (lambda: Rule.duplicate_ids().except_in(None), TypeError, "patterns"),
    ],
)
def test_rule_construction_errors(build, error, message):
    with pytest.raises(error, match=message) as info:
        build()
    if error is ValueError:
        assert str(info.value) == message


# ---- predicates -------------------------------------------------------------------------


class WithFloat:
    def __float__(self):
        return 2.5


class WithIndex:
    def __index__(self):
        return 7

    def __float__(self):
        return 7.5


class Text(str):
    pass


@pytest.mark.parametrize(
    "value",
    [1, -1, True, False, 2**63 - 1, -(2**63), 2**70, 1.5, float("nan"), float("inf"), WithFloat(), WithIndex(),
     "x", "", Text("MID")],
)
def test_predicate_values_that_convert(value):
    assert type(Predicate.field("MID", Cmp.Eq, value)) is Predicate


@pytest.mark.parametrize("value", [None, [1], (1,), {}, b"1", object(), 10**400, 1j])
def test_predicate_values_that_do_not_convert(value):
    with pytest.raises(ValueError) as info:
        Predicate.field("MID", Cmp.Eq, value)
    assert str(info.value) == BAD_VALUE


@pytest.mark.parametrize(
    "build, name",
    [
        (lambda: Predicate.field(1, Cmp.Eq, 1), "field"),
        (lambda: Predicate.field("MID", 0, 1), "cmp"),
        (lambda: Predicate.field("MID", Severity.Error, 1), "cmp"),
        (lambda: Predicate.all_(field()), "preds"),
        (lambda: Predicate.all_("abc"), "preds"),
        (lambda: Predicate.any_([field(), 1]), "preds"),
        (lambda: Predicate.not_(None), "pred"),
        (lambda: Predicate.not_([field()]), "pred"),
    ],
)
def test_predicate_argument_errors_name_the_argument(build, name):
    with pytest.raises(TypeError, match=f"'{name}'"):
        build()


def test_deep_predicates_are_built_and_released_without_recursion():
    p = field()
    for _ in range(200_000):
        p = Predicate.not_(p)
    p = Predicate.all_([p, Predicate.any_([p])])
    rule = Rule.field_required("PART", p)
    del p
    del rule


# ---- findings and reports -------------------------------------------------------------


def row(*values):
    return "".join(f"{v:>10}" for v in values)


PART5 = "*PART\n$#   title\n\n$#     pid     secid       mid\n" + row(5, 1, 1) + "\n"
MAT = "*MAT_ELASTIC\n" + row(1, 7.85e-9) + "\n"


@pytest.fixture
def deck(write):
    def _deck(text, **files):
        for name, body in files.items():
            write(name.replace("__", "/"), body.encode() if isinstance(body, str) else body)
        return tarvex.parse_deck(str(write("main.k", text.encode() if isinstance(text, str) else text)))

    return _deck


@needs_validate
def test_empty_rule_list_gives_an_empty_report(deck):
    report = deck("*KEYWORD\n" + PART5).validate([])
    assert type(report) is Report
    assert len(report) == 0 and report.findings == []
    assert report.is_clean() is True
    assert report.count(Severity.Error) == 0
    assert repr(report) == "Report(0 findings)"


@needs_validate
def test_report_counts_and_cleanliness(deck):
    d = deck("*KEYWORD\n" + PART5 + PART5 + MAT + "*MAT_ELASTIC\n" + row(2) + "\n")
    warnings = d.validate([Rule.unreferenced_entities()])
    assert (len(warnings), warnings.is_clean(), warnings.count(Severity.Warning), warnings.count(Severity.Error)) == (
        1, True, 1, 0)
    assert repr(warnings) == "Report(1 findings)"
    both = d.validate([Rule.unreferenced_entities(), Rule.duplicate_ids()])
    assert (len(both), both.is_clean(), both.count(Severity.Error), both.count(severity=Severity.Info)) == (3, False, 2, 0)
    with pytest.raises(TypeError, match="'severity'"):
        both.count(1)


@needs_validate
def test_findings_are_fresh_lists_of_copies(deck):
    report = deck("*KEYWORD\n" + PART5 + PART5 + MAT).validate([Rule.duplicate_ids()])
    first, second = report.findings, report.findings
    assert first is not second and first[0] is not second[0]
    assert [repr(f) for f in first] == [repr(f) for f in second]
    first.clear()
    assert len(report.findings) == 2


@needs_validate
def test_finding_members_location_and_repr(deck, tmp_path):
    (f, _) = deck("*KEYWORD\n" + PART5 + PART5 + MAT).validate([Rule.duplicate_ids()]).findings
    path = str(tmp_path / "main.k")
    assert (f.rule, f.keyword, f.file, f.line) == ("duplicate_ids", "PART", path, 2)
    assert f.severity is Severity.Error
    assert f.message == "duplicate Part id 5 \u2014 defined by 2 keywords in the deck"
    assert f.location() == f"{path}:2"
    assert repr(f) == f'Finding(Error, duplicate_ids, {path}:2, "duplicate Part id 5 \u2014 defined by 2 keywords in the deck")'


@needs_validate
def test_finding_in_a_file_with_an_invalid_utf8_name(deck, tmp_path):
    # The include names the file with its raw bytes; the finding shows U+FFFD for them.
    (tmp_path / os.fsdecode(b"bad\xff.k")).write_bytes(("*KEYWORD\n" + PART5).encode())
    d = deck(b"*KEYWORD\n*INCLUDE\nbad\xff.k\n" + (PART5 + MAT).encode())
    found = d.validate([Rule.duplicate_ids().only_in(["bad\ufffd"])]).findings
    assert [os.path.basename(f.file) for f in found] == ["bad\ufffd.k"]
    assert found[0].location().endswith("bad\ufffd.k:2")
    assert "bad\ufffd.k:2" in repr(found[0])


@needs_validate
def test_message_with_quotes_and_controls_is_escaped_only_in_the_repr(deck):
    d = deck("*KEYWORD\n*INCLUDE\nsay \"hi\"\\\tx.k\n")
    (f,) = d.validate([Rule.include_missing()]).findings
    assert f.message.startswith("include 'say \"hi\"\\\tx.k' resolves to a missing file: ")
    escaped = f.message.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t")
    assert repr(f) == f'Finding(Error, include_missing, {f.file}:0, "{escaped}")'


# ---- scoping and severity ----------------------------------------------------------------


@pytest.fixture
def scoped(deck):
    """A deck with part 5 defined in main.k, INC_SUB/a.k, inc_Sub/b.k and other/c.k."""
    sub = "*KEYWORD\n" + PART5
    return deck(
        "*KEYWORD\n" + PART5 + MAT + "*INCLUDE\nINC_SUB/a.k\n*INCLUDE\ninc_Sub/b.k\n*INCLUDE\nother/c.k\n",
        **{"INC_SUB__a.k": sub, "inc_Sub__b.k": sub, "other__c.k": sub},
    )


def files_of(report):
    return [os.path.basename(f.file) for f in report.findings]


@needs_validate
@pytest.mark.parametrize(
    "rule, files",
    [
        (lambda: Rule.duplicate_ids(), ["main.k", "a.k", "b.k", "c.k"]),
        (lambda: Rule.duplicate_ids().only_in(["Inc_sub"]), ["a.k", "b.k"]),
        (lambda: Rule.duplicate_ids().only_in(["INC_SUB", "other"]), ["a.k", "b.k", "c.k"]),
        (lambda: Rule.duplicate_ids().except_in(["inc_sub"]), ["main.k", "c.k"]),
        (lambda: Rule.duplicate_ids().only_in(["main.k"]).except_in(["c.k"]), ["main.k", "a.k", "b.k"]),
        (lambda: Rule.duplicate_ids().except_in(["c.k"]).only_in(["c.k"]), ["c.k"]),
        (lambda: Rule.duplicate_ids().only_in([]), []),
        (lambda: Rule.duplicate_ids().except_in([]), ["main.k", "a.k", "b.k", "c.k"]),
        (lambda: Rule.duplicate_ids().only_in([""]), ["main.k", "a.k", "b.k", "c.k"]),
        (lambda: Rule.duplicate_ids().except_in([""]), []),
        (lambda: Rule.duplicate_ids().only_in(["\u0130nc_sub"]), []),
    ],
    ids=["all", "only-folded", "only-two", "except", "last-wins", "last-wins-2", "only-none", "except-none",
         "only-empty", "except-empty", "non-ascii-not-folded"],
)
def test_scope_filters_where_findings_are_reported(scoped, rule, files):
    report = scoped.validate([rule()])
    assert files_of(report) == files
    assert {f.message for f in report.findings} <= {"duplicate Part id 5 \u2014 defined by 4 keywords in the deck"}


@needs_validate
def test_severity_override_keeps_the_scope_and_scope_keeps_the_override(scoped):
    rule = Rule.duplicate_ids().only_in(["INC_SUB"]).with_severity(Severity.Warning)
    for r in (rule, rule.except_in(["other", "main"])):
        report = scoped.validate([r])
        assert all(f.severity is Severity.Warning for f in report.findings) and report.is_clean()
    assert files_of(scoped.validate([rule])) == ["a.k", "b.k"]
    assert files_of(scoped.validate([rule.except_in(["other", "main"])])) == ["a.k", "b.k"]


@needs_validate
@pytest.mark.parametrize("override, severity", [(None, "Warning"), ("Info", "Info"), ("Error", "Error")])
def test_with_severity_overrides_the_check(deck, override, severity):
    override = override and getattr(Severity, override)
    severity = getattr(Severity, severity)
    rule = Rule.unreferenced_entities()
    d = deck("*KEYWORD\n" + MAT)
    (f,) = d.validate([rule if override is None else rule.with_severity(override)]).findings
    assert f.severity is severity
    # The receiver is unchanged.
    assert d.validate([rule]).findings[0].severity is Severity.Warning


@needs_validate
@pytest.mark.parametrize(
    "value, text",
    [
        (True, "1"), (-(2**63), "-9223372036854775808"), (2**70, "1180591620717411300000"), (5.0, "5"),
        (1e21, "1000000000000000000000"), (1e-7, "0.0000001"), (-0.0, "-0"), (float("nan"), "NaN"),
        (float("-inf"), "-inf"), (WithFloat(), "2.5"), (WithIndex(), "7"), (Text("x y"), "x y"), ("", ""),
    ],
    ids=lambda v: None if isinstance(v, str) else repr(v),
)
def test_rule_values_are_described_as_converted(deck, value, text):
    # An int first (anything with __index__ that fits 64 bits), else a double, else a str.
    d = deck("*KEYWORD\n*SECTION_SHELL\n" + row(1, 2, 1.0, 5) + "\n")
    never = Predicate.field("NOPE", Cmp.Eq, 1)
    rule = Rule.field_required("SECTION_SHELL", Predicate.all_([Predicate.field("NIP", Cmp.Lt, value), never]))
    (f,) = d.validate([rule]).findings
    assert f.message == f"requires all(NIP < {text}, NOPE == 1)"


# ---- running rules ------------------------------------------------------------------------


@needs_validate
def test_findings_are_concatenated_in_rule_order(deck):
    d = deck("*KEYWORD\n" + PART5 + PART5 + MAT + "*MAT_ELASTIC\n" + row(2) + "\n*INCLUDE\ngone.k\n")
    dup, unref, inc = Rule.duplicate_ids(), Rule.unreferenced_entities(), Rule.include_missing()
    report = d.validate([inc, dup, unref, dup])
    assert [f.rule for f in report.findings] == [
        "include_missing", "duplicate_ids", "duplicate_ids", "unreferenced_entities", "duplicate_ids", "duplicate_ids"]
    assert [f.line for f in report.findings] == [0, 2, 7, 14, 2, 7]


@needs_validate
def test_many_rules_run_in_order(deck):
    d = deck("*KEYWORD\n" + PART5 + MAT)
    names = [f"PART{'_ID' if i % 2 else ''}" if i % 3 else f"MAT_ELASTIC{' ' * (i % 5)}" for i in range(100_000)]
    report = d.validate(tuple(Rule.keyword_forbidden(n) for n in names))
    assert len(report) == 100_000
    assert [f.rule for f in report.findings] == [f"keyword_forbidden({n.strip()})" for n in names]


@needs_validate
@pytest.mark.parametrize("rules, name", [("abc", "rules"), (lambda: [Rule.duplicate_ids(), 1], "rules"),
                                         (None, "rules"), (lambda: [field()], "rules")])
def test_validate_argument_errors(deck, rules, name):
    rules = rules() if callable(rules) else rules
    d = deck("*KEYWORD\n")
    with pytest.raises(TypeError, match=f"'{name}'"):
        d.validate(rules)
    with pytest.raises(TypeError, match=f"'{name}'"):
        d.validate(rules=rules)


@needs_validate
def test_validate_signature_and_docstring():
    assert tarvex.Deck.validate.__doc__.startswith("Run the rules over the deck")
    if sys.version_info >= (3, 8):
        import inspect

        assert str(inspect.signature(tarvex.Deck.validate)) == "(self, /, rules)"


VALIDATION_SCRIPT = '''
import tarvex
from tarvex import Cmp, Predicate, Rule, Severity

deck = tarvex.parse_deck("main.k")
thin = Predicate.all_([Predicate.field("T1", Cmp.Lt, 0.5), Predicate.not_(Predicate.field("NIP", Cmp.Eq, 1))])
rules = [
    Rule.references_resolve(),
    Rule.duplicate_ids().only_in(["body"]).with_severity(Severity.Warning),
    Rule.field_required("SECTION_SHELL", Predicate.any_([thin]), when=None),
    Rule.field_forbidden_values("SECTION_SHELL", "ELFORM", [1, 2.0, "x"]),
]
report: tarvex.Report = deck.validate(rules)
errors: int = report.count(Severity.Error)
clean: bool = report.is_clean()
for f in report.findings:
    where: str = f.location()
    line: int = f.line
    severity: Severity = f.severity
'''


@needs_validate
def test_validation_script_type_checks(tmp_path):
    pytest.importorskip("mypy")
    from test_module import SANITIZED, run_mypy

    if SANITIZED:
        pytest.skip("the sanitizer build carries no stubs")
    code, report = run_mypy(tmp_path, VALIDATION_SCRIPT)
    assert code == 0, report
