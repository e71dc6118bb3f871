"""The d3plot family reader: family discovery, state index, views and copies,
geometry, ids, node results and interface-force fields."""

import gc
import threading

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import build, small_writer, state_word, states_file, write

SB = tv.StateBlock
IF = tv.InterfaceField
FF = tv.FsiforField

# 2 nodes with velocities: 13 words a state (time, 6 displacements, 6 velocities).
CTL = dict(numnp=2, iv=1)
SW = 13


def family(tmp_path, first_states=2, continuation=None, ws=4):
    """base (first_states states) plus continuation files {suffix: (first state, count, marker)}."""
    base = write(tmp_path, build(ws=ws, ctl=CTL, state_words=SW, n_states=first_states, marker=False))
    for suffix, (k0, n, marker) in (continuation or {}).items():
        (tmp_path / f"d3plot{suffix}").write_bytes(states_file(ws, k0, n, SW, marker))
    return base


# ---- family discovery and state index ---------------------------------------------------


def test_family_order_by_numeric_key(tmp_path):
    base = family(tmp_path, 1, {"10": (3, 1, False), "02": (2, 1, False), "01": (1, 1, False),
                                "0x": (90, 1, False), "x01": (91, 1, False)})
    d = tv.D3plot(base)
    np.testing.assert_array_equal(d.times(), [0, 10000, 20000, 30000])


def test_equal_keys_both_join(tmp_path):
    base = family(tmp_path, 1, {"7": (1, 1, False), "07": (1, 1, False), "100": (5, 1, False)})
    d = tv.D3plot(base)
    np.testing.assert_array_equal(d.times(), [0, 10000, 10000, 50000])


def test_family_key_must_fit_64_bits(tmp_path):
    base = family(tmp_path, 1, {"99999999999999999999999": (9, 1, False), "18446744073709551615": (4, 1, False)})
    np.testing.assert_array_equal(tv.D3plot(base).times(), [0, 40000])


def test_base_in_current_directory(tmp_path, monkeypatch):
    family(tmp_path, 1, {"01": (1, 2, False)})
    monkeypatch.chdir(tmp_path)
    assert tv.D3plot("d3plot").num_states == 3


def test_end_marker_ends_a_file_not_the_family(tmp_path):
    # base: states 0, 1, marker, then a stray state; d3plot01: state 5, marker, state 6.
    w = build(ctl=CTL, state_words=SW, n_states=2, marker=True)
    stray = states_file(4, 9, 1, SW)
    write(tmp_path, w + stray)
    (tmp_path / "d3plot01").write_bytes(states_file(4, 5, 1, SW, marker=True) + states_file(4, 6, 1, SW))
    d = tv.D3plot(str(tmp_path / "d3plot"))
    np.testing.assert_array_equal(d.times(), [0, 10000, 50000])


def test_trailing_partial_state_and_empty_files(tmp_path):
    write(tmp_path, build(ctl=CTL, state_words=SW, n_states=2, marker=False) + b"\0" * (4 * SW - 4))
    (tmp_path / "d3plot01").write_bytes(b"")
    (tmp_path / "d3plot02").write_bytes(states_file(4, 2, 1, SW))
    d = tv.D3plot(str(tmp_path / "d3plot"))
    np.testing.assert_array_equal(d.times(), [0, 10000, 20000])


def test_open_failures(tmp_path):
    with pytest.raises(RuntimeError, match=r"^io: No such file or directory \(os error 2\)$"):
        tv.D3plot(str(tmp_path / "missing"))
    with pytest.raises(TypeError):
        tv.D3plot(tmp_path / "missing")
    d = tv.open_d3plot(family(tmp_path))
    assert type(d) is tv.D3plot
    assert repr(d) == "D3plot(2 nodes, 2 states)"
    with pytest.raises(TypeError):
        type("Sub", (tv.D3plot,), {})


# ---- views and copies -------------------------------------------------------------------


def test_single_file_block_is_readonly_view(tmp_path):
    d = tv.D3plot(family(tmp_path, 3))
    v = d.block(SB.Displacement)
    assert v.dtype == np.float32 and not v.flags.writeable and not v.flags.owndata
    assert v.base is d
    with pytest.raises(ValueError):
        v.flags.writeable = True
    with pytest.raises(BufferError):
        memoryview(d)  # the mapped bytes are handed out only as views
    assert v.strides == (SW * 4, 12, 4)
    assert v.shape == (3, 2, 3)
    with pytest.raises(ValueError):
        v[0, 0, 0] = 1
    np.testing.assert_array_equal(v[:, 0, 0], [state_word(k, 1) for k in range(3)])


