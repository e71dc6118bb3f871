"""Splitting keyword files into blocks: extents, names, options, cards, round trip."""

import os

import re

import pytest
from hypothesis import given, settings, strategies as st

import tarvex
from conftest import shared_data


def kf(write, data: bytes, name="deck.k"):
    return tarvex.parse_keyword_file(str(write(name, data)))


ROUND_TRIP = {
    "plain": b"*KEYWORD\n*NODE\n       1       0.0\n*END\n",
    "crlf": b"*KEYWORD\r\n*NODE\r\n       1       0.0\r\n*END\r\n",
    "no final lf": b"*KEYWORD\n*END",
    "leading text": b"title line\n\n$ comment\n*KEYWORD\n*END\n",
    "no keyword": b"just text\nand more\n",
    "empty": b"",
    "only star": b"*",
    "invalid utf8": b"*KEYWORD\n*N\xffODE\n1\xfe,2\n*END\n",
    "lone cr": b"*KEYWORD\r*NODE\n1\r2\n",
    "blank and comment runs": b"*NODE\n1\n\n  \n$ a\n   $ b\n\t\r\n*PART\n",
    "nul bytes": b"*KEYWORD\n\x00\x00*NODE\n\x00\n",
}


@pytest.mark.parametrize("data", ROUND_TRIP.values(), ids=ROUND_TRIP.keys())
def test_round_trip_is_byte_exact(write, tmp_path, data):
    k = kf(write, data)
    assert k.to_bytes() == data
    out = tmp_path / "out.k"
    k.write(str(out))
    assert out.read_bytes() == data
    assert not k.dirty


@pytest.mark.parametrize(
    "data, names",
    [
        (b"", []),
        (b"no keyword at all\n", []),
        (b"*END", ["END"]),
        (b"*KEYWORD\n *NODE\n*END\n", ["KEYWORD", "END"]),  # an indented * is not a keyword line
        (b"*node\n*Part_Title\n", ["node", "Part_Title"]),
        (b"*NODE %\n*SECTION_SHELL\tx\n*MAT_ELASTIC\r\n", ["NODE", "SECTION_SHELL", "MAT_ELASTIC"]),
        (b"*\n*N\xffX\n", ["", ""]),
    ],
)
def test_block_names(write, data, names):
    k = kf(write, data)
    assert k.block_names() == names
    assert k.num_blocks == len(names)


def test_comment_lines_attach_to_the_next_keyword(write):
    deck = (
        b"*KEYWORD\n"
        b"*NODE\n"
        b"       1\n"
        b"$ stays with NODE: a card follows\n"
        b"       2\n"
        b"$ moves to PART\n"
        b"\n"
        b"*PART\n"
        b"p\n"
    )
    k = kf(write, deck)
    k.set_keyword(2, "PART", [["q"]])
    assert k.to_bytes() == (
        b"*KEYWORD\n*NODE\n       1\n$ stays with NODE: a card follows\n       2\n$ moves to PART\n\n*PART\nq\n"
    )
    k2 = kf(write, deck, "b.k")
    k2.set_keyword(1, "NODE", [])
    # The comment in front of *PART is not part of the NODE block.
    assert k2.to_bytes() == b"*KEYWORD\n*NODE\n$ moves to PART\n\n*PART\np\n"


def test_keyword_dict(write):
    k = kf(write, b"*KEYWORD LONG=S\n*NODE %  extra\n       1     0.0\n$ c\n \n  $ card\n1,,3,\n")
    assert k.keyword(0) == {"name": "KEYWORD", "options": ["LONG=S"], "cards": []}
    d = k.keyword(1)
    assert list(d) == ["name", "options", "cards"]
    assert d["name"] == "NODE" and d["options"] == ["%", "extra"]
    # Long format (20-byte pieces); a line beginning with blanks then $ is a card.
    assert d["cards"] == [["1     0.0"], ["$ card"], ["1", "", "3", ""]]


@pytest.mark.parametrize(
    "first_line, long",
    [
        (b"*KEYWORD LONG=S", True),
        (b"*keyword long = y", True),
        (b"*KEYWORD 100 LONG=S", True),
        (b"*KEYWORD LONG=K", False),
        (b"*KEYWORD", False),
        (b"*KEYWORDS LONG=S", True),  # bytes 1..7 are KEYWORD
        (b"*KEYWORD LONGER=S", False),
        (b"*NODE LONG=S", False),
    ],
)
def test_long_format_decided_once_for_the_file(write, first_line, long):
    k = kf(write, b"*TITLE\nt\n" + first_line + b"\n*NODE\n       1     0.0\n")
    expected = [["1     0.0"]] if long else [["1", "0.0"]]
    assert k.keyword(2)["cards"] == expected


def test_fixed_card_fields(write):
    k = kf(write, b"*NODE\n       1     0.0\n")
    assert k.keyword(0)["cards"] == [["1", "0.0"]]


