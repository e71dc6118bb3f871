"""The built-in keyword library through KeywordFile.parse_builtin."""

import threading

import numpy as np
import pytest

import tarvex
from conftest import ROOT

NAMES = [n for n in (ROOT / "tools" / "keyword_names.txt").read_text(encoding="utf-8").split("\n") if n]
LIBRARY = NAMES + ["NODE", "PART", "HOURGLASS"]


def kf(write, data: bytes = b"*KEYWORD\n*END\n"):
    return tarvex.parse_keyword_file(str(write("deck.k", data)))


def layout(columns: dict):
    """(name, kind) of every column: 'i' int64, 'f' float64, 's' list of str."""
    out = []
    for name, col in columns.items():
        if isinstance(col, list):
            out.append((name, "s"))
        else:
            assert col.dtype in (np.int64, np.float64)
            out.append((name, "i" if col.dtype == np.int64 else "f"))
    return out


def expected_columns(text: str):
    """'A:i B:f' -> [(A, 'i'), (B, 'f')]."""
    return [tuple(tok.rsplit(":", 1)) for tok in text.split()]


def test_name_list_is_the_sorted_table():
    assert len(NAMES) == 3168
    assert NAMES == sorted(NAMES, key=lambda s: s.encode())
    assert len({n.upper() for n in LIBRARY}) == 3171
    for doubled in ("CASE_CASE", "COMMENT_COMMENT", "FATIGUE_FATIGUE", "HOURGLASS_HOURGLASS", "INCLUDE_INCLUDE",
                    "KEYWORD_KEYWORD", "KEYWORD_KEYWORD_ID", "KEYWORD_KEYWORD_JOBID", "NODE_NODE",
                    "PARAMETER_PARAMETER", "PART_PART"):
        assert doubled in NAMES
    assert sum(n.endswith("_ID") for n in NAMES) == 118
    assert sum(n.endswith("_TITLE") for n in NAMES) == 3


TELLING = {
    "SECTION_SHELL": "SECID:i ELFORM:i SHRF:f NIP:i PROPT:f QR/IRID:i ICOMP:i SETYP:i "
                     "T1:f T2:f T3:f T4:f NLOC:f MAREA:f IDOF:f EDGSET:i "
                     "NIPP:i NXDOF:i IUNF:i IHGF:i ITAJ:i LMC:i NHSV:i ILOC:i XI:f ETA:f WGT:f "
                     + " ".join(f"Bi{'' if i == 1 else f'_{i}'}:f" for i in range(1, 9)) + " "
                     + " ".join(f"Pi{'' if i == 1 else f'_{i}'}:f" for i in range(1, 9)),
    "MAT_ELASTIC": "MID:i RO:f E:f PR:f DA:f DB:f NOT_USED:f",
    "DEFINE_CURVE": "LCID:i SIDR:i SFA:f SFO:f OFFA:f OFFO:f DATTYP:i LCINT:i A1:f O1:f",
    "INCLUDE_TRANSFORM": "FILENAME:s IDNOFF:i IDEOFF:i IDPOFF:i IDMOFF:i IDSOFF:i IDFOFF:i IDDOFF:i "
                         "IDROFF:i -:i PREFIX:s SUFFIX:s FCTMAS:f FCTTIM:f FCTLEN:f FCTTEM:s INCOUT1:i FCTCHG:f "
                         "TRANID:i",
    "ELEMENT_SHELL": "EID:i PID:i N1:i N2:i N3:i N4:i N5:i N6:i N7:i N8:i",
    "SET_NODE_LIST": "SID:i DA1:f DA2:f DA3:f DA4:f SOLVER:s ITS:s -:s "
                     + " ".join(f"NID{i}:i" for i in range(1, 9)),
    "DEFINE_TABLE": "TBID:i SFA:f OFFA:f VALUE:f LCID:i",
    "AIRBAG_REFERENCE_GEOMETRY_BIRTH": "BIRTH:f NID:i X:f Y:f Z:f",
    "AIRBAG_REFERENCE_GEOMETRY_BIRTH_ID": "ID:i SX:f SY:f SZ:f NIDO:i BIRTH:f NID:i X:f Y:f Z:f",
    "NODE": "nid:i x:f y:f z:f tc:i rc:i",
    "PART": "heading:s pid:i secid:i mid:i eosid:i hgid:i grav:i adpopt:i tmid:i",
    "HOURGLASS": "HGID:i IHQ:i QM:f IBQ:i Q1:f Q2:f QB/VDC:f QW:f",
    "HOURGLASS_HOURGLASS": "HGID:i IHQ:i QM:f IBQ:i Q1:f Q2:f QB/VDC:f QW:f",
    "INCLUDE_INCLUDE": "FILENAME:s",
}


@pytest.mark.parametrize("name", sorted(TELLING))
def test_telling_entries(write, name):
    assert layout(kf(write).parse_builtin(name)) == expected_columns(TELLING[name])


def test_contact_surface_layout(write):
    cols = layout(kf(write).parse_builtin("CONTACT_AUTOMATIC_SINGLE_SURFACE"))
    assert cols[:8] == expected_columns("SURFA:i SURFB:i SURFATYP:i SURFBTYP:i SABOXID:i SBBOXID:i SAPR:i SBPR:i")
    assert len(cols) == 24
    assert {kind for _, kind in cols[8:]} <= {"i", "f"}


@pytest.mark.parametrize(
    "query, first_column",
    [
        ("node", "nid"), ("NoDe", "nid"), ("NODE", "nid"), ("hourglass", "HGID"), ("part", "heading"),
        ("NODE_MERGE", None), ("MAT_115_o", None), ("MAT_115_O", None), ("mat_249_udfiber", None),
        ("element_solid (ten nodes format)", "EID"), ("define_curve", "LCID"),
        ("INCLUDE_INCLUDE", "FILENAME"), ("HOURGLASS_HOURGLASS", "HGID"),
    ],
)
def test_lookups_that_hit(write, query, first_column):
    cols = kf(write).parse_builtin(query)
    if first_column is not None:
        assert next(iter(cols)) == first_column


