"""Named d3plot results: the control words by name, the per-state result
arrays (D3plot.array / D3plot.arrays), beam and thick-shell meshes.

Synthetic families are built word by word from the format tables; every
state word holds a recognisable value, so each named array is checked
against a plain reshape of the state records.  Real families are compared
with lasso-python (skipped when it is not installed).
"""

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import base_of, build, lasso, state_word, write  # noqa: F401 (lasso is a fixture)

REAL = ["simple_d3plot", "d3plot_solid_int", "order_d3plot", "d3plot_beamip", "d3plot_node_temperature"]
N_STATES = 3


def states_matrix(n_words, ws=4):
    dtype = np.float32 if ws == 4 else np.float64
    return np.array([[state_word(k, j) for j in range(n_words)] for k in range(N_STATES)], dtype=dtype)


# ---- Shells, globals and parts -------------------------------------------------------

# Two nodes, two shells, one part; 2 layers (MAXINT -10002: element deletion),
# every IOSHL flag set, one history value per layer and strains: NV2D = 2 * 8 +
# 8 + 4 + 12 = 40.  A state: time, 13 globals, 6 coordinates, 80 shell words,
# 2 deletion flags.
SHELL_CTL = dict(numnp=2, nglbv=13, nmmat=1, nel4=2, nv2d=40, maxint=-10002, neips=1,
                 **{"43": 1000, "44": 1000, "45": 1000, "46": 1000})
SHELL_WORDS = 102


def shell_family(tmp_path, ws=4, **ctl):
    c = dict(SHELL_CTL, **ctl)
    words = SHELL_WORDS + c["nv2d"] * 2 - 80
    return tv.D3plot(write(tmp_path, build(ws=ws, ctl=c, elements=[1, 2, 2, 1, 1] * 2, state_words=words)))


def shell_expected(ws=4):
    S = states_matrix(SHELL_WORDS, ws)
    shells = S[:, 20:100].reshape(N_STATES, 2, 40)
    layers = shells[:, :, :16].reshape(N_STATES, 2, 2, 8)
    return {
        "timesteps": S[:, 0],
        "global_kinetic_energy": S[:, 1], "global_internal_energy": S[:, 2], "global_total_energy": S[:, 3],
        "global_velocity": S[:, 4:7],
        "part_internal_energy": S[:, 7:8], "part_kinetic_energy": S[:, 8:9],
        "part_velocity": S[:, 9:12].reshape(N_STATES, 1, 3), "part_mass": S[:, 12:13],
        "part_hourglass_energy": S[:, 13:14],
        "node_displacement": S[:, 14:20].reshape(N_STATES, 2, 3),
        "element_shell_stress": layers[..., :6],
        "element_shell_effective_plastic_strain": layers[..., 6],
        "element_shell_history_vars": layers[..., 7:8],
        "element_shell_bending_moment": shells[:, :, 16:19],
        "element_shell_shear_force": shells[:, :, 19:21],
        "element_shell_normal_force": shells[:, :, 21:24],
        "element_shell_thickness": shells[:, :, 24],
        "element_shell_unknown_variables": shells[:, :, 25:27],
        "element_shell_strain": shells[:, :, 27:39].reshape(N_STATES, 2, 2, 6),
        "element_shell_internal_energy": shells[:, :, 39],
        "element_shell_is_alive": S[:, 100:102],
    }


def test_shell_family_names_every_value(tmp_path):
    d = shell_family(tmp_path)
    expected = shell_expected()
    assert d.arrays() == list(expected)
    for name, want in expected.items():
        got = d.array(name)
        assert got.dtype == np.float32 and got.shape == want.shape, name
        np.testing.assert_array_equal(got, want, err_msg=name)


def test_double_precision_arrays_are_float64_copies(tmp_path):
    d = shell_family(tmp_path, ws=8)
    for name, want in shell_expected(ws=8).items():
        got = d.array(name)
        assert got.dtype == np.float64 and got.base is not d and got.flags.writeable
        np.testing.assert_array_equal(got, want, err_msg=name)


