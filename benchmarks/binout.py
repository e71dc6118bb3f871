"""Binout reading speed against lasso-python's Binout.

Generates with BinoutEditor a nodout-like binout (default 5,000 states x
1,000 nodes x 6 float64 variables, about 240 MB, plus ids, legend and title),
then measures in one run: opening, read_states of one variable, the 10-id
selection, read_many of 100 raw paths and, when pandas is installed, the
DataFrame of one variable (Binout.to_frame: time index, one column per id),
each against the peer doing the same reads (lasso-python's as_df for the
DataFrame).  The peer is lasso-python's Binout when it is installed (the
`bench` extra), otherwise a plain NumPy reading of the same records (its own
walk of the symbol table, then np.frombuffer per dataset).  Times are the best
of several runs for tarvex and of one run for the peer, with the file in the
page cache.

    python benchmarks/binout.py [--states N] [--nodes M] [--dir DIR] [--keep]
"""

import argparse
import os
import shutil
import struct
import sys
import tempfile
import time
import warnings

import numpy as np

# lasso-python builds its frame column by column; pandas warns once per column.
warnings.filterwarnings("ignore", message="DataFrame is highly fragmented")

import _tarvex

VARS = ["x_displacement", "y_displacement", "z_displacement", "x_velocity", "y_velocity", "z_velocity"]


def generate(path, states, nodes):
    e = _tarvex.BinoutEditor()
    ids = np.arange(1, nodes + 1, dtype=np.int32) * 10 + 1000000
    e.set(["nodout", "metadata", "ids"], ids)
    e.set(["nodout", "metadata", "legend"], np.frombuffer(b"".join(f"node {i:<75}".encode() for i in ids), np.int8))
    e.set(["nodout", "metadata", "title"], np.frombuffer(b"benchmark nodout".ljust(80), np.int8))
    rng = np.random.default_rng(1)
    base = rng.standard_normal((len(VARS), nodes))
    for s in range(states):
        d = f"d{s + 1:06d}"
        e.set(["nodout", d, "time"], np.array([s * 1e-4]))
        for k, v in enumerate(VARS):
            e.set(["nodout", d, v], base[k] * (1 + s * 1e-3))
    e.write(path)
    return ids


def best(fn, repeat, budget=0.5):
    """Best time of up to `repeat` runs, stopping once `budget` seconds are spent
    (at least one run)."""
    t_best, out, spent = float("inf"), None, 0.0
    for _ in range(repeat):
        t0 = time.perf_counter()
        out = fn()
        dt = time.perf_counter() - t0
        t_best, spent = min(t_best, dt), spent + dt
        if spent > budget:
            break
    return t_best, out


class LassoPeer:
    name = "lasso-python Binout"

    def __init__(self, path):
        from lasso.dyna import Binout

        self.b = Binout(path)

    def read_states(self, branch, var):
        return np.asarray(self.b.read(branch, var))

    def read_ids(self, branch, var, ids):
        all_ids = np.asarray(self.b.read(branch, "ids"))
        cols = [int(np.nonzero(all_ids == i)[0][0]) for i in ids]
        return self.read_states(branch, var)[:, cols]

    def frame(self, branch, var):
        return self.b.as_df(branch, var)

    def read_many(self, paths):
        out = []
        for p in paths:
            sym = self.b.lsda_root
            for seg in p[:-1]:
                sym = sym.get(seg)
            out.append(np.asarray(sym.get(p[-1].encode()).read()))
        return out


