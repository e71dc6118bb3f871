"""Whole-block edits, writing back, claims, and files that change on disk."""

import os
import threading

import pytest

import tarvex


def kf(write, data: bytes, name="deck.k"):
    return tarvex.parse_keyword_file(str(write(name, data)))


DECK = b"*KEYWORD\n$ header\n*PART\np\n1,1\n*SECTION_SHELL\n1\n*NODE\n       1     0.0     0.0\n*END\n"


def test_set_keyword_replaces_one_block(write):
    k = kf(write, DECK)
    k.set_keyword(3, "NODE", [["1", "0.0", "0.0", "0.0"]])
    assert k.num_blocks == 5 and k.dirty
    assert k.to_bytes() == DECK.replace(b"*NODE\n       1     0.0     0.0\n", b"*NODE\n1,0.0,0.0,0.0\n")


def test_set_keyword_keeps_attached_comments_and_takes_options(write):
    k = kf(write, DECK)
    k.set_keyword(1, "PART_TITLE", [["t"], [], ["1", "2"]], options=["%"])
    assert k.to_bytes() == DECK.replace(b"*PART\np\n1,1\n", b"*PART_TITLE %\nt\n\n1,2\n")
    assert k.to_bytes().startswith(b"*KEYWORD\n$ header\n")


def test_second_set_keyword_wins_and_reads_still_see_the_parsed_file(write):
    k = kf(write, DECK)
    k.set_keyword(2, "A", [["1"]])
    k.set_keyword(2, "B", [["2"]])
    assert b"*A" not in k.to_bytes() and b"*B\n2\n*NODE" in k.to_bytes()
    assert k.keyword(2) == {"name": "SECTION_SHELL", "options": [], "cards": [["1"]]}
    assert k.block_names()[2] == "SECTION_SHELL"


def test_set_keyword_errors(write):
    k = kf(write, DECK)
    with pytest.raises(IndexError, match="^block index 5 out of range$"):
        k.set_keyword(5, "X", [])
    with pytest.raises(TypeError):
        k.set_keyword(0, "X", "1,2")  # a bare str is not a sequence of cards
    with pytest.raises(TypeError):
        k.set_keyword(0, "X", [["1"]], options="%")
    assert not k.dirty


def test_write_keeps_edits_pending_and_can_replace_its_own_file(write, tmp_path):
    p = write("deck.k", DECK)
    k = tarvex.parse_keyword_file(str(p))
    k.set_keyword(3, "NODE", [["9"]])
    expected = k.to_bytes()
    k.write(str(p))  # the file this object maps
    assert p.read_bytes() == expected
    assert k.dirty
    # The object still reads the bytes it parsed.
    assert k.keyword(3)["cards"] == [["1", "0.0", "0.0"]]
    assert k.to_bytes() == expected


def test_write_preserves_permissions_and_follows_symlinks(write, tmp_path):
    target = write("real.k", b"old")
    os.chmod(target, 0o640)
    link = tmp_path / "link.k"
    os.symlink(target, link)
    kf(write, DECK, "src.k").write(str(link))
    assert os.path.islink(link) and target.read_bytes() == DECK
    assert (os.stat(target).st_mode & 0o777) == 0o640


def test_write_through_a_dangling_symlink_creates_its_target(write, tmp_path):
    link = tmp_path / "link.k"
    os.symlink(tmp_path / "new.k", link)
    kf(write, DECK, "src.k").write(str(link))
    assert os.path.islink(link) and (tmp_path / "new.k").read_bytes() == DECK


def test_write_failure_is_os_error(write, tmp_path):
    k = kf(write, DECK)
    with pytest.raises(OSError) as e:
        k.write(str(tmp_path / "no" / "such" / "dir.k"))
    assert e.value.errno == 2
    assert not any(n.startswith(".") for n in os.listdir(tmp_path))


def test_file_truncated_by_someone_else_never_crashes(write):
    p = write("big.k", b"*KEYWORD\n*NODE\n" + b"       1     0.0     0.0\n" * 100_000 + b"*END\n")
    k = tarvex.parse_keyword_file(str(p))
    os.truncate(p, 100)
    with pytest.raises(OSError, match="truncated on disk"):
        k.parse_schema("NODE", [[("n", "int", 8, 1)]], True)
    with pytest.raises(OSError, match="truncated on disk"):
        k.to_bytes()


def test_concurrent_mutation_during_parse_is_refused(write):
    body = b"".join(b"%8d%16.6f%16.6f%16.6f\n" % (i, i, i, i) for i in range(600_000))
    k = kf(write, b"*NODE\n" + body)
    layout = [[("n", "int", 8, 1), ("x", "float", 16, 3)]]
    errors, started, done = [], threading.Event(), threading.Event()

    def parse():
        started.set()
        for _ in range(5):
            k.parse_schema("NODE", layout, True)
        done.set()

    t = threading.Thread(target=parse)
    t.start()
    started.wait()
    while not done.is_set():
        try:
            k.set_keyword(0, "NODE", [])
        except RuntimeError as e:
            errors.append(str(e))
            break
    t.join()
    assert errors == ["Already borrowed"]


def test_shared_claims_do_not_conflict(write):
    k = kf(write, b"*NODE\n" + b"       1\n" * 300_000)
    results = []

    def parse():
        results.append(len(k.parse_schema("NODE", [[("n", "int", 8, 1)]], True)["n"]))

    threads = [threading.Thread(target=parse) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [300_000] * 4