def test_strided_and_copied_selections(tmp_path):
    d = tv.D3plot(family(tmp_path, 4))
    v = d.block(SB.Velocity, states=[0, 2])
    assert not v.flags.writeable and v.strides == (2 * SW * 4, 12, 4)
    np.testing.assert_array_equal(v[:, 0, 0], [state_word(0, 7), state_word(2, 7)])
    for sel in ([2, 0], [1, 1], [0, 1, 3]):
        c = d.block(SB.Velocity, states=sel)
        assert c.flags.writeable and c.dtype == np.float32
        np.testing.assert_array_equal(c[:, 0, 0], [state_word(k, 7) for k in sel])
    one = d.block(SB.Velocity, states=3)
    assert one.shape == (1, 2, 3) and one.strides[0] == SW * 4 and not one.flags.writeable
    np.testing.assert_array_equal(d.block(SB.Velocity, states=-1), one)
    np.testing.assert_array_equal(d.block(SB.Velocity, states=(-4,)), d.block(SB.Velocity, 0))
    np.testing.assert_array_equal(d.block(SB.Velocity, np.array([1, 3])), d.block(SB.Velocity, [1, 3]))
    assert d.block(SB.Velocity, states=[]).shape == (0, 2, 3)


def test_view_over_states_of_two_files_is_a_copy(tmp_path):
    d = tv.D3plot(family(tmp_path, 2, {"01": (2, 2, False)}))
    v = d.block(SB.Displacement, [0, 1])
    assert not v.flags.writeable
    c = d.block(SB.Displacement)
    assert c.flags.writeable
    np.testing.assert_array_equal(c[:, 0, 0], [state_word(k, 1) for k in range(4)])
    assert not d.block(SB.Displacement, [2, 3]).flags.writeable


def test_double_precision_gives_float64_copies(tmp_path):
    d = tv.D3plot(family(tmp_path, 3, ws=8))
    for sel in (None, 0, [0, 2]):
        c = d.block(SB.Displacement, sel)
        assert c.dtype == np.float64 and c.flags.writeable


def test_view_keeps_the_reader_alive(tmp_path):
    d = tv.D3plot(family(tmp_path, 3))
    v = d.block(SB.Displacement)
    expected = np.array(v)
    del d
    gc.collect()
    np.testing.assert_array_equal(v, expected)


@pytest.mark.parametrize("states, message", [
    (5, "state index 5 out of range (3 states)"),
    (-4, "state index -4 out of range (3 states)"),
    ([0, 3], "state index 3 out of range (3 states)"),
    (2**70, "state index 1180591620717411303424 out of range (3 states)"),
])
def test_state_index_out_of_range(tmp_path, states, message):
    d = tv.D3plot(family(tmp_path, 3))
    with pytest.raises(RuntimeError) as e:
        d.block(SB.Displacement, states)
    assert str(e.value) == message


@pytest.mark.parametrize("states", [np.int64(2), np.uint8(2), np.array(2), np.array([2]), (2,), range(2, 3)])
def test_states_as_integer_scalars_and_sequences(tmp_path, states):
    d = tv.D3plot(family(tmp_path, 3))
    np.testing.assert_array_equal(d.block(SB.Displacement, states), d.block(SB.Displacement, 2))


@pytest.mark.parametrize("states", ["0", 1.0, [0, "1"], [0.0], {"a": 1}, b"\x00", bytearray(1), np.float64(1),
                                    np.array(1.0), np.array([0.0]), {0}])
def test_states_of_other_types(tmp_path, states):
    d = tv.D3plot(family(tmp_path, 3))
    with pytest.raises(TypeError, match=r"^states must be None, an int, or a sequence of ints$"):
        d.block(SB.Displacement, states)


def test_absent_block_and_bad_block_argument(tmp_path):
    d = tv.D3plot(family(tmp_path, 3))
    with pytest.raises(KeyError) as e:
        d.block(SB.Beam)
    assert e.value.args[0] == "block Beam is not present in this d3plot"
    assert d.block_layout(SB.Beam) is None
    with pytest.raises(TypeError):
        d.block(5)
    with pytest.raises(TypeError):
        d.block_layout("Shell")


