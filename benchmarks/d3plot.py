"""d3plot reading speed against lasso-python's D3plot (and a NumPy memmap
reading of the same bytes).

Writes with D3plotWriter a d3plot of N nodes, N shells and T states with shell
results of V values (default 100,000 / 100,000 / 100 / 20, about 0.9 GB),
splits it into a family of files of about 200 MB, then measures in one run:
open, times(), block(Displacement) of all states (a view within one file, a
copy across the family's files), block(Shell) of every 10th state (a copy), node_coordinates_all(), against lasso-python reading the same
arrays, and memcpy bandwidth for the copy.  Then the named array
array("element_shell_stress") of all states: a strided view in the single
file (no allocation, whatever the state count) and a copy across the family,
against lasso-python's D3plot(path, state_array_filter=[element_shell_stress]).

    python benchmarks/d3plot.py [--nodes N] [--states T] [--values V] [--dir DIR] [--keep]

Needs the `bench` extra (lasso-python) for the peer; without it only the
NumPy memmap reading is compared.
"""

import argparse
import os
import shutil
import tempfile
import time

import numpy as np

import _tarvex as tv

SB = tv.StateBlock


def best(f, repeat=3):
    """(smallest time, first time, last result) of `repeat` calls."""
    times, out = [], None
    for _ in range(repeat):
        t0 = time.perf_counter()
        out = f()
        times.append(time.perf_counter() - t0)
    return min(times), times[0], out


def write_model(path, n_nodes, n_shells, n_states, n_values):
    rng = np.random.default_rng(0)
    coords = rng.random((n_nodes, 3), dtype=np.float32) * 1000
    w = tv.D3plotWriter(coords, title="benchmark")
    w.add_shells(rng.integers(1, n_nodes + 1, (n_shells, 4), dtype=np.int64))
    w.set_shell_results(rng.random((n_states, n_shells, n_values), dtype=np.float32))
    step = rng.random(3 * n_nodes, dtype=np.float32)
    for k in range(n_states):
        w.add_state(1e-3 * k, coords.ravel() + k * step)
    w.write(path)
    return (1 + 3 * n_nodes + n_shells * n_values) * 4


