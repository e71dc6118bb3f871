"""Library keywords read as the solver reads them: blank cards, conditional cards, header cards over
table rows, omitted trailing cards, several records in one block, _TITLE and _ID names and the two
*ELEMENT_SOLID forms, on small decks written the way pre-processors write them."""

import numpy as np
import pytest

import tarvex
from conftest import ROOT


def kf(write, data: bytes):
    return tarvex.parse_keyword_file(str(write("deck.k", data)))


def rows(cols, *names):
    return list(zip(*(cols[n].tolist() if isinstance(cols[n], np.ndarray) else cols[n] for n in names)))


PRE_PROCESSOR_PARTS = (
    b"*KEYWORD\n"
    b"*PART\n"
    b"$#                                                                         title\n"
    b"\n"
    b"$#     pid     secid       mid     eosid      hgid      grav    adpopt      tmid\n"
    b"         1         2         3         0         0         0         0         0\n"
    b"*PART\n"
    b"$#                                                                         title\n"
    b"door\n"
    b"$#     pid     secid       mid     eosid      hgid      grav    adpopt      tmid\n"
    b"         4         5         6\n"
    b"*END\n"
)


def test_empty_heading_line_is_the_part_heading(write):
    part = kf(write, PRE_PROCESSOR_PARTS).parse_builtin("PART")
    assert part["heading"] == ["", "door"]
    assert rows(part, "pid", "secid", "mid") == [(1, 2, 3), (4, 5, 6)]


def test_curve_header_is_repeated_over_its_points(write):
    deck = (b"*DEFINE_CURVE\n$#    lcid      sidr       sfa       sfo\n         1         0       2.0\n"
            b"$#                a1                  o1\n"
            + b"".join(b"%20.1f%20.1f\n" % (i, 10 * i) for i in range(5))
            + b"*DEFINE_CURVE\n2\n0.0,1.0\n1.0,3.0\n*END\n")
    c = kf(write, deck).parse_builtin("DEFINE_CURVE")
    assert c["LCID"].tolist() == [1] * 5 + [2] * 2
    assert c["SFA"].tolist() == [2.0] * 5 + [0.0] * 2
    assert c["A1"].tolist() == [0.0, 1.0, 2.0, 3.0, 4.0, 0.0, 1.0]
    assert c["O1"].tolist() == [0.0, 10.0, 20.0, 30.0, 40.0, 1.0, 3.0]
    assert len({len(v) for v in c.values()}) == 1


def test_curve_without_points_gives_one_row_of_defaults(write):
    c = kf(write, b"*DEFINE_CURVE\n         9\n*END\n").parse_builtin("DEFINE_CURVE")
    assert c["LCID"].tolist() == [9] and c["A1"].tolist() == [0.0] and c["O1"].tolist() == [0.0]


def test_node_set_list_keeps_every_node_line(write):
    deck = (b"*SET_NODE_LIST\n        10\n" + b"".join(b"%10d" % n for n in range(1, 9)) + b"\n"
            + b"".join(b"%10d" % n for n in range(9, 17)) + b"\n        17        18\n*END\n")
    s = kf(write, deck).parse_builtin("SET_NODE_LIST")
    assert s["SID"].tolist() == [10, 10, 10]
    ids = np.stack([s[f"NID{i}"] for i in range(1, 9)], axis=1).ravel().tolist()
    assert [n for n in ids if n] == list(range(1, 19))