def test_crlf_reads_like_lf(write):
    lf = kf(write, b"*NODE %\n       1     0.0\n1,2\n", "lf.k")
    crlf = kf(write, b"*NODE %\r\n       1     0.0\r\n1,2\r\n", "crlf.k")
    assert lf.keyword(0) == crlf.keyword(0)
    assert lf.block_names() == crlf.block_names()


def test_invalid_utf8_fields_and_options_are_empty(write):
    k = kf(write, b"*NODE \xff\n\xff\xfe      " + b"     2.0\n")
    assert k.keyword(0) == {"name": "NODE", "options": [], "cards": [["", "2.0"]]}


def test_repr(write):
    k = kf(write, b"*KEYWORD\n*NODE\n*END\n")
    assert repr(k) == f"KeywordFile('{k_path(write)}', 3 blocks)"
    k.set_keyword(1, "NODE", [])
    assert repr(k) == f"KeywordFile('{k_path(write)}', 3 blocks, edited)"


def k_path(write):
    return str(write("deck.k", b"*KEYWORD\n*NODE\n*END\n"))


def test_path_is_kept_as_given(write, tmp_path, monkeypatch):
    write("rel.k", b"*END\n")
    monkeypatch.chdir(tmp_path)
    assert repr(tarvex.parse_keyword_file("rel.k")) == "KeywordFile('rel.k', 1 blocks)"


@pytest.mark.parametrize("index", [3, 100])
def test_keyword_index_out_of_range(write, index):
    k = kf(write, b"*A\n*B\n*C\n")
    with pytest.raises(IndexError, match=f"^block index {index} out of range$"):
        k.keyword(index)


def test_negative_index_is_overflow_error(write):
    with pytest.raises(OverflowError):
        kf(write, b"*A\n").keyword(-1)


def test_missing_file_raises_os_error(tmp_path):
    with pytest.raises(OSError) as e:
        tarvex.parse_keyword_file(str(tmp_path / "missing.k"))
    assert type(e.value) is FileNotFoundError and e.value.errno == 2
    assert str(e.value) == "No such file or directory (os error 2)"


def test_directory_raises_os_error(tmp_path):
    with pytest.raises(OSError):
        tarvex.parse_keyword_file(str(tmp_path))


def test_path_object_is_refused(write):
    with pytest.raises(TypeError):
        tarvex.parse_keyword_file(write("a.k", b"*A\n"))


REAL_DECKS = [
    ("keyword", "test.k"),
    ("keyword", "test_node_sets.k"),
    ("keyword", "encoding_sample.k"),
    ("keyword", "transform", "test.k"),
    ("keyword", "include_tree", "keyfile.key"),
    ("keyword", "include_tree", "keyfile_include1.key"),
    ("keyword", "include_tree", "keyfile_include2.key"),
    ("keyword", "expand_test", "bird_B.k"),
    ("keyword", "expand_test", "control_cards.k"),
    ("keyword", "expand_test", "fol", "mesh.k"),
]


def independent_block_count(data: bytes) -> int:
    # Blocks start at every line whose first byte is '*': count such lines.
    return sum(1 for line in data.split(b"\n") if line.startswith(b"*"))


@pytest.mark.parametrize("parts", REAL_DECKS, ids=lambda p: "/".join(p[1:]))
def test_real_decks_round_trip(parts):
    p = shared_data(*parts)
    data = p.read_bytes()
    k = tarvex.parse_keyword_file(str(p))
    assert k.to_bytes() == data
    assert k.num_blocks == independent_block_count(data)
    # Each block's name as an independent reading of its keyword line gives
    # it (up to the first blank, tab or CR; "" when it is not UTF-8).
    expected = []
    for line in data.split(b"\n"):
        if line.startswith(b"*"):
            raw = re.split(rb"[ \t\r]", line[1:], maxsplit=1)[0]
            try:
                expected.append(raw.decode("utf-8"))
            except UnicodeDecodeError:
                expected.append("")
    assert [k.keyword(i)["name"] for i in range(k.num_blocks)] == expected


@pytest.mark.parametrize("index, exc, text", [
    (2**63, IndexError, f"block index {2**63} out of range"),
    (2**64 - 1, IndexError, f"block index {2**64 - 1} out of range"),
    (2**64, OverflowError, "too big"),
    (-1, OverflowError, "negative"),
])
def test_huge_and_negative_indices(write, index, exc, text):
    with pytest.raises(exc, match=text):
        kf(write, b"*A\n").keyword(index)


def test_numpy_integers_are_indices_but_floats_are_not(write):
    import numpy as np

    k = kf(write, b"*A\n*B\n")
    assert k.keyword(np.int64(1))["name"] == "B"
    assert k.keyword(np.uint8(0))["name"] == "A"
    with pytest.raises(OverflowError):
        k.keyword(np.int64(-1))
    with pytest.raises(TypeError):
        k.keyword(1.0)