def test_layer_of_shell_stress_is_a_view_over_the_file(tmp_path):
    d = shell_family(tmp_path)
    stress = d.array("element_shell_stress")
    assert stress.base is d and not stress.flags.writeable
    # One layer, one component: still no copy.
    outer = stress[:, :, 1, 0]
    assert outer.base is d or outer.base.base is d
    np.testing.assert_array_equal(outer, shell_expected()["element_shell_stress"][:, :, 1, 0])
    with pytest.raises(ValueError):
        stress[0, 0, 0, 0] = 1.0
    every_other = d.array("element_shell_stress", [0, 2])
    assert every_other.base is d
    assert every_other.strides[0] == 2 * stress.strides[0]
    backwards = d.array("element_shell_stress", [2, 0])
    assert backwards.base is not d and backwards.flags.writeable
    np.testing.assert_array_equal(backwards, stress[[2, 0]])
    np.testing.assert_array_equal(d.array("element_shell_thickness", -1),
                                  shell_expected()["element_shell_thickness"][-1:])


def test_view_keeps_the_family_alive(tmp_path):
    d = shell_family(tmp_path)
    stress = d.array("element_shell_stress")
    want = shell_expected()["element_shell_stress"]
    del d
    np.testing.assert_array_equal(stress, want)


@pytest.mark.parametrize("name", ["element_beam_axial_force", "node_velocity", "element_solid_stress", "nonsense"])
def test_absent_array_is_a_key_error_naming_it(tmp_path, name):
    d = shell_family(tmp_path)
    with pytest.raises(KeyError) as e:
        d.array(name)
    assert e.value.args[0] == f'array "{name}" is not present in this d3plot'


def test_state_selection_follows_block(tmp_path):
    d = shell_family(tmp_path)
    with pytest.raises(RuntimeError, match=r"^state index 3 out of range \(3 states\)$"):
        d.array("timesteps", 3)
    with pytest.raises(TypeError, match="^states must be None, an int, or a sequence of ints$"):
        d.array("timesteps", "0")
    assert d.array("global_velocity", []).shape == (0, 3)


@pytest.mark.parametrize("word, value, message", [
    ("nv2d", 41, "d3plot control word NV2D (41) disagrees with the shell values of MAXINT, NEIPS and "
                 "IOSHL1 ... IOSHL4 (40)"),
    ("neips", 2, "d3plot control word NV2D (40) disagrees with the shell values of MAXINT, NEIPS and "
                 "IOSHL1 ... IOSHL4 (42)"),
])
def test_control_word_disagreeing_with_block_is_named(tmp_path, word, value, message):
    d = shell_family(tmp_path, **{word: value})
    with pytest.raises(RuntimeError) as e:
        d.array("element_shell_stress")
    assert str(e.value) == message
    with pytest.raises(RuntimeError) as e:
        d.arrays()
    assert str(e.value) == message
    # The other blocks are still read.
    np.testing.assert_array_equal(d.array("global_kinetic_energy"), shell_expected()["global_kinetic_energy"])


# ---- Solids, thick shells, beams -------------------------------------------------------

# One node, one solid with 8 integration points (stress, plastic strain, one
# history value: NV3D 64), one thick shell of 2 layers (NV3DT 14), one beam
# with one history value and 2 integration points (NV1D 6 + 3 + 2 * 6 = 21),
# element deletion.  EXTRA = 4 words after the control block (NEIPB the
# last); a numbering section of 10 header words and one id per entity.
ELEMENT_CTL = dict(numnp=1, nel8=1, nv3d=64, nelt=1, nv3dt=14, nel2=1, nv1d=21, maxint=-10002, extra=4,
                   narbs=14, **{"34": 1, "43": 1000, "44": 1000})
ELEMENT_WORDS = 106
ELEMENTS = list(range(11, 19)) + [3] + list(range(21, 29)) + [4] + list(range(31, 36)) + [5]
NARBS = [10] + [0] * 9 + [101, 201, 301, 401]


def element_family(tmp_path, **ctl):
    data = build(ctl=dict(ELEMENT_CTL, **ctl), before_coords=[0, 0, 0, 1], elements=ELEMENTS, narbs=NARBS,
                 state_words=ELEMENT_WORDS)
    return tv.D3plot(write(tmp_path, data))