@pytest.mark.parametrize(
    "name, deck, column, values",
    [
        # Omitted optional trailing cards read as defaults.
        ("CONTROL_TIMESTEP", b"*CONTROL_TIMESTEP\n       0.0       0.9\n", "TSSFAC", [0.9]),
        ("CONTROL_TIMESTEP", b"*CONTROL_TIMESTEP\n       0.0       0.9\n", "DT2MSF", [0.0]),
        ("DATABASE_BINARY_D3PLOT", b"*DATABASE_BINARY_D3PLOT\n     0.005\n", "DT", [0.005]),
        # Several sections in one block, each of two lines (the cards of ELFORM 101..105 absent).
        ("SECTION_SHELL", b"*SECTION_SHELL\n1,2\n1.0,1.0,1.0,1.0\n3,16\n2.0\n", "SECID", [1, 3]),
        ("SECTION_SHELL", b"*SECTION_SHELL\n1,2\n1.0,1.0,1.0,1.0\n3,16\n2.0\n", "T1", [1.0, 2.0]),
        # ICOMP = 1 with NIP = 3: one line of angles follows the second card.
        ("SECTION_SHELL", b"*SECTION_SHELL\n1,2,,3,,,1\n1.0\n10,20,30\n2,2\n4.0\n", "Bi_2", [20.0, 0.0]),
        ("SECTION_SHELL", b"*SECTION_SHELL\n1,2,,3,,,1\n1.0\n10,20,30\n2,2\n4.0\n", "T1", [1.0, 4.0]),
        # A card chosen by an earlier field: TYPE 1 reads the cylinder card.
        ("DEFINE_CONTACT_VOLUME", b"*DEFINE_CONTACT_VOLUME\n1,0,1\n5.0,1.0\n", "LENGTH", [5.0]),
        ("DEFINE_CONTACT_VOLUME", b"*DEFINE_CONTACT_VOLUME\n1,0,1\n5.0,1.0\n", "XMN", [0.0]),
        # The optional cards of options A, B, ... of a contact do not start a second contact.
        ("CONTACT_AUTOMATIC_SINGLE_SURFACE", b"*CONTACT_AUTOMATIC_SINGLE_SURFACE\n3,0,2\n0.2\n\n1,0.1\n",
         "SURFA", [3]),
        ("CONTACT_AUTOMATIC_SINGLE_SURFACE_ID",
         b"*CONTACT_AUTOMATIC_SINGLE_SURFACE_ID\n         7door\n3,0,2\n0.2,0.1\n", "FD", [0.1]),
        ("CONTACT_AUTOMATIC_SINGLE_SURFACE_ID",
         b"*CONTACT_AUTOMATIC_SINGLE_SURFACE_ID\n         7door\n3,0,2\n0.2,0.1\n", "HEADING", ["door"]),
        # A _TITLE contact writes its ID card as the title line.
        ("CONTACT_AUTOMATIC_SINGLE_SURFACE_TITLE",
         b"*CONTACT_AUTOMATIC_SINGLE_SURFACE_TITLE\n         7door\n3,0,2\n", "CID", [7]),
        ("CONTACT_AUTOMATIC_SINGLE_SURFACE_TITLE",
         b"*CONTACT_AUTOMATIC_SINGLE_SURFACE_TITLE\n         7door\n3,0,2\n", "SURFA", [3]),
        # Comma lines, and long format (every width doubled).
        ("MAT_ELASTIC", b"*MAT_ELASTIC\n1,7.85e-9,210000.,0.3\n2,1e-9,70000,0.33\n", "E", [210000.0, 70000.0]),
        ("MAT_ELASTIC", b"*KEYWORD LONG=S\n*MAT_ELASTIC\n" + b"%20d%20.3e%20.1f" % (5, 7.85e-9, 2.1e5) + b"\n",
         "E", [210000.0]),
    ],
)
def test_cards_as_the_solver_reads_them(write, name, deck, column, values):
    got = kf(write, deck + b"*END\n").parse_builtin(name)[column]
    assert (got.tolist() if isinstance(got, np.ndarray) else got) == values


def test_shell_stresses_give_one_row_per_layer(write):
    deck = b"*INITIAL_STRESS_SHELL\n100,1,3,0\n-1.0,1.0\n0.0,2.0\n1.0,3.0\n101,1,1\n0.0,4.0\n*END\n"
    s = kf(write, deck).parse_builtin("INITIAL_STRESS_SHELL")
    assert rows(s, "EID", "T", "SIGXX") == [(100, -1.0, 1.0), (100, 0.0, 2.0), (100, 1.0, 3.0), (101, 0.0, 4.0)]


@pytest.mark.parametrize(
    "name, deck, expect",
    [
        ("SECTION_SOLID_TITLE", b"*SECTION_SOLID_TITLE\nbrick\n         7         1\n",
         {"TITLE": ["brick"], "SECID": [7], "ELFORM": [1]}),
        ("DEFINE_CURVE_TITLE", b"*DEFINE_CURVE_TITLE\npulse\n$ lcid\n         3\n0.0,0.0\n1.0,1.0\n",
         {"TITLE": ["pulse", "pulse"], "LCID": [3, 3], "O1": [0.0, 1.0]}),
        ("SET_PART_LIST_TITLE", b"*SET_PART_LIST_TITLE\nbody parts\n         2\n         5         6\n",
         {"TITLE": ["body parts"], "SID": [2], "PID1": [5], "PID2": [6]}),
        ("RIGIDWALL_PLANAR_ID", b"*RIGIDWALL_PLANAR_ID\n        11floor\n         4\n0.0,0.0,0.0,0.0,0.0,1.0\n",
         {"ID": [11], "TITLE": ["floor"], "NSID": [4], "ZH": [1.0]}),
    ],
)
def test_title_and_id_names_read_their_option_card_first(write, name, deck, expect):
    cols = kf(write, deck + b"*END\n").parse_builtin(name)
    assert next(iter(cols)) == next(iter(expect))
    for column, values in expect.items():
        got = cols[column]
        assert (got.tolist() if isinstance(got, np.ndarray) else got) == values


