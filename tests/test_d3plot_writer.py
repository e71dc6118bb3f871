"""D3plotWriter and IntforWriter: control words, sections, round trips through
the reader, argument errors and the refusal of inconsistent contents."""

import os

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import small_writer, write

SB = tv.StateBlock
IF = tv.InterfaceField


def words(data):
    return np.frombuffer(data, dtype="<i4")


def reals(data):
    return np.frombuffer(data, dtype="<f4")


def test_eight_nodes_one_solid_two_states(tmp_path):
    coords = np.arange(24, dtype=np.float32)
    w = tv.D3plotWriter(coords)
    w.add_solids(np.arange(1, 9, dtype=np.int64).reshape(1, 8))
    for k in range(2):
        w.add_state(float(k), coords)
    data = w.to_bytes()
    # header, coordinates, the solid, numbering with P = 1, two states, marker
    assert len(data) == 4 * (64 + 24 + 9 + (16 + 8 + 1 + 0 + 3) + 2 * (1 + 24) + 1)
    wd = words(data)
    assert data[-4:] == bytes.fromhex("f02374c9")
    assert wd[39] == 1 + 8 + 3 + 16  # NARBS = NEL4 + NEL8 + N + 3P + 16
    header = wd[64 + 24 + 9:64 + 24 + 9 + 16]
    u = 8 + 1 + 1 + 0
    assert list(header) == [-1, 9, 10, 10, u, 8, 1, 0, 0, 0, u + 1, u, u + 2, 1, 0, 1]
    d = tv.D3plot(write(tmp_path, data))
    assert d.num_states == 2 and d.num_nodes == 8
    np.testing.assert_array_equal(d.solid_ids(), [1])
    np.testing.assert_array_equal(d.part_ids(), [1])
    np.testing.assert_array_equal(d.node_ids(), np.arange(1, 9))


def test_control_words_of_the_d3plot_writer():
    w = small_writer(n_nodes=8, n_states=2, vel=True, acc=True, nv2d=3, nv3d=2)
    wd = words(w.to_bytes())
    expected = {11: 1, 15: 4, 16: 8, 17: 6, 20: 1, 21: 1, 22: 1, 23: 1, 27: 2, 31: 2, 32: 2, 33: 3,
                34: 2, 35: 3, 36: 1, 39: 2 + 1 + 8 + 6 + 16, 43: 0, 44: 0, 51: 2}
    for i in range(10, 64):
        assert wd[i] == expected.get(i, 0), i
    assert bytes(w.to_bytes()[:40]) == b"fixture".ljust(40)


@pytest.mark.parametrize("nv2d, nv3d, w43, w44, w34, w35", [
    (8, 0, 1000, 1000, 0, 1),
    (6, 0, 1000, 0, 0, 0),
    (5, 0, 0, 0, 0, 5),
    (3, 7, 1000, 1000, 0, 0),
    (0, 9, 1000, 1000, 2, 0),
])
def test_result_width_words(nv2d, nv3d, w43, w44, w34, w35):
    wd = words(small_writer(nv2d=nv2d, nv3d=nv3d).to_bytes())
    assert (wd[43], wd[44], wd[34], wd[35]) == (w43, w44, w34, w35)


@pytest.mark.parametrize("title, expected", [
    (None, b" " * 40),
    ("x" * 50, b"x" * 40),
    ("abc", b"abc" + b" " * 37),
    ("é" * 30, ("é" * 20).encode()),
])
def test_title(title, expected):
    w = tv.D3plotWriter(np.zeros(3), title=title)
    assert w.to_bytes()[:40] == expected
    iw = tv.IntforWriter(np.zeros(3), title=title)
    assert iw.to_bytes()[:40] == expected