@pytest.mark.parametrize(
    "query", ["INCLUDE", "KEYWORD", "PARAMETER", "CASE", "COMMENT", "FATIGUE", "KEYWORD_ID", "KEYWORD_JOBID", "",
              "NODE ", " NODE", "NOT_A_KEYWORD", "NOT_A_KEYWORD_TITLE", "INCLUDE_TITLE", "NODE_ID", "x" * 300,
              "NODÉ"]
)
def test_lookups_that_miss(write, query):
    with pytest.raises(KeyError) as e:
        kf(write).parse_builtin(query)
    assert e.value.args == (f"'{query}' is not in the built-in keyword library",)


def test_argument_types(write):
    k = kf(write)
    with pytest.raises(TypeError):
        k.parse_builtin(b"NODE")
    with pytest.raises(TypeError):
        k.parse_builtin()
    assert k.parse_builtin(keyword="NODE")["nid"].shape == (0,)


def test_reads_blocks_by_the_library_name(write):
    deck = (b"*KEYWORD\n*NODE\n       1             1.0             2.0             3.0       0       0\n"
            b"*node\n       2\n*NODE_TITLE\nt\n       3\n*ELEMENT_SHELL\n$ eid pid n1..\n"
            b"      10       1     100     101     102     103\n"
            b"11,2,200,201,202,203\n*END\n")
    k = kf(write, deck)
    nodes = k.parse_builtin("Node")
    assert nodes["nid"].tolist() == [1, 2]
    assert nodes["x"].tolist() == [1.0, 0.0]
    assert nodes["z"].tolist() == [3.0, 0.0]
    shells = k.parse_builtin("element_shell")
    assert shells["EID"].tolist() == [10, 11]
    assert shells["PID"].tolist() == [1, 2]
    assert shells["N4"].tolist() == [103, 203]
    assert shells["N5"].tolist() == [0, 0]
    assert all(isinstance(v, np.ndarray) and v.dtype == np.int64 for v in shells.values())


def test_multi_card_entries_repeat(write):
    # PART: a heading card and a data card, repeating until the block ends.
    deck = b"*PART\nbody\n         1         2         3\nroof\n         4         5         6         7\n*END\n"
    part = kf(write, deck).parse_builtin("PART")
    assert part["heading"] == ["body", "roof"]
    assert part["pid"].tolist() == [1, 4]
    assert part["mid"].tolist() == [3, 6]
    assert part["eosid"].tolist() == [0, 7]


def test_title_name_reads_its_own_blocks_with_a_title_column(write):
    deck = b"*SECTION_SHELL_TITLE\nmy shell\n         1        16\n*SECTION_SHELL\n         2         2\n"
    k = kf(write, deck)
    titled = k.parse_builtin("SECTION_SHELL_TITLE")
    assert list(titled)[:3] == ["TITLE", "SECID", "ELFORM"]
    assert titled["TITLE"] == ["my shell"]
    assert titled["SECID"].tolist() == [1] and titled["ELFORM"].tolist() == [16]
    # The base name reads only its own blocks; the omitted cards read as defaults.
    plain = k.parse_builtin("SECTION_SHELL")
    assert plain["SECID"].tolist() == [2] and plain["ELFORM"].tolist() == [2]
    assert plain["Bi_8"].dtype == np.float64 and plain["Bi_8"].tolist() == [0.0]


def test_every_library_name_gives_a_layout(write):
    k = kf(write)
    for name in LIBRARY:
        cols = k.parse_builtin(name)
        again = k.parse_builtin(name.swapcase())
        assert list(cols) == list(again), name
        for v in cols.values():
            assert len(v) == 0


def test_parse_builtin_releases_the_lock_and_holds_a_shared_claim(write):
    deck = b"*NODE\n" + b"".join(b"%8d%16.1f%16.1f%16.1f\n" % (i, i, i, i) for i in range(200_000))
    k = kf(write, deck)
    errors, results = [], []

    def reader():
        try:
            results.append(len(k.parse_builtin("NODE")["nid"]))
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=reader) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors and results == [200_000] * 3


def canonical_base(name: str) -> str:
    s = name.upper()
    if s.endswith("_TITLE"):
        s = s[:-6]
    if s.endswith("_ID"):
        s = s[:-3]
    return s


def real_decks():
    base = ROOT.parent / "shared" / "testdata" / "keyword"
    if not base.exists():
        return []
    return sorted(p for p in base.rglob("*") if p.is_file() and p.suffix.lower() in (".k", ".key", ".dyn"))


@pytest.mark.parametrize("deck", real_decks() or [None], ids=lambda p: p.name if p else "absent")
def test_real_decks(deck):
    if deck is None:
        pytest.skip("test data not available")
    k = tarvex.parse_keyword_file(str(deck))
    library = {n.upper() for n in LIBRARY}
    names = {n for n in k.block_names() if n}
    checked = 0
    for name in sorted(names | {canonical_base(n) for n in names}):
        titled = name.upper().endswith("_TITLE") and canonical_base(name) in library
        if name.upper() not in library and not titled:
            if not name.upper().endswith("_ID"):
                with pytest.raises(KeyError):
                    k.parse_builtin(name)
            continue
        cols = k.parse_builtin(name)
        lengths = {len(v) for v in cols.values()}
        assert len(lengths) <= 1, name
        checked += 1
    if deck.name == "test.k":
        assert checked > 0
