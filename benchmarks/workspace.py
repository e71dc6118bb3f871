"""Workspace batch of load cases against the same decks parsed one by one.

Generates 50 load-case decks, each a small root (termination time, a load
curve, a nodal load) over one shared mesh include (1,000,000 nodes and
1,000,000 shells with their parts and sections), one material database and one
of 5 connection files (spot welds and node sets). Times Workspace.parse_decks +
Workspace.validate_decks (references with connectivity, duplicate ids) over
all 50 against 50 independent parse_deck + Deck.validate, and against one
deck alone.

Without rule-based validation in the module (tarvex.Rule and Deck.validate),
both sides parse and build the definition index (definition_counts) only, and
the script says so.

    python benchmarks/workspace.py [--scale 1.0] [--decks 50] [--repeat 3] [--dir DIR]
    python benchmarks/workspace.py --scale 0.01     # a quick try, every count scaled down
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from deck import (  # noqa: E402
    FALLBACK_NOTE,
    HAS_RULES,
    NODE_HEADER,
    SHELL_HEADER,
    check_deck,
    check_rules,
    curve_block,
    mat_elastic_block,
    node_lines,
    part_block,
    scaled,
    section_shell_block,
    set_node_list_block,
    shell_lines,
)

from keyword_columns import best  # noqa: E402

import tarvex  # noqa: E402

CONNECTION_FILES = 5
RULES = ("references_resolve_with_connectivity", "duplicate_ids")


def make_load_cases(root: pathlib.Path, decks: int, scale: float) -> tuple:
    """Write the shared includes and `decks` load-case roots; returns (root paths, counts)."""
    counts = {
        "nodes": scaled(1_000_000, scale, 100),
        "shells": scaled(1_000_000, scale, 100),
        "parts": scaled(1_000, scale, 10),
        "materials": scaled(200, scale, 5),
        "welds": scaled(20_000, scale, 10),
        "sets": scaled(100, scale, 5),
    }
    root.mkdir(parents=True, exist_ok=True)
    n, p, m = counts["nodes"], counts["parts"], counts["materials"]
    mesh = ["*KEYWORD\n"]
    for pid in range(1, p + 1):
        mesh.append(part_block(pid, f"panel {pid}", pid, 1 + pid % m))
        mesh.append(section_shell_block(pid, 0.8 + pid % 9 * 0.1))
    mesh += ["*NODE\n", NODE_HEADER, node_lines(0, n), "*ELEMENT_SHELL\n", SHELL_HEADER,
             shell_lines(0, counts["shells"], (0, n), (0, p)), "*END\n"]
    (root / "mesh.k").write_text("".join(mesh))
    mats = "".join(mat_elastic_block(mid) for mid in range(1, m + 1))
    (root / "materials.k").write_text("*KEYWORD\n" + mats + "*END\n")
    for c in range(CONNECTION_FILES):
        conn = ["*KEYWORD\n*CONSTRAINED_SPOTWELD\n",
                "$#      n1        n2        sn        ss         n         m        tf        ep\n"]
        for k in range(counts["welds"]):
            a = 1 + (k * 97 + c * 13) % n
            conn.append(f"{a:10d}{1 + a % n:10d}       0.0       0.0       2.0       2.0     1e+20     1e+20\n")
        for sid in range(1, counts["sets"] + 1):
            conn.append(set_node_list_block(sid, [1 + (sid * 31 + c * 7 + j * 11) % n for j in range(8)]))
        conn.append("*END\n")
        (root / f"conn{c}.k").write_text("".join(conn))
    roots = []
    for i in range(decks):
        case = [
            "*KEYWORD\n*TITLE\n", f"load case {i}\n",
            "*CONTROL_TERMINATION\n$#  endtim    endcyc     dtmin    endeng    endmas\n",
            f"{0.05 + i * 0.001:10.4f}         0       0.0       0.0       0.0\n",
            curve_block(1, 10.0 + i),
            "*LOAD_NODE_POINT\n$#     nid       dof      lcid        sf       cid        m1        m2        m3\n",
            f"{1 + i * 7919 % n:10d}         3         1{1.0 + i * 0.1:10.3f}\n",
            "*INCLUDE\nmesh.k\n*INCLUDE\nmaterials.k\n",
            f"*INCLUDE\nconn{i % CONNECTION_FILES}.k\n*END\n",
        ]
        path = root / f"case{i:03d}.k"
        path.write_text("".join(case))
        roots.append(str(path))
    return roots, counts


def summary(result) -> str:
    """What one deck's check gave: its findings, or its definition counts without validation."""
    return repr(result.findings) if HAS_RULES else repr(result)


