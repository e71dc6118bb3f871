"""Include-tree walk against the I/O floor.

Generates a deck of N include files (default 2,000 files, about 1 GB in all,
one of them 200 MB), walks it with tarvex.parse_include_tree on a warm page
cache and compares with reading the same bytes once with `cat`.

    python benchmarks/include_tree.py [--files 2000] [--total-mb 1000] [--big-mb 200] [--dir DIR]
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import tarvex

LINE = b"       1             0.0             0.0             0.0       0       0\n"


def make_deck(root: pathlib.Path, files: int, total_mb: int, big_mb: int) -> pathlib.Path:
    small = max(1, (total_mb - big_mb) * 1024 * 1024 // max(1, files - 1))
    body_small = b"*KEYWORD\n*NODE\n" + LINE * (small // len(LINE)) + b"*END\n"
    body_big = b"*KEYWORD\n*NODE\n" + LINE * (big_mb * 1024 * 1024 // len(LINE)) + b"*END\n"
    (root / "inc").mkdir(parents=True, exist_ok=True)
    names = []
    for i in range(files - 1):
        name = f"inc/part{i:05d}.k"
        # Nest some includes two levels deep: every tenth file includes the next one.
        data = body_small
        if i % 10 == 0 and i + 1 < files - 1:
            data = b"*INCLUDE\n" + f"part{i + 1:05d}.k".encode() + b"\n" + body_small
        (root / name).write_bytes(data)
        names.append(name)
    (root / "inc" / "big.k").write_bytes(body_big)
    main = b"*KEYWORD\n" + b"".join(b"*INCLUDE\n" + n.encode() + b"\n" for n in names)
    main += b"*INCLUDE\ninc/big.k\n*END\n"
    (root / "main.k").write_bytes(main)
    return root / "main.k"


def best_of(n, fn):
    best = float("inf")
    for _ in range(n):
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", type=int, default=2000)
    ap.add_argument("--total-mb", type=int, default=1000)
    ap.add_argument("--big-mb", type=int, default=200)
    ap.add_argument("--dir", default=None)
    ap.add_argument("--repeat", type=int, default=5)
    a = ap.parse_args()

    tmp = pathlib.Path(a.dir or tempfile.mkdtemp(prefix="tarvex_bench_"))
    try:
        main_k = make_deck(tmp, a.files, a.total_mb, a.big_mb)
        all_files = [str(p) for p in tmp.rglob("*.k")]
        total = sum(os.path.getsize(f) for f in all_files)
        cat = lambda: subprocess.run(["cat", *all_files], stdout=subprocess.DEVNULL, check=True)  # noqa: E731
        cat()  # warm the page cache
        tree = tarvex.parse_include_tree(str(main_k))
        assert tree.total_files() == len(all_files), (tree.total_files(), len(all_files))
        assert tree.total_bytes() == total
        t_cat = best_of(a.repeat, cat)
        t_tree = best_of(a.repeat, lambda: tarvex.parse_include_tree(str(main_k)))
        mb = total / 1e6
        print(f"files {len(all_files)}, {mb:.0f} MB")
        print(f"cat (I/O floor)        {t_cat:8.3f} s  {mb / t_cat:8.0f} MB/s")
        print(f"parse_include_tree     {t_tree:8.3f} s  {mb / t_tree:8.0f} MB/s")
        print(f"ratio to floor         {t_tree / t_cat:8.2f}x  (goal: <= 1.5x)")
    finally:
        if a.dir is None:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