def test_coupling_title_card_only_in_title_blocks(write):
    deck = (b"*CONSTRAINED_LAGRANGE_IN_SOLID\n         3         1         1\n"
            b"*CONSTRAINED_LAGRANGE_IN_SOLID_TITLE\n         9coupling\n         4         2         1\n*END\n")
    k = kf(write, deck)
    plain = k.parse_builtin("CONSTRAINED_LAGRANGE_IN_SOLID")
    assert rows(plain, "COUPID", "TITLE", "LSTRSID", "ALESID") == [(0, "", 3, 1)]
    titled = k.parse_builtin("CONSTRAINED_LAGRANGE_IN_SOLID_TITLE")
    assert list(titled)[:2] == ["COUPID", "TITLE"]
    assert rows(titled, "COUPID", "TITLE", "LSTRSID", "ALESID") == [(9, "coupling", 4, 2)]


def test_base_name_matches_only_its_own_blocks(write):
    deck = b"*SECTION_SOLID_TITLE\nbrick\n         7         1\n*SECTION_SOLID\n         8         2\n*END\n"
    k = kf(write, deck)
    assert k.parse_builtin("SECTION_SOLID")["SECID"].tolist() == [8]
    assert k.parse_builtin("section_solid_title")["SECID"].tolist() == [7]


SOLIDS_TWO_LINE = (
    b"*ELEMENT_SOLID\n"
    b"$#   eid     pid\n       1       1\n$#    n1      n2      n3      n4      n5      n6      n7      n8\n"
    b"      11      12      13      14      15      16      17      18\n"
    b"       2       1\n      21      22      23      24      25      26      27      28\n"
)
SOLIDS_ONE_LINE = b"*ELEMENT_SOLID\n       3       2      31      32      33      34      35      36      37      38\n"


@pytest.mark.parametrize("deck", [SOLIDS_TWO_LINE + SOLIDS_ONE_LINE, SOLIDS_ONE_LINE + SOLIDS_TWO_LINE])
def test_element_solid_one_and_two_line_forms(write, deck):
    s = kf(write, deck + b"*END\n").parse_builtin("ELEMENT_SOLID")
    assert list(s) == ["EID", "PID"] + [f"N{i}" for i in range(1, 9)]
    assert all(v.dtype == np.int64 for v in s.values())
    by_eid = {e: (p, n1, n8) for e, p, n1, n8 in rows(s, "EID", "PID", "N1", "N8")}
    assert by_eid == {1: (1, 11, 18), 2: (1, 21, 28), 3: (2, 31, 38)}


def test_one_line_layouts_keep_skipping_blank_rows(write):
    deck = b"*ELEMENT_SHELL\n      10       1     100     101     102     103\n\n11,2,200,201,202,203\n*END\n"
    assert kf(write, deck).parse_builtin("ELEMENT_SHELL")["EID"].tolist() == [10, 11]


def real_decks():
    base = ROOT.parent / "shared" / "testdata" / "keyword"
    if not base.exists():
        return []
    return sorted(p for p in base.rglob("*") if p.is_file() and p.suffix.lower() in (".k", ".key"))


@pytest.mark.parametrize("deck", real_decks() or [None], ids=lambda p: p.name if p else "absent")
def test_real_decks_give_tidy_tables(deck):
    if deck is None:
        pytest.skip("test data not available")
    k = tarvex.parse_keyword_file(str(deck))
    for name in sorted({n for n in k.block_names() if n}):
        try:
            cols = k.parse_builtin(name)
        except KeyError:
            continue
        assert len({len(v) for v in cols.values()}) <= 1, name


def test_real_deck_parts_and_curves():
    deck = ROOT.parent / "shared" / "testdata" / "keyword" / "test_node_sets.k"
    if not deck.exists():
        pytest.skip("test data not available")
    k = tarvex.parse_keyword_file(str(deck))
    part = k.parse_builtin("PART")
    assert part["heading"] == ["Solid"] and part["pid"].tolist() == [1]
    curves = k.parse_builtin("DEFINE_CURVE")
    # Every row carries the id of its curve: the header is never read from a point line.
    assert set(curves["LCID"].tolist()) == {2, 3, 4, 7}
    assert len(curves["LCID"]) == len(curves["A1"]) > 4
    # Its *ELEMENT_SOLID block is in the two-line form: one row per element.
    solids = k.parse_builtin("ELEMENT_SOLID")
    assert solids["EID"].tolist() == list(range(1, len(solids["EID"]) + 1))
    assert (solids["EID"][0], solids["PID"][0], solids["N1"][0], solids["N8"][0]) == (1, 1, 1, 4789)
