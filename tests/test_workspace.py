"""Workspace: one file cache and one per-file index shared by many decks."""
import threading

import pytest

import tarvex


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return str(path)


PART = "*PART\n$# title\n\n         5         1         3\n"


@pytest.fixture
def family(tmp_path):
    write(tmp_path / "common" / "mesh.k", "*NODE\n       1       0.0       0.0       0.0\n" + PART)
    a = write(tmp_path / "a" / "main.k", "*INCLUDE\n../common/mesh.k\n*MAT_ELASTIC\n         3\n")
    b = write(tmp_path / "b" / "main.k", "*INCLUDE\n../common/mesh.k\n")
    return a, b


def test_new_workspace():
    w = tarvex.Workspace()
    assert w.stats() == {"files_parsed": 0, "files_reused": 0, "def_indices_built": 0, "ref_indices_built": 0}
    assert repr(w) == "Workspace(0 files read, 0 reuses)"


def test_shared_include_read_once(family):
    w = tarvex.Workspace()
    decks = w.parse_decks(list(family))
    assert [len(d.files()) for d in decks] == [2, 2]
    s = w.stats()
    assert (s["files_parsed"], s["files_reused"]) == (3, 1)
    assert repr(w) == "Workspace(3 files read, 1 reuses)"
    # Decks from the workspace navigate like any deck.
    assert decks[0].part(5).material().id == 3
    assert decks[1].part(5).material() is None


def test_twice_included_with_offsets_is_a_reuse(tmp_path):
    write(tmp_path / "mesh.k", PART)
    root = write(tmp_path / "main.k", "*INCLUDE_TRANSFORM\nmesh.k\n         0         0       100\n"
                 "*INCLUDE_TRANSFORM\nmesh.k\n         0         0       200\n")
    w = tarvex.Workspace()
    deck = w.parse_deck(root)
    assert w.stats()["files_parsed"] == 2 and w.stats()["files_reused"] == 1
    assert [p.id for p in deck.parts()] == [105, 205]
    alone = tarvex.parse_deck(root)
    assert deck.definition_counts() == alone.definition_counts()


def test_failing_path_reported_after_all_paths(tmp_path, family):
    w = tarvex.Workspace()
    missing = str(tmp_path / "missing.k")
    with pytest.raises(RuntimeError) as e:
        w.parse_decks([missing, family[0]])
    assert str(e.value).startswith(missing + ": Cannot resolve root path")
    assert w.stats()["files_parsed"] == 2
    with pytest.raises(RuntimeError, match="^Cannot resolve root path"):
        w.parse_deck(missing)
    with pytest.raises(TypeError):
        w.parse_decks(family[0])


def test_edits_stay_in_their_deck(family):
    w = tarvex.Workspace()
    d1, d2 = w.parse_decks(list(family))
    before = d2.file("mesh.k").to_bytes()
    assert d1.part(5).set_field("mid", 9) == "in_place"
    assert d1.file("mesh.k").dirty and not d2.file("mesh.k").dirty
    assert d2.file("mesh.k").to_bytes() == before
    assert w.parse_deck(family[0]).file("mesh.k").to_bytes() == before


def test_threads_share_one_workspace(family):
    w = tarvex.Workspace()
    results = []

    def run():
        for _ in range(20):
            ds = w.parse_decks(list(family))
            results.append([d.definition_counts() for d in ds])

    threads = [threading.Thread(target=run) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == results[0] for r in results)
    s = w.stats()
    assert s["files_parsed"] == 3 and s["files_reused"] == 40 * 4 - 3
