"""pandas bridges: Binout.to_frame, table_to_frame and Report.to_frame, and
the ImportError naming the extra when pandas is absent."""

import sys
from pathlib import Path

import numpy as np
import pytest

import tarvex
from test_binout import IDS, expected_acc, nodout_tree
from test_binout_lsda import open_bytes
from conftest import SANITIZED
from test_binout_nested import ELOUT, elout_tree, expected
from test_module import run_mypy

pd = pytest.importorskip("pandas")

REAL = Path(__file__).resolve().parents[1] / ".." / "shared" / "testdata" / "binout" / "qd" / "binout"
DASH = "\u2014"


@pytest.fixture
def nodout(tmp_path):
    return open_bytes(tmp_path, nodout_tree())


# ---- Binout.to_frame -----------------------------------------------------------

def test_frame_of_a_branch(nodout):
    df = nodout.to_frame("nodout", "x_acceleration")
    assert isinstance(df, pd.DataFrame)
    assert df.index.name == "time" and df.columns.name == "id"
    np.testing.assert_array_equal(df.index, [0.0, 0.5, 1.0])
    assert df.columns.dtype == np.int64
    np.testing.assert_array_equal(df.columns, IDS)
    assert (df.dtypes == np.float64).all()
    np.testing.assert_array_equal(df.to_numpy(), expected_acc())
    by_name = nodout.to_frame(["nodout"], "x_acceleration", labels="name")
    assert by_name.columns.name == "name"
    assert list(by_name.columns) == ["head", "chest", "pel\"vis", "foot"]
    np.testing.assert_array_equal(by_name.loc[0.5, "foot"], 13.0)


@pytest.mark.parametrize("selector,cols", [
    (dict(id=1000002), [1]), (dict(ids=[1000004, 1000001]), [3, 0]), (dict(ids=[]), []),
    (dict(name="chest"), [1]), (dict(names=["foot", "head"]), [3, 0]),
])
@pytest.mark.parametrize("labels", ["id", "name"])
def test_frame_of_selected_entities(nodout, selector, cols, labels):
    df = nodout.to_frame("nodout", "x_acceleration", labels=labels, **selector)
    np.testing.assert_array_equal(df.to_numpy(), expected_acc()[:, cols])
    want = IDS[cols] if labels == "id" else [["head", "chest", "pel\"vis", "foot"][c] for c in cols]
    assert list(df.columns) == list(want)
    assert df.columns.name == labels


def test_frame_labels_without_one_id_per_column(tmp_path, nodout):
    elout = open_bytes(tmp_path, elout_tree(), "elout")
    # Two values per shell and state, three shell ids: labelled by position.
    df = elout.to_frame("elout/shell", "sig_xx")
    assert isinstance(df.columns, pd.RangeIndex) and df.columns.name == "column"
    np.testing.assert_array_equal(df.to_numpy(), expected("shell", "sig_xx"))
    beam = elout.to_frame(["elout", "beam"], "axial")
    np.testing.assert_array_equal(beam.columns, ELOUT["beam"][0])
    time = nodout.to_frame("nodout", "time")
    assert list(time.columns) == ["time"] and time.columns.name == "column"
    with pytest.raises(ValueError) as e:
        nodout.to_frame("nodout", "time", labels="names")
    assert e.value.args == ("labels must be 'id' or 'name', not 'names'",)
    with pytest.raises(KeyError) as e:
        nodout.to_frame("nodout", "x_acceleration", id=99)
    assert e.value.args == ("id \"99\" not found in 'nodout'",)


def test_frame_against_lasso_as_df(tmp_path):
    lasso = pytest.importorskip("lasso.dyna")
    path = tmp_path / "binout"
    path.write_bytes(elout_tree())
    ours = tarvex.Binout(str(path)).to_frame("elout/beam", "axial")
    theirs = lasso.Binout(str(path)).as_df("elout", "beam", "axial")
    np.testing.assert_array_equal(ours.to_numpy(), theirs.to_numpy())
    np.testing.assert_array_equal(ours.index, theirs.index)
    assert list(ours.columns.astype(str)) == list(theirs.columns)


@pytest.mark.skipif(not REAL.exists(), reason="shared test data not present")
@pytest.mark.parametrize("var", ["axial", "shear", "length"])
def test_real_frame_against_lasso_as_df(var):
    lasso = pytest.importorskip("lasso.dyna")
    ours = tarvex.Binout(str(REAL)).to_frame("swforc", var)
    theirs = lasso.Binout(str(REAL)).as_df("swforc", var)
    np.testing.assert_array_equal(ours.to_numpy(), theirs.to_numpy())
    np.testing.assert_array_equal(ours.index, theirs.index)
    assert list(ours.columns.astype(str)) == list(theirs.columns)


# ---- table_to_frame ------------------------------------------------------------

NODES = "*KEYWORD\n*NODE\n" + "".join(f"{n:>8}{x:>16}{y:>16}{z:>16}\n" for n, x, y, z in [
    (1, 0.0, 1.5, 2.5), (7, 3.0, 4.0, 5.0)]) + "*END\n"


def test_table_of_builtin_keyword(write):
    kf = tarvex.parse_keyword_file(str(write("m.k", NODES.encode())))
    cols = kf.parse_builtin("NODE")
    df = tarvex.table_to_frame(cols)
    assert list(df.columns) == list(cols)
    assert df["nid"].dtype == np.int64 and df["x"].dtype == np.float64
    np.testing.assert_array_equal(df["nid"], [1, 7])
    np.testing.assert_array_equal(df[["x", "y", "z"]].to_numpy(), [[0.0, 1.5, 2.5], [3.0, 4.0, 5.0]])
    deck = tarvex.Deck(str(write("m.k", NODES.encode())))
    pd.testing.assert_frame_equal(tarvex.table_to_frame(deck.table("NODE")), df)


