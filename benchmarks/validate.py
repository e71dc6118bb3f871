"""Deck validation against the columnar read of the same deck.

On the generated full-vehicle deck of benchmarks/deck.py (2,000,000 nodes,
2,000,000 shells, 20,000 parts with sections and materials, 5,000 curves,
1,000 node sets over 50 include files, every fifth one under
*INCLUDE_TRANSFORM), times:

- Deck.validate with every kind of built-in rule: references with
  connectivity, duplicate ids, unreferenced entities, rigid context, include
  missing, a forbidden keyword and ten field rules; on a cold deck (fresh
  parse, the run builds the indices) and on a warm one (indices built);
- the yardstick: the columnar read of NODE and ELEMENT_SHELL of the same
  files (the goal is validate at most 1.5x that read);
- the warm validate with 1 and with 2 pool threads, each in a fresh process
  (goal: 2 threads at least 1.6x faster than 1).

    python benchmarks/validate.py [--scale 1.0] [--repeat 3] [--dir DIR]
    python benchmarks/validate.py --scale 0.01      # a quick try, every count scaled down
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from deck import columnar_read, make_vehicle  # noqa: E402

import tarvex  # noqa: E402
from tarvex import Cmp, Predicate, Rule, Severity  # noqa: E402


def all_rules() -> list:
    """One rule of every built-in kind, and ten field rules over the vehicle's keywords."""
    field_rules = [
        Rule.field_required("SECTION_SHELL", Predicate.field("NIP", Cmp.Ge, 2)),
        Rule.field_required("SECTION_SHELL", Predicate.field("ELFORM", Cmp.Eq, 16), Predicate.field("NIP", Cmp.Gt, 3)),
        Rule.field_required("SECTION_SHELL", Predicate.all_([Predicate.field("T1", Cmp.Gt, 0.1),
                                                             Predicate.field("T2", Cmp.Gt, 0.1)])),
        Rule.field_required("PART", Predicate.not_(Predicate.field("mid", Cmp.Eq, 0))),
        Rule.field_required("MAT_ELASTIC", Predicate.any_([Predicate.field("RO", Cmp.Lt, 1e-8),
                                                           Predicate.field("E", Cmp.Gt, 1e6)])),
        Rule.field_forbidden_values("SECTION_SHELL", "ELFORM", [1, 6, 7]),
        Rule.field_forbidden_values("PART", "hgid", [99]),
        Rule.field_forbidden_values("MAT_ELASTIC", "PR", [0.5]),
        Rule.field_forbidden_values("DEFINE_CURVE", "SIDR", [1, 2]),
        Rule.field_forbidden_values("SET_NODE_LIST", "DA1", ["x"]),
    ]
    return [
        Rule.references_resolve_with_connectivity(),
        Rule.duplicate_ids(),
        Rule.unreferenced_entities(),
        Rule.rigid_context(),
        Rule.include_missing(),
        Rule.keyword_forbidden("CONTROL_IMPLICIT_GENERAL"),
    ] + field_rules


def best(fn, repeat: int):
    t_best, out = float("inf"), None
    for _ in range(repeat):
        t = time.perf_counter()
        out = fn()
        t_best = min(t_best, time.perf_counter() - t)
    return t_best, out


def cold_validate(main_k: str, rules: list) -> float:
    """validate on a freshly parsed deck (its indices are built by the run)."""
    deck = tarvex.parse_deck(main_k)
    t = time.perf_counter()
    deck.validate(rules)
    return time.perf_counter() - t


def warm_validate(main_k: str, rules: list, repeat: int) -> float:
    deck = tarvex.parse_deck(main_k)
    deck.validate(rules)
    return best(lambda: deck.validate(rules), repeat)[0]


def warm_in_subprocess(main_k: str, repeat: int, threads: int) -> float:
    env = dict(os.environ, TARVEX_NUM_THREADS=str(threads))
    out = subprocess.check_output(
        [sys.executable, os.path.abspath(__file__), "--time-warm", main_k, "--repeat", str(repeat)], env=env
    ).decode()
    return float(re.findall(r"^WARM_SECONDS (\S+)$", out, re.M)[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--dir", default=None, help="where to write the deck (default: a temporary folder, removed)")
    ap.add_argument("--time-warm", default=None, help=argparse.SUPPRESS)
    a = ap.parse_args()
    if a.time_warm:
        print(f"WARM_SECONDS {warm_validate(a.time_warm, all_rules(), a.repeat)}")
        return

    root = pathlib.Path(a.dir) if a.dir else pathlib.Path(tempfile.mkdtemp(prefix="tarvex_validate_"))
    try:
        main_k, includes, counts = make_vehicle(root, a.scale)
        size = sum(pathlib.Path(p).stat().st_size for p in includes) + main_k.stat().st_size
        print(f"vehicle deck: {len(includes) + 1} files, {size / 1e6:.0f} MB, {counts}")
        rules = all_rules()

        t_read, rows = best(lambda: columnar_read(includes), a.repeat)
        t_cold = min(cold_validate(str(main_k), rules) for _ in range(a.repeat))
        deck = tarvex.parse_deck(str(main_k))
        deck.validate(rules)
        t_warm, report = best(lambda: deck.validate(rules), a.repeat)
        t1 = warm_in_subprocess(str(main_k), a.repeat, 1)
        t2 = warm_in_subprocess(str(main_k), a.repeat, 2)

        print(f"{len(rules)} rules: {report} ({report.count(Severity.Error)} errors, "
              f"{report.count(Severity.Warning)} warnings)")
        print(f"columnar read NODE + ELEMENT_SHELL  {t_read:8.3f} s   ({rows} node rows)")
        print(f"validate, cold deck                 {t_cold:8.3f} s   {t_cold / t_read:5.2f}x the read (goal <= 1.5x)")
        print(f"validate, warm deck                 {t_warm:8.3f} s   {t_warm / t_read:5.2f}x the read; "
              f"cold / warm {t_cold / t_warm:5.2f}")
        print(f"validate, warm, 1 thread            {t1:8.3f} s")
        print(f"validate, warm, 2 threads           {t2:8.3f} s   speed-up {t1 / t2:5.2f}x (goal >= 1.6x)")
    finally:
        if not a.dir:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