def element_expected():
    S = states_matrix(ELEMENT_WORDS)
    solid = S[:, 4:68].reshape(N_STATES, 1, 8, 8)
    tshell = S[:, 68:82].reshape(N_STATES, 1, 2, 7)
    beam = S[:, 82:103].reshape(N_STATES, 1, 21)
    ips = beam[:, :, 6:16].reshape(N_STATES, 1, 2, 5)
    return {
        "timesteps": S[:, 0],
        "node_displacement": S[:, 1:4].reshape(N_STATES, 1, 3),
        "element_solid_stress": solid[..., :6],
        "element_solid_effective_plastic_strain": solid[..., 6],
        "element_solid_history_variables": solid[..., 7:8],
        "element_tshell_stress": tshell[..., :6],
        "element_tshell_effective_plastic_strain": tshell[..., 6],
        "element_beam_axial_force": beam[:, :, 0],
        "element_beam_shear_force": beam[:, :, 1:3],
        "element_beam_bending_moment": beam[:, :, 3:5],
        "element_beam_torsion_moment": beam[:, :, 5],
        "element_beam_axial_stress": ips[..., 0],
        "element_beam_shear_stress": ips[..., 1:3],
        "element_beam_plastic_strain": ips[..., 3],
        "element_beam_axial_strain": ips[..., 4],
        "element_beam_history_vars": beam[:, :, 16:21].reshape(N_STATES, 1, 5, 1),
        "element_solid_is_alive": S[:, 103:104],
        "element_tshell_is_alive": S[:, 104:105],
        "element_beam_is_alive": S[:, 105:106],
    }


def test_solid_thick_shell_and_beam_arrays(tmp_path):
    d = element_family(tmp_path)
    expected = element_expected()
    assert d.arrays() == list(expected)
    for name, want in expected.items():
        got = d.array(name)
        assert got.shape == want.shape, name
        np.testing.assert_array_equal(got, want, err_msg=name)
        assert got.base is d


def test_beam_and_thick_shell_mesh(tmp_path):
    d = element_family(tmp_path)
    conn, parts = d.thick_shell_connectivity()
    np.testing.assert_array_equal(conn, [list(range(21, 29))])
    np.testing.assert_array_equal(parts, [4])
    conn, parts = d.beam_connectivity()
    np.testing.assert_array_equal(conn, [list(range(31, 36))])
    np.testing.assert_array_equal(parts, [5])
    assert (list(d.node_ids()), list(d.solid_ids()), list(d.beam_ids()), list(d.thick_shell_ids())) == \
        ([101], [201], [301], [401])
    assert d.control["NEIPB"] == 1 and d.control["EXTRA"] == 4 and "NEL64" not in d.control


@pytest.mark.parametrize("ctl, name, message", [
    (dict(nv3d=63), "element_solid_stress",
     "d3plot control word NV3D (63) disagrees with the solid values of NEIPH and IOSHL1/IOSHL2 (8)"),
    (dict(nv3dt=15), "element_tshell_stress",
     "d3plot control word NV3DT (15) disagrees with the thick-shell values of MAXINT, NEIPS and IOSHL1/IOSHL2 (14)"),
    (dict(nv1d=20), "element_beam_axial_force",
     "d3plot control word NV1D (20) disagrees with the beam values of NEIPB and the integration points (15)"),
])
def test_element_control_words_disagreeing(tmp_path, ctl, name, message):
    d = element_family(tmp_path, **ctl)
    with pytest.raises(RuntimeError) as e:
        d.array(name)
    assert str(e.value) == message


def test_node_values_in_state_order(tmp_path):
    # IT 13 (3 temperatures and 3 heat fluxes, mass scaling), IDTDT 11
    # (temperature gradient, residual forces and moments), velocities,
    # accelerations, node deletion flags (MAXINT -3).
    ctl = dict(numnp=2, it=13, idtdt=11, iv=1, ia=1, maxint=-3)
    per_node = 3 + 6 + 1 + 1 + 6 + 3 + 3
    words = 1 + 2 * per_node + 2
    d = tv.D3plot(write(tmp_path, build(ctl=ctl, state_words=words)))
    S = states_matrix(words)
    names = ["node_displacement", "node_temperature", "node_heat_flux", "node_mass_scaling",
             "node_temperature_gradient", "node_residual_forces", "node_residual_moments", "node_velocity",
             "node_acceleration", "node_is_alive"]
    widths = [3, 3, 3, 1, 1, 3, 3, 3, 3, 1]
    assert d.arrays() == ["timesteps"] + names
    at = 1
    for name, k in zip(names, widths):
        want = S[:, at:at + 2 * k].reshape((N_STATES, 2, k) if k > 1 else (N_STATES, 2))
        np.testing.assert_array_equal(d.array(name), want, err_msg=name)
        at += 2 * k


