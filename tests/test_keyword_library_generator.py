"""The generated library tables are what the generator writes from the layout database."""

import subprocess
import sys

import pytest

from conftest import ROOT

DB = ROOT.parent / "shared" / "keyword-db" / "layouts.json"
GENERATED = ROOT / "src" / "keywords" / "library_data.cpp"


def test_generator_reproduces_the_committed_tables(tmp_path):
    if not DB.exists():
        pytest.skip("keyword layout database not available")
    out = tmp_path / "library_data.cpp"
    subprocess.run([sys.executable, str(ROOT / "tools" / "gen_keyword_library.py"), "--db", str(DB), "--out",
                    str(out)], check=True)
    assert out.read_bytes() == GENERATED.read_bytes()


def test_generated_tables_are_plain_constant_data():
    text = GENERATED.read_text(encoding="ascii")
    assert "std::vector" not in text and "std::string" not in text
    assert text.count("\n") < 80_000


def load_generator():
    import importlib.util

    found = importlib.util.spec_from_file_location("gen_keyword_library", ROOT / "tools" / "gen_keyword_library.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


# Designation targets whose generated figures are known to stay more than 10 %
# from the reference figures, with the measure concerned: the layout database
# lists alternative layouts of one card line (the IPARM node sets of
# CONTROL_IMPLICIT_EIGENVALUE), and designates the surface fields of every
# contact keyword.
KNOWN_OFF = {("NodeSet", "fields"), ("NodeSet", "names"), ("AnyOf", "fields"), ("AnyOf", "keywords"),
             ("AnyOf", "names")}


def test_designation_figures_per_target():
    if not DB.exists():
        pytest.skip("keyword layout database not available")
    import json

    gen = load_generator()
    db = json.loads(DB.read_text(encoding="utf-8"))
    names = [n for n in (ROOT / "tools" / "keyword_names.txt").read_text(encoding="utf-8").split("\n") if n]
    entries, separate, _ = gen.build(db, names)
    per = {}
    for kw, (cards, _meta, _extra) in entries.items():
        for card in cards:
            for name, _ty, _width, ref, _source_name in card:
                if ref is not None:
                    p = per.setdefault(ref, [0, set(), set()])
                    p[0] += 1
                    p[1].add(kw)
                    p[2].add(name)
    assert set(per) == set(gen.DESCRIBED["targets"])
    off = set()
    for target, described in gen.DESCRIBED["targets"].items():
        got = (per[target][0], len(per[target][1]), len(per[target][2]))
        for measure, g, d in zip(("fields", "keywords", "names"), got, described):
            if abs(g - d) > 0.1 * d:
                off.add((target, measure))
    assert off == KNOWN_OFF
    # The separate entries and the _TITLE entries.
    assert separate["PART"][0][1][1][:4] == ["secid", 0, 10, "Section"]
    for kw in names:
        if kw.endswith("_TITLE"):
            assert entries[kw] == entries[kw[:-6]], kw


def test_card_programs_of_the_tables():
    if not DB.exists():
        pytest.skip("keyword layout database not available")
    import json

    gen = load_generator()
    db = json.loads(DB.read_text(encoding="utf-8"))
    progs = gen.Programs()
    cards = [[["ELFORM", 0, 10, None, "ELFORM"], ["NIP", 0, 10, None, "NIP"]]]
    ops = gen.OPS
    # Postfix words: field positions follow the Field word, constants of "in" follow the In word.
    at = progs.add({"op": "in", "args": [{"field": "ELFORM"}, {"const": [101, 102]}]}, cards)
    assert progs.words[at:] == [ops["field"] | 1 << 8, 0 << 8 | 0, ops["in"] | 2 << 8, ops["num"] | 0 << 8,
                                ops["num"] | 1 << 8, ops["end"]]
    assert progs.nums == [101.0, 102.0]
    # Equal programs are stored once; a missing field reads as null.
    assert progs.add({"op": "in", "args": [{"field": "ELFORM"}, {"const": [101, 102]}]}, cards) == at
    at2 = progs.add({"op": "==", "args": [{"field": "NOPE"}, {"const": "&"}]}, cards)
    assert progs.words[at2:] == [ops["null"], ops["str"] | 0 << 8, ops["=="] | 2 << 8, ops["end"]]
    assert progs.add(None, cards) == gen.NO_PROGRAM
    names = [n for n in (ROOT / "tools" / "keyword_names.txt").read_text(encoding="utf-8").split("\n") if n]
    entries, _separate, _ = gen.build(db, names)
    # The curve's points are an open-ended table under its header card.
    _cards, meta, _extra = entries["DEFINE_CURVE"]
    assert [m["kind"] for m in meta] == ["card", "table"] and meta[1]["length"] is None
    # The rigid wall's ID card is read before the others for _ID blocks.
    assert [f[0] for f in entries["RIGIDWALL_PLANAR"][2]["id"]] == ["ID", "TITLE"]
