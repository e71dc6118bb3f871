"""Real d3plot families written by LS-DYNA (shared test data; skipped when
absent).

Expected values come from an independent reader, lasso-python's D3plot
(installed with the `bench` extra; those tests skip without it), and from
reading words of the files directly with NumPy.  The corruption tests cut and
damage the real files at many places: every open and read must end in a
Python exception or a valid result.
"""

import shutil
from pathlib import Path

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import base_of, lasso, read_everything  # noqa: F401 (lasso is a fixture)

SB = tv.StateBlock
FAMILIES = ["simple_d3plot", "d3plot_solid_int", "order_d3plot", "d3plot_beamip"]


@pytest.mark.parametrize("name", FAMILIES)
def test_against_lasso(name, lasso):
    base = base_of(name)
    d = tv.D3plot(base)
    ref = lasso.D3plot(base)
    A = lasso.ArrayType
    arrays = ref.arrays
    np.testing.assert_array_equal(d.times(), arrays[A.global_timesteps])
    np.testing.assert_array_equal(d.initial_coordinates(), arrays[A.node_coordinates])
    np.testing.assert_array_equal(d.node_coordinates_all(), arrays[A.node_displacement])
    np.testing.assert_array_equal(d.node_ids(), arrays[A.node_ids])
    # lasso's node indexes are the stored node numbers minus one.
    conn, parts = d.shell_connectivity()
    np.testing.assert_array_equal(conn - 1, arrays[A.element_shell_node_indexes])
    np.testing.assert_array_equal(parts - 1, arrays[A.element_shell_part_indexes])
    np.testing.assert_array_equal(d.shell_ids(), arrays[A.element_shell_ids])
    conn, parts = d.solid_connectivity()
    np.testing.assert_array_equal(conn - 1, arrays[A.element_solid_node_indexes].reshape(conn.shape))
    np.testing.assert_array_equal(d.solid_ids(), arrays[A.element_solid_ids])
    for block, key in [(SB.Velocity, A.node_velocity), (SB.Acceleration, A.node_acceleration)]:
        if key in arrays:
            np.testing.assert_array_equal(d.block(block), arrays[key])
        else:
            assert d.block_layout(block) is None
    for k in range(d.num_states):
        disp = arrays[A.node_displacement][k].astype(np.float64) - arrays[A.node_coordinates]
        np.testing.assert_allclose(d.displacement_magnitudes(k), np.linalg.norm(disp, axis=1), rtol=1e-12)


def test_family_order_to_d3plot100():
    base = base_of("order_d3plot")
    names = sorted(p.name for p in Path(base).parent.iterdir())
    assert "d3plot100" in names and "d3plot22" in names
    d = tv.D3plot(base)
    # The solver writes states in time order; the order 01, 02, 10, 11, 12, 22,
    # 100 of the numeric keys keeps them increasing (name order would not).
    t = d.times()
    assert d.num_states == 7 and np.all(np.diff(t) > 0)
    # The first state of d3plot100 opens that file: its time is the last one.
    last = np.frombuffer((Path(base).parent / "d3plot100").read_bytes()[:4], "<f4")[0]
    assert t[-1] == last


def test_temperature_family_without_displacements():
    base = base_of("d3plot_node_temperature")
    words = np.frombuffer(Path(base).read_bytes()[:256], "<i4")
    assert words[20] == 0  # IU
    d = tv.D3plot(base)
    assert d.num_states == 23 and d.times().shape == (23,)
    assert d.node_ids().shape == (2185,) and d.shell_connectivity()[0].shape == (2075, 4)
    assert d.array("node_temperature").shape == (23, 2185)
    assert d.array("node_velocity").shape == (23, 2185, 3)
    with pytest.raises(RuntimeError, match=r"^d3plot has no nodal displacement data \(IU=0\)$"):
        d.node_coordinates(0)
    with pytest.raises(RuntimeError, match=r"^d3plot has no nodal displacement data \(IU=0\)$"):
        d.max_displacement_final()
    # The editor rewrites coordinates and keeps refusing such a family.
    with pytest.raises(RuntimeError, match=r"^d3plot has no nodal displacement data \(IU=0\)$"):
        tv.D3plotEditor(base)


