"""Deck assembly, indices and navigation over small decks written the way
pre-processors write them ($# comment rows, an empty *PART heading line)."""
import os
import threading

import pytest

import tarvex


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return str(path)


def transform(name, idnoff=0, ideoff=0, idpoff=0, idmoff=0, idsoff=0, idfoff=0, iddoff=0, idroff=0):
    offs = [idnoff, ideoff, idpoff, idmoff, idsoff, idfoff, iddoff]
    return (f"*INCLUDE_TRANSFORM\n{name}\n" + "".join(f"{v:10d}" for v in offs) + f"\n{idroff:10d}\n")


def part(pid, secid=0, mid=0, hgid=0, title="", heading=True):
    head = "*PART\n$#                                                                         title\n"
    head += (title + "\n") if heading else ""
    head += "$#     pid     secid       mid     eosid      hgid      grav    adpopt      tmid\n"
    return head + f"{pid:10d}{secid:10d}{mid:10d}{0:10d}{hgid:10d}\n"


def mat(mid, name="MAT_ELASTIC"):
    return f"*{name}\n$#     mid        ro         e        pr\n{mid:10d}    7.8e-9   210000.      0.3\n"


def section(secid):
    return f"*SECTION_SHELL\n{secid:10d}         2\n       1.0       1.0       1.0       1.0\n"


# ---- assembly --------------------------------------------------------------


def test_root_without_includes(tmp_path):
    root = write(tmp_path / "main.k", "*KEYWORD\n" + part(1) + "*END\n")
    deck = tarvex.parse_deck(root)
    assert repr(deck) == "Deck(1 files)"
    files = deck.files()
    assert [f.index for f in files] == [0]
    assert files[0].path == os.path.realpath(root)
    assert deck.part(1).offsets is None


def test_offsets_compose_down_the_chain(tmp_path):
    write(tmp_path / "b.k", part(1))
    write(tmp_path / "c.k", part(2))
    write(tmp_path / "a.k", transform("b.k", idnoff=500, idpoff=7) + "*INCLUDE\nc.k\n")
    root = write(tmp_path / "main.k", transform("a.k", idnoff=1000, idpoff=100))
    deck = tarvex.parse_deck(root)
    assert [os.path.basename(f.path) for f in deck.files()] == ["main.k", "a.k", "b.k", "c.k"]
    b = deck.part(1 + 107)
    assert b.offsets == {"idnoff": 1500, "ideoff": 0, "idpoff": 107, "idmoff": 0, "idsoff": 0,
                         "idfoff": 0, "iddoff": 0, "idroff": 0}
    assert deck.part(102).offsets["idpoff"] == 100  # plain include inherits


def test_breadth_first_order_twice_included_and_cycles(tmp_path):
    write(tmp_path / "c.k", "*INCLUDE\nmain.k\n" + part(3))
    write(tmp_path / "a.k", "*INCLUDE\nc.k\n")
    write(tmp_path / "b.k", "*INCLUDE\nc.k\n*INCLUDE\nb.k\n")
    write(tmp_path / "mesh.k", "*NODE\n       1       0.0       0.0       0.0\n")
    root = write(tmp_path / "main.k", "*INCLUDE\na.k\n*INCLUDE\nb.k\n" + transform("mesh.k", idnoff=10)
                 + transform("mesh.k", idnoff=20) + transform("mesh.k") + "*INCLUDE\nmesh.k\n")
    deck = tarvex.parse_deck(root)
    names = [os.path.basename(f.path) for f in deck.files()]
    # c.k reached twice with equal offsets is one instance; mesh.k once per distinct offsets.
    assert names == ["main.k", "a.k", "b.k", "mesh.k", "mesh.k", "mesh.k", "c.k"]
    assert deck.definition_counts()[0] == ("Node", 3)


def test_missing_include_keeps_deck(tmp_path):
    root = write(tmp_path / "main.k", "*INCLUDE\nnope.k\n" + part(1))
    deck = tarvex.parse_deck(root)
    assert len(deck.files()) == 1 and deck.part(1) is not None