# ---- Differential check against a reference splitter written from the rules.

_WS = b" \t\r\n"


def _content(data: bytes, pos: int) -> bytes:
    end = data.find(b"\n", pos)
    c = data[pos:] if end < 0 else data[pos:end]
    return c[:-1] if end >= 0 and c.endswith(b"\r") else c


def _text(b: bytes) -> str:
    try:
        return b.decode()
    except UnicodeDecodeError:
        return ""


def _long_format(data: bytes, kws) -> bool:
    for k in kws:
        line = _content(data, k).rstrip(_WS)
        if len(line) < 8 or line[1:8].upper() != b"KEYWORD":
            continue
        p = line.upper().find(b"LONG")
        if p < 0:
            continue
        i = p + 4
        while i < len(line) and line[i] in b" \t":
            i += 1
        if i >= len(line) or line[i:i + 1] != b"=":
            continue
        i += 1
        while i < len(line) and line[i] in b" \t":
            i += 1
        if i < len(line) and line[i:i + 1].upper() in (b"S", b"Y"):
            return True
    return False


def _attachable(line: bytes) -> bool:
    rest = line.lstrip(b" \t")
    return rest == b"" or rest.startswith(b"$") or all(c in _WS for c in rest)


def _cards(body: bytes, long: bool):
    cards = []
    for line in body.split(b"\n"):
        c = line[:-1] if line.endswith(b"\r") else line
        if c == b"" or c.startswith(b"$") or all(ch in _WS for ch in c):
            continue
        if b"," in c:
            pieces = c.rstrip(b"\r\n").split(b",")
        else:
            c = c.rstrip(_WS)
            w = 20 if long else 8
            pieces = [c[i:i + w] for i in range(0, len(c), w)]
        cards.append([_text(p.lstrip(b" \t").rstrip(_WS)) for p in pieces])
    return cards


def reference_blocks(data: bytes):
    kws = [i for i in range(len(data)) if data[i] == 0x2A and (i == 0 or data[i - 1] == 0x0A)]
    if not kws:
        return []
    long = _long_format(data, kws)
    starts = [0]
    for k in kws[1:]:
        s = k
        while s > 0:
            ls = data.rfind(b"\n", 0, s - 1) + 1
            if not _attachable(data[ls:s - 1]):
                break
            s = ls
        starts.append(s)
    ends = starts[1:] + [len(data)]
    out = []
    for k, start, end in zip(kws, starts, ends):
        lf = data.find(b"\n", k)
        kw_end = min(end, lf + 1 if lf >= 0 else len(data))
        kwline = data[k:kw_end]
        name = kwline[1:]
        for i, ch in enumerate(name):
            if ch in b"\t\n\r ":
                name = name[:i]
                break
        rest = kwline.rstrip(_WS)[1:]
        cut = min((i for i in (rest.find(b" "), rest.find(b"\t")) if i >= 0), default=-1)
        opts = _text(rest[cut + 1:]).split() if cut >= 0 else []
        out.append((start, k, end, _text(name), opts, _cards(data[kw_end:end], long)))
    return out


_LINES = [b"*NODE", b"*KEYWORD LONG=S", b"*KEYWORD long = y", b"*KEYWORD LONG=K", b"$ c", b"  $x", b"   ",
          b"\t", b"\r", b"", b"1,,3,", b"       1     0.0", b"*", b"*node  a\tb ", b"\xff\xfe", b"*N\xffX o\xff",
          b"x" * 30, b"  *X", b"12345678901234567890123", b" \r ", b"*INCLUDE"]


@settings(max_examples=150, deadline=None)
@given(st.lists(st.sampled_from(_LINES), max_size=25), st.sampled_from([b"\n", b"\r\n"]), st.booleans())
def test_blocks_match_the_rules(tmp_path_factory, lines, eol, final_eol):
    data = eol.join(lines) + (eol if final_eol and lines else b"")
    p = tmp_path_factory.mktemp("blk") / "d.k"
    p.write_bytes(data)
    k = tarvex.parse_keyword_file(str(p))
    ref = reference_blocks(data)
    assert k.num_blocks == len(ref)
    assert k.block_names() == [r[3] for r in ref]
    for i, (start, kw, end, name, opts, cards) in enumerate(ref):
        assert k.keyword(i) == {"name": name, "options": opts, "cards": cards}
    # Block extents: replacing block i keeps exactly [start, kw_start) of it.
    for i, (start, kw, end, *_rest) in enumerate(ref):
        k2 = tarvex.parse_keyword_file(str(p))
        k2.set_keyword(i, "Z", [])
        assert k2.to_bytes() == data[:kw] + b"*Z\n" + data[end:]