def test_large_copies_on_the_pool_equal_views(tmp_path):
    # 3 states of 30,000 nodes: 270,000 values, copied on the pool.
    n = 30_000
    w = tv.D3plotWriter(np.zeros(3 * n, dtype=np.float32))
    rng = np.random.default_rng(1)
    disp = rng.standard_normal((3, 3 * n)).astype(np.float32)
    for k in range(3):
        w.add_state(float(k), disp[k])
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    view = d.block(SB.Displacement)
    copy = d.block(SB.Displacement, [2, 1, 0])
    assert copy.flags.writeable
    np.testing.assert_array_equal(copy[::-1], view)
    np.testing.assert_array_equal(view.reshape(3, -1), disp)


def test_blocks_from_threads(tmp_path):
    d = tv.D3plot(family(tmp_path, 4))
    (tmp_path / "other").mkdir()
    other = tv.D3plot(family(tmp_path / "other", 3))
    ref = np.array(d.block(SB.Velocity, [3, 0]))
    errors = []

    def run(k):
        for _ in range(200):
            if not np.array_equal(d.block(SB.Velocity, [3, 0]), ref):
                errors.append("mismatch")
            reader = (d, other)[k % 2]
            v = reader.block(SB.Displacement, [0, 2])  # views of two readers from several threads
            if v.base is not reader or v[1, 0, 0] != state_word(2, 1):
                errors.append("view")

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors


# ---- geometry, ids and node results ----------------------------------------------------


def test_geometry_and_ids_of_a_written_file(tmp_path):
    w = small_writer(n_nodes=8, n_states=3)
    w.set_ids(node_ids=list(range(101, 109)), shell_ids=[7, 9], solid_ids=[55], part_ids=[500, 600])
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    assert d.num_nodes == 8 and d.num_states == 3 and d.filetype == 1 and not d.is_interface_force
    np.testing.assert_array_equal(d.initial_coordinates(), np.arange(24.0).reshape(8, 3))
    np.testing.assert_array_equal(d.node_ids(), range(101, 109))
    np.testing.assert_array_equal(d.shell_ids(), [7, 9])
    np.testing.assert_array_equal(d.solid_ids(), [55])
    np.testing.assert_array_equal(d.part_ids(), [500, 600])
    conn, parts = d.shell_connectivity()
    np.testing.assert_array_equal(conn, [[1, 2, 3, 4], [5, 6, 7, 8]])
    np.testing.assert_array_equal(parts, [1, 1])
    conn, parts = d.solid_connectivity()
    np.testing.assert_array_equal(conn, [[1, 2, 3, 4, 5, 6, 7, 8]])
    np.testing.assert_array_equal(parts, [2])
    assert d.node_ids().dtype == np.int64 and conn.dtype == np.int64
    np.testing.assert_allclose(d.times(), [0, 0.25, 0.5])
    for k in range(3):
        np.testing.assert_allclose(d.node_coordinates(k), np.arange(24.0).reshape(8, 3) + 0.5 * k)
        np.testing.assert_allclose(d.displacement_magnitudes(k), np.full(8, np.sqrt(3) * 0.5 * k), rtol=1e-6)
    np.testing.assert_allclose(d.node_coordinates_all(), [d.node_coordinates(k) for k in range(3)])
    assert d.max_displacement_final() == pytest.approx(np.sqrt(3))
    np.testing.assert_array_equal(d.block(SB.Shell), np.arange(18, dtype=np.float32).reshape(3, 2, 3))
    np.testing.assert_array_equal(d.block(SB.Solid), -np.arange(6, dtype=np.float32).reshape(3, 1, 2))


def test_ids_without_numbering_section(tmp_path):
    d = tv.D3plot(write(tmp_path, build(ctl=dict(numnp=4, nel4=2), elements=[1, 2, 3, 4, 1] * 2, state_words=13)))
    np.testing.assert_array_equal(d.node_ids(), [1, 2, 3, 4])
    np.testing.assert_array_equal(d.shell_ids(), [1, 2])
    assert d.solid_ids().size == 0 and d.part_ids().size == 0