def test_zero_transform_is_like_plain_include(tmp_path):
    write(tmp_path / "a.k", part(4))
    deck = tarvex.parse_deck(write(tmp_path / "main.k", transform("a.k")))
    assert deck.part(4).offsets is None


@pytest.mark.parametrize("ctor", [tarvex.parse_deck, tarvex.Deck])
def test_unresolvable_root(tmp_path, ctor):
    with pytest.raises(RuntimeError) as e:
        ctor("main.k" if False else str(tmp_path / "main.k"))
    assert str(e.value) == f"Cannot resolve root path {tmp_path / 'main.k'}: No such file or directory (os error 2)"


def test_unreadable_root_is_an_error(tmp_path):
    with pytest.raises(RuntimeError) as e:
        tarvex.parse_deck(str(tmp_path))
    assert str(e.value) == f"Cannot read root file {tmp_path}: Is a directory (os error 21)"


def test_path_must_be_str(tmp_path):
    with pytest.raises(TypeError):
        tarvex.parse_deck(tmp_path / "main.k")


# ---- definitions and lookups ----------------------------------------------


def test_part_lookup_with_abs_fallback_and_zero(tmp_path):
    deck = tarvex.parse_deck(write(tmp_path / "m.k", part(5, mid=3) + mat(3)))
    p, q = deck.part(5), deck.part(-5)
    assert (p.id, q.id) == (5, -5)
    assert (p.line, p.keyword) == (q.line, q.keyword) == (1, "PART")
    assert deck.part(0) is None and deck.part(6) is None
    assert repr(p) == "Entity(Part 5 [PART])"
    with pytest.raises(TypeError):
        deck.part(2**63)


def test_empty_heading_line_is_the_title_card(tmp_path):
    # The pre-processor writes the heading as an empty line between comments.
    text = "*PART\n$# title\n\n$#     pid     secid       mid\n         7         1         2\n"
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text + mat(2)))
    p = deck.part(7)
    assert p is not None and p.field("mid") == 2 and p.field("heading") is None
    assert p.material().id == 2


def test_field_names_and_blank_values(tmp_path):
    text = "*PART\nheading\n         5         1                   0\n"
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text + mat(1)))
    p = deck.part(5)
    assert p.field("SECID") == p.field("secid") == 1
    assert p.field("mid") is None  # blank: no value
    assert deck.keywords("PART")[0].field("mid") == ""  # keyword handle: empty text
    assert p.material() is None
    assert p.field("nope") is None


def test_part_defines_only_first_and_only_exact_part(tmp_path):
    text = "*PART\nh1\n         1\nh2\n         2\n*PART_INERTIA\nh\n         3\n"
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text))
    assert deck.part(1) is not None
    assert deck.part(2) is None and deck.part(3) is None


@pytest.mark.parametrize("keyword,kind", [
    ("MAT_ADD_EROSION", None), ("MAT_THERMAL_ISOTROPIC", "ThermalMaterial"), ("MAT_ELASTIC", "Material"),
])
def test_definition_rules(tmp_path, keyword, kind):
    deck = tarvex.parse_deck(write(tmp_path / "m.k", f"*{keyword}\n         7\n"))
    assert deck.definition_counts() == ([] if kind is None else [(kind, 1)])


def test_section_with_blank_id_is_present_and_empty(tmp_path):
    text = "*SECTION_SHELL\n                   2\n" + part(1, secid=4)
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text))
    assert ("Section", 0) in deck.definition_counts()
    assert deck.section(4) is None


def test_titled_sections_and_lists_in_block_order(tmp_path):
    text = ("*SECTION_SHELL_TITLE\nshell one\n         3         2\n" + section(1)
            + "*DEFINE_CURVE_TITLE\ncrv\n        11\n                 0.0                 0.0\n"
            + mat(8) + mat(9, "MAT_RIGID") + mat(10, "MAT_THERMAL_ISOTROPIC"))
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text))
    assert [(s.id, s.keyword) for s in deck.sections()] == [(3, "SECTION_SHELL_TITLE"), (1, "SECTION_SHELL")]
    assert [c.id for c in deck.curves()] == [11]
    assert [m.id for m in deck.materials()] == [8, 9]
    assert deck.curve(11).field("LCID") == 11