# ---- Control words ------------------------------------------------------------------

def test_control_is_a_read_only_mapping_of_named_words(tmp_path):
    d = shell_family(tmp_path)
    c = d.control
    with pytest.raises(TypeError):
        c["NUMNP"] = 3
    assert list(c)[:8] == ["TITLE", "RUNTIME", "FILETYPE", "SOURCE_VERSION", "RELEASE_NUMBER", "VERSION", "NDIM",
                           "NUMNP"]
    assert list(c)[-1] == "EXTRA" and len(c) == 49
    assert (c["NUMNP"], c["NGLBV"], c["NEL4"], c["NV2D"], c["MAXINT"], c["NEIPS"], c["IOSHL4"]) == \
        (2, 13, 2, 40, -10002, 1, 1000)
    assert c["TITLE"] == "" and c["VERSION"] == 0.0


def test_interface_force_file_names_its_field_widths(tmp_path):
    w = tv.IntforWriter(np.zeros(12, dtype=np.float32))
    w.add_segments(np.array([[1, 2, 3, 4]], dtype=np.int64))
    w.set_fields(wear=1, pressure=2, gap=1)
    w.add_state(0.0, np.zeros(12), np.ones(12), np.zeros(4, dtype=np.float32))
    d = tv.D3plot(write(tmp_path, w.to_bytes()))
    c = d.control
    assert (c["FILETYPE"], c["NWEAR"], c["NPRESSURE"], c["NSHEAR"], c["NFORCE"], c["NGAP"]) == (4, 1, 2, 0, 0, 1)
    # Contact segments are not shells.
    assert not any(n.startswith("element_shell_") for n in d.arrays())


def test_fsifor_segments_are_not_shells(tmp_path):
    d = tv.D3plot(write(tmp_path, build(ctl=dict(numnp=1, nel4=1, nv2d=-7), elements=[0] * 5, state_words=11)))
    assert d.is_fsifor and d.arrays() == ["timesteps", "node_displacement"]
    assert d.control["NV2D"] == -7


# ---- Real families against lasso-python -----------------------------------------------

GEOMETRY = {"node_coordinates", "node_ids", "part_ids", "part_ids_unordered", "part_ids_cross_references",
            "part_titles", "part_titles_ids"}


@pytest.mark.parametrize("name", REAL)
def test_every_named_array_equals_lasso(name, lasso):
    base = base_of(name)
    d = tv.D3plot(base)
    ref = lasso.D3plot(base).arrays
    expected = {k for k in ref if k not in GEOMETRY and not k.endswith(("_node_indexes", "_part_indexes", "_ids"))}
    assert set(d.arrays()) == expected
    for key in d.arrays():
        got = d.array(key)
        assert got.dtype == ref[key].dtype and got.shape == ref[key].shape, key
        np.testing.assert_array_equal(got, ref[key], err_msg=key)


@pytest.mark.parametrize("name", REAL)
def test_meshes_and_control_equal_lasso(name, lasso):
    base = base_of(name)
    d = tv.D3plot(base)
    reader = lasso.D3plot(base)
    ref = reader.arrays
    for conn_parts, ids, key in [(d.beam_connectivity(), d.beam_ids(), "beam"),
                                 (d.thick_shell_connectivity(), d.thick_shell_ids(), "tshell")]:
        conn, parts = conn_parts
        np.testing.assert_array_equal(conn - 1, ref[f"element_{key}_node_indexes"].reshape(conn.shape))
        np.testing.assert_array_equal(parts - 1, ref[f"element_{key}_part_indexes"])
        np.testing.assert_array_equal(ids, ref[f"element_{key}_ids"])
    raw = reader.header.raw_header
    c = d.control
    for word, value in c.items():
        key = {"RELEASE_NUMBER": "release_version"}.get(word, word.lower())
        if key in raw and word != "TITLE":
            want = raw[key]
            assert value == (want.strip() if isinstance(want, str) else want), word
    assert c["NUMNP"] == d.num_nodes