def test_table_fields_of_several_values_are_split(write):
    kf = tarvex.parse_keyword_file(str(write("m.k", b"*KEYWORD\n*THING\n1  2  3  ab cd\n4  5  6  ef gh\n*END\n")))
    cols = kf.parse_schema("THING", [[("n", "int", 3, 3), ("tag", "str", 3, 2)]], repeat=True)
    df = tarvex.table_to_frame(cols)
    assert list(df.columns) == ["n_1", "n_2", "n_3", "tag_1", "tag_2"]
    np.testing.assert_array_equal(df[["n_1", "n_2", "n_3"]].to_numpy(), [[1, 2, 3], [4, 5, 6]])
    assert df["tag_2"].tolist() == ["cd", "gh"]
    empty = tarvex.table_to_frame(kf.parse_schema("NONE", [[("n", "int", 3, 3), ("s", "str", 3, 1)]], repeat=True))
    assert len(empty) == 0 and list(empty.columns) == ["n_1", "n_2", "n_3", "s"]
    with pytest.raises(ValueError) as e:
        tarvex.table_to_frame({"a": np.zeros(2), "b": np.zeros((3, 2))})
    assert e.value.args == ("columns of different lengths: [2, 3]",)
    with pytest.raises(ValueError) as e:
        tarvex.table_to_frame({"n": np.zeros((2, 2)), "n_2": np.zeros(2)})
    assert e.value.args == ("column 'n_2' would occur twice",)


# ---- Report.to_frame -----------------------------------------------------------

PART = "*PART\n\n         5         1         1\n"


@pytest.mark.skipif(not hasattr(tarvex.Deck, "validate"), reason="Deck.validate is not wired into this build")
def test_report_frame(write):
    write("sub.k", ("*KEYWORD\n" + PART + "*END\n").encode())
    deck = tarvex.Deck(str(write("main.k", ("*KEYWORD\n" + PART + "*INCLUDE\nsub.k\n*END\n").encode())))
    report = deck.validate([tarvex.Rule.duplicate_ids()])
    df = report.to_frame()
    assert list(df.columns) == ["rule", "severity", "file", "line", "keyword", "message"]
    assert len(df) == len(report) == 2
    f = report.findings
    assert df["rule"].tolist() == [x.rule for x in f]
    assert df["file"].tolist() == [x.file for x in f]
    assert df["line"].dtype == np.int64 and df["line"].tolist() == [x.line for x in f]
    assert df["keyword"].tolist() == ["PART", "PART"]
    assert df["message"].tolist() == [f"duplicate Part id 5 {DASH} defined by 2 keywords in the deck"] * 2
    assert df["severity"].tolist() == ["Error", "Error"]
    assert list(df["severity"].cat.categories) == ["Error", "Warning", "Info"]
    empty = tarvex.Deck(str(write("ok.k", b"*KEYWORD\n*END\n"))).validate([tarvex.Rule.duplicate_ids()]).to_frame()
    assert len(empty) == 0 and list(empty.columns) == list(df.columns)


# ---- Without pandas --------------------------------------------------------------

@pytest.mark.parametrize("call,what", [
    (lambda b, r: b.to_frame("nodout", "x_acceleration"), "Binout.to_frame"),
    (lambda b, r: tarvex.table_to_frame({"a": np.zeros(1)}), "table_to_frame"),
    (lambda b, r: r.to_frame(), "Report.to_frame"),
])
def test_missing_pandas_names_the_extra(monkeypatch, nodout, write, call, what):
    report = tarvex.Deck(str(write("ok.k", b"*KEYWORD\n*END\n"))).validate([])
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError) as e:
        call(nodout, report)
    assert e.value.args == (f"{what} needs pandas, an optional dependency of tarvex: pip install 'tarvex[pandas]'",)


def test_bridges_are_methods_with_docstrings():
    assert tarvex.Binout.to_frame.__qualname__ == "Binout.to_frame"
    assert tarvex.Report.to_frame.__qualname__ == "Report.to_frame"
    for f in (tarvex.Binout.to_frame, tarvex.Report.to_frame, tarvex.table_to_frame):
        assert f.__doc__ and "pandas" in f.__doc__
    assert "table_to_frame" in tarvex.__all__


@pytest.mark.skipif(SANITIZED, reason="the sanitizer build carries no stubs")
def test_bridges_type_check(tmp_path):
    pytest.importorskip("mypy")
    code, report = run_mypy(tmp_path, (
        "import tarvex\n"
        "b = tarvex.Binout('binout')\n"
        "frame = b.to_frame('elout/shell', 'sig_xx', ids=[1, 2], labels='name')\n"
        "findings = tarvex.parse_deck('m.k').validate([]).to_frame()\n"
        "table = tarvex.table_to_frame(tarvex.parse_deck('m.k').table('NODE'))\n"
        "b.to_frame(['nodout'], 'x', labels='names')\n"
    ))
    assert code == 1, report
    assert report.count("error:") == 1, report
    assert 'Argument "labels" to "to_frame" of "Binout" has incompatible type' in report


def test_importing_tarvex_leaves_pandas_unimported():
    import subprocess

    out = subprocess.run([sys.executable, "-c", "import sys, tarvex; print('pandas' in sys.modules)"],
                         capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip().splitlines()[-1] == "False"
