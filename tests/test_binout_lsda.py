"""LSDA container: a byte builder written from the format tables (independent
of the editor's writer) and the index/decoding behaviour of Binout on it."""

import random

import numpy as np
import pytest

import _tarvex
from _tarvex import Binout

# ---- LSDA byte builder ------------------------------------------------------

CODES = {
    np.dtype("int8"): 1, np.dtype("int16"): 2, np.dtype("int32"): 3, np.dtype("int64"): 4,
    np.dtype("uint8"): 5, np.dtype("uint16"): 6, np.dtype("uint32"): 7, np.dtype("uint64"): 8,
    np.dtype("float32"): 9, np.dtype("float64"): 10,
}


def uint(v, width, little):
    return int(v).to_bytes(width, "little" if little else "big")


class LsdaBuilder:
    """Builds LSDA bytes record by record: header, the symbol-table offset
    record at byte 8, DATA records, and symbol-table blocks chained by their
    END records.  Command and type fields are one byte wide."""

    def __init__(self, lengthsize=8, offsetsize=8, little=True):
        self.ls, self.os, self.little = lengthsize, offsetsize, little
        self.buf = bytearray([8, lengthsize, offsetsize, 1, 1, 1 if little else 2, 0, 0])
        self.first_field = len(self.buf) + lengthsize + 1  # where the first table's offset goes
        self.buf += self.record(7, b"\0" * offsetsize)
        self.last_end_field = None

    def record(self, cmd, payload, length=None):
        if length is None:
            length = self.ls + 1 + len(payload)
        return uint(length, self.ls, self.little) + bytes([cmd]) + payload

    def raw(self, b):
        self.buf += b
        return self

    def data(self, name, values, type_code=None):
        """Append a DATA record and return its offset."""
        name = name.encode() if isinstance(name, str) else name
        if type_code is None:
            arr = np.asarray(values)
            type_code = CODES[arr.dtype]
            body = arr.astype(arr.dtype.newbyteorder("<" if self.little else ">")).tobytes()
        else:
            body = bytes(values)
        at = len(self.buf)
        self.buf += self.record(3, bytes([type_code, len(name) & 0xFF]) + name + body)
        return at

    def cd(self, path):
        return self.record(2, path.encode() if isinstance(path, str) else path)

    def var(self, name, type_code, offset, count):
        name = name.encode() if isinstance(name, str) else name
        return self.record(4, name + bytes([type_code]) + uint(offset, self.os, self.little)
                           + uint(count, self.ls, self.little))

    def table(self, entries):
        """Append one symbol-table block (BEGIN, entries, END) chained after the
        previous one; entries are record bytes from cd()/var()."""
        at = len(self.buf)
        field = self.first_field if self.last_end_field is None else self.last_end_field
        self.buf[field:field + self.os] = uint(at, self.os, self.little)
        self.buf += self.record(5, b"")
        for e in entries:
            self.buf += e
        self.buf += self.record(6, b"")[: self.ls + 1]
        self.last_end_field = len(self.buf)
        self.buf += b"\0" * self.os
        # Fix the END record's length field now that its payload is known.
        end_at = self.last_end_field - self.ls - 1
        self.buf[end_at:end_at + self.ls] = uint(self.ls + 1 + self.os, self.ls, self.little)
        return at

    def bytes(self):
        return bytes(self.buf)


def build(tree, **fmt):
    """LSDA bytes for {directory: {name: array}} in one symbol-table block."""
    b = LsdaBuilder(**fmt)
    entries = []
    for d, items in tree.items():
        entries.append(b.cd(d))
        for name, arr in items.items():
            arr = np.asarray(arr)
            off = b.data(name, arr)
            entries.append(b.var(name, CODES[arr.dtype], off, arr.size))
    b.table(entries)
    return b.bytes()


def write(tmp_path, data, name="binout"):
    p = tmp_path / name
    p.write_bytes(data)
    return str(p)


def open_bytes(tmp_path, data, name="binout"):
    return Binout(write(tmp_path, data, name))


def conversion(text):
    return "Conversion error: " + text


# ---- Header and file-level failures ----------------------------------------

@pytest.mark.parametrize("data", [b"", b"\x08\x08\x08\x01\x01\x01\x00"])
def test_short_file(tmp_path, data):
    with pytest.raises(RuntimeError) as e:
        open_bytes(tmp_path, data)
    assert e.value.args == (conversion("LSDA file shorter than its 8-byte header"),)


