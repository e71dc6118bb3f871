"""Deck validation against the columnar read of the same deck.

Generates a full-vehicle-sized deck (default 2,000,000 nodes and 2,000,000
shells over 2,000 parts, with materials, sections, curves, sets and rigid-body
loads, spread over a root file and 16 include files, half of them under
*INCLUDE_TRANSFORM offsets), then times:

- Deck.validate with every kind of built-in rule: references with
  connectivity, duplicate ids, unreferenced entities, rigid context, include
  missing, a forbidden keyword and ten field rules, on a warm deck (indices
  built) and on a cold one (fresh parse, indices built by the run);
- the columnar read of NODE and ELEMENT_SHELL over the same deck (Deck.table),
  the yardstick: the goal is validate at most 1.5x that read;
- the warm validate with 1 and with 2 pool threads in fresh processes (goal:
  2 threads at least 1.6x faster than 1).

    python benchmarks/validate.py [--nodes 2000000] [--parts 2000] [--repeat 3]
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import tarvex
from tarvex import Cmp, Predicate, Rule

INCLUDES = 16


def row(*values, width=10):
    return "".join(f"{v:>{width}}" for v in values)


def gen_deck(root_dir, n_nodes, n_parts):
    """Writes main.k and inc_00.k ... inc_15.k; returns the root path."""
    per_file_nodes = n_nodes // INCLUDES
    per_file_parts = max(1, n_parts // INCLUDES)
    # Id ranges of the files: one stride apart, so ids stay unique (and within
    # 8 columns for the default sizes).
    stride = 10 ** len(str(max(per_file_nodes, per_file_parts)))
    main = ["*KEYWORD\n"]
    for f in range(INCLUDES):
        name = f"inc_{f:02d}.k"
        if f % 2:
            # Shifted copies: ids stay unique across the deck through the offsets.
            off = f * stride
            main.append(f"*INCLUDE_TRANSFORM\n{name}\n{off},{off},{off},{off},{off},{off},{off}\n{off}\n")
        else:
            main.append(f"*INCLUDE\n{name}\n")
        base_node = 0 if f % 2 else f * stride
        out = ["*KEYWORD\n"]
        for p in range(per_file_parts):
            pid = (0 if f % 2 else f * stride) + p + 1
            out.append("*PART\n$# title\n\n$#     pid     secid       mid     eosid      hgid\n")
            out.append(row(pid, pid, pid, 0, 0) + "\n")
            out.append("*SECTION_SHELL\n$#   secid    elform      shrf       nip\n")
            out.append(row(pid, 16 if p % 3 else 2, 1.0, 5, 1.0) + "\n" + row(1.5, 1.5, 1.5, 1.5) + "\n")
            mat = "MAT_RIGID" if p % 50 == 0 else "MAT_PIECEWISE_LINEAR_PLASTICITY"
            out.append(f"*{mat}\n$#     mid        ro         e        pr\n")
            out.append(row(pid, "7.85E-9", "210000.0", 0.3) + "\n")
            out.append("*DEFINE_CURVE\n" + row(pid, 0, 1.0, 1.0) + "\n" + row(0.0, 0.0) + "\n" + row(1.0, 1.0) + "\n")
            if p % 50 == 0:
                out.append("*LOAD_RIGID_BODY\n" + row(pid, 3, pid) + "\n")
        out.append("*SET_PART_LIST\n" + row(1 + (0 if f % 2 else f * stride)) + "\n")
        out.append("".join(row(p + 1 + (0 if f % 2 else f * stride)) for p in range(min(8, per_file_parts))) + "\n")
        out.append("*NODE\n")
        lines = []
        for i in range(per_file_nodes):
            lines.append("%8d%16.6f%16.6f%16.6f%8d%8d\n" % (base_node + i + 1, i * 0.5, (i % 97) * 0.5, 0.0, 0, 0))
        out.append("".join(lines))
        out.append("*ELEMENT_SHELL\n")
        lines = []
        last = base_node + per_file_nodes
        for e in range(per_file_nodes):
            pid = (0 if f % 2 else f * stride) + e % per_file_parts + 1
            n1 = base_node + e + 1
            lines.append("%8d%8d%8d%8d%8d%8d\n" % (base_node + e + 1, pid, n1, min(n1 + 1, last), min(n1 + 2, last),
                                                   min(n1 + 3, last)))
        out.append("".join(lines))
        out.append("*END\n")
        (root_dir / name).write_text("".join(out))
    main.append("*INCLUDE\nnot_there.k\n*END\n")
    root = root_dir / "main.k"
    root.write_text("".join(main))
    return root


def all_rules():
    field_rules = [
        Rule.field_required("SECTION_SHELL", Predicate.field("NIP", Cmp.Ge, 3)),
        Rule.field_required("SECTION_SHELL", Predicate.field("ELFORM", Cmp.Eq, 16), Predicate.field("NIP", Cmp.Gt, 3)),
        Rule.field_required("SECTION_SHELL", Predicate.all_([Predicate.field("T1", Cmp.Gt, 0.5),
                                                             Predicate.field("T2", Cmp.Gt, 0.5)])),
        Rule.field_required("PART", Predicate.not_(Predicate.field("mid", Cmp.Eq, 0))),
        Rule.field_required("MAT_PIECEWISE_LINEAR_PLASTICITY", Predicate.field("RO", Cmp.Lt, 1e-8)),
        Rule.field_forbidden_values("SECTION_SHELL", "ELFORM", [1, 6, 7]),
        Rule.field_forbidden_values("PART", "hgid", [99]),
        Rule.field_forbidden_values("LOAD_RIGID_BODY", "DOF", [7, 8]),
        Rule.field_forbidden_values("DEFINE_CURVE", "SIDR", [1, 2]),
        Rule.field_forbidden_values("MAT_RIGID", "PR", [0.5]),
    ]
    return [
        Rule.references_resolve_with_connectivity(),
        Rule.duplicate_ids(),
        Rule.unreferenced_entities(),
        Rule.rigid_context(),
        Rule.include_missing(),
        Rule.keyword_forbidden("CONTROL_IMPLICIT_GENERAL"),
    ] + field_rules


def best(fn, repeat):
    t_best, out = float("inf"), None
    for _ in range(repeat):
        t = time.perf_counter()
        out = fn()
        t_best = min(t_best, time.perf_counter() - t)
    return t_best, out


WARM_CODE = """
import sys, time, tarvex
sys.path.insert(0, {here!r})
from validate import all_rules
d = tarvex.parse_deck({root!r})
rules = all_rules()
d.validate(rules)
b = 9e9
for _ in range({repeat}):
    t = time.perf_counter(); d.validate(rules); b = min(b, time.perf_counter() - t)