def test_round_trip_with_results_and_motion(tmp_path):
    n_states = 3
    w = small_writer(n_nodes=8, n_states=n_states, vel=True, acc=True, nv2d=4, nv3d=7)
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    assert d.available_blocks() == [SB.Displacement, SB.Velocity, SB.Acceleration, SB.Solid, SB.Shell]
    np.testing.assert_array_equal(d.block(SB.Shell), np.arange(n_states * 8, dtype=np.float32).reshape(3, 2, 4))
    np.testing.assert_array_equal(d.block(SB.Solid), -np.arange(n_states * 7, dtype=np.float32).reshape(3, 1, 7))
    for k in range(n_states):
        np.testing.assert_array_equal(d.block(SB.Velocity, k), np.full((1, 8, 3), k))
        np.testing.assert_array_equal(d.block(SB.Acceleration, k), np.full((1, 8, 3), -k))
    np.testing.assert_array_equal(d.shell_connectivity()[1], [1, 1])
    np.testing.assert_array_equal(d.solid_connectivity()[1], [2])


def test_parts_and_ids():
    w = tv.D3plotWriter(np.zeros(12))
    w.add_shells(np.array([[1, 2, 3, 4]] * 3, dtype=np.int64), parts=[5])
    w.add_shells(np.array([[1, 2, 3, 4]], dtype=np.int64), parts=(3, 9))
    data = w.to_bytes()
    wd = words(data)
    shells = wd[64 + 12:64 + 12 + 20].reshape(4, 5)
    np.testing.assert_array_equal(shells[:, 4], [5, 1, 1, 3])  # shorter parts: 1 for the rest
    assert wd[32] == 5 and wd[51] == 5


def test_ids_stored_as_low_32_bits(tmp_path):
    w = tv.D3plotWriter(np.zeros(3))
    w.add_shells(np.array([[2**32 + 1, -1, 0, 2]], dtype=np.int64), parts=[2**32 + 4])
    w.set_ids(node_ids=[2**32 + 77], shell_ids=[-5])
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    conn, parts = d.shell_connectivity()
    np.testing.assert_array_equal(conn, [[1, -1, 0, 2]])
    np.testing.assert_array_equal(parts, [4])
    np.testing.assert_array_equal(d.node_ids(), [77])
    np.testing.assert_array_equal(d.shell_ids(), [-5])


@pytest.mark.parametrize("part_ids, expected", [
    ([40], [40, 2, 3]),
    ([40, 50, 60, 70, 80], [40, 50, 60]),  # only the first P are written
    ([], [1, 2, 3]),
])
def test_part_ids_shorter_or_longer_than_parts(tmp_path, part_ids, expected):
    w = tv.D3plotWriter(np.zeros(3))
    w.add_shells(np.array([[1, 1, 1, 1]], dtype=np.int64), parts=[3])
    w.set_ids(part_ids=part_ids)
    data = w.to_bytes()
    assert len(data) == 4 * (64 + 3 + 5 + 16 + 1 + 0 + 1 + 3 * 3 + 1)
    d = tv.D3plot(write(tmp_path, data))
    np.testing.assert_array_equal(d.part_ids(), expected)


def test_input_arrays_any_layout(tmp_path):
    base = np.arange(48, dtype=np.float64).reshape(8, 6)
    coords = base[:, ::2]  # non-contiguous, 24 values in logical order
    w = tv.D3plotWriter(coords)
    conn = np.arange(1, 17, dtype=np.int64).reshape(4, 4)[::2]  # strided rows
    w.add_shells(conn)
    w.set_shell_results(np.asfortranarray(np.arange(4, dtype=np.float64).reshape(1, 2, 2)))
    w.add_state(1.0, coords.T.copy().T)
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    np.testing.assert_array_equal(d.initial_coordinates().ravel(), coords.ravel())
    np.testing.assert_array_equal(d.shell_connectivity()[0], [[1, 2, 3, 4], [9, 10, 11, 12]])
    np.testing.assert_array_equal(d.block(SB.Shell), [[[0, 1], [2, 3]]])


@pytest.mark.parametrize("bad", [[1.0, 2.0, 3.0], np.zeros(3, dtype=np.int64), np.zeros(3, dtype=np.float16),
                                 "abc"])
def test_float_arrays_only(bad):
    with pytest.raises(TypeError, match="^expected a float32 or float64 numpy array$"):
        tv.D3plotWriter(bad)
    with pytest.raises(TypeError):
        tv.D3plotWriter(None)
    w = tv.D3plotWriter(np.zeros(3))
    with pytest.raises(TypeError, match="^expected a float32 or float64 numpy array$"):
        w.add_state(0.0, bad)
    with pytest.raises(TypeError, match="^expected a float32 or float64 numpy array$"):
        w.set_shell_results(bad)


