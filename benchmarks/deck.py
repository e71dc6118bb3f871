"""Deck model against the I/O floor, the columnar reader and ansys-dyna-core.

Four figures:

1. parse_deck of the include-tree benchmark deck (2,000 files, about 1 GB)
   against `cat` of the same bytes on a warm page cache.
2. A generated full-vehicle deck (2,000,000 nodes, 2,000,000 shells, 20,000
   parts with their sections and materials, 5,000 curves, 1,000 node sets,
   spread over 50 include files, every fifth one included with
   *INCLUDE_TRANSFORM): parse_deck + definitions + the dangling-reference scan
   with connectivity, against the columnar read of NODE and ELEMENT_SHELL of
   the same files; then the same timing with 1 and with 2 pool threads.
3. ansys-dyna-core (pip install ansys-dyna-core) loading deck text into its
   Deck and reading NODE as a DataFrame, against parse_deck + table("NODE"),
   on a 200,000-node slice of the vehicle deck (the peer needs about 10
   microseconds a line, minutes for the whole deck; --peer-full loads every
   file of the vehicle deck instead).
4. Deck.part(id) over every part id from Python.

Without rule-based validation in the module (tarvex.Rule and Deck.validate),
step 2 times parse_deck + definition_counts() (which builds the definition
index) and says so.

    python benchmarks/deck.py [--scale 1.0] [--repeat 3] [--peer-nodes 200000] [--peer-full] [--dir DIR]
    python benchmarks/deck.py --scale 0.01      # a quick try, every count scaled down
"""

import argparse
import functools
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from include_tree import best_of, make_deck  # noqa: E402

import tarvex  # noqa: E402

HAS_RULES = hasattr(tarvex, "Rule") and hasattr(tarvex.Deck, "validate")
FALLBACK_NOTE = ("no rule-based validation in this build (tarvex.Rule, Deck.validate): "
                 "definitions only (definition_counts), no dangling-reference scan")

INCLUDES = 50
TRANSFORM_EVERY = 5  # every fifth include file goes through *INCLUDE_TRANSFORM


def scaled(count: int, scale: float, floor: int = INCLUDES) -> int:
    """`count` times `scale`, at least `floor` (so that every include file gets some of each kind)."""
    return max(floor, round(count * scale))


def check_rules(*names: str) -> list:
    """The validation rules built by the `Rule` constructors `names` (validation present only)."""
    return [getattr(tarvex.Rule, n)() for n in names]


def check_deck(deck, rules):
    """Build the definitions and run `rules`, or only the definitions without validation.

    Returns the report (or the definition counts) and the seconds spent building
    the definitions and running the rules."""
    t0 = time.perf_counter()
    counts = deck.definition_counts()
    t1 = time.perf_counter()
    if not HAS_RULES:
        return counts, t1 - t0, 0.0
    report = deck.validate(rules)
    return report, t1 - t0, time.perf_counter() - t1