class NumpyPeer:
    """Walks the LSDA records of a file written with 8-byte little-endian
    lengths and offsets (as BinoutEditor writes them) and reads datasets with
    np.frombuffer."""

    name = "plain NumPy reading"

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        u = lambda a: struct.unpack_from("<Q", d, a)[0]
        self.index = {}
        off, cwd = u(17), "/"
        while off:
            at = off + 9
            while d[at + 8] in (2, 4):
                L = u(at)
                payload = d[at + 9: at + L]
                if d[at + 8] == 2:
                    cwd = payload.decode()
                else:
                    name = payload[:-17].decode()
                    self.index[(cwd, name)] = (payload[-17], u(at + L - 16), u(at + L - 8), len(name))
                at += L
            off = u(at + 9)

    def _read(self, dirpath, name):
        code, off, count, nlen = self.index[(dirpath, name)]
        dt = {10: np.float64, 3: np.int32, 1: np.int8}[code]
        return np.frombuffer(self.data, dt, count, off + 11 + nlen)

    def read_states(self, branch, var):
        dirs = sorted(k[0] for k in self.index if k[1] == var and k[0].startswith(f"/{branch}/d"))
        return np.stack([self._read(d, var) for d in dirs])

    def read_ids(self, branch, var, ids):
        all_ids = self._read(f"/{branch}/metadata", "ids")
        cols = [int(np.nonzero(all_ids == i)[0][0]) for i in ids]
        return self.read_states(branch, var)[:, cols]

    def frame(self, branch, var):
        import pandas as pd

        dirs = sorted(k[0] for k in self.index if k[1] == "time" and k[0].startswith(f"/{branch}/d"))
        time_index = pd.Index([self._read(d, "time")[0] for d in dirs], name="time")
        return pd.DataFrame(self.read_states(branch, var), index=time_index,
                            columns=self._read(f"/{branch}/metadata", "ids"))

    def read_many(self, paths):
        return [self._read("/" + "/".join(p[:-1]), p[-1]).copy() for p in paths]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--states", type=int, default=5000)
    ap.add_argument("--nodes", type=int, default=1000)
    ap.add_argument("--dir", default=None, help="where to write the generated binout (default: a temp dir)")
    ap.add_argument("--keep", action="store_true", help="keep the generated file")
    ap.add_argument("--numpy-peer", action="store_true", help="compare with plain NumPy instead of lasso-python")
    args = ap.parse_args()

    work = args.dir or tempfile.mkdtemp(prefix="tarvex-bench-")
    path = os.path.join(work, "binout")
    t0 = time.perf_counter()
    ids = generate(path, args.states, args.nodes)
    size = os.path.getsize(path)
    print(f"generated {path}: {args.states} states x {args.nodes} nodes x {len(VARS)} float64 variables, "
          f"{size / 1e6:.0f} MB in {time.perf_counter() - t0:.1f} s")

    peer = None
    if not args.numpy_peer:
        try:
            import lasso.dyna  # noqa: F401

            peer_cls = LassoPeer
        except ImportError:
            print("lasso-python is not installed (pip install '.[bench]'): using a plain NumPy reading as the peer")
            peer_cls = NumpyPeer
    else:
        peer_cls = NumpyPeer

    branch, var = "nodout", "x_velocity"
    sel = [int(i) for i in ids[:: max(1, len(ids) // 10)][:10]]
    step = max(1, args.states // 100)
    paths = [["nodout", f"d{s + 1:06d}", VARS[s % len(VARS)]] for s in range(0, args.states, step)][:100]

    t_open, b = best(lambda: _tarvex.Binout(path), 10)
    t_states, ours = best(lambda: b.read_states(branch, var)["values"], 20)
    t_sel, ours_sel = best(lambda: b.read(branch, var, ids=sel), 20)
    t_many, ours_many = best(lambda: b.read_many(paths), 20)
    try:
        import pandas  # noqa: F401

        import tarvex  # sets Binout.to_frame

        t_frame, ours_frame = best(lambda: b.to_frame(branch, var), 20)
    except ImportError:
        print("pandas is not installed: the DataFrame row is left out")
        t_frame = None

    t_popen, peer = best(lambda: peer_cls(path), 1)
    t_pstates, theirs = best(lambda: peer.read_states(branch, var), 1)
    t_psel, theirs_sel = best(lambda: peer.read_ids(branch, var, sel), 1)
    t_pmany, theirs_many = best(lambda: peer.read_many(paths), 1)
    if t_frame is not None:
        t_pframe, theirs_frame = best(lambda: peer.frame(branch, var), 1)
        np.testing.assert_array_equal(ours_frame.to_numpy(), theirs_frame.to_numpy())
        np.testing.assert_array_equal(ours_frame.index, theirs_frame.index)
        assert list(ours_frame.columns.astype(str)) == list(theirs_frame.columns.astype(str))

    np.testing.assert_array_equal(ours, theirs)
    np.testing.assert_array_equal(ours_sel, theirs_sel)
    for a, c in zip(ours_many, theirs_many):
        np.testing.assert_array_equal(a, c)

    print(f"peer: {peer_cls.name}; threads: {os.cpu_count()} CPUs visible")
    print(f"{'operation':<28}{'tarvex':>12}{'peer':>12}{'ratio':>10}")
    rows = [("open", t_open, t_popen), (f"read_states({var})", t_states, t_pstates),
            ("read(ids=[10 ids])", t_sel, t_psel), ("read_many(100 paths)", t_many, t_pmany)]
    if t_frame is not None:
        rows.append((f"to_frame({var}) / as_df", t_frame, t_pframe))
    for name, a, c in rows:
        print(f"{name:<28}{a * 1e3:>10.2f}ms{c * 1e3:>10.2f}ms{c / a:>9.1f}x")
    print()
    print(f"goal read_states >= 20x peer:        {t_pstates / t_states:.1f}x")
    print(f"goal 10-id selection >= 10x full:    {t_states / t_sel:.1f}x")
    print(f"goal open < 0.5 s:                   {t_open:.3f} s")
    if t_frame is not None:
        print(f"goal to_frame >= 10x peer as_df:     {t_pframe / t_frame:.1f}x")
    if not args.keep and args.dir is None:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