def test_transformed_include_references(tmp_path):
    inc = part(5, mid=3) + mat(3) + "*PART\nh\n        -5         0         0\n"
    write(tmp_path / "inc.k", inc)
    deck = tarvex.parse_deck(write(tmp_path / "main.k", transform("inc.k", idpoff=1000, idmoff=100)))
    p = deck.part(1005)
    assert p is not None and p.id == 1005
    assert p.material().id == 103
    assert p.reference("mid").id == 103
    assert p.reference("pid") is None  # the defining field references nothing
    assert deck.part(5) is None


def test_hourglass(tmp_path):
    base = part(1, hgid=2) + part(2, hgid=3)
    deck = tarvex.parse_deck(write(tmp_path / "m.k", base + "*HOURGLASS\n         2         1\n"))
    h = deck.part(1).hourglass()
    assert (h.kind, h.id, h.keyword) == ("Hourglass", 2, "HOURGLASS")
    assert deck.part(2).hourglass() is None
    deck2 = tarvex.parse_deck(write(tmp_path / "n.k", base))
    assert deck2.part(1).hourglass() is None


def test_keywords_by_canonical_base_and_file_suffix(tmp_path):
    write(tmp_path / "a" / "part.k", section(2))
    write(tmp_path / "a" / "mypart.k", "*SECTION_SHELL_TITLE\nt\n         3\n*SECTION_SHELL_ID\n         4\n")
    root = write(tmp_path / "main.k", section(1) + "*INCLUDE\na/mypart.k\n*INCLUDE\na/part.k\n")
    deck = tarvex.parse_deck(root)
    for q in ["SECTION_SHELL", "section_shell_title", "SECTION_SHELL_ID"]:
        assert [k.name for k in deck.keywords(q)] == ["SECTION_SHELL", "SECTION_SHELL_TITLE", "SECTION_SHELL_ID",
                                                      "SECTION_SHELL"]
    assert deck.file("part.k").path.endswith("/a/part.k")
    assert deck.file("a/part.k").path.endswith("/a/part.k")
    assert deck.file("rt.k") is None
    f = deck.file("mypart.k")
    assert [k.name for k in f.keywords()] == ["SECTION_SHELL_TITLE", "SECTION_SHELL_ID"]
    assert [k.name for k in f.keywords("section_shell")] == ["SECTION_SHELL_TITLE", "SECTION_SHELL_ID"]
    assert repr(f.keywords()[0]) == f"Keyword(SECTION_SHELL_TITLE [{f.path}])"


def test_entity_line_counts_attached_comments(tmp_path):
    text = "*KEYWORD\n$ c1\n$ c2\n*SECTION_SHELL\n         1\n"
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text))
    assert deck.section(1).line == 4 and deck.keywords("SECTION_SHELL")[0].line == 4


# ---- tables and user layouts ---------------------------------------------


def test_table_across_files_with_file_local_ids(tmp_path):
    write(tmp_path / "mesh.k", "*NODE\n       1       0.0       0.0       0.0\n")
    root = write(tmp_path / "main.k", "*NODE\n       9       1.0       2.0       3.0\n"
                 + transform("mesh.k", idnoff=100) + "*INCLUDE\nmesh.k\n")
    deck = tarvex.parse_deck(root)
    t = deck.table("NODE")
    assert list(t) == ["nid", "x", "y", "z", "tc", "rc"]
    assert t["nid"].tolist() == [9, 1, 1]
    with pytest.raises(KeyError) as e:
        deck.table("NOT_A_KEYWORD")
    assert e.value.args[0] == "'NOT_A_KEYWORD' is not in the built-in keyword library"
    tw = deck.table_with("node", [[("id", "int", 8, 1), ("xyz", "float", 16, 3)]])
    assert tw["id"].tolist() == [9, 1, 1] and tw["xyz"].shape == (3, 3)
    with pytest.raises(ValueError):
        deck.table_with("NODE", [[("id", "integer", 8, 1)]])