def test_short_numbering_section_gives_short_ids(tmp_path):
    # NARBS claims 40 words but the file ends inside the node ids.
    data = build(ctl=dict(numnp=4, narbs=40), narbs=[-1] + [0] * 15 + [11, 12], state_words=1, n_states=0,
                 marker=False)
    d = tv.D3plot(write(tmp_path, data))
    np.testing.assert_array_equal(d.node_ids(), [11, 12])


def test_ten_word_numbering_header(tmp_path):
    data = build(ctl=dict(numnp=2, narbs=12), narbs=[5] + [0] * 9 + [21, 22], state_words=7)
    np.testing.assert_array_equal(tv.D3plot(write(tmp_path, data)).node_ids(), [21, 22])


def test_generated_ids_never_exceed_the_file(tmp_path):
    # 10^9 solids and parts claimed by a tiny file without a numbering section.
    data = build(ctl=dict(numnp=1, nel8=10**9, nmmat=10**9), state_words=1, n_states=0, marker=False)
    d = tv.D3plot(write(tmp_path, data))
    assert d.solid_ids().size == 0
    assert d.part_ids().size <= len(data) // 4
    assert d.solid_connectivity()[0].shape == (0, 8)


def test_node_result_errors(tmp_path):
    d = tv.D3plot(family(tmp_path, 2))
    for f in (d.node_coordinates, d.displacement_magnitudes):
        with pytest.raises(RuntimeError, match=r"^state 2 out of range \(2\)$"):
            f(2)
        with pytest.raises(OverflowError):
            f(-1)
        with pytest.raises(TypeError):
            f(0.0)


def test_max_displacement_skips_nan(tmp_path):
    w = tv.D3plotWriter(np.zeros(6, dtype=np.float32))
    w.add_state(0.0, np.array([np.nan, 0, 0, 3, 4, 0], dtype=np.float32))
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    assert d.max_displacement_final() == 5.0
    w2 = tv.D3plotWriter(np.zeros(3, dtype=np.float32))
    w2.add_state(0.0, np.array([np.nan] * 3, dtype=np.float32))
    assert tv.D3plot(write(tmp_path, w2.to_bytes(), "b")).max_displacement_final() == 0.0


def test_no_states(tmp_path):
    d = tv.D3plot(write(tmp_path, small_writer(n_states=0).to_bytes()))
    assert d.num_states == 0 and d.times().shape == (0,)
    assert d.node_coordinates_all().shape == (0, 8, 3)
    assert d.block(SB.Displacement).shape == (0, 8, 3)
    with pytest.raises(RuntimeError, match="^d3plot has no states$"):
        d.max_displacement_final()


# ---- interface-force fields -------------------------------------------------------------


def intfor(tmp_path, fields=None, fsifor=None, n_states=2):
    w = tv.IntforWriter(np.zeros(12, dtype=np.float32), n_interfaces=2)
    w.add_segments(np.array([[1, 2, 3, 4], [2, 3, 4, 1], [4, 3, 2, 1]], dtype=np.int64), ids=[31, 32])
    if fsifor is not None:
        w.set_fsifor(fsifor)
    else:
        w.set_fields(**fields)
    nv = w.nv2d
    vals = np.arange(n_states * 3 * nv, dtype=np.float32).reshape(n_states, 3, nv)
    for k in range(n_states):
        w.add_state(float(k), np.zeros(12), np.zeros(12), vals[k])
    return tv.D3plot(write(tmp_path, w.to_bytes(), "intfor")), vals


def test_interface_fields(tmp_path):
    d, vals = intfor(tmp_path, dict(wear=1, pressure=2, force=3))
    assert d.is_interface_force and d.filetype == 4 and not d.is_fsifor
    np.testing.assert_array_equal(d.shell_ids(), [31, 32, 3])
    np.testing.assert_array_equal(d.segment_field(IF.Wear), vals[:, :, 0:1])
    np.testing.assert_array_equal(d.segment_field(IF.Pressure), vals[:, :, 1:3])
    np.testing.assert_array_equal(d.segment_field(IF.Force, states=1), vals[1:, :, 3:6])
    np.testing.assert_array_equal(d.segment_field(IF.Force, states=[1, 0, -1]), vals[[1, 0, 1], :, 3:6])
    out = d.segment_field(IF.Pressure)
    assert out.dtype == np.float32 and out.flags.writeable
    for absent in (IF.Shear, IF.Gap):
        with pytest.raises(KeyError) as e:
            d.segment_field(absent)
        assert e.value.args[0] == "that interface field is not present in this file"
    with pytest.raises(TypeError, match="^field must be an InterfaceField or FsiforField$"):
        d.segment_field(SB.Shell)
    with pytest.raises(TypeError):
        d.segment_field(IF.Wear, states="0")
    with pytest.raises(RuntimeError, match=r"^state index 2 out of range \(2 states\)$"):
        d.segment_field(IF.Wear, 2)


