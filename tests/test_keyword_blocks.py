"""Splitting keyword files into blocks: extents, names, options, cards, round trip."""

import os

import pytest

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
    for i in range(k.num_blocks):
        d = k.keyword(i)
        assert isinstance(d["name"], str)


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
