"""Binout branches below the top level (elout/shell, elout/solid, elout/beam):
aggregation by path, branch paths in read_states and the selectors, ids,
legends and titles of nested branches, compared with lasso-python."""

from pathlib import Path

import numpy as np
import pytest

from test_binout import nodout_tree
from test_binout_lsda import build, open_bytes

REAL = Path(__file__).resolve().parents[1] / ".." / "shared" / "testdata" / "binout" / "qd" / "binout"

# (branch, ids, values per element and state, variables)
ELOUT = {
    "shell": (np.array([11, 12, 13], np.int32), 2, ["sig_xx", "sig_yy"]),
    "solid": (np.array([21, 22], np.int64), 1, ["sig_xx", "eps_zz"]),
    "beam": (np.array([31, 32, 33, 34], np.int32), 1, ["axial", "shear_s"]),
}
T = 4


def state_values(branch, var, t):
    ids, per, names = ELOUT[branch]
    base = 100.0 * (list(ELOUT).index(branch) + 1) + 10.0 * names.index(var)
    return (base + np.arange(len(ids) * per) + 0.25 * t).astype(np.float32)


def elout_tree():
    tree = {}
    for branch, (ids, per, names) in ELOUT.items():
        tree[f"/elout/{branch}/metadata"] = {
            "ids": ids,
            "legend": np.frombuffer("".join(f"{branch[:2]}{i:<8}" for i in ids).encode(), np.int8),
            "title": np.frombuffer(f" {branch} stresses ".encode(), np.int8),
        }
        for t in range(T):
            tree[f"/elout/{branch}/d{t + 1:06d}"] = {
                "time": np.array([0.1 * t + 0.01 * len(branch)]),
                **{v: state_values(branch, v, t) for v in names},
            }
    return build(tree)


def expected(branch, var):
    return np.array([state_values(branch, var, t) for t in range(T)], np.float64)


@pytest.fixture
def elout(tmp_path):
    return open_bytes(tmp_path, elout_tree())


def test_listings(elout):
    assert elout.read() == ["elout"]
    assert elout.read("elout") == ["beam", "shell", "solid"]
    assert elout.read("elout", "shell") == ["sig_xx", "sig_yy", "time"]
    assert elout.read(["elout", "beam"]) == ["axial", "shear_s", "time"]


@pytest.mark.parametrize("branch", list(ELOUT))
def test_read_aggregates_nested_branch(elout, branch):
    for var in ELOUT[branch][2]:
        for v in (elout.read("elout", branch, var), elout.read(["elout", branch, var]),
                  elout.read(("elout", branch, var))):
            assert v.dtype == np.float64
            np.testing.assert_array_equal(v, expected(branch, var))
    np.testing.assert_array_equal(elout.read("elout", branch, "time"),
                                  [0.1 * t + 0.01 * len(branch) for t in range(T)])
    raw = elout.read("elout", branch, "d000002", ELOUT[branch][2][0])
    assert raw.dtype == np.float32


@pytest.mark.parametrize("branch_arg", ["elout/shell", ["elout", "shell"], ("elout", "shell"), "/elout//shell/"])
def test_read_states_takes_branch_paths(elout, branch_arg):
    d = elout.read_states(branch_arg, "sig_yy")
    assert list(d) == ["time", "values", "ids", "n_steps", "n_channels"]
    np.testing.assert_array_equal(d["values"], expected("shell", "sig_yy"))
    np.testing.assert_array_equal(d["ids"], [11, 12, 13])
    assert (d["n_steps"], d["n_channels"]) == (T, 6)
    np.testing.assert_array_equal(elout.ids(branch_arg), [11, 12, 13])
    assert elout.legend(branch_arg) == ["sh11", "sh12", "sh13"]
    assert elout.title(branch_arg) == "shell stresses"


def test_selectors_on_nested_branches(elout):
    beam = expected("beam", "axial")
    np.testing.assert_array_equal(elout.read("elout", "beam", "axial", id=33), beam[:, 2])
    np.testing.assert_array_equal(elout.read("elout", "beam", "axial", ids=[34, 31]), beam[:, [3, 0]])
    np.testing.assert_array_equal(elout.read(["elout", "beam", "axial"], name="be32"), beam[:, 1])
    d = elout.read_states("elout/beam", "axial", names=["be34", "be33"])
    assert list(d) == ["time", "values", "ids"]
    np.testing.assert_array_equal(d["values"], beam[:, [3, 2]])
    np.testing.assert_array_equal(d["ids"], [34, 33])
    d = elout.read_states(["elout", "solid"], "eps_zz", id=22)
    np.testing.assert_array_equal(d["values"], expected("solid", "eps_zz")[:, 1])