def test_fsifor_fields(tmp_path):
    d, vals = intfor(tmp_path, fsifor=3)
    assert d.is_fsifor and d.is_interface_force
    for k, f in enumerate([FF.Pressure, FF.ForceX, FF.ForceY]):
        np.testing.assert_array_equal(d.segment_field(f), vals[:, :, k:k + 1])
    with pytest.raises(KeyError) as e:
        d.segment_field(FF.ForceZ)
    assert e.value.args[0] == "that interface field is not present in this file"
    # The widths words are not written for FSIFOR files.
    with pytest.raises(KeyError):
        d.segment_field(IF.Wear)


def test_segment_field_without_segments(tmp_path):
    w = tv.IntforWriter(np.zeros(3, dtype=np.float32))
    w.set_fields(wear=1)
    w.add_state(0.0, np.zeros(3), np.zeros(3), np.zeros(0, dtype=np.float32))
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    with pytest.raises(KeyError) as e:
        d.segment_field(IF.Wear)
    assert e.value.args[0] == "no interface segment data in this file"


def test_segment_field_widths_larger_than_the_segment(tmp_path):
    # Widths words claim more than NV2D values per segment.
    data = build(ctl=dict(numnp=1, nel4=1, nv2d=2, filetype=4, wear=1, pressure=5), elements=[0] * 5,
                 state_words=6)
    d = tv.D3plot(write(tmp_path, data))
    np.testing.assert_array_equal(d.segment_field(IF.Wear)[:, 0, 0], [state_word(k, 4) for k in range(3)])
    with pytest.raises(KeyError):
        d.segment_field(IF.Pressure)


def test_segment_field_widths_whose_sum_wraps(tmp_path):
    # 8-byte widths of 2**63 each: the offset of Shear would wrap around to 0.
    data = build(ws=8, ctl=dict(numnp=1, nel4=1, nv2d=2, filetype=4, wear=2**63 - 1, pressure=2**63 - 1, shear=2,
                                force=1), elements=[0] * 5, state_words=6)
    d = tv.D3plot(write(tmp_path, data))
    for field in (IF.Shear, IF.Force):
        with pytest.raises(KeyError) as e:
            d.segment_field(field)
        assert e.value.args[0] == "that interface field is not present in this file"

def test_double_precision_interface_file(tmp_path):
    data = build(ws=8, ctl=dict(numnp=1, nel4=1, nv2d=2, filetype=4, wear=1, pressure=1),
                 elements=[1, 2, 3, 4, 2**40], state_words=6)
    d = tv.D3plot(write(tmp_path, data))
    assert d.is_interface_force and d.num_states == 3
    conn, parts = d.shell_connectivity()
    np.testing.assert_array_equal(conn, [[1, 2, 3, 4]])
    np.testing.assert_array_equal(parts, [2**40])  # 8-byte integers are kept whole
    field = d.segment_field(IF.Pressure)
    assert field.dtype == np.float32 and field.shape == (3, 1, 1)
    np.testing.assert_array_equal(field[:, 0, 0], [state_word(k, 5) for k in range(3)])
    assert d.block(SB.Shell).dtype == np.float64


def test_block_larger_than_any_array_without_states(tmp_path):
    # A damaged control block: 2**31 - 1 shells of as many values, and no state to read.
    big = 2**31 - 1
    data = build(ctl=dict(numnp=1, nel4=big, nv2d=big, filetype=4, wear=1), state_words=1, n_states=0,
                 marker=False)
    d = tv.D3plot(write(tmp_path, data))
    assert d.num_states == 0 and d.block_layout(SB.Shell) == (big, big)
    assert d.block(SB.Displacement).shape == (0, 1, 3)
    for call in (lambda: d.block(SB.Shell), lambda: d.block(SB.Shell, []), lambda: d.segment_field(IF.Wear)):
        with pytest.raises(RuntimeError, match=r"^d3plot truncated: float block out of range$"):
            call()
