"""D3plotEditor: loading a family, overwriting blocks, saving in place and
writing under a new base name with every other byte unchanged."""

import os
from pathlib import Path

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import build, small_writer, states_file, write

SB = tv.StateBlock


def split_family(tmp_path, data, state_bytes, first_len, per_file, name="d3plot"):
    """Split a single file into base (first_len bytes) and continuation files
    holding per_file states each; returns the base path."""
    base = tmp_path / name
    base.write_bytes(data[:first_len])
    rest = data[first_len:]
    i = 1
    while rest:
        chunk, rest = rest[:per_file * state_bytes], rest[per_file * state_bytes:]
        (tmp_path / f"{name}{i:02d}").write_bytes(chunk)
        i += 1
    return str(base)


def written_family(tmp_path, n_states=5):
    w = small_writer(n_nodes=8, n_states=n_states, vel=True, nv2d=3, nv3d=2)
    data = w.to_bytes()[:-4]  # without the end marker
    state_words = 1 + 24 + 24 + 2 + 6
    first_len = len(data) - n_states * state_words * 4 + state_words * 4  # geometry and one state
    return split_family(tmp_path, data, state_words * 4, first_len, 2), data


def family_bytes(base):
    return [p.read_bytes() for p in sorted(Path(base).parent.iterdir())]


def test_load_properties_and_save_without_edits(tmp_path):
    base, _ = written_family(tmp_path)
    before = family_bytes(base)
    assert len(before) == 3
    e = tv.D3plotEditor(base)
    assert e.num_nodes == 8 and e.num_states == 5
    e.save()
    assert family_bytes(base) == before
    assert len(os.listdir(tmp_path)) == 3


def test_set_block_and_write_new_family(tmp_path):
    src = tmp_path / "src"
    src.mkdir()
    base, _ = written_family(src)
    e = tv.D3plotEditor(base)
    new_shell = np.array([[10, 11, 12], [13, 14, 15]], dtype=np.float64)
    e.set_block(SB.Shell, 3, new_shell)
    e.set_block(SB.Shell, 3, new_shell + 1)  # the last write wins
    coords = np.full((8, 3), 7.5, dtype=np.float32)
    e.set_node_coordinates(0, coords)
    out = tmp_path / "out" / "res"
    out.parent.mkdir()
    e.write(str(out))
    assert sorted(os.listdir(out.parent)) == ["res", "res01", "res02"]
    d = tv.D3plot(str(out))
    ref = tv.D3plot(base)
    np.testing.assert_array_equal(d.block(SB.Shell, 3), (new_shell + 1)[None])
    np.testing.assert_array_equal(d.node_coordinates(0), coords)
    for k in range(5):
        if k != 3:
            np.testing.assert_array_equal(d.block(SB.Shell, k), ref.block(SB.Shell, k))
        if k != 0:
            np.testing.assert_array_equal(d.node_coordinates(k), ref.node_coordinates(k))
    # Every byte outside the two edited blocks is unchanged.
    old = b"".join(family_bytes(base))
    new = b"".join((out.parent / n).read_bytes() for n in ["res", "res01", "res02"])
    diff = np.flatnonzero(np.frombuffer(old, np.uint8) != np.frombuffer(new, np.uint8))
    assert len(old) == len(new) and diff.size > 0
    state0 = len(old) - 5 * 57 * 4
    disp0 = (state0 + 4, state0 + 4 + 96)
    shell3 = state0 + 3 * 57 * 4 + (1 + 48 + 2) * 4
    assert all(disp0[0] <= i < disp0[1] or shell3 <= i < shell3 + 24 for i in diff)
    # The loaded files themselves are untouched.
    assert tv.D3plot(base).block(SB.Shell, 3)[0, 0, 0] == 18.0


def test_save_over_loaded_files(tmp_path):
    base, _ = written_family(tmp_path)
    e = tv.D3plotEditor(base)
    e.set_block(SB.Velocity, 4, np.full(24, 3.25, dtype=np.float32))
    e.save()
    assert sorted(os.listdir(tmp_path)) == ["d3plot", "d3plot01", "d3plot02"]
    d = tv.D3plot(base)
    np.testing.assert_array_equal(d.block(SB.Velocity, 4), np.full((1, 8, 3), 3.25))
    e.save()  # again, over its own output
    np.testing.assert_array_equal(tv.D3plot(base).block(SB.Velocity, 4), np.full((1, 8, 3), 3.25))


def test_save_while_a_reader_maps_the_files(tmp_path):
    base, _ = written_family(tmp_path)
    d = tv.D3plot(base)
    view = d.block(SB.Displacement)
    before = np.array(view)
    e = tv.D3plotEditor(base)
    e.set_node_coordinates(1, np.zeros(24))
    e.save()
    # The reader keeps the old files; a new reader sees the edit.
    np.testing.assert_array_equal(view, before)
    np.testing.assert_array_equal(tv.D3plot(base).node_coordinates(1), np.zeros((8, 3)))


