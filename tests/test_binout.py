"""Binout reader: opening patterns and families, plain reads, per-state
aggregation, selectors, metadata, and the real binout of the shared test data."""

import posixpath
from pathlib import Path

import numpy as np
import pytest

from _tarvex import Binout, parse_binout
from test_binout_lsda import CODES, LsdaBuilder, build, open_bytes, write

TESTDATA = Path(__file__).resolve().parents[1] / ".." / "shared" / "testdata"
REAL = TESTDATA / "binout" / "qd" / "binout"

IDS = np.array([1000001, 1000002, 1000003, 1000004], np.int64)
LEGEND = "".join(f"{n:<10}" for n in ["head", "chest", "pel\"vis", "foot"])


def nodout_tree(T=3, M=4, little=True, ragged=None):
    """A nodout-like branch: metadata plus T states of M values."""
    tree = {
        "/nodout/metadata": {
            "ids": IDS[:M],
            "legend": np.frombuffer(LEGEND[: 10 * M].encode(), np.int8),
            "title": np.frombuffer(b"  nodal output \n", np.int8),
        },
        "/glstat": {"kinetic": np.arange(3.0)},
        "/empty_branch/metadata": {"ids": np.array([1], np.int32)},
    }
    for t in range(T):
        m = M if ragged is None else ragged[t]
        tree[f"/nodout/d{t + 1:06d}"] = {
            "time": np.array([0.5 * t]),
            "x_acceleration": (np.arange(m) + 10.0 * t).astype(np.float32),
            "x_displacement": np.arange(m) * 1.0 + t,
        }
    return build(tree, little=little)


@pytest.fixture
def nodout(tmp_path):
    return open_bytes(tmp_path, nodout_tree())


def expected_acc(T=3, M=4):
    return np.array([np.arange(M) + 10.0 * t for t in range(T)])


# ---- Opening --------------------------------------------------------------

