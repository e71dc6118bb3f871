"""Control block, section walk and state layout of d3plot files.

Every fixture is laid out here by hand from the format tables: the words
before the coordinates, the geometry and the sections after it, and state
records of a known length.  A reader that mis-sized a section or a state
would find the wrong number of states or the wrong first word of a block
(word j of state k holds k * 10000 + j).
"""

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import build, state_word, write

SB = tv.StateBlock


def open_bytes(tmp_path, data):
    return tv.D3plot(write(tmp_path, data))


def check_layout(d, n_states, state_words, specs):
    assert d.num_states == n_states
    np.testing.assert_array_equal(d.times(), [state_word(k, 0) for k in range(n_states)])
    for block, (start, count, values) in specs:
        assert d.block_layout(block) == (count, values)
        arr = d.block(block)
        assert arr.shape == (n_states, count, values)
        for k in range(n_states):
            assert arr[k, 0, 0] == state_word(k, start)
            assert arr[k, -1, -1] == state_word(k, start + count * values - 1)
    assert state_words > 0


# (control words, words before coords, element words, numbering words,
#  words after the geometry, words per state, [(block, (start, count, values))])
CASES = {
    "plain": (dict(numnp=2), [], 0, 0, [], 7, [(SB.Displacement, (1, 2, 3))]),
    "globals": (dict(numnp=2, nglbv=5), [], 0, 0, [], 12, [(SB.Displacement, (6, 2, 3))]),
    "it2_adds_4": (dict(numnp=2, it=2, iv=1), [], 0, 0, [], 21, [(SB.Velocity, (15, 2, 3))]),
    "it12_adds_5": (dict(numnp=2, it=12, iv=1), [], 0, 0, [], 23, [(SB.Velocity, (17, 2, 3))]),
    "idtdt11_adds_7": (dict(numnp=2, idtdt=11, iv=1), [], 0, 0, [], 27, [(SB.Velocity, (21, 2, 3))]),
    "it3_adds_6": (dict(numnp=1, it=3, iv=1), [], 0, 0, [], 13, [(SB.Velocity, (10, 1, 3))]),
    # floored digits: d(-8) = 2 (4 values), t(-8) = 9 (nothing)
    "negative_it": (dict(numnp=2, it=-8, iv=1), [], 0, 0, [], 21, [(SB.Velocity, (15, 2, 3))]),
    "acc_without_vel": (dict(numnp=2, it=1, ia=1), [], 0, 0, [], 15, [(SB.Acceleration, (9, 2, 3))]),
    "vel_and_acc": (dict(numnp=2, iv=1, ia=1), [], 0, 0, [], 19,
                    [(SB.Velocity, (7, 2, 3)), (SB.Acceleration, (13, 2, 3))]),
    "maxint_-3": (dict(numnp=2, nel8=1, nv3d=2, maxint=-3), [], 9, 0, [], 11, [(SB.Solid, (7, 1, 2))]),
    "maxint_3": (dict(numnp=2, nel8=1, nv3d=2, maxint=3), [], 9, 0, [], 9, [(SB.Solid, (7, 1, 2))]),
    "maxint_-10003": (dict(numnp=2, nel8=1, nv3d=2, nelt=1, nv3dt=1, nel2=1, nv1d=1, nel4=1, nv2d=1,
                           maxint=-10003), [], 29, 0, [], 16,
                      [(SB.Solid, (7, 1, 2)), (SB.ThickShell, (9, 1, 1)), (SB.Beam, (10, 1, 1)), (SB.Shell, (11, 1, 1))]),
    "word65": (dict(numnp=2, nel8=1, nv3d=2, extra=2), [0, 3], 9, 0, [], 12, [(SB.Solid, (10, 1, 2))]),
    "ale_list": (dict(numnp=2, ialemat=3), [9, 9, 9], 0, 0, [], 7, [(SB.Displacement, (1, 2, 3))]),
    "numrbe_10_of_100": (dict(numnp=1, ndim=5, nmmat=2, nel4=100, nv2d=1), [10, 0, 0, 0], 500, 0, [], 94,
                         [(SB.Shell, (4, 90, 1))]),
    "numrbe_all": (dict(numnp=1, ndim=7, nmmat=2, nel4=100, nv2d=1), [100, 0, 0, 0], 500, 0, [], 4, []),
    "fsifor_nv2d_-7": (dict(numnp=1, nel4=1, nv2d=-7), [], 5, 0, [], 11, [(SB.Shell, (4, 1, 7))]),
    "numbering": (dict(numnp=2, narbs=5), [], 0, 5, [], 7, [(SB.Displacement, (1, 2, 3))]),
    "negative_counts": (dict(numnp=2, nel8=-5, nv3d=-2, nglbv=-1), [], 0, 0, [], 7, [(SB.Displacement, (1, 2, 3))]),
    # SPH: f0 = 11 words; s = 7 + |-2| = 9, h = 1, m = 4 -> 15 values per particle
    "sph": (dict(numnp=2, nmsph=2), [11, 1, 1, 1, 1, 1, 1, 1, -2, 1, 4], 0, 0, [0] * 4, 37,
            [(SB.Displacement, (1, 2, 3))]),
    "sph_f0_10": (dict(numnp=2, nmsph=2), [10, 1, 1, 1, 1, 1, 1, 1, -2, 1], 0, 0, [0] * 4, 29, []),
    "sph_empty_flags": (dict(numnp=2, nmsph=2), [11] + [0] * 9 + [4], 0, 0, [0] * 4, 17, []),
    # airbags: 2 bags, header (geom 1, vars 2, particles 3, state 1), +1 word for 4000 ... 4999
    "airbag_4002": (dict(numnp=2, npefg=4002), [1, 2, 3, 1] + [0] * 37, 0, 0, [0] * 2, 15, []),
    "airbag_2": (dict(numnp=2, npefg=2), [1, 2, 3, 1] + [0] * 36, 0, 0, [0] * 2, 15, []),
    "airbag_flag_too_big": (dict(numnp=2, npefg=20_000_000), [], 0, 0, [], 7, []),
    # rigid entries: 2 entries of (word, c1, c1 words, c2, c2 words)
    "rigid_ndim8": (dict(numnp=2, ndim=8), [], 0, 0, [2, 7, 1, 7, 2, 7, 7, 7, 0, 0], 55, []),
    # NDIM 9: one rigid entry (12 words a state) and road surfaces
    # (1 node, 2 surfaces: one of 1 segment, one of none; 6 words each a state)
    "rigid_and_road_ndim9": (dict(numnp=2, ndim=9), [], 0, 0,
                             [1, 7, 0, 0] + [1, 0, 2, 0] + [0] * 4 + [5, 1, 0, 0, 0, 0] + [6, 0], 31, []),
    "road_ndim6": (dict(numnp=2, ndim=6), [], 0, 0, [1, 0, 2, 0] + [0] * 4 + [5, 1, 0, 0, 0, 0] + [6, 0], 19, []),
    "nel48": (dict(numnp=2, nel48=2), [], 0, 0, [0] * 10, 7, [(SB.Displacement, (1, 2, 3))]),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_state_size_and_block_positions(tmp_path, name):
    ctl, before, n_elem, n_narbs, after, state_words, specs = CASES[name]
    data = build(ctl=ctl, before_coords=before, elements=[0] * n_elem, narbs=[0] * n_narbs,
                 after_geometry=after, state_words=state_words, n_states=3)
    d = open_bytes(tmp_path, data)
    check_layout(d, 3, state_words, specs)


def test_double_precision_word_size(tmp_path):
    ctl, before, n_elem, n_narbs, after, state_words, specs = CASES["vel_and_acc"]
    data = build(ws=8, ctl=ctl, state_words=state_words)
    d = open_bytes(tmp_path, data)
    check_layout(d, 3, state_words, specs)
    arr = d.block(SB.Velocity)
    assert arr.dtype == np.float64 and arr.flags.writeable and arr.flags.c_contiguous
    np.testing.assert_array_equal(d.initial_coordinates().ravel(), np.arange(6.0))


@pytest.mark.parametrize("ws", [4, 8])
def test_word_15_probe_reads_the_right_size(tmp_path, ws):
    d = open_bytes(tmp_path, build(ws=ws, ctl=dict(numnp=2), state_words=7))
    assert d.num_states == 3
    assert d.block(SB.Displacement, 0).dtype == (np.float32 if ws == 4 else np.float64)


def test_word_15_of_12_in_both_readings_is_rejected(tmp_path):
    words = np.zeros(128, dtype="<i4")
    words[15] = 12
    words[30] = 12  # the 8-byte word 15 sits at byte 120
    with pytest.raises(RuntimeError, match=r"^not a recognizable d3plot \(could not determine word size\)$"):
        open_bytes(tmp_path, words.tobytes())


@pytest.mark.parametrize("size", [0, 10, 63, 64, 200, 255])
def test_file_too_short_for_control_words(tmp_path, size):
    words = np.zeros(64, dtype="<i4")
    words[15] = 4
    with pytest.raises(RuntimeError, match="could not determine word size"):
        open_bytes(tmp_path, words.tobytes()[:size])


def test_extra_words_need_word_65(tmp_path):
    data = build(ctl=dict(numnp=0, extra=2), state_words=1, n_states=0, marker=False)
    assert len(data) == 256
    with pytest.raises(RuntimeError, match="could not determine word size"):
        open_bytes(tmp_path, data)


def test_walk_past_the_end_reads_zeros(tmp_path):
    # Huge counts of rigid entries and road surfaces past the end of the file:
    # the walk ends at once and finds no state.
    data = build(ctl=dict(numnp=1, ndim=9), after_geometry=[2**31 - 1], state_words=4, n_states=0, marker=False)
    d = open_bytes(tmp_path, data)
    assert d.num_states == 0
    assert d.block_layout(SB.Displacement) == (1, 3)
    with pytest.raises(RuntimeError, match="^d3plot has no states$"):
        d.max_displacement_final()


def test_coordinates_past_the_end(tmp_path):
    data = build(ctl=dict(numnp=1000), coords=[0.0] * 30, state_words=1, n_states=0, marker=False)
    with pytest.raises(RuntimeError, match="^d3plot truncated: float block out of range$"):
        open_bytes(tmp_path, data)


def test_no_displacements_opens_but_has_no_current_coordinates(tmp_path):
    # Two nodes with velocities only: each state is the time and 6 velocity words.
    d = open_bytes(tmp_path, build(ctl=dict(numnp=2, iu=0, iv=1), state_words=7))
    assert d.num_states == 3
    assert d.available_blocks() == [SB.Velocity]
    np.testing.assert_array_equal(d.block(SB.Velocity)[1].ravel(), [state_word(1, j) for j in range(1, 7)])
    for call in (lambda: d.node_coordinates(0), d.node_coordinates_all, lambda: d.displacement_magnitudes(0),
                 d.max_displacement_final):
        with pytest.raises(RuntimeError, match=r"^d3plot has no nodal displacement data \(IU=0\)$"):
            call()


def test_fsifor_flag(tmp_path):
    d = open_bytes(tmp_path, build(ctl=dict(numnp=1, nel4=1, nv2d=-7), elements=[0] * 5, state_words=11))
    assert d.is_fsifor and not d.is_interface_force and d.filetype == 1


def test_shell_block_absent_when_numrbe_covers_all(tmp_path):
    ctl, before, n_elem, _, _, sw, _ = CASES["numrbe_all"]
    d = open_bytes(tmp_path, build(ctl=ctl, before_coords=before, elements=[0] * n_elem, state_words=sw))
    assert d.block_layout(SB.Shell) is None
    assert SB.Shell not in d.available_blocks()
    assert d.available_blocks() == [SB.Displacement]


# ---- the enumeration classes ------------------------------------------------------

ENUMS = {
    tv.StateBlock: ["Displacement", "Velocity", "Acceleration", "Solid", "ThickShell", "Beam", "Shell"],
    tv.InterfaceField: ["Wear", "Pressure", "Shear", "Force", "Gap"],
    tv.FsiforField: ["Pressure", "ForceX", "ForceY", "ForceZ", "RelativeVelocity", "VelocityX", "VelocityY",
                     "VelocityZ"],
}


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda c: c.__name__)
def test_enum_members(cls):
    for value, name in enumerate(ENUMS[cls]):
        member = getattr(cls, name)
        assert member is getattr(cls, name)
        assert type(member) is cls
        assert int(member) == value
        assert repr(member) == f"{cls.__name__}.{name}"
        assert member == value and not (member != value)
        assert member != value + 1 and not (member == value + 1)
        assert member == member
        for other_name in ENUMS[cls]:
            other = getattr(cls, other_name)
            assert (member == other) == (other_name == name)
            assert (member != other) == (other_name != name)
        assert member.__eq__("x") is NotImplemented
        assert member.__ne__(1.0 * value) is NotImplemented
        assert (member == "x") is False and (member != "x") is True
        assert member != 2**80
        with pytest.raises(TypeError):
            hash(member)
        with pytest.raises(TypeError):
            {member}


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda c: c.__name__)
def test_enum_class_is_closed(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls(0)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_enums_are_distinct_classes():
    assert tv.StateBlock.Shell == 6
    assert not (tv.StateBlock.Shell == tv.StateBlock.Solid)
    assert tv.InterfaceField.Pressure == 1 and tv.FsiforField.ForceX == 1
    assert tv.InterfaceField.Pressure.__eq__(tv.FsiforField.ForceX) is NotImplemented
    assert (tv.FsiforField.Pressure == tv.InterfaceField.Wear) is False


@pytest.mark.parametrize("ws", [4, 8])
def test_model_without_nodes(tmp_path, ws):
    d = open_bytes(tmp_path, build(ws=ws, ctl=dict(numnp=0), state_words=1, n_states=2))
    assert d.num_nodes == 0 and d.num_states == 2 and d.available_blocks() == []
    assert d.initial_coordinates().shape == (0, 3) and d.node_coordinates(1).shape == (0, 3)
    assert d.node_coordinates_all().shape == (2, 0, 3) and d.max_displacement_final() == 0.0
