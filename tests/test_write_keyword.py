"""Writing single-keyword decks from columns."""

import math
import os

import numpy as np
import pytest

import tarvex


def written(tmp_path, name, columns):
    p = tmp_path / "out.k"
    tarvex.write_keyword(str(p), name, columns)
    return p.read_bytes()


def test_basic_rows(tmp_path):
    out = written(tmp_path, "NODE", {"nid": np.array([1, 2]), "x": np.array([0.5, 1.0])})
    assert out == b"*KEYWORD\n*NODE\n1,0.5\n2,1\n*END\n"


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, b"1"), (0.25, b"0.25"), (1e-7, b"0.0000001"), (1e21, b"1000000000000000000000"),
        (-0.0, b"-0"), (math.inf, b"inf"), (-math.inf, b"-inf"), (math.nan, b"NaN"), (0.1, b"0.1"),
        (1 / 3, b"0.3333333333333333"), (-2.5e-3, b"-0.0025"), (123456.789, b"123456.789"),
    ],
)
def test_float_formatting(tmp_path, value, text):
    assert written(tmp_path, "X", {0: np.array([value])}) == b"*KEYWORD\n*X\n" + text + b"\n*END\n"


def test_shortest_round_trip_for_random_doubles(tmp_path):
    rng = np.random.default_rng(1)
    bits = rng.integers(0, 2**63 - 1, 3000, dtype=np.int64).view(np.float64)
    vals = np.concatenate([rng.standard_normal(2000) * 10.0 ** rng.integers(-30, 30, 2000),
                           bits[np.isfinite(bits)], -bits[np.isfinite(bits)][:100],
                           [5e-324, 1.7976931348623157e308, 2.2250738585072014e-308, 2.0**53, 2.0**53 - 1,
                            8.216181435011583e22, 1e23, 2.0**70]])
    lines = written(tmp_path, "X", {"v": vals}).split(b"\n")[2:-2]
    assert [float(l) for l in lines] == vals.tolist()
    assert all(b"e" not in l for l in lines)
    # The shortest digits (Python's repr), written out positionally.
    from decimal import Decimal

    assert lines == [format(Decimal(repr(v)).normalize(), "f").encode() for v in vals.tolist()]


def test_ints_int32_and_text_columns(tmp_path):
    cols = {
        "a": np.array([-5, 2**63 - 1], dtype=np.int64),
        "b": np.array([7, -8], dtype=np.int32),
        "c": ["x,y", "z"],
        "d": ("p", "q"),
    }
    assert written(tmp_path, "T", cols) == b"*KEYWORD\n*T\n-5,7,x,y,p\n9223372036854775807,-8,z,q\n*END\n"


def test_strided_arrays_are_read(tmp_path):
    a = np.arange(10, dtype=np.int64)[::3]
    f = np.arange(20, dtype=np.float64).reshape(10, 2)[:4, 1]
    assert written(tmp_path, "S", {"a": a, "f": f}) == b"*KEYWORD\n*S\n0,1\n3,3\n6,5\n9,7\n*END\n"


def test_zero_rows(tmp_path):
    assert written(tmp_path, "NODE", {"a": np.array([], dtype=np.int64)}) == b"*KEYWORD\n*NODE\n*END\n"


def test_many_rows_keep_order_across_chunks(tmp_path):
    n = 200_000
    out = written(tmp_path, "NODE", {"i": np.arange(n, dtype=np.int64), "s": [str(i) for i in range(n)]})
    lines = out.split(b"\n")
    assert lines[2:-2] == [b"%d,%d" % (i, i) for i in range(n)]


@pytest.mark.parametrize(
    "column",
    [np.array([1.0], dtype=np.float32), [1, 2], [1.0], np.zeros((2, 2)), "ab", b"ab", [b"x"], 5,
     np.array([1], dtype=np.uint64)],
    ids=["float32", "int list", "float list", "2-D", "str", "bytes", "bytes list", "int", "uint64"],
)
def test_wrong_column_kind(tmp_path, column):
    with pytest.raises(TypeError, match=r"^each column must be an int64/float64 numpy array or a list\[str\]$"):
        tarvex.write_keyword(str(tmp_path / "x.k"), "X", {"a": column})
    assert not (tmp_path / "x.k").exists()


def test_check_order_and_messages(tmp_path):
    p = str(tmp_path / "x.k")
    with pytest.raises(ValueError, match="^no columns given$"):
        tarvex.write_keyword(p, "X", {})
    with pytest.raises(ValueError, match="^all columns must have the same length$"):
        tarvex.write_keyword(p, "X", {"a": np.array([1]), "b": np.array([1, 2])})
    # Conversion comes before the length check.
    with pytest.raises(TypeError):
        tarvex.write_keyword(p, "X", {"a": np.array([1]), "b": [1, 2]})
    with pytest.raises(TypeError):
        tarvex.write_keyword(p, "X", [np.array([1])])


def test_unwritable_path_is_os_error(tmp_path):
    with pytest.raises(OSError):
        tarvex.write_keyword(str(tmp_path / "missing" / "x.k"), "X", {"a": np.array([1])})


def test_written_deck_reads_back(tmp_path):
    p = tmp_path / "n.k"
    nid = np.arange(1, 1001, dtype=np.int64)
    x = np.linspace(-1, 1, 1000)
    tarvex.write_keyword(str(p), "NODE", {"nid": nid, "x": x})
    t = tarvex.parse_keyword_file(str(p)).parse_schema("NODE", [[("nid", "int", 8, 1), ("x", "float", 16, 1)]], True)
    assert np.array_equal(t["nid"], nid) and np.array_equal(t["x"], x)


def test_fifo_without_reader_fails_instead_of_blocking(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    with pytest.raises(OSError) as e:
        tarvex.write_keyword(str(fifo), "NODE", {"a": np.array([1])})
    assert e.value.errno == 6