def batch(roots: list, rules: list):
    """A fresh workspace: parse_decks, then validate_decks (or definition_counts per deck)."""
    ws = tarvex.Workspace()
    decks = ws.parse_decks(roots)
    if not HAS_RULES:
        return ws, [d.definition_counts() for d in decks]
    if hasattr(ws, "validate_decks"):
        return ws, ws.validate_decks(decks, rules)
    return ws, [d.validate(rules) for d in decks]


def one_by_one(roots: list, rules: list) -> list:
    """Every deck parsed and checked on its own, one after the other."""
    out = []
    for r in roots:
        out.append(check_deck(tarvex.parse_deck(r), rules)[0])
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scale", type=float, default=1.0, help="scale every count (0.01 for a quick try)")
    ap.add_argument("--decks", type=int, default=50)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--dir", default=None, help="generate into DIR and keep it")
    a = ap.parse_args()

    tmp = pathlib.Path(a.dir or tempfile.mkdtemp(prefix="tarvex_ws_"))
    try:
        if not HAS_RULES:
            print(f"note: {FALLBACK_NOTE}")
        roots, counts = make_load_cases(tmp, a.decks, a.scale)
        files = sorted(str(p) for p in tmp.glob("*.k"))
        size = sum(os.path.getsize(f) for f in files)
        print(f"{a.decks} load cases over mesh.k ({counts['nodes']} nodes, {counts['shells']} shells, "
              f"{counts['parts']} parts), materials.k ({counts['materials']} materials), "
              f"{CONNECTION_FILES} connection files ({counts['welds']} spot welds each); "
              f"{len(files)} files, {size / 1e6:.0f} MB")
        subprocess.run(["cat", *files], stdout=subprocess.DEVNULL, check=True)  # warm the page cache
        rules = check_rules(*RULES) if HAS_RULES else []
        if HAS_RULES and not hasattr(tarvex.Workspace, "validate_decks"):
            print("note: Workspace.validate_decks is absent: the batch validates each deck with Deck.validate")

        t_one, _ = best(lambda: one_by_one(roots[:1], rules), a.repeat)
        t_each, each = best(lambda: one_by_one(roots, rules), a.repeat)
        t_batch, (ws, batched) = best(lambda: batch(roots, rules), a.repeat)
        assert [summary(r) for r in batched] == [summary(r) for r in each], "batch and one-by-one results differ"
        if HAS_RULES:
            found = sum(len(r) for r in each)
            print(f"findings over all decks: {found} (the same in the batch and one by one)")
        print(f"workspace stats: {ws.stats()}")
        what = "parse + validate" if HAS_RULES else "parse + definition_counts"
        batch_what = "definition_counts"
        if HAS_RULES:
            batch_what = "validate_decks" if hasattr(tarvex.Workspace, "validate_decks") else "Deck.validate each"
        rows = [
            (f"one deck alone ({what})", t_one),
            (f"{a.decks} decks one by one", t_each),
            (f"Workspace.parse_decks + {batch_what}", t_batch),
        ]
        for label, t in rows:
            print(f"{label:<44}{t:8.3f} s")
        print(f"{'speed-up of the batch':<44}{t_each / t_batch:8.1f}x  (goal: >= 10x)")
        print(f"{'batch / one deck alone':<44}{t_batch / t_one:8.2f}x  (goal: <= 3x)")
    finally:
        if a.dir is None:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
