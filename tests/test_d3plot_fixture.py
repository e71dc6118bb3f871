"""Builders of d3plot files from the format tables, shared by the d3plot tests.

A file is a control block of 64 words, then whatever sections a test lays out,
then state records.  Integer and real words are mixed through views of one
word array, in the machine's (little-endian) byte order.
"""

import logging
from pathlib import Path

import numpy as np
import pytest

import _tarvex as tv

# Real families written by LS-DYNA (shared test data; tests skip without them).
DATA = Path(__file__).resolve().parents[1] / ".." / "shared" / "testdata" / "d3plot"


def base_of(name):
    """The base file of a real family, or a skip when the data are absent."""
    p = DATA / name / "d3plot"
    if not p.exists():
        pytest.skip(f"test data {name} not available")
    return str(p)


@pytest.fixture(scope="module")
def lasso():
    """lasso-python's lasso.dyna, the independent reader (skip without it)."""
    mod = pytest.importorskip("lasso.dyna")
    logging.getLogger("lasso").setLevel(logging.ERROR)
    return mod

# Control word positions, named as in the d3plot format.
WORD = {
    "filetype": 11, "ndim": 15, "numnp": 16, "nglbv": 18, "it": 19, "iu": 20, "iv": 21, "ia": 22,
    "nel8": 23, "nv3d": 27, "nel2": 28, "nv1d": 30, "nel4": 31, "nv2d": 33, "neips": 35, "maxint": 36,
    "nmsph": 37, "narbs": 39, "nelt": 40, "nv3dt": 42, "ialemat": 47, "nmmat": 51, "npefg": 54,
    "nel48": 55, "idtdt": 56, "extra": 57, "wear": 59, "pressure": 60, "shear": 61, "force": 62, "gap": 63,
}


class Words:
    """A growing list of words of one size; ints and reals may be mixed."""

    def __init__(self, ws=4):
        self.ws = ws
        self.ints = []

    def _real_bits(self, x):
        if self.ws == 4:
            return int(np.array([x], dtype="<f4").view("<i4")[0])
        return int(np.array([x], dtype="<f8").view("<i8")[0])

    def int(self, *vals):
        self.ints.extend(int(v) for v in vals)
        return self

    def real(self, *vals):
        self.ints.extend(self._real_bits(v) for v in vals)
        return self

    def __len__(self):
        return len(self.ints)

    def tobytes(self):
        return np.array(self.ints, dtype="<i4" if self.ws == 4 else "<i8").tobytes()


def control(ws=4, **kw):
    """The 64 control words; NDIM defaults to 4, IU to 1."""
    words = [0] * 64
    words[WORD["ndim"]] = 4
    words[WORD["iu"]] = 1
    words[11] = 1
    for k, v in kw.items():
        words[WORD[k] if isinstance(k, str) and k in WORD else int(k)] = v
    return Words(ws).int(*words)


def state_word(k, j):
    """Recognisable value of word j of state k (exact in single precision)."""
    return float(k * 10000 + j)


def build(ws=4, ctl=None, before_coords=(), coords=None, elements=(), narbs=(), after_geometry=(),
          state_words=None, n_states=3, marker=True, extra_file_words=()):
    """A first file: control, words before the coordinates, coordinates
    (NUMNP nodes), element words, numbering words, words after the geometry,
    then n_states records of state_words words (word j of state k holds
    state_word(k, j), word 0 being the time) and the end marker."""
    ctl = dict(ctl or {})
    w = control(ws, **ctl)
    for v in before_coords:
        w.int(v)
    n = ctl.get("numnp", 0)
    if coords is None:
        coords = [float(i) for i in range(3 * n)]
    w.real(*coords)
    for v in elements:
        w.int(v)
    for v in narbs:
        w.int(v)
    for v in after_geometry:
        w.int(v)
    for k in range(n_states):
        w.real(*[state_word(k, j) for j in range(state_words)])
    if marker:
        w.real(-999999.0)
    for v in extra_file_words:
        w.int(v)
    return w.tobytes()