@pytest.mark.parametrize("call,exc,message", [
    (lambda b: b.read("elout", "sig_xx"), KeyError, "Symbol not found: no state directories under elout"),
    (lambda b: b.read_states("elout", "sig_xx"), KeyError, "Symbol not found: no state directories under elout"),
    (lambda b: b.read("elout", "shell", "nothing"), KeyError, "Symbol not found: nothing"),
    (lambda b: b.read("elout", "plate", "sig_xx"), KeyError, "Symbol not found: plate"),
    # The state directory has no states of its own: the read's own failure.
    (lambda b: b.read("elout", "shell", "d000001", "nothing"), KeyError, "Symbol not found: nothing"),
    (lambda b: b.read_states("elout/plate", "sig_xx"), KeyError, "Symbol not found: plate"),
    (lambda b: b.read("elout", "shell", "sig_xx", id=99), KeyError, "id \"99\" not found in 'elout/shell'"),
    (lambda b: b.read_states(["elout", "beam"], "axial", name="x"), KeyError,
     "name \"x\" not found in 'elout/beam'"),
    (lambda b: b.ids("elout/plate"), KeyError, "Symbol not found: plate"),
    (lambda b: b.read("elout", id=11), ValueError, "read(branch, var, id=/name=...) needs a branch and a variable"),
])
def test_nested_errors(elout, call, exc, message):
    with pytest.raises(exc) as e:
        call(elout)
    assert e.value.args == (message,)


@pytest.mark.parametrize("bad", [3, b"elout/shell", ["elout", 3], [b"elout"], None])
def test_branch_argument_types(elout, bad):
    for call in (lambda: elout.read_states(bad, "sig_xx"), lambda: elout.ids(bad),
                 lambda: elout.legend(bad), lambda: elout.title(bad)):
        with pytest.raises(TypeError):
            call()


def test_top_level_branches_unchanged(tmp_path):
    b = open_bytes(tmp_path, nodout_tree())
    # A branch name without "/" is one segment, also the empty name.
    with pytest.raises(KeyError) as e:
        b.read_states("", "x_acceleration")
    assert e.value.args == ("Symbol not found: ",)
    np.testing.assert_array_equal(b.read_states("nodout", "x_acceleration")["values"],
                                  b.read("nodout", "x_acceleration"))
    with pytest.raises(KeyError) as e:
        b.read("nodout", "d000001", "nothing")
    assert e.value.args == ("Symbol not found: nothing",)


# ---- Against lasso-python ----------------------------------------------------------

def test_nested_branches_against_lasso(tmp_path):
    lasso = pytest.importorskip("lasso.dyna")
    path = tmp_path / "binout"
    path.write_bytes(elout_tree())
    from _tarvex import Binout

    b, lb = Binout(str(path)), lasso.Binout(str(path))
    assert sorted(b.read("elout")) == sorted(lb.read("elout"))
    for branch, (ids, _, names) in ELOUT.items():
        np.testing.assert_array_equal(b.ids(f"elout/{branch}"), lb.read("elout", branch, "ids"))
        for var in names + ["time"]:
            np.testing.assert_array_equal(b.read("elout", branch, var), lb.read("elout", branch, var))


@pytest.mark.skipif(not REAL.exists(), reason="shared test data not present")
def test_real_binout_by_branch_path_against_lasso():
    lasso = pytest.importorskip("lasso.dyna")
    from _tarvex import Binout

    b, lb = Binout(str(REAL)), lasso.Binout(str(REAL))
    for var in ["axial", "shear", "time"]:
        want = lb.read("swforc", var)
        np.testing.assert_array_equal(b.read(["swforc", var]), want)
        np.testing.assert_array_equal(b.read_states(["swforc"], var)["values"].reshape(np.shape(want)), want)
    np.testing.assert_array_equal(b.ids(["swforc"]), lb.read("swforc", "ids"))
