"""Keyword library lookups: find over the block names of a 1,000,000-block deck.

Writes a deck of N blocks (default 1,000,000) whose names follow a typical
mix (NODE, ELEMENT_SHELL and PART blocks, materials, sections with _TITLE,
curves, sets, lower-case spellings and a few names the library lacks), builds
the small C++ timing program benchmarks/library_lookup.cpp (CMake option
TARVEX_CPP_BENCH, in build/bench) and runs it: it splits the deck into blocks
and times keywords::find on every block name (the upper-case copy included),
and canonical_base + find as the deck scans call it.  The best of five rounds
is reported in ns per lookup.  As a reference, the same names are looked up
in a Python dict after str.upper().

    python benchmarks/library_lookup.py [--blocks 1000000]
"""

import argparse
import pathlib
import random
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "bench"

MIX = [
    ("NODE", 30), ("ELEMENT_SHELL", 25), ("PART", 8), ("ELEMENT_SOLID", 8), ("node", 3),
    ("SECTION_SHELL_TITLE", 3), ("MAT_PIECEWISE_LINEAR_PLASTICITY_TITLE", 3), ("MAT_ELASTIC", 2),
    ("DEFINE_CURVE_TITLE", 4), ("SET_NODE_LIST", 3), ("SET_PART_LIST", 2), ("CONTACT_AUTOMATIC_SINGLE_SURFACE_ID", 2),
    ("HOURGLASS", 1), ("CONSTRAINED_NODAL_RIGID_BODY", 2), ("DATABASE_HISTORY_NODE", 1), ("INCLUDE", 1),
    ("KEYWORD", 1), ("END", 1),
]


def write_deck(path: pathlib.Path, n: int) -> None:
    rng = random.Random(0)
    names = [m for m, w in MIX for _ in range(w)]
    with open(path, "w") as f:
        for i in range(n):
            f.write(f"*{rng.choice(names)}\n{i + 1:8d}       1\n")


def build() -> pathlib.Path:
    exe = BUILD / "library_lookup"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTARVEX_PYTHON=OFF", "-DTARVEX_CPP_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "library_lookup"], check=True,
                   stdout=subprocess.DEVNULL)
    return exe


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--blocks", type=int, default=1_000_000)
    args = ap.parse_args()
    exe = build()
    with tempfile.TemporaryDirectory() as tmp:
        deck = pathlib.Path(tmp) / "deck.k"
        write_deck(deck, args.blocks)
        out = subprocess.run([str(exe), str(deck)], check=True, capture_output=True, text=True).stdout
        res = dict(line.split() for line in out.strip().splitlines())
        # Reference: a Python dict keyed by upper-case names.
        import tarvex

        kf = tarvex.parse_keyword_file(str(deck))
        block_names = kf.block_names()
        lib = {n.upper(): n for n in (ROOT / "tools" / "keyword_names.txt").read_text().split() if n}
        lib.update({"NODE": "NODE", "PART": "PART", "HOURGLASS": "HOURGLASS"})
        best = 1e300
        for _ in range(3):
            t0 = time.perf_counter()
            hits = 0
            for n in block_names:
                if n.upper() in lib:
                    hits += 1
            best = min(best, time.perf_counter() - t0)
        py_ns = best / len(block_names) * 1e9
    find_ns = float(res["find_ns"])
    print(f"blocks:                         {res['blocks']}")
    print(f"find (as written):              {find_ns:7.1f} ns/lookup  ({res['find_hits']} hits; goal < 150 ns)")
    print(f"canonical_base + find:          {float(res['canonical_find_ns']):7.1f} ns/lookup  "
          f"({res['canonical_find_hits']} hits)")
    print(f"Python dict after str.upper():  {py_ns:7.1f} ns/lookup  ({hits} hits)")
    print(f"ratio find / Python dict:       {find_ns / py_ns:7.2f}")


if __name__ == "__main__":
    sys.exit(main())