def test_register_schema(tmp_path):
    text = "*MY_THING\n$ x\n        42     hello\n" + part(1)
    deck = tarvex.parse_deck(write(tmp_path / "m.k", text))
    assert deck.keywords("MY_THING")[0].field("val") is None
    deck.register_schema("my_thing_title", [[("val", "int", 10, 1), ("txt", "str", 10, 1)]])
    k = deck.keywords("MY_THING")[0]
    assert (k.field("VAL"), k.field("txt")) == (42, "hello")
    assert k.set_field("val", 7) == "in_place"
    assert k.field("val") == 42  # reads show the file as parsed
    assert deck.files()[0].dirty
    with pytest.raises(KeyError):
        deck.table("MY_THING")


# ---- edits ---------------------------------------------------------------


@pytest.mark.parametrize("value,text,outcome", [
    (12, "        12", "in_place"),
    (1e-7, "      1e-7", "in_place"),
    (100000.0, "       1e5", "in_place"),
    (0.5, "       0.5", "in_place"),
    (100000, "    100000", "in_place"),
    (True, "         1", "in_place"),
    ("abc", "       abc", "in_place"),
    (12345678901, None, "reflowed"),
])
def test_set_field_values(tmp_path, value, text, outcome):
    deck = tarvex.parse_deck(write(tmp_path / "m.k", part(5, secid=1, mid=3)))
    p = deck.part(5)
    assert p.set_field("mid", value) == outcome
    body = deck.files()[0].to_bytes().decode().splitlines()
    if text is not None:
        assert body[-1][20:30] == text
    else:
        assert body[-1] == "5,1,12345678901,0,0"
    assert p.field("mid") == 3 and deck.files()[0].dirty


def test_set_field_errors_and_missing(tmp_path):
    deck = tarvex.parse_deck(write(tmp_path / "m.k", part(5, mid=3)))
    p = deck.part(5)
    with pytest.raises(TypeError, match="value must be str, int, or float"):
        p.set_field("mid", [1])
    assert p.set_field("nope", 1) is None
    f = deck.files()[0]
    assert not f.dirty and repr(f) == f"File('{f.path}')"
    with pytest.raises(TypeError):
        f.set_field(0, 1, 0, "10", 5)
    assert f.set_field(0, 1, 2, [10] * 8, 9) == "in_place"
    assert f.set_field(5, 0, 0, [10], 9) is None
    assert f.set_field(0, 9, 0, [10], 9) is None
    assert repr(f) == f"File('{f.path}', edited)"


def test_file_write_round_trip(tmp_path):
    src = part(5, mid=3)
    deck = tarvex.parse_deck(write(tmp_path / "m.k", src))
    f = deck.files()[0]
    out = tmp_path / "out.k"
    f.write(str(out))
    assert out.read_text() == src
    deck.part(5).set_field("mid", 4)
    f.write(str(out))
    assert out.read_text() == src.replace("         3", "         4", 1)
    with pytest.raises(OSError):
        f.write(str(tmp_path / "no" / "dir" / "x.k"))


def test_register_schema_refused_while_table_runs(tmp_path):
    lines = "".join(f"{i:8d}       0.0       0.0       0.0\n" for i in range(1, 200001))
    deck = tarvex.parse_deck(write(tmp_path / "m.k", "*NODE\n" + lines))
    errors = []
    stop = threading.Event()

    def reader():
        while not stop.is_set():
            deck.table("NODE")

    t = threading.Thread(target=reader)
    t.start()
    try:
        for _ in range(2000):
            try:
                deck.register_schema("X", [[("a", "int", 10, 1)]])
            except RuntimeError as e:
                errors.append(str(e))
                break
    finally:
        stop.set()
        t.join()
    assert errors == [] or errors[0] == "Already borrowed"


def test_classes_are_final_and_handles_not_constructible():
    for cls in (tarvex.Deck, tarvex.Entity, tarvex.Keyword, tarvex.File):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    for cls in (tarvex.Entity, tarvex.Keyword, tarvex.File):
        with pytest.raises(TypeError):
            cls()
