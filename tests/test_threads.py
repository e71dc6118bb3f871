"""Bulk results do not depend on the number of pool workers.

The pool is sized once per process (TARVEX_NUM_THREADS, read on first use), so
each worker count runs in its own interpreter over the same generated files and
saves every result; the saved arrays must be identical, dtype and bytes."""

import os
import subprocess
import sys

import numpy as np
import pytest

import tarvex

# Reads every bulk result of the files in argv[1] and saves them to argv[2].
READER = r"""
import sys
import numpy as np
import tarvex

folder, out = sys.argv[1], sys.argv[2]
results = {}

kf = tarvex.parse_keyword_file(folder + "/nodes.k")
layout = [[("nid", "int", 8, 1), ("xyz", "float", 16, 3)]]
for name, column in kf.parse_schema("NODE", layout, repeat=True).items():
    results["columns_" + name] = column
for name, column in kf.parse_builtin("NODE").items():
    if isinstance(column, np.ndarray):
        results["builtin_" + name] = column

b = tarvex.Binout(folder + "/binout")
states = b.read_states("nodout", "x_acceleration")
for name, value in states.items():
    results["binout_states_" + name] = np.asarray(value)
results["binout_by_ids"] = b.read("nodout", "x_displacement", ids=[30, 10, 20])
for i, value in enumerate(b.read_many([["nodout", "metadata", "ids"], ["nodout", "d000100", "x_acceleration"]])):
    results[f"binout_many_{i}"] = np.asarray(value)

d = tarvex.open_d3plot(folder + "/d3plot")
results["d3plot_all_states"] = np.array(d.block(tarvex.StateBlock.Displacement))
uneven = [0, 1, 3, 4, 7, 8, 11, 15]  # not evenly spaced: always a copy
copy = d.block(tarvex.StateBlock.Displacement, uneven)
assert copy.flags.owndata or copy.base is not None
results["d3plot_copy"] = copy
results["d3plot_coordinates_all"] = d.node_coordinates_all()
np.savez(out, **results)
"""


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("bulk")
    rng = np.random.default_rng(3)

    # About 3.4 MB of nodes: the columnar parse splits it into many pieces.
    n = 60_000
    xyz = rng.uniform(-1e3, 1e3, (n, 3))
    lines = [b"*KEYWORD\n*NODE\n"]
    lines += [b"%8d%16.6f%16.6f%16.6f\n" % (i + 1, *xyz[i]) for i in range(n)]
    lines.append(b"*END\n")
    (folder / "nodes.k").write_bytes(b"".join(lines))

    # Enough states for the per-state aggregation to run in several pieces.
    e = tarvex.BinoutEditor()
    ids = np.arange(10, 10 * 17, 10, dtype=np.int64)
    e.set(["nodout", "metadata", "ids"], ids)
    for t in range(1, 4097):
        e.set(["nodout", f"d{t:06d}", "time"], np.array([1e-4 * t]))
        e.set(["nodout", f"d{t:06d}", "x_acceleration"], rng.normal(size=ids.size).astype(np.float32))
        e.set(["nodout", f"d{t:06d}", "x_displacement"], rng.normal(size=ids.size))
    e.write(str(folder / "binout"))

    # Enough values per state for the block copy to run on the pool.
    coords = rng.uniform(-1, 1, (20_000, 3)).astype(np.float32)
    w = tarvex.D3plotWriter(coords, title="threads")
    w.add_shells(np.arange(1, 20_001, dtype=np.int64)[: 4 * 4000].reshape(4000, 4))
    for step in range(16):
        w.add_state(1e-3 * step, (coords + rng.normal(scale=0.01, size=coords.shape)).astype(np.float32).ravel())
    w.write(str(folder / "d3plot"))
    return folder


def read_all(folder, threads):
    out = folder / f"results_{threads}.npz"
    env = dict(os.environ, TARVEX_NUM_THREADS=str(threads))
    run = subprocess.run([sys.executable, "-c", READER, str(folder), str(out)], env=env,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    with np.load(out) as saved:
        return {name: saved[name] for name in saved.files}


def test_bulk_results_do_not_depend_on_the_worker_count(files):
    one = read_all(files, 1)
    many = read_all(files, 4)
    assert one.keys() == many.keys()
    assert {"columns_nid", "binout_states_time", "binout_by_ids", "d3plot_copy"} <= one.keys()
    assert one["columns_nid"].shape == (60_000,)
    for name in one:
        assert one[name].dtype == many[name].dtype, name
        assert one[name].shape == many[name].shape, name
        assert one[name].tobytes() == many[name].tobytes(), name
