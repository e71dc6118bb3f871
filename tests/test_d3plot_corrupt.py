"""Damaged d3plot and intfor files built by the writers and the format
builders: cut at many places and with bytes flipped, every open, read and edit
ends in a Python exception or a valid result."""

import numpy as np
import pytest

import _tarvex as tv
from test_d3plot_fixture import build, read_everything, small_writer

SB = tv.StateBlock


def d3plot_file():
    return small_writer(n_nodes=8, n_states=3, vel=True, acc=True, nv2d=4, nv3d=7).to_bytes()


def intfor_file():
    w = tv.IntforWriter(np.zeros(12, dtype=np.float32), n_interfaces=2)
    w.add_segments(np.array([[1, 2, 3, 4], [2, 3, 4, 1]], dtype=np.int64))
    w.set_fields(wear=1, pressure=2, gap=1)
    for k in range(3):
        w.add_state(float(k), np.zeros(12), np.ones(12), np.full(8, k, dtype=np.float32))
    return w.to_bytes()


def sections_file():
    # NDIM 9 (rigid entries and road surfaces), SPH and airbags: every step of
    # the walk over the sections before the first state.
    sph = [11, 1, 1, 1, 1, 1, 1, 1, -1, 1, 1]
    airbag = [1, 1, 1, 1] + [0] * 27
    # rigid entries (1: 5 words), SPH node list, airbag geometry, road surfaces (1 node, 1 surface of 1 segment)
    after = [1, 0, 1, 5, 0] + [0, 0] + [0] + [1, 0, 1, 0] + [0] * 4 + [0, 1] + [0] * 4
    ctl = dict(ndim=9, numnp=2, nmsph=1, npefg=1, extra=2, nglbv=1)
    return build(ctl=ctl, before_coords=[0, 1] + sph + airbag, after_geometry=after, state_words=39)


def double_file():
    return build(ws=8, ctl=dict(numnp=2, iv=1, nel4=1, nv2d=3, narbs=19), elements=[1, 2, 2, 1, 1],
                 narbs=[-1] + [0] * 15 + [5, 6, 7], state_words=17)


FILES = {"d3plot": d3plot_file, "intfor": intfor_file, "sections": sections_file, "double": double_file}


def survives(path):
    try:
        d = tv.D3plot(path)
    except RuntimeError:
        pass
    else:
        read_everything(d)
    try:
        e = tv.D3plotEditor(path)
    except RuntimeError:
        return
    for name in ("Displacement", "Shell", "Solid"):
        b = getattr(SB, name)
        for state in (0, e.num_states):
            try:
                e.set_block(b, state, np.zeros(3 * e.num_nodes, dtype=np.float32))
            except RuntimeError:
                pass


@pytest.mark.parametrize("name", sorted(FILES))
def test_cut_files(tmp_path, name):
    original = FILES[name]()
    (tmp_path / "whole").write_bytes(original)
    assert tv.D3plot(str(tmp_path / "whole")).num_states == 3
    path = str(tmp_path / "d3plot")
    step = max(1, len(original) // 40)
    for cut in sorted(set(range(0, len(original), step)) | {1, 59, 60, 64, 255, 256, 260, len(original) - 1}):
        with open(path, "wb") as f:
            f.write(original[:cut])
        survives(path)


@pytest.mark.parametrize("name", sorted(FILES))
def test_damaged_words(tmp_path, name):
    original = FILES[name]()
    ws = 8 if name == "double" else 4
    path = str(tmp_path / "d3plot")
    rng = np.random.default_rng(5)
    n_words = len(original) // ws
    places = list(range(min(n_words, 66))) + [int(i) for i in rng.integers(0, n_words, 20)]
    for word in places:
        for value in (0x7F, 0x80):
            data = bytearray(original)
            data[word * ws + ws - 1] = value  # the high byte: huge or negative counts
            data[word * ws] ^= 0x5A
            with open(path, "wb") as f:
                f.write(data)
            survives(path)
