"""Malformed keyword files: any bytes parse, read and write back exactly."""

import random

import pytest
from hypothesis import given, settings, strategies as st

import tarvex

LAYOUTS = [
    ("NODE", [[("nid", "int", 8, 1), ("x", "float", 16, 3), ("tc", "int", 8, 2)]], True),
    ("NODE", [[("nid", "int", 8, 1), ("s", "str", 8, 2)]], True),
    ("PART", [[("t", "str", 80, 1)], [("pid", "int", 10, 1), ("f", "float", 10, 7)]], False),
    ("PART", [[("a", "int", 10, 1)], [("b", "str", 10, 3)]], True),
]

VALID = (
    b"$ header\r\n*KEYWORD LONG=S\n*NODE\n       1             0.0             1.5             2.0       0       0\n"
    b"       2,1.0,2.0,3.0\n$ c\n*PART\ntitle\n         1         1,,3\n*END"
)


def exercise(path):
    k = tarvex.parse_keyword_file(str(path))
    data = path.read_bytes()
    assert k.to_bytes() == data
    names = k.block_names()
    assert len(names) == k.num_blocks
    for i in range(min(k.num_blocks, 50)):
        k.keyword(i)
    for kw, cards, repeat in LAYOUTS:
        k.parse_schema(kw, cards, repeat)
    out = path.with_suffix(".out")
    k.write(str(out))
    assert out.read_bytes() == data
    if k.num_blocks:
        k.set_keyword(k.num_blocks - 1, "END", [["x"]])
        k.to_bytes()


def test_truncations(tmp_path):
    p = tmp_path / "t.k"
    for cut in range(len(VALID) + 1):
        p.write_bytes(VALID[:cut])
        exercise(p)


def test_byte_flips(tmp_path):
    rng = random.Random(7)
    p = tmp_path / "f.k"
    for _ in range(300):
        b = bytearray(VALID)
        for _ in range(rng.randint(1, 6)):
            b[rng.randrange(len(b))] = rng.choice([0, 0x0A, 0x0D, 0x2A, 0x24, 0x2C, 0xFF, rng.randrange(256)])
        p.write_bytes(bytes(b))
        exercise(p)


@pytest.mark.parametrize(
    "data",
    [
        b"*NODE\n" + b"1" * (1 << 20) + b"\n*END\n",
        b"*NODE " + b"x" * (1 << 20),
        b"x" * (1 << 20),
        b"\x00" * 100_000,
        b"*" * 10_000,
        b"\n" * 10_000,
        b"*NODE\n" + b"," * (1 << 20),
        b"*NODE\n" + b"$" * 500_000 + b"\n*PART\n",
        b"\r" * 10_000 + b"*NODE",
    ],
    ids=["1MB line", "1MB keyword line", "no LF", "NUL", "stars", "LFs", "commas", "long comment", "CRs"],
)
def test_pathological_files(tmp_path, data):
    p = tmp_path / "p.k"
    p.write_bytes(data)
    exercise(p)


@settings(max_examples=150, deadline=None)
@given(st.binary(max_size=400))
def test_random_bytes(tmp_path_factory, data):
    p = tmp_path_factory.mktemp("rnd") / "r.k"
    p.write_bytes(b"*NODE\n" + data)
    exercise(p)