@pytest.mark.parametrize("name", FAMILIES)
def test_every_block_as_views_and_copies(name):
    d = tv.D3plot(base_of(name))
    n = d.num_states
    assert n > 0
    for b in d.available_blocks():
        count, values = d.block_layout(b)
        whole = d.block(b)
        assert whole.shape == (n, count, values) and whole.dtype == np.float32
        backwards = d.block(b, list(range(n - 1, -1, -1)))
        assert backwards.flags.writeable or n == 1
        np.testing.assert_array_equal(backwards[::-1], whole)
        for k in range(n):
            one = d.block(b, k)
            assert not one.flags.writeable  # a single state is always a view
            np.testing.assert_array_equal(one[0], whole[k])
            np.testing.assert_array_equal(d.block(b, [k, k])[1], whole[k])
    read_everything(d)


def copy_family(name, dst):
    src = Path(base_of(name)).parent
    dst.mkdir()
    for p in src.iterdir():
        shutil.copyfile(p, dst / p.name)
    return dst / "d3plot"


def check_survives(base):
    try:
        d = tv.D3plot(str(base))
    except RuntimeError:
        return
    read_everything(d)


@pytest.mark.parametrize("name", ["d3plot_solid_int", "simple_d3plot", "d3plot_beamip"])
def test_truncated_files(tmp_path, name):
    base = copy_family(name, tmp_path / "f")
    files = sorted(base.parent.iterdir())
    rng = np.random.default_rng(7)
    for target in (files[0], files[1], files[-1]):
        original = target.read_bytes()
        cuts = sorted(set([0, 1, 60, 63, 64, 100, 255, 256, 257, 260, len(original) - 1, len(original) - 4] +
                          list(rng.integers(0, len(original), 25))))
        for cut in cuts:
            target.write_bytes(original[:cut])
            check_survives(base)
        target.write_bytes(original)


@pytest.mark.parametrize("name", ["d3plot_solid_int", "simple_d3plot", "order_d3plot"])
def test_damaged_files(tmp_path, name):
    base = copy_family(name, tmp_path / "f")
    original = base.read_bytes()
    rng = np.random.default_rng(11)
    # Damage the control block word by word (its counts size everything), then
    # random places of the whole first file.
    control_words = list(range(64)) + [64, 65]
    trials = [(4 * w, v) for w in control_words for v in (0xFF, 0x7F, 0x80)]
    trials += [(int(rng.integers(0, len(original))), int(rng.integers(0, 256))) for _ in range(80)]
    for offset, value in trials:
        data = bytearray(original)
        if offset + 3 < len(data):
            data[offset + 3] = value  # the high byte of a word: huge or negative counts
            data[offset] ^= 0x5A
        base.write_bytes(bytes(data))
        check_survives(base)
    base.write_bytes(original)


def test_editor_on_damaged_files(tmp_path):
    base = copy_family("d3plot_solid_int", tmp_path / "f")
    original = base.read_bytes()
    out = tmp_path / "out"
    out.mkdir()
    for word in (16, 18, 23, 27, 31, 33, 39, 55, 57):
        data = bytearray(original)
        data[4 * word + 3] = 0x7F
        base.write_bytes(bytes(data))
        try:
            e = tv.D3plotEditor(str(base))
        except RuntimeError:
            continue
        for b in range(7):
            block = getattr(SB, ["Displacement", "Velocity", "Acceleration", "Solid", "ThickShell", "Beam",
                                 "Shell"][b])
            try:
                e.set_block(block, 0, np.zeros(3, dtype=np.float32))
            except RuntimeError:
                pass
        e.write(str(out / "x"))