def test_missing_file_and_directory(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        Binout(str(tmp_path / "nothing"))
    assert e.value.args == ("File not found",)
    (tmp_path / "d").mkdir()
    with pytest.raises(RuntimeError, match=r"^IO error: "):
        Binout(str(tmp_path / "d"))


def test_zero_table_offset_gives_empty_index(tmp_path):
    data = LsdaBuilder().bytes()
    write(tmp_path, data, "b")
    write(tmp_path, data, "b%001")
    b = Binout(str(tmp_path / "b"))
    assert len(b.files) == 2
    assert b.read() == []
    assert b.channels() == []


@pytest.mark.parametrize("ls,os_", [(8, 8), (4, 4), (2, 4), (1, 2), (4, 8), (8, 1)])
@pytest.mark.parametrize("little", [True, False])
def test_widths_and_byte_orders(tmp_path, ls, os_, little):
    vals = {
        "i8": np.array([-1, 2], np.int8), "i16": np.array([-300, 7], np.int16),
        "i32": np.array([-70000, 1], np.int32), "i64": np.array([-(2**40), 3], np.int64),
        "u8": np.array([250, 1], np.uint8), "u16": np.array([65000], np.uint16),
        "u32": np.array([4000000000], np.uint32), "u64": np.array([2**63 + 5], np.uint64),
        "f32": np.array([1.5, -2.25], np.float32), "f64": np.array([np.pi, -1e300]),
    }
    if os_ == 1:  # offsets must fit into one byte
        vals = {"i8": vals["i8"], "f64": vals["f64"][:1]}
    data = build({"/dir": vals}, lengthsize=ls, offsetsize=os_, little=little)
    b = open_bytes(tmp_path, data)
    assert b.read() == ["dir"]
    assert b.read("dir") == sorted(vals)
    for k, v in vals.items():
        got = b.read("dir", k)
        assert got.dtype == v.dtype and got.dtype.isnative
        np.testing.assert_array_equal(got, v)
        np.testing.assert_array_equal(b.read_f64(["dir", k]), v.astype(np.float64))


def test_invalid_width_in_header(tmp_path):
    data = bytearray(build({"/a": {"x": np.arange(3.0)}}))
    data[2] = 3  # offsetsize 3
    with pytest.raises(RuntimeError) as e:
        open_bytes(tmp_path, bytes(data))
    assert e.value.args == ("Invalid data type size",)


# ---- Symbol table walk ------------------------------------------------------

def test_chained_blocks_read_as_one(tmp_path):
    b = LsdaBuilder()
    o1 = b.data("x", np.arange(3.0))
    b.table([b.cd("/a"), b.var("x", 10, o1, 3)])
    o2 = b.data("y", np.arange(2, dtype=np.int32))
    b.table([b.cd("/b"), b.var("y", 3, o2, 2)])
    o3 = b.data("z", np.arange(1, dtype=np.int8))
    b.table([b.var("z", 1, o3, 1)])  # current directory carries over: /b
    r = open_bytes(tmp_path, b.bytes())
    assert r.read() == ["a", "b"]
    assert r.read("b") == ["y", "z"]
    np.testing.assert_array_equal(r.read("a", "x"), [0, 1, 2])


def test_cd_semantics(tmp_path):
    b = LsdaBuilder()
    o = b.data("v", np.array([1.0]))
    entries = [
        b.cd("/a/b/"), b.var("in_b", 10, o, 1),
        b.cd("../c"), b.var("in_c", 10, o, 1),
        b.cd("/"), b.var("top", 10, o, 1),
        b.cd("p//q"), b.var("in_q", 10, o, 1),
        b.cd("/p/q/../../p/./r/.."), b.var("in_p", 10, o, 1),
        b.cd(""), b.var("still_p", 10, o, 1),
        b.cd("/a/c/in_c/deeper/more"), b.var("after_leaf", 10, o, 1),
        b.cd("/../.."), b.var("root2", 10, o, 1),
    ]
    b.table(entries)
    r = open_bytes(tmp_path, b.bytes())
    assert r.read() == ["a", "p", "root2", "top"]
    assert r.read(["a"]) == ["b", "c"]
    assert r.channels(["a", "b"]) == ["in_b"]
    # The walk through the dataset in_c stopped at /a/c.
    assert r.channels(["a", "c"]) == ["after_leaf", "in_c"]
    # "." is an ordinary name; a//b is a/b.
    assert r.channels(["p"]) == [".", "q"]
    assert r.channels(["p", "q"]) == ["in_q"]
    assert r.channels(["p", "."]) == ["in_p", "r", "still_p"]


def test_later_definition_wins_across_family(tmp_path):
    b1 = LsdaBuilder()
    o = b1.data("x", np.array([1.0, 2.0]))
    b1.table([b1.cd("/a"), b1.var("x", 10, o, 2), b1.cd("/sub/dir"), b1.var("k", 10, o, 2)])
    b2 = LsdaBuilder()
    o2 = b2.data("x", np.array([7, 8, 9], np.int16))
    o3 = b2.data("sub", np.array([7], np.int16))
    # No CD: the current directory carries over from the first file (/sub/dir).
    b2.table([b2.var("k", 2, o2, 3), b2.cd("/a"), b2.var("x", 2, o2, 3), b2.cd("/"), b2.var("sub", 2, o3, 1)])
    write(tmp_path, b1.bytes(), "bo")
    write(tmp_path, b2.bytes(), "bo%001")
    r = Binout(str(tmp_path / "bo"))
    x = r.read("a", "x")
    assert x.dtype == np.int16
    np.testing.assert_array_equal(x, [7, 8, 9])
    # /sub was a directory and is now a dataset of the second file.
    np.testing.assert_array_equal(r.read("sub"), [7])
    with pytest.raises(KeyError) as e:
        r.read("sub", "dir", "k")
    assert e.value.args == ("Symbol not found: dir",)


def test_listing_in_byte_order(tmp_path):
    data = build({"/": {"a": np.array([1.0]), "Z": np.array([1.0]), "b": np.array([1.0]), "\u00e9": np.array([1.0])}})
    r = open_bytes(tmp_path, data)
    assert r.read() == ["Z", "a", "b", "\u00e9"]


def test_invalid_utf8_names(tmp_path):
    b = LsdaBuilder()
    o = b.data("x", np.array([1.0]))
    b.table([b.cd(b"/d\xff"), b.var(b"n\xfe", 10, o, 1)])
    r = open_bytes(tmp_path, b.bytes())
    # Directory paths are decoded with replacement; dataset names stay bytes.
    assert r.read() == ["d\ufffd"]
    assert r.channels(["d\ufffd"]) == ["n\ufffd"]
    with pytest.raises(KeyError):
        r.read("d\ufffd", "n\ufffd")


@pytest.mark.parametrize("code,dtype", [(9, np.float32), (11, np.uint8), (5, np.uint8),
                                        (200, np.uint8), (4, np.int64)])
def test_count_zero(tmp_path, code, dtype):
    b = LsdaBuilder()
    b.table([b.cd("/"), b.var("e", code, 10**15, 0)])  # offset never used
    got = open_bytes(tmp_path, b.bytes()).read("e")
    assert got.dtype == dtype and got.shape == (0,)


def test_type_code_zero_is_an_empty_directory(tmp_path):
    b = LsdaBuilder()
    o = b.data("r", [1, 2, 250], type_code=0)
    o2 = b.data("s", np.array([7], dtype=np.int64))
    b.table([b.var("r", 0, o, 3), b.var("s", 4, o2, 1)])
    r = open_bytes(tmp_path, b.bytes())
    assert r.read("r") == []
    assert list(r.read("s")) == [7]


def test_type_code_zero_entry_is_a_directory_for_cd(tmp_path):
    # An entry of type code 0 is a directory: a CD runs into it, and it
    # replaces (empties) a directory of the same name.
    b = LsdaBuilder()
    o = b.data("v", np.array([1.0]))
    b.table([b.cd("/z/old"), b.var("gone", 10, o, 1), b.cd("/"),
             b.var("z", 0, 0, 0), b.var("r", 0, 0, 0),
             b.cd("/r/inner"), b.var("v", 10, o, 1)])
    r = open_bytes(tmp_path, b.bytes())
    assert r.channels() == ["r", "z"]
    assert r.channels(["z"]) == []
    assert r.channels(["r"]) == ["inner"]
    assert list(r.read("r", "inner", "v")) == [1.0]


@pytest.mark.parametrize("code", [11, 12, 255])
def test_raw_byte_kinds(tmp_path, code):
    b = LsdaBuilder()
    o = b.data("r", [1, 2, 250], type_code=code)
    b.table([b.var("r", code, o, 3)])
    r = open_bytes(tmp_path, b.bytes())
    got = r.read("r")
    assert got.dtype == np.uint8
    np.testing.assert_array_equal(got, [1, 2, 250])
    # Link data has no numeric values; unrecognised codes read as bytes.
    assert list(r.read_f64(["r"])) == ([] if code == 11 else [1.0, 2.0, 250.0])


def test_data_past_end_fails_only_when_read(tmp_path):
    b = LsdaBuilder()
    o = b.data("x", np.arange(4.0))
    b.table([b.var("x", 10, o, 10**5), b.var("huge", 10, o, 2**62), b.var("wrap", 10, 2**64 - 4, 1),
             b.var("k", 10, o, 4)])
    r = open_bytes(tmp_path, b.bytes())
    for name in ["x", "huge", "wrap"]:
        with pytest.raises(RuntimeError) as e:
            r.read(name)
        assert e.value.args == (conversion("symbol data past end of file"),)
    np.testing.assert_array_equal(r.read("k"), np.arange(4.0))  # same name length as "x"


def test_missing_segment_names_first_missing(tmp_path):
    r = open_bytes(tmp_path, build({"/a/b": {"x": np.arange(2.0)}}))
    with pytest.raises(KeyError) as e:
        r.read("a", "nope", "deeper")
    assert e.value.args == ("Symbol not found: nope",)
    with pytest.raises(KeyError) as e:
        r.read(["a", "b", "x", "below"])
    assert e.value.args == ("Symbol not found: below",)


def test_name_of_255_bytes(tmp_path):
    name = "n" * 255
    r = open_bytes(tmp_path, build({"/d": {name: np.arange(3, dtype=np.int32)}}))
    np.testing.assert_array_equal(r.read("d", name), [0, 1, 2])


# ---- Corrupt symbol tables ---------------------------------------------------

def corrupt_cases():
    cases = {}
    b = LsdaBuilder()
    b.table([b.cd("/a")])
    data = bytearray(b.bytes())
    end_field = len(data) - 8
    data[end_field:] = (25).to_bytes(8, "little")  # END points back at the BEGIN record
    cases["loop"] = (bytes(data), "corrupt binout symbol table: block chain loops back to offset 25")

    b = LsdaBuilder()
    b.table([b.record(2, b"", length=0)])
    cases["zero length"] = (b.bytes(), "corrupt binout symbol table: record length 0 is smaller than its 9-byte header")

    b = LsdaBuilder()
    b.buf[17:25] = (10**6).to_bytes(8, "little")
    cases["offset past end"] = (b.bytes(), "seek out of range in LSDA file")

    b = LsdaBuilder()
    b.buf[17:25] = (2**63 + 1).to_bytes(8, "little")
    cases["negative offset"] = (b.bytes(), "seek out of range in LSDA file")

    b = LsdaBuilder()
    b.table([b.record(4, b"abc")])
    cases["short variable"] = (b.bytes(), "corrupt binout symbol-table entry: record shorter than its fixed fields "
                                          "(3-byte record)")

    b = LsdaBuilder()
    b.table([b.record(2, b"/abc", length=10**9)])
    cases["payload past end"] = (b.bytes(), "read past end of LSDA file")

    b = LsdaBuilder()
    b.buf[17:25] = (len(b.buf) - 3).to_bytes(8, "little")
    cases["truncated length field"] = (b.bytes(), "read past end of LSDA file")

    cases["no first record"] = (bytes([8, 8, 8, 1, 1, 1, 0, 0]) + b"\0" * 5, "seek out of range in LSDA file")

    b = LsdaBuilder()
    b.table([b.cd("/" + "/".join(["d"] * 5000))])
    cases["deep chain"] = (b.bytes(), "corrupt binout symbol table: directories nested deeper than 1000 levels")

    b = LsdaBuilder()  # type-0 directories entered one by one
    b.table([r for _ in range(1001) for r in (b.var("d", 0, 0, 0), b.cd("d"))])
    cases["deep type-0 chain"] = (b.bytes(), "corrupt binout symbol table: directories nested deeper than 1000 levels")
    return cases


@pytest.mark.parametrize("case", list(corrupt_cases()))
def test_corrupt_symbol_tables(tmp_path, case):
    data, text = corrupt_cases()[case]
    with pytest.raises(RuntimeError) as e:
        open_bytes(tmp_path, data)
    assert e.value.args == (conversion(text),)


@pytest.mark.parametrize("type0", [False, True])
def test_deep_but_allowed_chain(tmp_path, type0):
    b = LsdaBuilder()
    o = b.data("x", np.array([5.0]))
    if type0:
        head = [r for _ in range(1000) for r in (b.var("d", 0, 0, 0), b.cd("d"))]
    else:
        head = [b.cd("/" + "/".join(["d"] * 1000))]
    b.table(head + [b.var("x", 10, o, 1)])
    r = open_bytes(tmp_path, b.bytes())
    np.testing.assert_array_equal(r.read(["d"] * 1000 + ["x"]), [5.0])


def test_other_command_in_table_jumps(tmp_path):
    # A record with another command inside a block is read as a chain offset;
    # one pointing at a non-BEGIN record silently ends the file's table.
    b = LsdaBuilder()
    o = b.data("x", np.array([1.0]))
    b.table([b.var("x", 10, o, 1), b.record(9, (8).to_bytes(8, "little"))])
    r = open_bytes(tmp_path, b.bytes())
    assert r.read() == ["x"]


def test_classes_are_final():
    for cls in (_tarvex.Binout, _tarvex.BinoutEditor):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


# ---- The symbol-table walk against a model of it -----------------------------

class ModelIndex:
    """The CD/VARIABLE rules written out plainly: directories are dicts, a
    node of type code 0 is a directory, anything else a leaf."""

    def __init__(self):
        self.root = {"kids": {}, "parent": None, "type": 0, "value": None}
        self.root["parent"] = self.root
        self.cwd = self.root

    def cd(self, path):
        if path == "":
            return
        if len(path) > 1 and path.endswith("/"):
            path = path[:-1]
        if path == "/":
            self.cwd = self.root
            return
        at = self.cwd
        if path.startswith("/"):
            at, path = self.root, path[1:]
        for comp in path.split("/"):
            if comp == "":
                continue
            if comp == "..":
                at = at["parent"]
                continue
            kid = at["kids"].get(comp)
            if kid is None:
                kid = {"kids": {}, "parent": at, "type": 0, "value": None}
                at["kids"][comp] = kid
            elif kid["type"] != 0:
                break
            at = kid
        self.cwd = at

    def var(self, name, type_code, value):
        kid = self.cwd["kids"].get(name)
        if kid is None:
            kid = {"kids": {}, "parent": self.cwd}
            self.cwd["kids"][name] = kid
        kid["kids"] = {}
        kid["type"], kid["value"] = type_code, value


def compare_tree(r, node, path):
    if node["type"] != 0:
        np.testing.assert_array_equal(r.read_f64(path), [node["value"]])
        assert r.channels(path) == []
        return
    assert r.channels(path) == sorted(node["kids"], key=str.encode)
    assert len(r.read_f64(path)) == 0
    for name, kid in node["kids"].items():
        compare_tree(r, kid, path + [name])


def test_walk_matches_model(tmp_path):
    rng = random.Random(3)
    comps = ["a", "b", "..", ".", "", "v"]
    for case in range(150):
        b = LsdaBuilder()
        model = ModelIndex()
        entries = []
        for k in range(rng.randrange(1, 25)):
            if rng.random() < 0.5:
                path = "/".join(rng.choice(comps) for _ in range(rng.randrange(0, 4)))
                path = rng.choice(["", "/"]) + path + rng.choice(["", "", "/"])
                entries.append(b.cd(path))
                model.cd(path)
            else:
                name = rng.choice(["a", "b", "v", ".."])
                value = float(case * 100 + k)
                if rng.random() < 0.2:
                    entries.append(b.var(name, 0, 0, 0))
                    model.var(name, 0, None)
                else:
                    off = b.data(name, np.array([value]))
                    entries.append(b.var(name, 10, off, 1))
                    model.var(name, 10, value)
        b.table(entries)
        r = open_bytes(tmp_path, b.bytes())
        compare_tree(r, model.root, [])