print(b)
"""


def warm_in_process(root, threads, repeat):
    code = WARM_CODE.format(here=str(pathlib.Path(__file__).parent), root=str(root), repeat=repeat)
    env = dict(os.environ, TARVEX_NUM_THREADS=str(threads))
    return float(subprocess.check_output([sys.executable, "-c", code], env=env).decode().split()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nodes", type=int, default=2_000_000)
    ap.add_argument("--parts", type=int, default=2_000)
    ap.add_argument("--repeat", type=int, default=3)
    a = ap.parse_args()
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="tarvex_validate_"))
    root = gen_deck(tmp, a.nodes, a.parts)
    size = sum(p.stat().st_size for p in tmp.iterdir())
    print(f"deck: {INCLUDES + 1} files, {size / 1e6:.0f} MB, {a.nodes} nodes and shells, {a.parts} parts")
    rules = all_rules()

    d = tarvex.parse_deck(str(root))
    t_read, _ = best(lambda: (d.table("NODE"), d.table("ELEMENT_SHELL")), a.repeat)

    def cold():
        fresh = tarvex.parse_deck(str(root))
        t = time.perf_counter()
        fresh.validate(rules)
        return time.perf_counter() - t

    t_cold = min(cold() for _ in range(a.repeat))
    d.validate(rules)
    t_warm, report = best(lambda: d.validate(rules), a.repeat)
    print(f"findings: {len(report)} ({report.count(tarvex.Severity.Error)} errors)")

    t1 = warm_in_process(root, 1, a.repeat)
    t2 = warm_in_process(root, 2, a.repeat)

    print(f"columnar read NODE + ELEMENT_SHELL  {t_read:8.3f} s")
    print(f"validate, cold deck                 {t_cold:8.3f} s   {t_cold / t_read:5.2f}x the read (goal <= 1.5x)")
    print(f"validate, warm deck                 {t_warm:8.3f} s   {t_warm / t_read:5.2f}x the read; "
          f"cold/warm {t_cold / t_warm:5.2f}")
    print(f"validate, warm, 1 thread            {t1:8.3f} s")
    print(f"validate, warm, 2 threads           {t2:8.3f} s   speed-up {t1 / t2:5.2f}x (goal >= 1.6x)")


if __name__ == "__main__":
    main()
