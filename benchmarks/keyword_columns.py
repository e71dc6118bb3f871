"""Columnar keyword reads and the deck writer against pandas and NumPy.

Generates a *NODE file of N nodes in fixed format (default 2,000,000, about
130 MB) and an *ELEMENT_SHELL file of N elements, reads them with
KeywordFile.parse_schema, and compares with pandas.read_fwf and
numpy.genfromtxt on the same column widths and with a line count (the floor).
Also writes the N rows with write_keyword against pandas.DataFrame.to_csv.

    python benchmarks/keyword_columns.py [--rows 2000000] [--peer-rows N]
    TARVEX_NUM_THREADS=1 python benchmarks/keyword_columns.py   # single-thread figure
"""

import argparse
import io
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np

import tarvex

NODE_LAYOUT = [[("nid", "int", 8, 1), ("x", "float", 16, 1), ("y", "float", 16, 1), ("z", "float", 16, 1),
                ("tc", "int", 8, 1), ("rc", "int", 8, 1)]]
SHELL_LAYOUT = [[("eid", "int", 8, 1), ("pid", "int", 8, 1), ("n", "int", 8, 4)]]


def gen_nodes(path, n):
    rng = np.random.default_rng(0)
    xyz = rng.uniform(-1000, 1000, (n, 3))
    with open(path, "wb") as f:
        f.write(b"*KEYWORD\n*NODE\n")
        step = 200_000
        for lo in range(0, n, step):
            hi = min(n, lo + step)
            ids = np.arange(lo + 1, hi + 1)
            block = "".join(
                "%8d%16.6f%16.6f%16.6f%8d%8d\n" % (i, a, b, c, 0, 0) for i, (a, b, c) in zip(ids, xyz[lo:hi])
            )
            f.write(block.encode())
        f.write(b"*END\n")


def gen_shells(path, n):
    with open(path, "wb") as f:
        f.write(b"*KEYWORD\n*ELEMENT_SHELL\n")
        step = 200_000
        for lo in range(0, n, step):
            hi = min(n, lo + step)
            f.write("".join("%8d%8d%8d%8d%8d%8d\n" % (i, 1, i, i + 1, i + 2, i + 3) for i in range(lo + 1, hi + 1)).encode())
        f.write(b"*END\n")


def best(fn, repeat=3):
    t_best = float("inf")
    out = None
    for _ in range(repeat):
        t = time.perf_counter()
        out = fn()
        t_best = min(t_best, time.perf_counter() - t)
    return t_best, out


def threads_run(path, n_threads):
    """parse_schema time in a fresh process with a fixed pool size."""
    code = (
        "import sys,time,tarvex;"
        f"k=tarvex.parse_keyword_file({str(path)!r});"
        f"L={NODE_LAYOUT!r};"
        "k.parse_schema('NODE',L,True);"
        "b=9e9\n"
        "for _ in range(5):\n"
        " t=time.perf_counter();k.parse_schema('NODE',L,True);b=min(b,time.perf_counter()-t)\n"
        "print(b)"
    )
    env = dict(os.environ, TARVEX_NUM_THREADS=str(n_threads))
    return float(subprocess.check_output([sys.executable, "-c", code], env=env).decode().split()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=2_000_000)
    ap.add_argument("--peer-rows", type=int, default=None, help="rows for the (slow) NumPy peer")
    a = ap.parse_args()
    n = a.rows
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="tarvex_cols_"))
    nodes, shells = tmp / "nodes.k", tmp / "shells.k"
    gen_nodes(nodes, n)
    gen_shells(shells, n)
    size = nodes.stat().st_size
    mb = size / 1e6
    print(f"*NODE file: {n} rows, {mb:.0f} MB; *ELEMENT_SHELL file: {shells.stat().st_size / 1e6:.0f} MB")

    data = nodes.read_bytes()
    t_floor, lines = best(lambda: data.count(b"\n"))
    k = tarvex.parse_keyword_file(str(nodes))
    t_tv, cols = best(lambda: k.parse_schema("NODE", NODE_LAYOUT, True))
    assert len(cols["nid"]) == n
    ks = tarvex.parse_keyword_file(str(shells))
    t_tv_sh, sh = best(lambda: ks.parse_schema("ELEMENT_SHELL", SHELL_LAYOUT, True))
    assert sh["n"].shape == (n, 4)

    import pandas as pd

    widths = [8, 16, 16, 16, 8, 8]
    t_pd, df = best(lambda: pd.read_fwf(nodes, widths=widths, header=None, skiprows=2, skipfooter=1,
                                        dtype={0: np.int64, 4: np.int64, 5: np.int64}), repeat=1)
    assert len(df) == n and np.array_equal(df[1].to_numpy(), cols["x"])

    peer_rows = a.peer_rows or n
    sub = b"\n".join(data.split(b"\n", peer_rows + 2)[2:peer_rows + 2]) + b"\n"
    t_np, arr = best(lambda: np.genfromtxt(io.BytesIO(sub), delimiter=widths), repeat=1)
    t_np *= n / peer_rows
    assert np.array_equal(arr[:, 1], cols["x"][:peer_rows])

    fastest_peer = min(t_pd, t_np)
    print(f"line count (floor)        {t_floor:8.3f} s  {mb / t_floor:8.0f} MB/s")
    print(f"tarvex parse_schema NODE  {t_tv:8.3f} s  {mb / t_tv:8.0f} MB/s")
    print(f"tarvex ELEMENT_SHELL      {t_tv_sh:8.3f} s")
    print(f"pandas.read_fwf           {t_pd:8.3f} s  ({t_pd / t_tv:6.1f}x slower)")
    note = "" if peer_rows == n else f", extrapolated from {peer_rows} rows"
    print(f"numpy.genfromtxt          {t_np:8.3f} s  ({t_np / t_tv:6.1f}x slower{note})")
    print(f"speed-up over fastest peer {fastest_peer / t_tv:6.1f}x  (goal >= 20x)")
    print(f"ratio to floor             {t_tv / t_floor:6.1f}x")

    t1 = threads_run(nodes, 1)
    t2 = threads_run(nodes, 2)
    print(f"parse_schema 1 thread {t1:.3f} s, 2 threads {t2:.3f} s: {t1 / t2:.2f}x  (goal >= 1.6x)")

    out = tmp / "w.k"
    t_w, _ = best(lambda: tarvex.write_keyword(str(out), "NODE", cols))
    frame = pd.DataFrame(cols)
    t_csv, _ = best(lambda: frame.to_csv(tmp / "w.csv", header=False, index=False), repeat=1)
    print(f"write_keyword             {t_w:8.3f} s")
    print(f"pandas to_csv             {t_csv:8.3f} s  ({t_csv / t_w:6.1f}x slower; goal >= 10x)")
    for p in tmp.iterdir():
        p.unlink()
    tmp.rmdir()


if __name__ == "__main__":
    main()