@pytest.mark.parametrize("n", [0, 4])
def test_node_count_must_be_multiple_of_3(n):
    for cls in (tv.D3plotWriter, tv.IntforWriter):
        with pytest.raises(RuntimeError, match="^node_coords length must be a non-zero multiple of 3$"):
            cls(np.zeros(n))


def test_connectivity_arguments():
    w = tv.D3plotWriter(np.zeros(3))
    with pytest.raises(ValueError, match=r"^solid conn must have shape \(M, 8\)$"):
        w.add_solids(np.zeros((2, 4), dtype=np.int64))
    with pytest.raises(ValueError, match=r"^shell conn must have shape \(M, 4\)$"):
        w.add_shells(np.zeros((2, 8), dtype=np.int64))
    iw = tv.IntforWriter(np.zeros(3))
    with pytest.raises(ValueError, match=r"^segment conn must have shape \(M, 4\)$"):
        iw.add_segments(np.zeros((1, 5), dtype=np.int64))
    for bad in (np.zeros((2, 4), dtype=np.int32), np.zeros(4, dtype=np.int64), [[1, 2, 3, 4]],
                np.zeros((1, 1, 4), dtype=np.int64)):
        with pytest.raises(TypeError, match="conn"):
            w.add_shells(bad)
        with pytest.raises(TypeError, match="conn"):
            iw.add_segments(bad)


def test_state_errors():
    w = tv.D3plotWriter(np.zeros(6))
    with pytest.raises(RuntimeError, match=r"^disp length 3 != numnp\*3 \(6\)$"):
        w.add_state(0.0, np.zeros(3))
    with pytest.raises(RuntimeError, match=r"^vel length 7 != numnp\*3 \(6\)$"):
        w.add_state(0.0, np.zeros(6), vel=np.zeros(7))
    with pytest.raises(RuntimeError, match=r"^acc length 0 != numnp\*3 \(6\)$"):
        w.add_state(0.0, np.zeros(6), acc=np.zeros(0))
    w.add_state(0.0, np.zeros(6), vel=np.zeros(6))
    with pytest.raises(RuntimeError, match="^velocity/acceleration presence must match across states$"):
        w.add_state(1.0, np.zeros(6))
    with pytest.raises(RuntimeError, match="^velocity/acceleration presence must match across states$"):
        w.add_state(1.0, np.zeros(6), vel=np.zeros(6), acc=np.zeros(6))
    w.add_state(1.0, np.zeros(6), vel=np.ones(6))
    assert words(w.to_bytes())[21] == 1


def test_to_bytes_is_repeatable_and_write_matches(tmp_path):
    w = small_writer()
    a = w.to_bytes()
    assert isinstance(a, bytes) and w.to_bytes() == a
    p = tmp_path / "out"
    w.write(str(p))
    assert p.read_bytes() == a
    assert sorted(os.listdir(tmp_path)) == ["out"]
    with pytest.raises(OSError):
        w.write(str(tmp_path / "no" / "such" / "dir"))
    with pytest.raises(TypeError):
        w.write(p)


# ---- contents that would disagree with the control words -------------------------


def test_results_for_fewer_states_than_added():
    w = small_writer(n_states=2, nv2d=3, nv3d=0)
    w.add_state(9.0, np.zeros(24))
    with pytest.raises(RuntimeError, match=r"^shell results hold 12 values, expected 3 states x 2 shells x 3 "
                                           r"values \(18\)$"):
        w.to_bytes()
    with pytest.raises(RuntimeError, match="shell results"):
        w.write("/nonexistent/never-written")


def test_results_for_more_states_than_added(tmp_path):
    # Slice k of the values is state k: values past the last state are not written.
    w = small_writer(n_states=3, nv2d=3, nv3d=0)
    w2 = small_writer(n_states=2, nv2d=3, nv3d=0)
    w2.set_shell_results(np.arange(3 * 2 * 3, dtype=np.float32).reshape(3, 2, 3))
    d = tv.D3plot(write(tmp_path, w2.to_bytes()))
    assert d.num_states == 2
    np.testing.assert_array_equal(d.block(SB.Shell), np.arange(12, dtype=np.float32).reshape(2, 2, 3))
    assert len(w2.to_bytes()) == len(w.to_bytes()) - 4 * (1 + 24 + 6)


