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


def summary(report):
    return [(f.rule, f.file, f.line, f.message, int(f.severity)) for f in report.findings]


def test_validate_decks_counts_and_reports(family):
    w = tarvex.Workspace()
    decks = w.parse_decks(list(family))
    rules = [tarvex.Rule.references_resolve(), tarvex.Rule.duplicate_ids()]
    reports = w.validate_decks(decks, rules)
    assert w.stats()["def_indices_built"] == 3 and w.stats()["ref_indices_built"] == 0
    assert [summary(r) for r in reports] == [summary(d.validate(rules)) for d in decks]
    assert reports[1].is_clean()  # b defines no material at all: its reference is not checked
    w.validate_decks(decks, [tarvex.Rule.references_resolve_with_connectivity()])
    assert w.stats()["ref_indices_built"] == 3
    assert w.validate_decks([], rules) == []
    with pytest.raises(TypeError):
        w.validate_decks(decks[0], rules)
    with pytest.raises(TypeError):
        w.validate_decks([decks[0], "x"], rules)


def test_decks_outside_the_workspace_validate_the_same(family):
    w = tarvex.Workspace()
    alone = [tarvex.parse_deck(p) for p in family]
    rules = [tarvex.Rule.references_resolve_with_connectivity(), tarvex.Rule.unreferenced_entities()]
    assert [summary(r) for r in w.validate_decks(alone, rules)] == [summary(d.validate(rules)) for d in alone]


def random_family(root, rng, n_decks):
    """Decks sharing a mesh, a material file and connection files, some
    included with transforms, with some references left dangling."""
    nodes = "".join(f"{i:8d}       0.0       0.0       0.0\n" for i in range(1, 9))
    shells = "".join(f"{e:8d}{1 + e % 2:8d}{e:8d}{e + 1:8d}{e + 2:8d}{rng.randint(1, 12):8d}\n" for e in range(1, 6))
    write(root / "mesh.k", "*NODE\n" + nodes + "*ELEMENT_SHELL\n" + shells)
    mats = "".join(f"*MAT_ELASTIC\n{m:10d}\n" for m in range(1, 4))
    write(root / "mats.k", mats)
    for c in range(3):
        write(root / f"conn{c}.k", f"*SET_NODE_LIST\n{c + 1:10d}\n{rng.randint(1, 10):10d}{rng.randint(1, 10):10d}\n")
    paths = []
    for d in range(n_decks):
        parts = "".join(f"*PART\n\n{p:10d}{1:10d}{rng.randint(1, 4):10d}\n" for p in (1, 2))
        text = "*SECTION_SHELL\n         1\n" + parts + "*INCLUDE\nmesh.k\n*INCLUDE\nmats.k\n"
        if rng.random() < 0.5:
            text += f"*INCLUDE_TRANSFORM\nmesh.k\n{100:10d}{100:10d}{rng.choice([0, 10]):10d}\n"
        text += f"*INCLUDE\nconn{rng.randrange(3)}.k\n"
        paths.append(write(root / f"deck{d}.k", text))
    return paths


@pytest.mark.parametrize("seed", range(8))
def test_random_families_validate_as_alone(tmp_path, seed):
    import random
    rng = random.Random(seed)
    paths = random_family(tmp_path, rng, 4)
    w = tarvex.Workspace()
    decks = w.parse_decks(paths)
    rules = [tarvex.Rule.references_resolve_with_connectivity(), tarvex.Rule.duplicate_ids(),
             tarvex.Rule.unreferenced_entities()]
    reports = w.validate_decks(decks, rules)
    assert [summary(r) for r in reports] == [summary(tarvex.parse_deck(p).validate(rules)) for p in paths]
    distinct = {f.path for d in decks for f in d.files()}
    s = w.stats()
    assert s["files_parsed"] == len(distinct)
    assert s["def_indices_built"] == len(distinct) == s["ref_indices_built"]
