"""Real third-party decks: every deck parses, its definition counts are
plausible, and every library keyword it holds reads as columns.  The counts
below were read off the files by hand (ids in the first columns of the
definition blocks)."""
import os
import pathlib

import pytest

import tarvex

DATA = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "testdata" / "keyword"
pytestmark = pytest.mark.skipif(not DATA.is_dir(), reason="../shared/testdata is absent")

ROOTS = sorted(p for p in DATA.rglob("*") if p.suffix in (".k", ".key"))


@pytest.mark.parametrize("root", ROOTS, ids=lambda p: str(p.relative_to(DATA)))
def test_real_deck_parses_and_reads(root):
    deck = tarvex.parse_deck(str(root))
    files = deck.files()
    assert files[0].path == os.path.realpath(root)
    counts = dict(deck.definition_counts())
    assert all(n >= 0 for n in counts.values())
    names = {k.name for f in files for k in f.keywords()}
    for name in sorted(names):
        try:
            table = deck.table(name)
        except KeyError:
            continue
        lengths = {len(v) for v in table.values()}
        assert len(lengths) <= 1
    for f in files:
        assert f.to_bytes() == pathlib.Path(f.path).read_bytes()
    for e in deck.parts() + deck.materials() + deck.sections() + deck.curves():
        assert e.line >= 1 and e.file
        e.material(), e.section(), e.eos(), e.hourglass()


@pytest.mark.parametrize("root,expected", [
    ("expand_test/bird_B.k", {"Part": 4, "Material": 3, "Section": 3, "Element": 4}),
    ("expand_test/fol/mesh.k", {"Node": 1781, "Element": 729}),
    ("test_node_sets.k", {"Node": 6724, "Element": 5680, "NodeSet": 3, "SegmentSet": 2, "Part": 1}),
    ("include_tree/keyfile.key", {"Node": 6, "Element": 1, "Part": 1}),
])
def test_real_definition_counts(root, expected):
    counts = dict(tarvex.parse_deck(str(DATA / root)).definition_counts())
    for kind, n in expected.items():
        assert counts[kind] == n


def test_real_include_by_path_components():
    deck = tarvex.parse_deck(str(DATA / "expand_test" / "bird_B.k"))
    assert deck.file("expand_test/control_cards.k").index == 1
    assert deck.file("cards.k") is None