def node_lines(lo: int, hi: int, shift: int = 0) -> str:
    """*NODE data lines of the global ids lo+1..hi, written as id - shift, on a 5 mm grid."""
    return "".join(
        "%8d%16.6f%16.6f%16.6f%8d%8d\n" % (i - shift, i % 1000 * 5.0, i // 1000 % 1000 * 5.0, i // 1000000 * 5.0, 0, 0)
        for i in range(lo + 1, hi + 1)
    )


def shell_lines(lo: int, hi: int, nodes: tuple, parts: tuple, shifts: tuple = (0, 0, 0)) -> str:
    """*ELEMENT_SHELL data lines of the global ids lo+1..hi: four nodes from the global range
    nodes = (first, last] and a part from parts = (first, last], every id written minus its shift."""
    n_lo, n_hi = nodes
    p_lo, p_hi = parts
    nn, np_ = max(1, n_hi - n_lo), max(1, p_hi - p_lo)
    es, ns, ps = shifts
    out = []
    for k, e in enumerate(range(lo + 1, hi + 1)):
        n = [n_lo + 1 + (k + j) % nn - ns for j in range(4)]
        out.append("%8d%8d%8d%8d%8d%8d\n" % (e - es, p_lo + 1 + k % np_ - ps, *n))
    return "".join(out)


def share(total: int, i: int, parts: int = INCLUDES) -> tuple:
    """The global id range (first, last] of piece i of `total` ids split in `parts` pieces."""
    return total * i // parts, total * (i + 1) // parts


NODE_HEADER = "$#   nid               x               y               z      tc      rc\n"
SHELL_HEADER = "$#   eid     pid      n1      n2      n3      n4      n5      n6      n7      n8\n"


def part_block(pid: int, title: str, secid: int, mid: int) -> str:
    """A *PART block as pre-processors write it: comment lines and a heading line."""
    return ("*PART\n$#                                                                         title\n"
            f"{title}\n$#     pid     secid       mid     eosid      hgid      grav    adpopt      tmid\n"
            f"{pid:10d}{secid:10d}{mid:10d}         0         0         0         0         0\n")


def section_shell_block(secid: int, thickness: float) -> str:
    return ("*SECTION_SHELL\n$#   secid    elform      shrf       nip     propt   qr/irid     icomp     setyp\n"
            f"{secid:10d}         2     1.000         2       1.0         0         0         1\n"
            "$#      t1        t2        t3        t4      nloc     marea      idof    edgset\n"
            + f"{thickness:10.3f}" * 4 + "       0.0       0.0       0.0         0\n")


def mat_elastic_block(mid: int) -> str:
    return ("*MAT_ELASTIC\n$#     mid        ro         e        pr        da        db  not used\n"
            f"{mid:10d}   7.85E-9  210000.0       0.3       0.0       0.0         0\n")


def curve_block(lcid: int, slope: float) -> str:
    """*DEFINE_CURVE: the header card and four points."""
    points = "".join(f"{x:20.6f}{x * slope:20.6f}\n" for x in (0.0, 0.01, 0.02, 0.05))
    return ("*DEFINE_CURVE\n$#    lcid      sidr       sfa       sfo      offa      offo    dattyp     lcint\n"
            f"{lcid:10d}         0       1.0       1.0       0.0       0.0         0         0\n"
            "$#                a1                  o1\n" + points)


def set_node_list_block(sid: int, nodes: list) -> str:
    rows = "".join("".join(f"{n:10d}" for n in nodes[k:k + 8]) + "\n" for k in range(0, len(nodes), 8))
    return ("*SET_NODE_LIST\n$#     sid       da1       da2       da3       da4\n"
            f"{sid:10d}       0.0       0.0       0.0       0.0\n"
            "$#    nid1      nid2      nid3      nid4      nid5      nid6      nid7      nid8\n" + rows)


def write_component(path: pathlib.Path, i: int, counts: dict, shifted: bool) -> dict:
    """Write include file i of the vehicle deck; with `shifted`, every id is written local
    (starting at 1) and the returned offsets turn them back into the deck's global ids."""
    r = {kind: share(total, i) for kind, total in counts.items()}
    off = {kind: (r[kind][0] if shifted else 0) for kind in r}
    out = ["*KEYWORD\n"]
    w = out.append
    p_lo, p_hi = r["parts"]
    for p in range(p_lo + 1, p_hi + 1):
        lp = p - off["parts"]  # part, section and material share one id per part
        w(part_block(lp, f"component {i} part {p}", lp, lp))
        w(section_shell_block(lp, 1.0 + p % 7 * 0.25))
        w(mat_elastic_block(lp))
    c_lo, c_hi = r["curves"]
    for c in range(c_lo + 1, c_hi + 1):
        w(curve_block(c - off["curves"], 100.0 + c % 50))
    w("*NODE\n" + NODE_HEADER)
    w(node_lines(*r["nodes"], off["nodes"]))
    w("*ELEMENT_SHELL\n" + SHELL_HEADER)
    w(shell_lines(*r["shells"], r["nodes"], r["parts"], (off["shells"], off["nodes"], off["parts"])))
    s_lo, s_hi = r["sets"]
    n_lo, n_hi = r["nodes"]
    per_set = min(16, n_hi - n_lo)
    for s in range(s_lo + 1, s_hi + 1):
        w(set_node_list_block(s - off["sets"],
                              [n_lo + 1 + (s * 37 + j) % (n_hi - n_lo) - off["nodes"] for j in range(per_set)]))
    w("*END\n")
    path.write_text("".join(out))
    return off


def make_vehicle(root: pathlib.Path, scale: float) -> tuple:
    """Write the vehicle deck under `root`; returns (main.k path, include paths, counts)."""
    counts = {
        "nodes": scaled(2_000_000, scale),
        "shells": scaled(2_000_000, scale),
        "parts": scaled(20_000, scale),
        "curves": scaled(5_000, scale),
        "sets": scaled(1_000, scale),
    }
    (root / "inc").mkdir(parents=True, exist_ok=True)
    main = ["*KEYWORD\n*TITLE\ngenerated full-vehicle deck\n*CONTROL_TERMINATION\n",
            "$#  endtim    endcyc     dtmin    endeng    endmas\n     0.120         0       0.0       0.0       0.0\n"]
    names = []
    for i in range(INCLUDES):
        name = f"inc/comp{i:02d}.k"
        shifted = i % TRANSFORM_EVERY == TRANSFORM_EVERY - 1
        off = write_component(root / name, i, counts, shifted)
        names.append(str(root / name))
        if not shifted:
            main.append(f"*INCLUDE\n{name}\n")
            continue
        # IDNOFF IDEOFF IDPOFF IDMOFF IDSOFF IDFOFF IDDOFF, then IDROFF on the third card.
        row = (off["nodes"], off["shells"], off["parts"], off["parts"], off["sets"], off["curves"], 0)
        main.append(f"*INCLUDE_TRANSFORM\n$# filename\n{name}\n")
        main.append("$#  idnoff    ideoff    idpoff    idmoff    idsoff    idfoff    iddoff\n")
        main.append("".join(f"{v:10d}" for v in row) + "\n")
        main.append(f"$#  idroff\n{off['parts']:10d}\n")
    main.append("*END\n")
    (root / "main.k").write_text("".join(main))
    return root / "main.k", names, counts


def vehicle_once(main_k: str):
    """parse_deck + definitions + dangling scan with connectivity: (deck, check result, phase times)."""
    rules = check_rules("references_resolve_with_connectivity") if HAS_RULES else []
    t0 = time.perf_counter()
    deck = tarvex.parse_deck(main_k)
    t_parse = time.perf_counter() - t0
    result, t_defs, t_scan = check_deck(deck, rules)
    return deck, result, (t_parse, t_defs, t_scan)


def vehicle_best(main_k: str, repeat: int):
    best, kept = None, None
    for _ in range(repeat):
        deck, result, phases = vehicle_once(main_k)
        if best is None or sum(phases) < sum(best):
            best, kept = phases, (deck, result)
        del deck, result
    return best, kept


def vehicle_in_subprocess(main_k: str, repeat: int, threads: int) -> float:
    """The vehicle timing in a fresh process whose pool has `threads` workers."""
    env = dict(os.environ, TARVEX_NUM_THREADS=str(threads))
    out = subprocess.check_output(
        [sys.executable, os.path.abspath(__file__), "--time-vehicle", main_k, "--repeat", str(repeat)], env=env
    ).decode()
    return float(re.findall(r"^VEHICLE_SECONDS (\S+)$", out, re.M)[-1])


def look_up_all(part, ids: list) -> None:
    """part(id) for every id: the loop whose time per id is the figure."""
    for i in ids:
        part(i)


def columnar_read(paths: list) -> int:
    """NODE and ELEMENT_SHELL of every file as columns; returns the number of node rows."""
    rows = 0
    for p in paths:
        kf = tarvex.parse_keyword_file(p)
        rows += len(kf.parse_builtin("NODE")["nid"])
        kf.parse_builtin("ELEMENT_SHELL")
    return rows


def peer_nodes(path: str):
    """ansys-dyna-core: load the file's text into its Deck and get NODE as one DataFrame."""
    import pandas as pd
    from ansys.dyna.core import Deck

    deck = Deck()
    with open(path, encoding="utf-8") as f:
        deck.loads(f.read())
    frames = [kw.nodes for kw in deck.get_kwds_by_type("NODE")]
    return frames[0] if len(frames) == 1 else pd.concat(frames, ignore_index=True)


def peer_deck_nodes(paths: list):
    """ansys-dyna-core over many files: each file's text loaded into one Deck."""
    import pandas as pd
    from ansys.dyna.core import Deck

    deck = Deck()
    for p in paths:
        with open(p, encoding="utf-8") as f:
            deck.loads(f.read())
    return pd.concat([kw.nodes for kw in deck.get_kwds_by_type("NODE")], ignore_index=True)


def tarvex_nodes(path: str):
    return tarvex.parse_deck(path).table("NODE")


def run_peer(a, tmp: pathlib.Path, main_k: pathlib.Path, includes: list, counts: dict):
    try:
        import ansys.dyna.core  # noqa: F401
        import pandas  # noqa: F401
    except ImportError as e:
        print(f"ansys-dyna-core    skipped: not installed ({e}); pip install ansys-dyna-core")
        return
    repeat = max(1, a.peer_repeat)
    if a.peer_full:
        t_tv = best_of(a.repeat, lambda: tarvex_nodes(str(main_k)))
        t_peer = best_of(repeat, lambda: peer_deck_nodes(includes))
        rows = counts["nodes"]
        frame = peer_deck_nodes(includes)
        note = f"whole vehicle deck ({len(includes)} files loaded as text)"
    else:
        rows = min(a.peer_nodes, counts["nodes"])
        slice_k = tmp / "peer_slice.k"
        slice_k.write_text("*KEYWORD\n*NODE\n" + NODE_HEADER + node_lines(0, rows) + "*END\n")
        t_tv = best_of(a.repeat, lambda: tarvex_nodes(str(slice_k)))
        t_peer = best_of(repeat, lambda: peer_nodes(str(slice_k)))
        frame = peer_nodes(str(slice_k))
        note = f"one *NODE file of {rows} nodes cut from the vehicle deck"
        if rows < counts["nodes"]:
            note += " (a slice: the peer is too slow for the whole deck; --peer-full loads it all)"
    assert len(frame) == rows, (len(frame), rows)
    print(f"peer input: {note}")
    print(f"parse_deck + table(NODE)  {t_tv:8.3f} s")
    print(f"ansys-dyna-core Deck      {t_peer:8.3f} s  (Deck().loads(text), keyword .nodes DataFrame)")
    print(f"speed-up over the peer    {t_peer / t_tv:8.1f}x  (goal: >= 100x)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scale", type=float, default=1.0, help="scale every count and size (0.01 for a quick try)")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--peer-nodes", type=int, default=200_000, help="nodes of the slice the peer loads")
    ap.add_argument("--peer-full", action="store_true", help="let the peer load the whole vehicle deck")
    ap.add_argument("--peer-repeat", type=int, default=1)
    ap.add_argument("--dir", default=None, help="generate into DIR and keep it")
    ap.add_argument("--time-vehicle", default=None, help=argparse.SUPPRESS)
    a = ap.parse_args()

    if a.time_vehicle:  # worker of the thread figure
        phases, _ = vehicle_best(a.time_vehicle, a.repeat)
        print(f"VEHICLE_SECONDS {sum(phases)!r}")
        return

    tmp = pathlib.Path(a.dir or tempfile.mkdtemp(prefix="tarvex_deck_"))
    try:
        if not HAS_RULES:
            print(f"note: {FALLBACK_NOTE}")

        # 1. Include-tree deck against cat.
        files = max(2, round(2000 * a.scale))
        total_mb = max(1, round(1000 * a.scale))
        tree_k = make_deck(tmp / "tree", files, total_mb, max(1, round(200 * a.scale)))
        all_files = [str(p) for p in (tmp / "tree").rglob("*.k")]
        total = sum(os.path.getsize(f) for f in all_files)
        cat = lambda: subprocess.run(["cat", *all_files], stdout=subprocess.DEVNULL, check=True)  # noqa: E731
        cat()  # warm the page cache
        deck = tarvex.parse_deck(str(tree_k))
        assert len(deck.files()) == len(all_files), (len(deck.files()), len(all_files))
        del deck
        t_cat = best_of(a.repeat, cat)
        t_deck = best_of(a.repeat, lambda: tarvex.parse_deck(str(tree_k)))
        mb = total / 1e6
        print(f"include-tree deck: {len(all_files)} files, {mb:.0f} MB")
        print(f"cat (I/O floor)           {t_cat:8.3f} s  {mb / t_cat:8.0f} MB/s")
        print(f"parse_deck                {t_deck:8.3f} s  {mb / t_deck:8.0f} MB/s")
        print(f"ratio to floor            {t_deck / t_cat:8.2f}x  (goal: <= 1.0x)")
        shutil.rmtree(tmp / "tree", ignore_errors=True)

        # 2. Vehicle deck: model against the columnar read.
        main_k, includes, counts = make_vehicle(tmp / "vehicle", a.scale)
        size = sum(os.path.getsize(p) for p in [main_k, *includes])
        print()
        print(f"vehicle deck: {counts['nodes']} nodes, {counts['shells']} shells, {counts['parts']} parts, "
              f"{counts['curves']} curves, {counts['sets']} node sets in {INCLUDES} includes "
              f"({INCLUDES // TRANSFORM_EVERY} transformed), {size / 1e6:.0f} MB")
        subprocess.run(["cat", str(main_k), *includes], stdout=subprocess.DEVNULL, check=True)
        phases, (deck, result) = vehicle_best(str(main_k), a.repeat)
        assert len(deck.files()) == INCLUDES + 1
        defined = dict(deck.definition_counts())
        t_cols = best_of(a.repeat, lambda: columnar_read([str(main_k), *includes]))
        assert columnar_read(includes) == counts["nodes"]
        t_model = sum(phases)
        print(f"definitions: {', '.join(f'{k} {v}' for k, v in defined.items())}")
        if HAS_RULES:
            first = f" (first: {result.findings[0]!r})" if len(result) else ""
            print(f"dangling references found: {len(result)}{first}")
        print(f"columnar NODE + ELEMENT_SHELL (parse_keyword_file + parse_builtin per file) {t_cols:8.3f} s")
        print(f"parse_deck                {phases[0]:8.3f} s")
        print(f"definitions               {phases[1]:8.3f} s")
        if HAS_RULES:
            print(f"dangling scan (connectivity) {phases[2]:5.3f} s")
            print(f"model total               {t_model:8.3f} s")
        else:
            print(f"model total               {t_model:8.3f} s  (parse + definitions; no dangling scan)")
        print(f"ratio to columnar read    {t_model / t_cols:8.2f}x  (goal: <= 1.5x)")

        # 4. part(id) from Python (before the peer, while the deck is at hand).
        ids = list(range(1, counts["parts"] + 1))
        assert all(deck.part(i) is not None for i in ids)
        t_part = best_of(max(5, a.repeat), functools.partial(look_up_all, deck.part, ids))
        del deck, result

        t1 = vehicle_in_subprocess(str(main_k), a.repeat, 1)
        t2 = vehicle_in_subprocess(str(main_k), a.repeat, 2)
        print(f"model total, 1 thread {t1:.3f} s, 2 threads {t2:.3f} s: {t1 / t2:.2f}x  (goal: >= 1.6x)")

        # 3. Peer.
        print()
        run_peer(a, tmp, main_k, includes, counts)

        print()
        print(f"deck.part(id) over {len(ids)} ids   {t_part / len(ids) * 1e9:8.0f} ns per call  (goal: < 1000 ns)")
    finally:
        if a.dir is None:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