@pytest.mark.parametrize("n_files, last", [(12, "out11"), (101, "out100")])
def test_output_names(tmp_path, n_files, last):
    src = tmp_path / "src"
    src.mkdir()
    sw = 1 + 3
    base = write(src, build(ctl=dict(numnp=1), state_words=sw, n_states=1, marker=False))
    for i in range(1, n_files):
        (src / f"d3plot{i:02d}").write_bytes(states_file(4, i, 1, sw))
    e = tv.D3plotEditor(base)
    assert e.num_states == n_files
    dst = tmp_path / "dst"
    dst.mkdir()
    e.write(str(dst / "out"))
    names = sorted(os.listdir(dst))
    expected = ["out"] + [f"out{i:02d}" for i in range(1, min(n_files, 100))] + \
               [f"out{i}" for i in range(100, n_files)]
    assert names == sorted(expected) and last in names
    np.testing.assert_array_equal(tv.D3plot(str(dst / "out")).times(), tv.D3plot(base).times())


def test_failed_write_leaves_nothing_half_written(tmp_path):
    base, _ = written_family(tmp_path)
    e = tv.D3plotEditor(base)
    dst = tmp_path / "dst"
    dst.mkdir()
    (dst / "out").write_bytes(b"old")
    (dst / "out02").mkdir()  # the third file cannot replace a directory
    with pytest.raises(RuntimeError, match="^io: "):
        e.write(str(dst / "out"))
    assert sorted(os.listdir(dst)) == ["out", "out02"]
    assert (dst / "out").read_bytes() == b"old"


def test_double_precision_family_is_refused(tmp_path):
    base = write(tmp_path, build(ws=8, ctl=dict(numnp=2), state_words=7))
    with pytest.raises(RuntimeError, match="^editing double-precision d3plots is not supported$"):
        tv.D3plotEditor(base)


@pytest.mark.parametrize("data, message", [
    (b"\0" * 300, "not a recognizable d3plot (could not determine word size)"),
    (build(ctl=dict(numnp=2, iu=0), state_words=1), "d3plot has no nodal displacement data (IU=0)"),
])
def test_load_failures(tmp_path, data, message):
    with pytest.raises(RuntimeError) as e:
        tv.D3plotEditor(write(tmp_path, data))
    assert str(e.value) == message
    with pytest.raises(RuntimeError, match=r"^io: No such file or directory \(os error 2\)$"):
        tv.D3plotEditor(str(tmp_path / "missing"))


def test_edit_errors_change_nothing(tmp_path):
    base, _ = written_family(tmp_path)
    before = family_bytes(base)
    e = tv.D3plotEditor(base)
    with pytest.raises(RuntimeError, match=r"^data length 23 != count\*vars \(24\)$"):
        e.set_node_coordinates(0, np.zeros(23))
    with pytest.raises(RuntimeError, match="^block not present in this d3plot$"):
        e.set_block(SB.Beam, 0, np.zeros(1))
    with pytest.raises(RuntimeError, match=r"^state 5 out of range \(5\)$"):
        e.set_block(SB.Shell, 5, np.zeros(6))
    with pytest.raises(RuntimeError, match=r"^data length 5 != count\*vars \(6\)$"):
        e.set_block(SB.Shell, 5, np.zeros(5))  # the length is checked before the state
    with pytest.raises(TypeError, match="^expected a float32 or float64 numpy array$"):
        e.set_block(SB.Shell, 0, [0.0] * 6)
    with pytest.raises(OverflowError):
        e.set_block(SB.Shell, -1, np.zeros(6))
    with pytest.raises(TypeError):
        e.set_block(6, 0, np.zeros(6))
    e.save()
    assert family_bytes(base) == before


def test_save_through_symbolic_links_keeps_links_and_modes(tmp_path):
    real = tmp_path / "real"
    real.mkdir()
    base, _ = written_family(real)
    os.chmod(base, 0o640)
    links = tmp_path / "links"
    links.mkdir()
    for p in real.iterdir():
        (links / p.name).symlink_to(p)
    e = tv.D3plotEditor(str(links / "d3plot"))
    e.set_node_coordinates(2, np.ones(24))
    e.save()
    assert all((links / p.name).is_symlink() for p in real.iterdir())
    assert os.stat(base).st_mode & 0o777 == 0o640
    np.testing.assert_array_equal(tv.D3plot(base).node_coordinates(2), np.ones((8, 3)))
    assert sorted(os.listdir(real)) == ["d3plot", "d3plot01", "d3plot02"]


def test_writers_write_to_special_files():
    small_writer().write(os.devnull)
    assert os.path.exists(os.devnull) and not os.path.isfile(os.devnull)