@pytest.mark.parametrize("name", REAL)
def test_part_titles_equal_lasso(name, lasso):
    base = base_of(name)
    ids, titles = tv.D3plot(base).part_titles()
    ref = lasso.D3plot(base).arrays
    np.testing.assert_array_equal(ids, ref["part_titles_ids"])
    assert titles == [t.decode().rstrip() for t in ref["part_titles"]]


def test_part_titles_after_the_geometry(tmp_path):
    title = b"front rail".ljust(72)
    words = np.frombuffer(title, "<i4").tolist()
    after = [np.array([-999999.0], "<f4").view("<i4")[0], 90000] + [0] * 18 + [90001, 2, 7] + words + [9] + \
        np.frombuffer(b"x".ljust(72), "<i4").tolist()
    geometry = build(ctl=dict(numnp=1), state_words=4, n_states=0, marker=False)
    data = geometry + np.array(after, "<i4").tobytes()
    ids, titles = tv.D3plot(write(tmp_path, data)).part_titles()
    assert ids.tolist() == [7, 9] and titles == ["front rail", "x"]
    # Cut anywhere in the section: fewer titles, never a failure.
    for cut in range(len(geometry), len(data), 12):
        ids, titles = tv.D3plot(write(tmp_path, data[:cut])).part_titles()
        assert len(ids) == len(titles) < 2


def test_no_title_section_without_end_marker(tmp_path):
    d = shell_family(tmp_path)
    ids, titles = d.part_titles()
    assert ids.tolist() == [] and titles == []


@pytest.mark.parametrize("ws", [4, 8])
@pytest.mark.parametrize("ctl", [
    dict(numnp=1, nel4=2**61, nv2d=1, maxint=1, neips=1),
    dict(numnp=1, nel8=2**61, nv3d=1, **{"34": 1}),
    dict(numnp=1, nglbv=2**61, nmmat=2**58),
    dict(numnp=1, nel2=3, nv1d=2**62 + 6, extra=4),
    dict(numnp=1, nel4=2, nv2d=2**62, maxint=-2**62, neips=2**40, **{"43": 1000}),
])
def test_absurd_counts_end_in_errors(tmp_path, ws, ctl):
    if ws == 4:
        ctl = {k: max(min(v, 2**31 - 1), -2**31) for k, v in ctl.items()}
    try:
        d = tv.D3plot(write(tmp_path, build(ws=ws, ctl=ctl, coords=[], state_words=5)))
    except RuntimeError:
        return
    try:
        names = d.arrays()
    except RuntimeError:
        names = []
    for name in names + ["element_shell_stress", "element_solid_history_variables", "part_mass",
                         "element_beam_axial_force"]:
        try:
            d.array(name)
        except (RuntimeError, KeyError):
            pass


@pytest.mark.parametrize("version, walls, names", [
    (971.0, 2, ["rigid_wall_force", "rigid_wall_position"]),  # 4 values per wall
    (960.0, 8, ["rigid_wall_force"]),                          # 1 value per wall
])
def test_rigid_walls_after_the_part_values(tmp_path, version, walls, names):
    # NGLBV = 6 + 7 parts' values (one part) + 8 wall values.
    bits = int(np.array([version], "<f4").view("<i4")[0])
    d = tv.D3plot(write(tmp_path, build(ctl=dict(numnp=1, nglbv=21, nmmat=1, **{"14": bits}), state_words=25)))
    assert d.control["VERSION"] == version
    assert [n for n in d.arrays() if n.startswith("rigid_wall")] == names
    S = states_matrix(25)
    np.testing.assert_array_equal(d.array("rigid_wall_force"), S[:, 14:14 + walls])
    if walls == 2:
        np.testing.assert_array_equal(d.array("rigid_wall_position"), S[:, 16:22].reshape(N_STATES, 2, 3))
    np.testing.assert_array_equal(d.array("node_displacement"), S[:, 22:25].reshape(N_STATES, 1, 3))
