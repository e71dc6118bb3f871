"""BinoutEditor: tree edits, the exact LSDA serialisation, and round trips
through Binout."""

import struct
from pathlib import Path

import numpy as np
import pytest

from _tarvex import Binout, BinoutEditor
from test_binout_lsda import LsdaBuilder, build, open_bytes, write
from test_binout import REAL, nodout_tree

DTYPES = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64", "float32", "float64"]


def records(data):
    """(offset, command, payload) of every record after the header; the
    format's 8-byte little-endian length and 1-byte command.  A BEGIN SYMBOL
    TABLE record's length is that of the whole table; it has no payload."""
    out, at = [], 8
    while at < len(data):
        (length,) = struct.unpack_from("<Q", data, at)
        cmd = data[at + 8]
        if cmd == 5:
            length = 9
        out.append((at, cmd, data[at + 9: at + length]))
        at += length
    assert at == len(data)
    return out


def test_empty_editor_bytes():
    data = BinoutEditor().to_bytes()
    assert len(data) == 51
    assert data[:8] == bytes([8, 8, 8, 1, 1, 1, 0, 0])
    assert records(data) == [
        (8, 7, struct.pack("<Q", 25)),
        (25, 5, b""),  # the BEGIN record's length spans the whole table: 26
        (34, 6, struct.pack("<Q", 0)),
    ]
    assert struct.unpack_from("<Q", data, 25)[0] == 26


def test_serialisation_layout():
    e = BinoutEditor()
    e.set(["b", "x"], np.array([1, 2], np.int16))
    e.set(["a"], "hi")
    data = e.to_bytes()
    recs = records(data)
    cmds = [c for _, c, _ in recs]
    assert cmds == [7, 2, 3, 2, 3, 5, 2, 4, 2, 4, 6]
    assert recs[1][2] == b"/" and recs[3][2] == b"/b"
    # DATA: type, name length, name, elements.
    assert recs[2][2] == bytes([1, 1]) + b"a" + b"hi"
    assert recs[4][2] == bytes([2, 1]) + b"x" + struct.pack("<2h", 1, 2)
    # VARIABLE: name, type, offset of the DATA record, count.
    assert recs[7][2] == b"a" + bytes([1]) + struct.pack("<QQ", recs[2][0], 2)
    assert recs[9][2] == b"x" + bytes([2]) + struct.pack("<QQ", recs[4][0], 2)
    S = recs[5][0]
    assert struct.unpack_from("<Q", data, 17)[0] == S
    assert struct.unpack_from("<Q", data, S)[0] == len(data) - S


def test_set_get_list():
    e = BinoutEditor()
    e.set(["a", "b", "x"], np.array([0, 1, 2], np.int32))
    assert e.list([]) == ["a"] and e.list() == ["a"]
    assert e.list(["a"]) == ["b"]
    got = e.get(["a", "b", "x"])
    assert got.dtype == np.int32 and list(got) == [0, 1, 2]
    assert e.list(["a", "b", "x"]) is None
    assert e.list(["nope"]) is None
    assert e.get(["a"]) is None and e.get(["a", "zz"]) is None and e.get([]) is None
    e.set(["ints"], [1, 2, 3])
    assert e.get(["ints"]).dtype == np.float64
    e.set(["text"], "héllo")
    assert e.get(["text"]) == "héllo"
    e.set(["m"], np.arange(6, dtype=">i4").reshape(2, 3)[:, ::-1])
    m = e.get(["m"])
    assert m.dtype == np.int32 and list(m) == [2, 1, 0, 5, 4, 3]


def test_set_errors():
    e = BinoutEditor()
    e.set(["a", "x"], np.array([1.0]))
    cases = [([], "cannot set the root"), (["a", "x", "y"], "parent is a dataset, not a directory"),
             (["a", "x", "y", "z"], "'x' is a dataset, not a directory")]
    for path, text in cases:
        with pytest.raises(RuntimeError) as ex:
            e.set(path, [1])
        assert ex.value.args == ("Invalid path: " + text,)
    with pytest.raises(TypeError) as ex:
        e.set(["d"], {"a": 1})
    assert ex.value.args == ("expected a 1-D numpy array, a list of numbers, or a str",)
    for bad in [["a", None], np.array([1 + 2j]), object(), "\ud800"]:
        with pytest.raises(TypeError):
            e.set(["q"], bad)
    with pytest.raises(TypeError):
        e.set("ab", [1.0])
    with pytest.raises(RuntimeError, match="deeper than 1000 levels"):
        e.set(["d"] * 1001, [1.0])
    assert e.list() == ["a"]


def test_remove():
    e = BinoutEditor()
    e.set(["a", "b", "x"], [1.0])
    e.set(["c"], [1.0])
    assert e.remove(["a"]) is True
    assert e.remove(["a"]) is False
    assert e.remove([]) is False
    assert e.remove(["c", "under"]) is False
    assert e.list() == ["c"]