def test_results_too_large_to_count():
    w = tv.D3plotWriter(np.zeros(3))
    w.add_shells(np.ones((4, 4), dtype=np.int64))
    w.set_shell_results(np.zeros((0, 2**60), dtype=np.float32))
    for k in range(4):
        w.add_state(float(k), np.zeros(3))
    with pytest.raises(RuntimeError, match=r"^shell results hold 0 values, expected 4 states x 4 shells x "
                                           r"1152921504606846976 values \(18446744073709551615\)$"):
        w.to_bytes()


def test_results_set_before_more_elements_are_added():
    w = small_writer(n_states=2, nv2d=0, nv3d=2)
    w.add_solids(np.ones((1, 8), dtype=np.int64))
    with pytest.raises(RuntimeError, match=r"^solid results hold 4 values, expected 2 states x 2 solids x 2 "
                                           r"values \(8\)$"):
        w.to_bytes()


@pytest.mark.parametrize("kw, message", [
    (dict(node_ids=[1, 2]), "node_ids has 2 ids for 8 nodes"),
    (dict(shell_ids=[1, 2, 3]), "shell_ids has 3 ids for 2 shells"),
    (dict(solid_ids=[]), "solid_ids has 0 ids for 1 solids"),
])
def test_id_lists_that_disagree_with_counts(kw, message):
    w = small_writer()
    w.set_ids(**kw)
    with pytest.raises(RuntimeError) as e:
        w.to_bytes()
    assert str(e.value) == message


def test_set_ids_replaces_only_given_lists():
    w = small_writer()
    w.set_ids(node_ids=[1])
    w.set_ids(shell_ids=[4, 5])
    with pytest.raises(RuntimeError, match="node_ids"):
        w.to_bytes()
    w.set_ids(node_ids=list(range(8)))
    w.to_bytes()


# ---- IntforWriter -----------------------------------------------------------------


def test_intfor_fields_and_fsifor():
    w = tv.IntforWriter(np.zeros(6), n_interfaces=3)
    assert w.nv2d == 0
    w.set_fields(wear=1, pressure=1, force=3)
    assert w.nv2d == 5
    wd = words(w.to_bytes())
    assert list(wd[59:64]) == [1, 1, 0, 3, 0] and wd[33] == 5
    w.set_fsifor(4)
    assert w.nv2d == 4
    wd = words(w.to_bytes())
    assert wd[33] == -4 and list(wd[59:64]) == [0] * 5
    w.set_fields(gap=2)
    assert w.nv2d == 2
    wd = words(w.to_bytes())
    assert wd[33] == 2 and list(wd[59:64]) == [0, 0, 0, 0, 2]
    with pytest.raises(OverflowError):
        w.set_fields(wear=-1)
    with pytest.raises(OverflowError):
        w.set_fsifor(-1)
    for n, word in ((2**31, -2**31), (2**32 - 1, 1), (2**32 + 3, -3)):
        w.set_fsifor(n)
        assert w.nv2d == n and words(w.to_bytes())[33] == word  # -n in 32 bits
    with pytest.raises(OverflowError):
        tv.IntforWriter(np.zeros(3), n_interfaces=-1)