def test_pattern_matching_nothing(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        Binout(str(tmp_path / "x*"))
    assert e.value.args == ("File not found",)


@pytest.mark.parametrize("pattern,pos,reason", [
    ("[", 0, "invalid range pattern"),
    ("ab[c", 2, "invalid range pattern"),
    ("a[!]", 1, "invalid range pattern"),
    ("a***", 3, "wildcards are either regular `*` or recursive `**`"),
    ("a**/b", 0, "recursive wildcards must form a single path component"),
    ("a/**b", 4, "recursive wildcards must form a single path component"),
])
def test_pattern_syntax_errors(pattern, pos, reason):
    with pytest.raises(RuntimeError) as e:
        Binout(pattern)
    assert e.value.args == (f"Invalid path: Pattern syntax error near position {pos}: {reason}",)


def test_continuation_files_stop_at_gap(tmp_path):
    data = LsdaBuilder().bytes()
    for n in ["binout", "binout%001", "binout%003"]:
        write(tmp_path, data, n)
    b = Binout(str(tmp_path / "binout"))
    assert [Path(f).name for f in b.files] == ["binout", "binout%001"]
    assert repr(b) == "Binout(2 file(s))"
    b = Binout(str(tmp_path / "binout*"))
    assert [Path(f).name for f in b.files] == ["binout", "binout%001", "binout%003"]
    assert repr(parse_binout(str(tmp_path / "bin?ut"))) == "Binout(2 file(s))"


def test_continuation_numbers_are_three_digits(tmp_path):
    data = LsdaBuilder().bytes()
    names = ["b"] + [f"b%{j:03d}" for j in range(1, 13)]
    for n in names + ["b%13", "b%0013"]:
        write(tmp_path, data, n)
    assert [Path(f).name for f in Binout(str(tmp_path / "b")).files] == names


def test_glob_features(tmp_path):
    data = LsdaBuilder().bytes()
    (tmp_path / "run1" / "deep").mkdir(parents=True)
    (tmp_path / "run2").mkdir()
    write(tmp_path / "run1", data, "binout")
    write(tmp_path / "run1" / "deep", data, "binout")
    write(tmp_path / "run2", data, "binout")
    write(tmp_path / "run2", data, "binout%001")
    write(tmp_path / "run2", data, "other")
    rel = lambda b: sorted(str(Path(f).relative_to(tmp_path)) for f in b.files)
    assert rel(Binout(str(tmp_path / "run[0-9]" / "binout"))) == ["run1/binout", "run2/binout", "run2/binout%001"]
    assert rel(Binout(str(tmp_path / "run[!1]" / "*"))) == ["run2/binout", "run2/binout%001", "run2/other"]
    assert rel(Binout(str(tmp_path / "**" / "binout"))) == [
        "run1/binout", "run1/deep/binout", "run2/binout", "run2/binout%001"]
    assert rel(Binout(str(tmp_path / "run1" / "**" / "binout"))) == ["run1/binout", "run1/deep/binout"]


def test_glob_symlink_loop_ends(tmp_path):
    (tmp_path / "a").mkdir()
    (tmp_path / "a" / "loop").symlink_to(tmp_path / "a")
    write(tmp_path / "a", LsdaBuilder().bytes(), "binout")
    b = Binout(str(tmp_path / "**" / "binout"))
    assert [Path(f).name for f in b.files] == ["binout"]


@pytest.mark.parametrize("bad", [Path("x"), b"x", 3, None, "x\ud800"])
def test_pattern_must_be_str(bad):
    with pytest.raises(TypeError):
        Binout(bad)
    with pytest.raises(TypeError):
        parse_binout(bad)


# ---- Plain reads -------------------------------------------------------------

def test_listing_and_raw_reads(nodout):
    assert nodout.read() == ["empty_branch", "glstat", "nodout"]
    assert nodout.read("nodout") == ["time", "x_acceleration", "x_displacement"]
    assert nodout.read(["nodout"]) == nodout.read(("nodout",))
    assert nodout.read("glstat") == ["kinetic"]
    raw = nodout.read("nodout", "d000002", "x_acceleration")
    assert raw.dtype == np.float32
    np.testing.assert_array_equal(raw, np.arange(4) + 10.0)
    assert nodout.channels(["nodout"]) == ["d000001", "d000002", "d000003", "metadata"]
    assert nodout.channels(["glstat", "kinetic"]) == []
    assert nodout.channels() == ["empty_branch", "glstat", "nodout"]


def test_two_segment_aggregation(nodout):
    acc = nodout.read("nodout", "x_acceleration")
    assert acc.dtype == np.float64 and acc.shape == (3, 4)
    np.testing.assert_array_equal(acc, expected_acc())
    t = nodout.read("nodout", "time")
    assert t.shape == (3,)
    np.testing.assert_array_equal(t, [0.0, 0.5, 1.0])


def test_read_states(nodout):
    d = nodout.read_states("nodout", "x_displacement")
    assert list(d) == ["time", "values", "ids", "n_steps", "n_channels"]
    np.testing.assert_array_equal(d["time"], [0.0, 0.5, 1.0])
    np.testing.assert_array_equal(d["values"], [[0, 1, 2, 3], [1, 2, 3, 4], [2, 3, 4, 5]])
    assert d["ids"].dtype == np.int64
    np.testing.assert_array_equal(d["ids"], IDS)
    assert (d["n_steps"], d["n_channels"]) == (3, 4)
    one = nodout.read_states("nodout", "time")
    assert one["values"].shape == (3, 1)


def test_errors_of_reads(nodout):
    with pytest.raises(KeyError) as e:
        nodout.read("nodout", "nothing")
    assert e.value.args == ("Symbol not found: nothing",)
    with pytest.raises(KeyError) as e:
        nodout.read("empty_branch", "ids")
    assert e.value.args == ("Symbol not found: no state directories under empty_branch",)
    with pytest.raises(KeyError) as e:
        nodout.read_states("nobranch", "x")
    assert e.value.args == ("Symbol not found: nobranch",)
    with pytest.raises(KeyError) as e:
        nodout.read("a", "b", "c")
    assert e.value.args == ("Symbol not found: a",)
    with pytest.raises(TypeError):
        nodout.read("nodout", 3)
    with pytest.raises(TypeError):
        nodout.channels("nodout")
    with pytest.raises(TypeError):
        nodout.read_states("nodout", ["x"])


@pytest.mark.parametrize("ragged,kind", [([4, 3, 4], "OutOfBounds: out of bounds indexing"),
                                         ([4, 5, 4], "IncompatibleShape: incompatible shapes")])
def test_ragged_states(tmp_path, ragged, kind):
    b = open_bytes(tmp_path, nodout_tree(ragged=ragged))
    for call in (lambda: b.read_states("nodout", "x_acceleration"), lambda: b.read("nodout", "x_acceleration")):
        with pytest.raises(ValueError) as e:
            call()
        assert e.value.args == ("ShapeError/" + kind,)


def test_first_state_of_one_value_reads_flat(tmp_path):
    b = open_bytes(tmp_path, nodout_tree(ragged=[1, 3, 2]))
    v = b.read("nodout", "x_acceleration")
    assert v.shape == (6,)


# ---- Selectors ------------------------------------------------------------------

def test_selector_argument_errors(nodout):
    with pytest.raises(ValueError) as e:
        nodout.read("nodout", "x_acceleration", id=5, name="a")
    assert e.value.args == ("pass only one of id, ids, name, names",)
    with pytest.raises(ValueError) as e:
        nodout.read_states("nodout", "x_acceleration", ids=[1], names=["a"])
    assert e.value.args == ("pass only one of id, ids, name, names",)
    with pytest.raises(ValueError) as e:
        nodout.read("nodout", id=5)
    assert e.value.args == ("read(branch, var, id=/name=...) needs a branch and a variable",)
    with pytest.raises(TypeError):
        nodout.read("nodout", "x_acceleration", ids="12")
    with pytest.raises(TypeError):
        nodout.read("nodout", "x_acceleration", id="12")
    with pytest.raises(OverflowError):
        nodout.read("nodout", "x_acceleration", id=2**70)
    for bad in (dict(id=1000001.0), dict(ids=[1000001.0]), dict(ids=np.array([1.0]))):
        with pytest.raises(TypeError):
            nodout.read("nodout", "x_acceleration", **bad)


@pytest.mark.parametrize("call", [
    lambda b: b.read("nodout", "\ud800"),
    lambda b: b.channels(["\udfff"]),
    lambda b: b.read("nodout", "x_acceleration", name="\ud800"),
    lambda b: b.ids("\ud800"),
])
def test_unencodable_text_is_a_type_error(nodout, call):
    with pytest.raises(TypeError):
        call(nodout)


def test_numpy_integer_ids_select(nodout):
    # The ids as ids() hands them out (NumPy integers) select like ints.
    ids = nodout.ids("nodout")
    acc = expected_acc()
    np.testing.assert_array_equal(nodout.read("nodout", "x_acceleration", id=ids[2]), acc[:, 2])
    np.testing.assert_array_equal(nodout.read("nodout", "x_acceleration", ids=ids[[3, 1]]), acc[:, [3, 1]])
    d = nodout.read_states("nodout", "x_acceleration", ids=np.array([1000002], np.int32))
    np.testing.assert_array_equal(d["ids"], [1000002])


def test_selectors(nodout):
    acc = expected_acc()
    single = nodout.read("nodout", "x_acceleration", id=1000002)
    assert single.dtype == np.float64 and single.shape == (3,)
    np.testing.assert_array_equal(single, acc[:, 1])
    two = nodout.read("nodout", "x_acceleration", ids=[1000004, 1000001])
    assert two.shape == (3, 2)
    np.testing.assert_array_equal(two, acc[:, [3, 0]])
    np.testing.assert_array_equal(nodout.read("nodout", "x_acceleration", name="chest"), acc[:, 1])
    np.testing.assert_array_equal(nodout.read("nodout", "x_acceleration", names=("foot", "head")), acc[:, [3, 0]])
    assert nodout.read("nodout", "x_acceleration", ids=[]).shape == (3, 0)
    d = nodout.read_states("nodout", "x_displacement", ids=[1000003])
    assert list(d) == ["time", "values", "ids"]
    assert d["values"].shape == (3, 1)
    np.testing.assert_array_equal(d["ids"], [1000003])
    d = nodout.read_states("nodout", "x_displacement", name="pel\"vis")
    assert d["values"].shape == (3,)
    np.testing.assert_array_equal(d["time"], [0.0, 0.5, 1.0])


def test_unknown_selector_keys(nodout):
    with pytest.raises(KeyError) as e:
        nodout.read("nodout", "x_acceleration", id=99)
    assert e.value.args == ("id \"99\" not found in 'nodout'",)
    with pytest.raises(KeyError) as e:
        nodout.read("nodout", "x_acceleration", names=["head", "a\"b\\c\n"])
    assert e.value.args == ("name \"a\\\"b\\\\c\\n\" not found in 'nodout'",)


def test_column_beyond_state_reads_zero(tmp_path):
    b = open_bytes(tmp_path, nodout_tree(ragged=[4, 2, 4]))
    v = b.read("nodout", "x_acceleration", ids=[1000001, 1000004])
    np.testing.assert_array_equal(v, [[0, 3], [10, 0], [20, 23]])


def test_selected_state_missing_variable(tmp_path):
    b = LsdaBuilder()
    o = b.data("ids", np.array([1, 2], np.int64))
    o2 = b.data("v", np.array([1.0, 2.0]))
    b.table([b.cd("/br/metadata"), b.var("ids", 4, o, 2), b.cd("/br/d01"), b.var("v", 10, o2, 2),
             b.cd("/br/d02/v")])
    r = open_bytes(tmp_path, b.bytes())
    with pytest.raises(RuntimeError) as e:
        r.read("br", "v", id=1)
    assert e.value.args == ("Conversion error: expected a dataset, got a directory",)
    # Without a selector a directory contributes no values: 2 values for 2 x 2.
    with pytest.raises(ValueError) as e:
        r.read_states("br", "v")
    assert e.value.args == ("ShapeError/OutOfBounds: out of bounds indexing",)


# ---- Other reads --------------------------------------------------------------

def test_read_time_series(nodout):
    d = nodout.read_time_series(["nodout", "d000002", "x_displacement"])
    assert list(d) == ["time", "values", "channel"]
    np.testing.assert_array_equal(d["time"], [0.5])
    np.testing.assert_array_equal(d["values"], [1, 2, 3, 4])
    assert d["channel"] == "x_displacement"
    d = nodout.read_time_series(["glstat", "kinetic"])
    np.testing.assert_array_equal(d["time"], [0.0, 1.0, 2.0])
    with pytest.raises(RuntimeError) as e:
        nodout.read_time_series([])
    assert e.value.args == ("Invalid path: empty path",)


def test_read_many_and_f64(nodout):
    out = nodout.read_many([["nodout", "d000001", "x_acceleration"], ("nodout", "metadata", "ids"), ["nodout"]])
    assert out[0].dtype == np.float32 and out[1].dtype == np.int64
    assert out[2] == ["d000001", "d000002", "d000003", "metadata"]
    with pytest.raises(KeyError) as e:
        nodout.read_many([["nodout"], ["nodout", "x"], ["y"]])
    assert e.value.args == ("Symbol not found: x",)
    with pytest.raises(TypeError):
        nodout.read_many(["nodout"])
    f = nodout.read_f64(["nodout", "d000001", "x_acceleration"])
    assert f.dtype == np.float64
    assert nodout.read_f64(["nodout"]).shape == (0,)


def test_metadata(nodout):
    np.testing.assert_array_equal(nodout.ids("nodout"), IDS)
    assert nodout.legend("nodout") == ["head", "chest", "pel\"vis", "foot"]
    assert nodout.title("nodout") == "nodal output"
    with pytest.raises(KeyError):
        nodout.title("glstat")


def test_legend_pieces(tmp_path):
    legend = ("a" * 81 + "b" * 81 + "c" * 81 + "dd").encode()
    assert len(legend) == 245
    data = build({"/br/metadata": {"ids": np.array([1, 2, 3], np.int32),
                                   "legend": np.frombuffer(legend, np.uint8)}})
    r = open_bytes(tmp_path, data)
    assert [len(x) for x in r.legend("br")] == [81, 81, 81, 2]


def test_ids_saturate(tmp_path):
    data = build({"/br/metadata": {"ids": np.array([np.nan, 1e30, -1e30, -2.7])}})
    r = open_bytes(tmp_path, data)
    np.testing.assert_array_equal(r.ids("br"), [0, 2**63 - 1, -(2**63), -2])


def test_big_endian_family_aggregates(tmp_path):
    be = open_bytes(tmp_path, nodout_tree(little=False), "be")
    le = open_bytes(tmp_path, nodout_tree(), "le")
    np.testing.assert_array_equal(be.read("nodout", "x_acceleration"), le.read("nodout", "x_acceleration"))
    np.testing.assert_array_equal(be.read("nodout", "x_acceleration", ids=[1000003]),
                                  le.read("nodout", "x_acceleration", ids=[1000003]))


def test_state_order_is_bytewise(tmp_path):
    tree = {f"/b/{n}": {"time": np.array([float(i)]), "v": np.array([float(i)])}
            for i, n in enumerate(["d9", "d10", "d000011", "dx", "d"])}
    r = open_bytes(tmp_path, build(tree))
    # d, dx are not state directories; d000011 < d10 < d9 byte-wise.
    np.testing.assert_array_equal(r.read("b", "v"), [2.0, 1.0, 0.0])


# ---- The real binout -------------------------------------------------------------

real = pytest.mark.skipif(not REAL.exists(), reason="shared test data not present")


@real
def test_real_binout_branches_and_states():
    b = Binout(str(REAL))
    branches = b.read()
    assert branches == ["swforc"]  # listed with lasso-python's Binout().read() as well
    for br in branches:
        for var in b.read(br):
            d = b.read_states(br, var)
            T = d["n_steps"]
            assert T > 1 and d["values"].shape == (T, d["n_channels"])
        t = b.read_states(br, "time")["time"]
        assert np.all(np.diff(t) > 0)
    ids = b.ids("swforc")
    assert ids.dtype == np.int64 and len(ids) == b.read_states("swforc", "axial")["n_channels"]


@real
def test_real_binout_against_numpy_and_lasso(tmp_path):
    b = Binout(str(REAL))
    lasso = pytest.importorskip("lasso.dyna")
    lb = lasso.Binout(str(REAL))
    for var in ["axial", "length", "time", "shear"]:
        np.testing.assert_array_equal(b.read("swforc", var), lb.read("swforc", var))
    np.testing.assert_array_equal(b.ids("swforc"), lb.read("swforc", "ids"))
    full = np.asarray(lb.read("swforc", "length"))
    col = int(np.argmax(np.abs(full).sum(axis=0)))
    assert np.abs(full[:, col]).sum() > 0
    sel = b.read("swforc", "length", id=int(b.ids("swforc")[col]))
    np.testing.assert_array_equal(sel, full[:, col])


def test_concurrent_reads_agree(tmp_path):
    from concurrent.futures import ThreadPoolExecutor

    b = open_bytes(tmp_path, nodout_tree(T=40, M=4))
    want = b.read_states("nodout", "x_acceleration")["values"]
    sel = b.read("nodout", "x_acceleration", ids=[1000002, 1000003])
    with ThreadPoolExecutor(4) as ex:
        futs = [ex.submit(lambda i=i: (b.read_states("nodout", "x_acceleration")["values"] if i % 2 else
                                       b.read("nodout", "x_acceleration", ids=[1000002, 1000003]))) for i in range(40)]
        for i, f in enumerate(futs):
            np.testing.assert_array_equal(f.result(), want if i % 2 else sel)


def numpy_index(data):
    """An independent reading of a little-endian 8/8-byte LSDA file: follows the
    symbol-table chain and maps (directory, name) to (type, offset, count,
    name length) of its DATA record."""
    u = lambda a: int.from_bytes(data[a:a + 8], "little")
    index, off, cwd = {}, u(17), "/"
    while off:
        at = off + 9
        while data[at + 8] in (2, 4):
            L = u(at)
            payload = data[at + 9: at + L]
            if data[at + 8] == 2:
                cwd = posixpath.normpath(posixpath.join(cwd, payload.decode()))
            else:
                name = payload[:-17]
                index[(cwd, name.decode())] = (payload[-17], u(at + L - 16), u(at + L - 8), len(name))
            at += L
        off = u(at + 9)
    return index


@real
def test_real_binout_against_plain_numpy():
    data = REAL.read_bytes()
    index = numpy_index(data)
    dtypes = {1: np.int8, 3: np.int32, 4: np.int64, 9: np.float32, 10: np.float64}

    def raw(d, name):
        code, off, count, nlen = index[(d, name)]
        return np.frombuffer(data, dtypes[code], count, off + 11 + nlen)

    b = Binout(str(REAL))
    np.testing.assert_array_equal(b.ids("swforc"), raw("/swforc/metadata", "ids"))
    states = sorted(d for d, n in index if n == "axial")
    assert len(states) == b.read_states("swforc", "axial")["n_steps"]
    for var in ["axial", "length"]:
        agg = b.read("swforc", var)
        for t in [0, len(states) // 2, len(states) - 1]:
            np.testing.assert_array_equal(agg[t], raw(states[t], var))
    np.testing.assert_array_equal(b.read("swforc", "time"), [raw(s, "time")[0] for s in states])


def test_aggregation_refuses_aliased_records(tmp_path):
    # Every state names the same large record: more values than the file has bytes.
    b = LsdaBuilder()
    o = b.data("v", np.zeros(2000))
    entries = []
    for s in range(100):
        entries += [b.cd(f"/br/d{s + 1:04d}"), b.var("v", 10, o, 2000)]
    b.table(entries)
    r = open_bytes(tmp_path, b.bytes())
    with pytest.raises(RuntimeError) as e:
        r.read_states("br", "v")
    assert e.value.args == ("Conversion error: corrupt binout: state datasets of br/v overlap "
                            "(more values than file bytes)",)
    # Single datasets still read.
    assert r.read("br", "d0001", "v").shape == (2000,)