def test_round_trip_every_dtype(tmp_path):
    e = BinoutEditor()
    vals = {}
    for i, dt in enumerate(DTYPES):
        info = np.iinfo(dt) if dt[0] in "iu" else np.finfo(dt)
        vals[dt] = np.array([info.min, 0, info.max, 1], dt)
        e.set(["all", dt], vals[dt])
    e.set(["all", "empty"], np.array([], np.float32))
    e.set(["txt"], "legend text")
    e.set(["gone", "sub"], [1.0])
    e.remove(["gone", "sub"])  # leaves an empty directory, which is not written
    e.set(["n" * 255], np.array([7], np.uint16))
    e.set(["d", "m" * 300], np.array([9], np.int64))  # longer than a 1-byte name length
    p = tmp_path / "out.binout"
    e.write(str(p))
    assert p.read_bytes() == e.to_bytes()
    b = Binout(str(p))
    assert b.read() == ["all", "d", "n" * 255, "txt"]
    for dt, v in vals.items():
        got = b.read("all", dt)
        assert got.dtype == np.dtype(dt)
        np.testing.assert_array_equal(got, v)
    assert b.read("all", "empty").dtype == np.float32
    txt = b.read("txt")
    assert txt.dtype == np.int8 and txt.tobytes() == b"legend text"
    np.testing.assert_array_equal(b.read("d", "m" * 300), [9])
    # Reloading gives the same bytes again (text comes back as int8 data).
    again = BinoutEditor(str(p))
    assert again.get(["all", "float32"]).dtype == np.float32
    assert again.get(["txt"]).dtype == np.int8


def test_load_builder_file_and_family(tmp_path):
    write(tmp_path, nodout_tree(little=False), "bo")
    b2 = LsdaBuilder()
    o = b2.data("extra", np.array([4, 5], np.uint32))
    b2.table([b2.cd("/late"), b2.var("extra", 7, o, 2)])
    write(tmp_path, b2.bytes(), "bo%001")
    e = BinoutEditor(str(tmp_path / "bo"))
    assert e.list() == ["empty_branch", "glstat", "late", "nodout"]
    assert e.get(["nodout", "d000002", "x_acceleration"]).dtype == np.float32
    out = tmp_path / "copy"
    e.write(str(out))
    src, dst = Binout(str(tmp_path / "bo")), Binout(str(out))
    np.testing.assert_array_equal(src.read("nodout", "x_acceleration"), dst.read("nodout", "x_acceleration"))
    np.testing.assert_array_equal(dst.read("late", "extra"), [4, 5])
    assert dst.legend("nodout") == src.legend("nodout")


def test_load_and_write_errors(tmp_path):
    with pytest.raises(FileNotFoundError):
        BinoutEditor(str(tmp_path / "none*"))
    with pytest.raises(RuntimeError):
        BinoutEditor(write(tmp_path, b"\x08" * 5))
    with pytest.raises(TypeError):
        BinoutEditor(tmp_path)
    with pytest.raises(OSError):
        BinoutEditor().write(str(tmp_path / "no" / "such" / "dir"))
    with pytest.raises(IsADirectoryError):
        BinoutEditor().write(str(tmp_path))


def test_load_refuses_aliased_records(tmp_path):
    # Many entries naming one big record would copy far more than the file holds.
    b = LsdaBuilder()
    o = b.data("x", np.zeros(4000))
    b.table([b.cd("/s")] + [b.var(chr(65 + i % 26) + chr(65 + i // 26), 10, o, 3990) for i in range(200)])
    p = write(tmp_path, b.bytes())
    with pytest.raises(RuntimeError, match="overlap"):
        BinoutEditor(p)
    # The reader itself reads each of them on demand.
    assert Binout(p).read("s", "AA").shape == (3990,)


@pytest.mark.skipif(not REAL.exists(), reason="shared test data not present")
def test_real_binout_round_trip(tmp_path):
    src = Binout(str(REAL))
    e = BinoutEditor(str(REAL))
    out = tmp_path / "rt"
    e.write(str(out))
    dst = Binout(str(out))

    def walk(path):
        node = src.channels(path)
        if not node:
            a, b = src.read(path), dst.read(path)
            assert a.dtype == b.dtype
            np.testing.assert_array_equal(a, b)
            return 1
        assert dst.channels(path) == node
        return sum(walk(path + [n]) for n in node)

    assert walk([]) > 1000


def test_deep_tree_round_trip(tmp_path):
    path = ["d"] * 999 + ["x"]
    e = BinoutEditor()
    e.set(path, np.array([3], np.int8))
    p = tmp_path / "deep"
    e.write(str(p))
    again = BinoutEditor(str(p))
    assert again.get(path).tolist() == [3]
    assert Binout(str(p)).read(path).tolist() == [3]


def test_editor_is_borrowed_exclusively_while_writing(tmp_path):
    import threading

    import numpy as np
    import tarvex

    e = tarvex.BinoutEditor()
    e.set(["big", "values"], np.zeros(8_000_000))
    errors, done = [], threading.Event()

    def write():
        for i in range(3):
            e.write(str(tmp_path / f"out{i}"))
        done.set()

    t = threading.Thread(target=write)
    t.start()
    while not done.is_set():
        try:
            e.list([])
        except RuntimeError as err:
            errors.append(str(err))
            break
    t.join()
    assert errors == ["Already borrowed"]
