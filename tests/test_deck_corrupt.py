"""Decks nobody checked: truncated and byte-flipped copies of a real deck and
its include, and junk decks, end in a deck or a documented exception, never a
crash or a hang; every navigation call and index then works."""
import os
import pathlib
import random
import shutil

import pytest

import tarvex

DATA = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "testdata" / "keyword" / "expand_test"


def exercise(deck):
    deck.definition_counts()
    repr(deck)
    entities = deck.parts() + deck.materials() + deck.sections() + deck.curves()
    for e in entities[:50]:
        repr(e), e.keyword, e.line, e.file, e.offsets
        for name in ("pid", "mid", "secid", "LCID", "TITLE", "heading"):
            e.field(name)
            e.reference(name)
        e.material(), e.section(), e.eos(), e.hourglass()
    for f in deck.files():
        repr(f), f.to_bytes()
        for k in f.keywords()[:200]:
            repr(k), k.line
            k.field("pid"), k.field("nid")
            try:
                deck.table(k.name)
            except KeyError:
                pass


def mutated_copies(tmp_path, seed):
    rng = random.Random(seed)
    src = tmp_path / "src"
    shutil.copytree(DATA, src)
    files = [src / "bird_B.k", src / "control_cards.k"]
    victim = files[seed % 2]
    data = bytearray(victim.read_bytes())
    if seed % 3 == 0:
        del data[rng.randrange(len(data)):]
    else:
        for _ in range(1 + seed % 7):
            data[rng.randrange(len(data))] = rng.randrange(256)
    victim.write_bytes(bytes(data))
    return str(files[0])


@pytest.mark.skipif(not DATA.is_dir(), reason="../shared/testdata is absent")
@pytest.mark.parametrize("seed", range(40))
def test_truncated_and_flipped_real_deck(tmp_path, seed):
    root = mutated_copies(tmp_path, seed)
    exercise(tarvex.parse_deck(root))


JUNK = [
    b"\x00\xff\xfe*PART\n\x00\x00\n",
    b"*" * 10000,
    b"*PART\n" + b"9" * 100 + b"\n",
    b"*PART\nh\n99999999999999999999999999999\n*MAT_ELASTIC\nnan\n*SECTION_SHELL\ninf\n",
    b"*P\xffRT\n         1\n*\xc3\x28\n",
    b"*NODE\n" + b"1," * 5000 + b"\n",
    b"*PART_TITLE\n",
    b"*ELEMENT_SHELL\n-9223372036854775808 1 1 1 1\n*PART\nh\n-9223372036854775808\n",
    b"*INCLUDE_TRANSFORM\nself.k\n9223372036854775807,9223372036854775807\n*PART\nh\n1\n",
    b"*INCLUDE\njunk.k\n" + b"\n" * 1000 + b"*PART\n",
]


@pytest.mark.parametrize("data", JUNK, ids=range(len(JUNK)))
def test_junk_decks(tmp_path, data):
    root = tmp_path / "junk.k"
    root.write_bytes(data)
    (tmp_path / "self.k").write_bytes(b"*INCLUDE_TRANSFORM\njunk.k\n9223372036854775807\n*PART\nh\n         1\n")
    deck = tarvex.parse_deck(str(root))
    exercise(deck)
    deck.part(2**63 - 1), deck.part(-2**63)


def test_long_line_without_line_feed(tmp_path):
    root = tmp_path / "long.k"
    root.write_bytes(b"*PART\n" + b"1" * (8 << 20))
    exercise(tarvex.parse_deck(str(root)))