def test_intfor_control_words_and_sections(tmp_path):
    w = tv.IntforWriter(np.arange(12, dtype=np.float32), n_interfaces=2)
    w.add_segments(np.array([[1, 2, 3, 4], [4, 3, 2, 1]], dtype=np.int64))
    w.add_segments(np.array([[1, 1, 1, 1]], dtype=np.int64), ids=[90])
    w.set_node_ids([11, 12, 13, 14])
    w.set_fields(pressure=2)
    vals = np.arange(6, dtype=np.float32)
    w.add_state(0.5, np.arange(12.0), np.ones(12), vals)
    data = w.to_bytes()
    wd = words(data)
    expected = {11: 4, 15: 4, 16: 4, 17: 6, 20: 1, 21: 1, 31: 3, 32: 4, 33: 2, 39: 3 + 4 + 12 + 16, 51: 4, 60: 2}
    for i in range(10, 64):
        assert wd[i] == expected.get(i, 0), i
    segs = wd[64 + 12:64 + 12 + 15].reshape(3, 5)
    np.testing.assert_array_equal(segs[:, 4], [1, 2, 90])
    narbs = wd[64 + 27:64 + 27 + 16 + 4 + 3 + 3 * 4]
    u = 4 + 1 + 0 + 3
    assert list(narbs[:16]) == [-1, 5, 5, 5, u, 4, 0, 0, 3, 0, u + 4, u, u + 8, 4, 0, 4]
    assert list(narbs[16:23]) == [11, 12, 13, 14, 1, 2, 90]
    assert list(narbs[23:27]) == [1, 2, 3, 4] and list(narbs[27:]) == [0] * 8
    assert len(data) == 4 * (64 + 12 + 15 + 35 + (1 + 12 + 12 + 6) + 1)
    d = tv.D3plot(write(tmp_path, data))
    assert d.num_states == 1 and d.times()[0] == 0.5
    np.testing.assert_array_equal(d.node_ids(), [11, 12, 13, 14])
    np.testing.assert_array_equal(d.segment_field(IF.Pressure), vals.reshape(1, 3, 2))
    np.testing.assert_array_equal(d.block(SB.Velocity), np.ones((1, 4, 3)))


def test_intfor_state_errors():
    w = tv.IntforWriter(np.zeros(6))
    w.add_segments(np.ones((2, 4), dtype=np.int64))
    w.set_fields(wear=3)
    with pytest.raises(RuntimeError, match=r"^disp/vel length must be numnp\*3 \(6\)$"):
        w.add_state(0.0, np.zeros(6), np.zeros(5), np.zeros(6))
    with pytest.raises(RuntimeError, match=r"^segment_values length 5 != n_segments\*nv2d \(6\)$"):
        w.add_state(0.0, np.zeros(6), np.zeros(6), np.zeros(5))
    with pytest.raises(TypeError):
        w.add_state(0.0, np.zeros(6), None, np.zeros(6))


@pytest.mark.parametrize("change", ["segments", "fields"])
def test_intfor_states_that_disagree_later(change):
    w = tv.IntforWriter(np.zeros(6))
    w.add_segments(np.ones((1, 4), dtype=np.int64))
    w.set_fields(wear=1)
    w.add_state(0.0, np.zeros(6), np.zeros(6), np.zeros(1))
    if change == "segments":
        w.add_segments(np.ones((1, 4), dtype=np.int64))
        message = "state 0 holds 1 segment values, but the file has 2 segments x 1 values (2)"
    else:
        w.set_fields(wear=1, gap=1)
        message = "state 0 holds 1 segment values, but the file has 1 segments x 2 values (2)"
    with pytest.raises(RuntimeError) as e:
        w.to_bytes()
    assert str(e.value) == message


def test_intfor_node_ids_must_match():
    w = tv.IntforWriter(np.zeros(6))
    w.set_node_ids([1])
    with pytest.raises(RuntimeError, match="^node_ids has 1 ids for 2 nodes$"):
        w.to_bytes()


def test_writers_cannot_be_subclassed():
    for cls in (tv.D3plotWriter, tv.IntforWriter, tv.D3plotEditor):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


def test_writer_is_borrowed_while_writing(tmp_path):
    # Writing into a pipe blocks until it is read: meanwhile the writer is
    # claimed by the write and refuses changes.
    import threading
    import time

    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    w = small_writer()
    expected = w.to_bytes()
    t = threading.Thread(target=w.write, args=(str(fifo),))
    t.start()
    deadline = time.monotonic() + 10
    refused = False
    while time.monotonic() < deadline and not refused:
        try:
            w.add_shells(np.ones((0, 4), dtype=np.int64))
        except RuntimeError as e:
            assert str(e) == "Already borrowed"
            refused = True
        else:
            time.sleep(0.01)
    assert refused
    assert w.to_bytes() == expected  # shared claims may run alongside
    with open(fifo, "rb") as f:
        got = f.read()
    t.join()
    assert got == expected