def states_file(ws, first_state, n_states, state_words, marker=False):
    """A continuation file: state records only."""
    w = Words(ws)
    for k in range(first_state, first_state + n_states):
        w.real(*[state_word(k, j) for j in range(state_words)])
    if marker:
        w.real(-999999.0)
    return w.tobytes()


def write(tmp_path, data, name="d3plot"):
    p = tmp_path / name
    p.write_bytes(data)
    return str(p)


def small_writer(n_nodes=8, n_states=2, vel=False, acc=False, shells=True, solids=True, nv2d=3, nv3d=2):
    """A D3plotWriter over a grid of nodes with recognisable values."""
    coords = np.arange(3 * n_nodes, dtype=np.float64).reshape(n_nodes, 3)
    w = tv.D3plotWriter(coords, title="fixture")
    n_sol = n_sh = 0
    if solids:
        w.add_solids(np.array([[1, 2, 3, 4, 5, 6, 7, 8]], dtype=np.int64), parts=[2])
        n_sol = 1
    if shells:
        w.add_shells(np.array([[1, 2, 3, 4], [5, 6, 7, 8]], dtype=np.int64))
        n_sh = 2
    if shells and nv2d:
        w.set_shell_results(np.arange(n_states * n_sh * nv2d, dtype=np.float32).reshape(n_states, n_sh, nv2d))
    if solids and nv3d:
        w.set_solid_results(-np.arange(n_states * n_sol * nv3d, dtype=np.float32).reshape(n_states, n_sol, nv3d))
    for k in range(n_states):
        disp = coords.ravel() + 0.5 * k
        w.add_state(0.25 * k, disp,
                    vel=np.full(3 * n_nodes, k, dtype=np.float32) if vel else None,
                    acc=np.full(3 * n_nodes, -k, dtype=np.float32) if acc else None)
    return w


def read_everything(d):
    """Every read of a D3plot; Python exceptions are acceptable results."""
    for f in (d.times, d.initial_coordinates, d.node_coordinates_all, d.node_ids, d.solid_ids, d.shell_ids,
              d.part_ids, d.solid_connectivity, d.shell_connectivity, d.available_blocks, d.max_displacement_final,
              d.beam_ids, d.thick_shell_ids, d.beam_connectivity, d.thick_shell_connectivity, d.part_titles,
              lambda: dict(d.control)):
        try:
            f()
        except (RuntimeError, ValueError, KeyError):
            pass
    n = d.num_states
    for k in {0, n - 1} if n else ():
        for f in (d.node_coordinates, d.displacement_magnitudes):
            try:
                f(k)
            except RuntimeError:
                pass
    repr(d)
    for name in ("Displacement", "Velocity", "Acceleration", "Solid", "ThickShell", "Beam", "Shell"):
        b = getattr(tv.StateBlock, name)
        d.block_layout(b)
        for sel in (None, [0, -1] if n else [], [-1, 0] if n else []):
            try:
                with np.errstate(all="ignore"):
                    float(np.sum(d.block(b, sel)))  # touches every value of a view
            except (RuntimeError, KeyError):
                pass
    try:
        names = d.arrays()
    except RuntimeError:
        names = []
    for name in names + ["element_shell_stress", "element_solid_stress", "element_beam_axial_force"]:
        for sel in (None, [0, -1] if n else [], [-1, 0] if n else []):
            try:
                with np.errstate(all="ignore"):
                    float(np.sum(d.array(name, sel)))
            except (RuntimeError, KeyError):
                pass
    for f in list(tv.InterfaceField.__dict__.values()) + list(tv.FsiforField.__dict__.values()):
        if isinstance(f, (tv.InterfaceField, tv.FsiforField)):
            try:
                d.segment_field(f)
            except (RuntimeError, KeyError):
                pass


def test_builder_words_mix_ints_and_reals():
    w = Words(4).int(7).real(1.5)
    assert np.frombuffer(w.tobytes(), "<i4")[0] == 7
    assert np.frombuffer(w.tobytes(), "<f4")[1] == 1.5
