"""Quick start: write a small deck with an include, walk its include tree, read
its nodes as NumPy columns, edit one block byte-exactly and write a new deck."""

import pathlib
import tempfile

import numpy as np

import tarvex

with tempfile.TemporaryDirectory() as tmp:
    root = pathlib.Path(tmp)
    (root / "mesh").mkdir()
    (root / "mesh" / "nodes.k").write_bytes(
        b"*KEYWORD\n"
        b"*NODE\n"
        b"       1             0.0             0.0             0.0\n"
        b"       2             1.0             0.0             0.0\n"
        b"       3             1.0             1.0             0.0\n"
        b"*END\n"
    )
    (root / "main.k").write_bytes(
        b"*KEYWORD\n"
        b"$ the mesh lives in a sub-directory found through the search path\n"
        b"*INCLUDE_PATH_RELATIVE\nmesh\n"
        b"*INCLUDE\nnodes.k\n"
        b"*END\n"
    )

    # 1. The include tree.
    tree = tarvex.parse_include_tree(str(root / "main.k"))
    print(tree)
    for child in tree.children:
        print("  ", child)
    print("files:", tree.total_files(), "bytes:", tree.total_bytes())

    # 2. Columns of a keyword, read against a layout (name, type, width, count).
    kf = tarvex.parse_keyword_file(str(root / "mesh" / "nodes.k"))
    print(kf, kf.block_names())
    nodes = kf.parse_schema("NODE", [[("nid", "int", 8, 1), ("xyz", "float", 16, 3)]], repeat=True)
    print("node ids:", nodes["nid"], "coordinates:\n", nodes["xyz"])

    # 3. Replace one block; every other byte stays as it was.
    kf.set_keyword(1, "NODE", [["1", "0.0", "0.0", "0.0"]])
    print(kf)
    print(kf.to_bytes().decode())

    # 4. A new single-keyword deck from columns.
    out = root / "moved.k"
    tarvex.write_keyword(str(out), "NODE", {"nid": nodes["nid"], "x": nodes["xyz"][:, 0] + 10.0,
                                            "y": nodes["xyz"][:, 1], "z": np.zeros(3)})
    print(out.read_text())

# 5. A deck model: a root with a transformed include, parts followed to their materials.
with tempfile.TemporaryDirectory() as tmp:
    root = pathlib.Path(tmp)
    (root / "body.k").write_bytes(
        b"*KEYWORD\n"
        b"*PART\n"
        b"$#                                                                         title\n"
        b"\n"
        b"$#     pid     secid       mid     eosid      hgid      grav    adpopt      tmid\n"
        b"         1         1         3\n"
        b"*SECTION_SHELL\n"
        b"         1         2\n"
        b"*MAT_ELASTIC\n"
        b"         3    7.8e-9   210000.       0.3\n"
        b"*END\n"
    )
    (root / "main.k").write_bytes(
        b"*KEYWORD\n"
        b"$ the body twice: as is, and with part, material and section ids moved by 1000\n"
        b"*INCLUDE\nbody.k\n"
        b"*INCLUDE_TRANSFORM\nbody.k\n"
        b"         0         0      1000      1000         0         0         0\n"
        b"      1000\n"
        b"*END\n"
    )
    deck = tarvex.parse_deck(str(root / "main.k"))
    print(deck, deck.definition_counts())
    for p in deck.parts():
        print(f"  {p} -> {p.material()} (E = {p.material().field('E')}), {p.section()}, offsets {p.offsets}")
    print(deck.keywords("PART")[1].set_field("mid", 4), deck.files()[2])  # only that instance is edited

    # Validation: a reference that nothing defines, found and located.
    (root / "extra.k").write_bytes(b"*PART\nextra\n         7         1        99\n")
    report = tarvex.parse_deck(str(root / "main.k")).validate(
        [tarvex.Rule.references_resolve(), tarvex.Rule.duplicate_ids(), tarvex.Rule.include_missing()])
    print(report, "clean:", report.is_clean())
    (root / "main.k").write_bytes((root / "main.k").read_bytes().replace(b"*END", b"*INCLUDE\nextra.k\n*END"))
    report = tarvex.parse_deck(str(root / "main.k")).validate([tarvex.Rule.references_resolve()])
    for finding in report.findings:
        print("  ", finding)

# 6. Result files: a small d3plot and a nodout-like binout, written and read back.
with tempfile.TemporaryDirectory() as tmp:
    root = pathlib.Path(tmp)
    coords = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=np.float32)
    w = tarvex.D3plotWriter(coords, title="quick start")
    w.add_shells(np.array([[1, 2, 3, 4]], dtype=np.int64))
    for step in range(3):
        w.add_state(0.001 * step, (coords + 0.1 * step).ravel())
    w.write(str(root / "d3plot"))
    d = tarvex.open_d3plot(str(root / "d3plot"))
    print(d, "times:", d.times())
    # The Displacement block holds the current coordinates of every state.
    last = d.num_states - 1
    print("coordinates of the last state:\n", d.block(tarvex.StateBlock.Displacement)[-1])
    print("displacement of the last state:\n", d.node_coordinates(last) - d.initial_coordinates())
    print("largest displacement:", d.max_displacement_final())

    e = tarvex.BinoutEditor()
    e.set(["nodout", "metadata", "ids"], np.array([10, 20], dtype=np.int64))
    for step in range(1, 4):
        e.set(["nodout", f"d{step:06d}", "time"], np.array([0.001 * step]))
        e.set(["nodout", f"d{step:06d}", "x_acceleration"], np.array([1.0 * step, -1.0 * step]))
    e.write(str(root / "binout"))
    b = tarvex.Binout(str(root / "binout"))
    hist = b.read_states("nodout", "x_acceleration")
    print("binout time:", hist["time"], "node 20:", b.read("nodout", "x_acceleration", id=20))

# 7. Signals and injury criteria on a synthetic head pulse sampled at 10 kHz.
dt = 1e-4
t = np.arange(0, 0.1, dt)
pulse = 80.0 * np.exp(-(((t - 0.05) / 0.008) ** 2)) + np.random.default_rng(0).normal(0, 2, t.size)
filtered = tarvex.cfc(pulse, 1000.0, dt)
print(f"HIC36 = {tarvex.hic36(filtered, dt):.1f}, 3 ms clip = {tarvex.clip(filtered, dt):.1f} g")
