"""Quick start: write a small deck with an include, then walk its include tree."""

import pathlib
import tempfile

import tarvex

with tempfile.TemporaryDirectory() as tmp:
    root = pathlib.Path(tmp)
    (root / "mesh").mkdir()
    (root / "mesh" / "nodes.k").write_bytes(
        b"*KEYWORD\n*NODE\n       1       0.0       0.0       0.0\n*END\n"
    )
    (root / "main.k").write_bytes(
        b"*KEYWORD\n"
        b"$ the mesh lives in a sub-directory found through the search path\n"
        b"*INCLUDE_PATH_RELATIVE\nmesh\n"
        b"*INCLUDE\nnodes.k\n"
        b"*END\n"
    )

    tree = tarvex.parse_include_tree(str(root / "main.k"))
    print(tree)
    for child in tree.children:
        print("  ", child)
    print("files:", tree.total_files(), "bytes:", tree.total_bytes())