def split_family(single, base, state_bytes, n_states, target_bytes):
    """Split one d3plot into base, base01, ... of about target_bytes each,
    cutting at state boundaries; the end marker stays on the last file."""
    size = os.path.getsize(single)
    states_offset = size - 4 - n_states * state_bytes
    per_file = max(1, target_bytes // state_bytes)
    paths = []
    with open(single, "rb") as src:
        head = src.read(states_offset)
        k, i = 0, 0
        while k < n_states:
            n = min(per_file, n_states - k)
            name = base if i == 0 else f"{base}{i:02d}"
            with open(name, "wb") as out:
                if i == 0:
                    out.write(head)
                out.write(src.read(n * state_bytes))
                if k + n == n_states:
                    out.write(src.read(4))
            paths.append(name)
            k += n
            i += 1
    return paths, states_offset, per_file


def warm(paths):
    for p in paths:
        with open(p, "rb") as f:
            while f.read(1 << 24):
                pass


def memmap_peer(paths, states_offset, state_bytes, n_nodes, n_shells, n_values, every10):
    """Times, displacements of all states and shells of every 10th state with
    NumPy memmaps, as a reader without the control-block walk would."""
    words = state_bytes // 4
    maps, refs = [], []
    for i, p in enumerate(paths):
        start = states_offset if i == 0 else 0
        n = (os.path.getsize(p) - start) // state_bytes
        mm = np.memmap(p, dtype="<f4", mode="r", offset=start, shape=(n, words))
        maps.append(mm)
        refs.extend((len(maps) - 1, j) for j in range(n))
    times = np.array([maps[f][j, 0] for f, j in refs], dtype=np.float64)
    disp = np.concatenate([m[:, 1:1 + 3 * n_nodes] for m in maps]).reshape(-1, n_nodes, 3)
    s0 = 1 + 3 * n_nodes
    shells = np.stack([maps[refs[k][0]][refs[k][1], s0:s0 + n_shells * n_values] for k in every10])
    coords = disp.astype(np.float64)
    return times, disp, shells.reshape(len(every10), n_shells, n_values), coords


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--nodes", type=int, default=100_000)
    ap.add_argument("--shells", type=int, default=None, help="default: as many as nodes")
    ap.add_argument("--states", type=int, default=100)
    ap.add_argument("--values", type=int, default=20)
    ap.add_argument("--file-mb", type=int, default=200)
    ap.add_argument("--dir", default=None)
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    n_shells = a.shells or a.nodes
    work = a.dir or tempfile.mkdtemp(prefix="d3plot-bench-")
    os.makedirs(work, exist_ok=True)
    single = os.path.join(work, "single")
    fam_dir = os.path.join(work, "family")
    os.makedirs(fam_dir, exist_ok=True)
    base = os.path.join(fam_dir, "d3plot")
    try:
        t0 = time.perf_counter()
        state_bytes = write_model(single, a.nodes, n_shells, a.states, a.values)
        t_write = time.perf_counter() - t0
        paths, states_offset, per_file = split_family(single, base, state_bytes, a.states, a.file_mb << 20)
        # In one file every run of evenly spaced states is a view: its cost
        # does not depend on the number of states.
        one = tv.D3plot(single)
        view_one = best(lambda: one.block(SB.Displacement, 0), 20)[0]
        view_all = best(lambda: one.block(SB.Displacement), 20)[0]
        assert not one.block(SB.Displacement).flags.writeable
        stress_view = one.array("element_shell_stress")
        assert stress_view.base is one and not stress_view.flags.writeable
        stress_view_t = best(lambda: one.array("element_shell_stress"), 20)[0]
        stress_view_one = best(lambda: one.array("element_shell_stress", 0), 20)[0]
        del one, stress_view
        os.remove(single)
        total = sum(os.path.getsize(p) for p in paths)
        warm(paths)
        print(f"model: {a.nodes} nodes, {n_shells} shells, {a.states} states x {a.values} shell values; "
              f"{total / 1e6:.0f} MB in {len(paths)} files of {per_file} states; written in {t_write:.2f} s")
        every10 = list(range(0, a.states, 10))

        # ---- tarvex --------------------------------------------------------------
        r = {}
        r["open"], first_open, d = best(lambda: tv.D3plot(base))
        r["times"], _, t_ours = best(d.times)
        first_file = list(range(per_file, min(2 * per_file, a.states))) or [0]
        r["view 1 state"], _, v1 = best(lambda: d.block(SB.Displacement, first_file[:1]), 20)
        r["view 1 file"], _, vf = best(lambda: d.block(SB.Displacement, first_file), 20)
        assert not v1.flags.writeable and not vf.flags.writeable
        r["disp all"], _, disp_ours = best(lambda: d.block(SB.Displacement))
        r["shell every 10th"], _, shell_ours = best(lambda: d.block(SB.Shell, every10))
        r["coords all"], _, coords_ours = best(d.node_coordinates_all)
        ours_e2e = r["open"] + r["times"] + r["disp all"] + r["shell every 10th"] + r["coords all"]
        r["shell stress family"], _, stress_ours = best(lambda: d.array("element_shell_stress"))

        # memcpy of the same bytes as the shell copy, into a fresh and into a
        # touched buffer.
        src = np.ascontiguousarray(shell_ours)
        def memcpy_fresh():
            dst = np.empty_like(src)
            np.copyto(dst, src)
            return dst
        r["memcpy fresh"], _, _ = best(memcpy_fresh)
        dst = np.empty_like(src)
        dst.fill(0)
        r["memcpy touched"], _, _ = best(lambda: np.copyto(dst, src))

        # ---- peers ---------------------------------------------------------------
        r["memmap peer"], _, mm = best(lambda: memmap_peer(paths, states_offset, state_bytes, a.nodes, n_shells,
                                                             a.values, every10), 1)
        np.testing.assert_array_equal(mm[0], t_ours)
        np.testing.assert_array_equal(mm[1], disp_ours)
        np.testing.assert_array_equal(mm[2], shell_ours)
        lasso_t = lasso_stress_t = None
        try:
            from lasso.dyna import ArrayType as A
            from lasso.dyna import D3plot as LD3plot
        except ImportError:
            print("lasso-python not installed (pip install .[bench]); NumPy memmap peer only")
        else:
            shell_arrays = [x for x in A.get_state_array_names() if x.startswith("element_shell")]
            def lasso_read():
                l1 = LD3plot(base, state_array_filter=[A.global_timesteps, A.node_displacement])
                l2 = LD3plot(base, state_array_filter=shell_arrays, state_filter=set(every10))
                return l1, l2
            lasso_t, _, (l1, l2) = best(lasso_read, 1)
            np.testing.assert_array_equal(l1.arrays[A.global_timesteps], t_ours)
            np.testing.assert_array_equal(l1.arrays[A.node_displacement], disp_ours)
            n_sel = len(every10)
            parts = [l2.arrays[k].reshape(n_sel, n_shells, -1) for k in
                     (A.element_shell_stress, A.element_shell_effective_plastic_strain,
                      A.element_shell_history_vars) if k in l2.arrays]
            np.testing.assert_array_equal(np.concatenate(parts, axis=2), shell_ours)

            def lasso_stress():
                return LD3plot(base, state_array_filter=[A.element_shell_stress]).arrays[A.element_shell_stress]
            lasso_stress_t, _, stress_lasso = best(lasso_stress, 1)
            np.testing.assert_array_equal(stress_lasso, stress_ours)

        # ---- report ---------------------------------------------------------------
        print(f"{'operation':<22}{'seconds':>12}")
        for k, v in r.items():
            print(f"{k:<22}{v:>12.6f}")
        print(f"{'first open':<22}{first_open:>12.6f}")
        mb = shell_ours.nbytes / 1e6
        print(f"open under 0.2 s: {r['open']:.4f} s ({'ok' if r['open'] < 0.2 else 'MISSED'})")
        print(f"single file: view of 1 state {view_one * 1e6:.1f} us, of all {a.states} states "
              f"{view_all * 1e6:.1f} us (ratio {view_all / view_one:.2f})")
        print(f"view time 1 file ({len(first_file)} states) / 1 state: {r['view 1 file'] / r['view 1 state']:.2f} "
              f"(O(1) in the state count)")
        print(f"shell copy {mb:.0f} MB: {mb / r['shell every 10th'] / 1e3:.2f} GB/s; ratio to memcpy fresh "
              f"{r['shell every 10th'] / r['memcpy fresh']:.2f}, to memcpy touched "
              f"{r['shell every 10th'] / r['memcpy touched']:.2f} (goal <= 2)")
        print(f"end to end tarvex {ours_e2e:.3f} s; memmap peer {r['memmap peer']:.3f} s "
              f"(x{r['memmap peer'] / ours_e2e:.1f})")
        if lasso_t is not None:
            print(f"lasso-python {lasso_t:.3f} s: tarvex is x{lasso_t / ours_e2e:.1f} faster end to end (goal >= 5)")
        print(f"array(\"element_shell_stress\") of all {a.states} states: single-file view "
              f"{stress_view_t * 1e6:.1f} us (1 state {stress_view_one * 1e6:.1f} us; no allocation), "
              f"family copy {r['shell stress family']:.4f} s ({stress_ours.nbytes / 1e6:.0f} MB)")
        if lasso_stress_t is not None:
            print(f"lasso-python element_shell_stress {lasso_stress_t:.3f} s: tarvex view x"
                  f"{lasso_stress_t / stress_view_t:.0f}, family copy x{lasso_stress_t / r['shell stress family']:.1f} "
                  f"faster (goal >= 20)")
    finally:
        if not a.keep and not a.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
