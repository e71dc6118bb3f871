"""Damaged binouts: truncated and bit-flipped copies of a valid file must open
and read to a Python exception or a valid result, never a crash or a hang."""

import random

import numpy as np
import pytest

from _tarvex import Binout, BinoutEditor
from test_binout import REAL, nodout_tree
from test_binout_nested import elout_tree


def source_bytes():
    if REAL.exists():
        return REAL.read_bytes()
    return nodout_tree(T=20, M=8)  # fallback: a builder file


# What a damaged file may raise: RuntimeError for unreadable or corrupt
# content, KeyError for a path or id the damaged index no longer holds,
# ValueError for per-state values whose shapes no longer agree.  Any other
# exception (AttributeError, SystemError, ...) is a bug, even without a crash.
OPEN_ERRORS = (RuntimeError,)
READ_ERRORS = (RuntimeError, KeyError, ValueError)
EDIT_ERRORS = (RuntimeError,)


def branches(b):
    """The top-level branches (as str) and the directories below them that
    are no state directories (as segment lists: elout/shell)."""
    for top in b.channels():
        yield top
        for sub in b.channels([top]):
            if sub != "metadata" and not (sub[:1] == "d" and sub[1:].isdigit()) and b.channels([top, sub]):
                yield [top, sub]


def exercise(path):
    """Open and read everything a caller could ask for."""
    try:
        b = Binout(path)
    except OPEN_ERRORS:
        return
    try:
        found = list(branches(b))
    except READ_ERRORS:
        found = b.channels()
    for br in found:
        segs = [br] if isinstance(br, str) else br
        for call in (lambda: b.read(*segs), lambda: b.ids(br), lambda: b.legend(br), lambda: b.title(br)):
            try:
                call()
            except READ_ERRORS:
                pass
        try:
            variables = b.read(*segs)
        except READ_ERRORS:
            continue
        if not isinstance(variables, list):
            continue
        for var in variables[:8]:
            for call in (lambda: b.read_states(br, var), lambda: b.read(*segs, var, ids=[0, 1, 2**40])):
                try:
                    call()
                except READ_ERRORS:
                    pass
    try:
        BinoutEditor(path).to_bytes()
    except EDIT_ERRORS:
        pass


def table_ranges(data):
    """Byte ranges of the symbol-table blocks of a valid file with 8-byte
    little-endian lengths and offsets, found by following the chain."""
    u = lambda a: int.from_bytes(data[a:a + 8], "little")
    out, off = [], u(17)
    while off:
        at = off + 9
        while data[at + 8] in (2, 4):
            at += u(at)
        out.append((off, at + 17))
        off = u(at + 9)
    return out


@pytest.fixture(scope="module", params=["real", "nested"])
def data(request):
    # A real file (or its builder stand-in) and a file of nested branches.
    return source_bytes() if request.param == "real" else elout_tree()


def test_truncations(tmp_path, data):
    rng = random.Random(5)
    cuts = sorted({0, 1, 7, 8, 9, 16, 17, 24, 25, len(data) - 1, len(data) - 9}
                  | {rng.randrange(len(data)) for _ in range(60)}
                  | {len(data) - rng.randrange(1, 4000) for _ in range(60)})
    p = tmp_path / "cut"
    for n in cuts:
        p.write_bytes(data[:n])
        exercise(str(p))


def test_bit_flips(tmp_path, data):
    rng = random.Random(11)
    p = tmp_path / "flip"
    n = len(data)
    # Most flips land in the symbol-table blocks; the rest anywhere, plus the header.
    ranges = table_ranges(data)
    offsets = list(range(1, 26)) + [rng.randrange(n) for _ in range(60)] + \
        [rng.randrange(*rng.choice(ranges)) for _ in range(140)]
    for off in offsets:
        bad = bytearray(data)
        bad[off] ^= 1 << rng.randrange(8)
        if rng.random() < 0.3:
            bad[off] = rng.choice([0, 0xFF, 0x7F])
        p.write_bytes(bytes(bad))
        exercise(str(p))


def test_truncated_while_open(tmp_path, data):
    p = tmp_path / "shrinks"
    p.write_bytes(data)
    b = Binout(str(p))
    br = b.channels()[0]
    with open(p, "r+b") as f:
        f.truncate(len(data) // 3)
    # Vanished pages read as zeros: results may change, but nothing crashes.
    for var in b.read(br):
        try:
            np.asarray(b.read(br, var))
        except READ_ERRORS:
            pass
