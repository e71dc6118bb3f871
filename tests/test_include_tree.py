"""The include tree: recognising directives, reading names, resolving, walking."""

import contextlib
import errno
import os
import pathlib
import pwd
import socket
import tempfile

import pytest
from hypothesis import given, settings, strategies as st

import tarvex
from conftest import shared_data


def tree(path):
    return tarvex.parse_include_tree(str(path))


def shape(node):
    """(file name, kind, children) of a tree, for compact comparison."""
    return (os.path.basename(node.path), node.kind, [shape(c) for c in node.children])


def test_root_without_includes(write):
    p = write("main.k", b"*KEYWORD\n*NODE\n1,0,0,0\n*END\n")
    t = tree(p)
    assert (t.kind, t.children, t.total_files(), t.total_bytes()) == (None, [], 1, p.stat().st_size)
    assert t.path == str(p.resolve())
    assert repr(t) == f"IncludeNode('{p.resolve()}', {p.stat().st_size} bytes, 0 children)"


def test_repr_of_child_names_its_kind(write):
    write("sub.k", b"x" * 12)
    p = write("main.k", b"*INCLUDE\nsub.k\n")
    (child,) = tree(p).children
    assert repr(child) == f"IncludeNode('{child.path}' [Include], 12 bytes, 0 children)"


def test_empty_file_has_zero_bytes(write):
    write("empty.k", b"")
    t = tree(write("main.k", b"*INCLUDE\nempty.k\n"))
    assert [(c.byte_count, c.total_files()) for c in t.children] == [(0, 1)]


def test_same_file_twice_is_visited_once(write):
    write("b.k", b"*NODE\n")
    t = tree(write("a.k", b"*INCLUDE\nb.k\n*INCLUDE\nb.k\n"))
    assert shape(t) == ("a.k", None, [("b.k", "Include", [])])
    assert t.total_bytes() == len(b"*INCLUDE\nb.k\n*INCLUDE\nb.k\n") + 6


def test_cycle_is_skipped(write):
    write("b.k", b"*INCLUDE\na.k\n")
    t = tree(write("a.k", b"*INCLUDE\nb.k\n"))
    assert shape(t) == ("a.k", None, [("b.k", "Include", [])])


def test_self_include_is_skipped(write):
    assert tree(write("a.k", b"*INCLUDE\na.k\n")).children == []


def test_transform_and_plain_include_of_same_file_once(write):
    write("x.k", b"*NODE\n")
    deck = b"*INCLUDE_TRANSFORM\nx.k\n1000,0,0,0,0,0,0,0\n*INCLUDE\nx.k\n"
    assert shape(tree(write("a.k", deck))) == ("a.k", None, [("x.k", "IncludeTransform", [])])


def test_search_path_is_inherited_and_applies_before_its_position(write, tmp_path):
    write("lib/deep.k", b"*NODE\n")
    write("lib/mid.k", b"*INCLUDE\ndeep.k\n")
    # *INCLUDE_PATH stands after the *INCLUDE it serves.
    deck = b"*INCLUDE\nmid.k\n*INCLUDE_PATH\n" + str(tmp_path / "lib").encode() + b"\n"
    write("sub/c.k", b"*INCLUDE\nmid.k\n")
    t = tree(write("main.k", deck))
    assert shape(t) == ("main.k", None, [("mid.k", "Include", [("deep.k", "Include", [])])])


def test_relative_search_path_and_inherited_into_subfolder(write):
    write("mesh/nodes.k", b"*NODE\n")
    write("parts/p.k", b"*INCLUDE\nnodes.k\n")
    t = tree(write("main.k", b"*INCLUDE_PATH_RELATIVE\nmesh\n*INCLUDE\nparts/p.k\n"))
    assert shape(t) == ("main.k", None, [("p.k", "Include", [("nodes.k", "Include", [])])])


def test_local_directory_wins_over_search_path(write, tmp_path):
    write("x.k", b"local")
    write("other/x.k", b"from search path")
    t = tree(write("main.k", b"*INCLUDE_PATH_RELATIVE\nother\n*INCLUDE\nx.k\n"))
    assert [c.byte_count for c in t.children] == [5]


def test_absolute_include_name(write, tmp_path):
    target = write("far/away.k", b"*NODE\n")
    t = tree(write("main.k", b"*INCLUDE\n" + str(target).encode() + b"\n"))
    assert [c.path for c in t.children] == [str(target.resolve())]


@pytest.mark.parametrize(
    "name_lines, expected",
    [
        (b"sub +\ndir/a.k\n", "subdir/a.k"),
        (b"sub+\n  dir/ +  \na.k\n", "subdir/a.k"),
        (b"$ comment\n$ another\n  subdir/a.k  \n", "subdir/a.k"),
        (b"sub +\n$dir/a.k\n", None),  # a continuation line starting with $ is part of the name
        (b"subdir/a.k\r\n", "subdir/a.k"),
        (b"\tsubdir/a.k\t\n", "subdir/a.k"),
    ],
)
def test_file_name_reading(write, name_lines, expected):
    write("subdir/a.k", b"*NODE\n")
    write("sub$dir/a.k", b"*NODE\n")
    t = tree(write("main.k", b"*INCLUDE\n" + name_lines))
    want = expected or "sub$dir/a.k"
    assert [os.path.relpath(c.path, t.path.rsplit("/", 1)[0]) for c in t.children] == [want]


@pytest.mark.parametrize(
    "keyword, kind",
    [
        (b"*INCLUDE", "Include"),
        (b"*include", "Include"),
        (b"*INCLUDE  trailing words", "Include"),
        (b"*INCLUDE_TRANSFORM", "IncludeTransform"),
        (b"*Include_Transform  ", "IncludeTransform"),
        (b"*INCLUDE_AUTO_ZZFREE", "IncludeAutoZzfree"),
        (b"*INCLUDE_BINARY", "IncludeBinary"),
        (b"*INCLUDE_COMPENSATED", "IncludeCompensated"),
        (b"*INCLUDE_STAMPED_PART", "IncludeStampedPart"),
        (b"*INCLUDES", None),
        (b"*INCLUDE_TRANSFORM_BINARY", None),
        (b"*INCLUDE_NASTRAN", None),
        (b"*INCLUDE_PATH extra", None),
        (b" *INCLUDE", None),
        (b"$*INCLUDE", None),
    ],
)
def test_keyword_line_recognition(write, keyword, kind):
    write("x.k", b"*NODE\n")
    t = tree(write("main.k", b"*KEYWORD\n" + keyword + b"\nx.k\n*END\n"))
    assert [c.kind for c in t.children] == ([kind] if kind else [])


@pytest.mark.parametrize("keyword", [b"*Include_Path_Relative", b"*include_path"])
def test_path_keywords_in_mixed_case(write, tmp_path, keyword):
    write("lib/x.k", b"*NODE\n")
    where = b"lib" if b"RELATIVE" in keyword.upper() else str(tmp_path / "lib").encode()
    t = tree(write("main.k", keyword + b"\n" + where + b"\n*INCLUDE\nx.k\n"))
    assert shape(t) == ("main.k", None, [("x.k", "Include", [])])


def test_keyword_line_followed_by_keyword_line_is_skipped(write):
    t = tree(write("main.k", b"*INCLUDE\n*NODE\n1,0,0,0\n"))
    assert t.children == []


def test_missing_include_gives_no_node(write):
    write("there.k", b"")
    t = tree(write("main.k", b"*INCLUDE\nnot_there.k\n*INCLUDE\nthere.k\n"))
    assert shape(t) == ("main.k", None, [("there.k", "Include", [])])


def test_missing_root_raises_runtime_error(tmp_path):
    missing = str(tmp_path / "nope.k")
    with pytest.raises(RuntimeError) as e:
        tarvex.parse_include_tree(missing)
    assert str(e.value) == f"Cannot resolve root path {missing}: No such file or directory (os error 2)"


def test_crlf_reads_like_lf(write):
    write("b.k", b"*NODE\n")
    lf = tree(write("lf.k", b"*KEYWORD\n*INCLUDE\nb.k\n*END\n"))
    crlf = tree(write("crlf.k", b"*KEYWORD\r\n*INCLUDE\r\nb.k\r\n*END\r\n"))
    assert shape(lf)[2] == shape(crlf)[2]


def test_lone_cr_is_part_of_the_name(write):
    write("b.k", b"*NODE\n")
    write("b.k\rx", b"*NODE\n*NODE\n")
    t = tree(write("main.k", b"*INCLUDE\nb.k\rx\n"))
    assert [c.byte_count for c in t.children] == [12]


def test_children_are_fresh_copies(write):
    write("b.k", b"")
    t = tree(write("a.k", b"*INCLUDE\nb.k\n"))
    assert t.children[0] is not t.children[0]
    assert t.children is not t.children


def test_symlinked_include_reports_its_canonical_path(write, tmp_path):
    real = write("real/x.k", b"*NODE\n")
    os.symlink(real, tmp_path / "link.k")
    t = tree(write("main.k", b"*INCLUDE\nlink.k\n*INCLUDE\nreal/x.k\n"))
    assert [c.path for c in t.children] == [str(real.resolve())]


def test_name_with_invalid_utf8(write, tmp_path):
    # A name in a legacy encoding is read with U+FFFD for the odd byte, but the
    # file named by the bytes as written is still found.
    (tmp_path / os.fsdecode(b"caf\xe9.k")).write_bytes(b"*NODE\n")
    t = tree(write("main.k", b"*INCLUDE\ncaf\xe9.k\n"))
    assert [c.byte_count for c in t.children] == [6]
    assert "\ufffd" not in t.path


def test_directory_as_include_raises_oserror(write, tmp_path):
    (tmp_path / "adir").mkdir()
    with pytest.raises(OSError) as e:
        tree(write("main.k", b"*INCLUDE\nadir\n"))
    assert str(e.value) == f"Cannot mmap file {tmp_path / 'adir'}: {os.strerror(e.value.errno)} (os error {e.value.errno})"
    assert e.value.errno == errno.ENODEV


@contextlib.contextmanager
def unprivileged():
    """Run the body without the rights of root (who reads any file): as nobody."""
    if os.geteuid() != 0:
        yield
        return
    os.seteuid(pwd.getpwnam("nobody").pw_uid)
    try:
        yield
    finally:
        os.seteuid(0)


def test_unreadable_include_raises_oserror():
    # In a folder every user may enter (pytest's own are private to root).
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        folder.chmod(0o755)
        locked = folder / "locked.k"
        locked.write_bytes(b"*NODE\n")
        locked.chmod(0)
        main = folder / "main.k"
        main.write_bytes(b"*INCLUDE\nlocked.k\n")
        main.chmod(0o644)
        with unprivileged(), pytest.raises(PermissionError) as e:
            tree(main)
    assert str(e.value) == f"Cannot open file {locked}: Permission denied (os error 13)"
    assert e.value.errno == errno.EACCES


def test_unopenable_file_raises_oserror(write, tmp_path):
    sock_path = tmp_path / "sock.k"
    s = socket.socket(socket.AF_UNIX)
    s.bind(str(sock_path))
    try:
        with pytest.raises(OSError) as e:
            tree(write("main.k", b"*INCLUDE\nsock.k\n"))
    finally:
        s.close()
    assert str(e.value) == f"Cannot open file {sock_path}: {os.strerror(e.value.errno)} (os error {e.value.errno})"
    assert e.value.errno == errno.ENXIO


def test_unreadable_include_is_caught_by_except_exception(write, tmp_path):
    (tmp_path / "adir").mkdir()
    try:
        tree(write("main.k", b"*INCLUDE\nadir\n"))
    except Exception as e:  # an ordinary error, not the panic exception
        assert isinstance(e, OSError)
    else:
        pytest.fail("no error raised")


def test_fifo_does_not_block(write, tmp_path):
    os.mkfifo(tmp_path / "pipe.k")
    t = tree(write("main.k", b"*INCLUDE\npipe.k\n"))
    assert [c.byte_count for c in t.children] == [0]


def test_breadth_first_discovery_order(write):
    write("a.k", b"*INCLUDE\na1.k\n")
    write("b.k", b"*INCLUDE\nb1.k\n")
    write("a1.k", b"*INCLUDE\nb.k\n")  # b.k already reached at level 1
    write("b1.k", b"")
    t = tree(write("main.k", b"*INCLUDE\na.k\n*INCLUDE\nb.k\n"))
    assert shape(t) == (
        "main.k",
        None,
        [("a.k", "Include", [("a1.k", "Include", [])]), ("b.k", "Include", [("b1.k", "Include", [])])],
    )


def test_large_file_scanned_in_pieces_gives_file_order(write):
    names = [f"inc{i:03d}.k" for i in range(40)]
    for n in names:
        write(n, b"*NODE\n")
    filler = b"$" + b"x" * 98 + b"\n"
    chunks = []
    for n in names:
        chunks.append(filler * 2200)  # about 9 MiB in all
        chunks.append(b"*INCLUDE\n" + n.encode() + b"\n")
    p = write("big.k", b"".join(chunks))
    assert p.stat().st_size >= 8 * 1024 * 1024
    t = tree(p)
    assert [os.path.basename(c.path) for c in t.children] == names


def test_real_include_tree_deck():
    root = shared_data("keyword", "include_tree", "keyfile.key")
    t = tree(root)
    # keyfile.key holds two *INCLUDE directives (read by hand); neither
    # included file includes anything, and keyfile_include_dir is not reached.
    assert shape(t) == (
        "keyfile.key",
        None,
        [("keyfile_include1.key", "Include", []), ("keyfile_include2.key", "Include", [])],
    )
    files = [root] + [root.parent / f"keyfile_include{i}.key" for i in (1, 2)]
    assert t.total_bytes() == sum(f.stat().st_size for f in files)


def test_real_expand_test_deck():
    root = shared_data("keyword", "expand_test", "bird_B.k")
    t = tree(root)
    # control_cards.k names mesh.k, which lives in fol/ with no search path
    # pointing there: the directive is skipped.
    assert shape(t) == ("bird_B.k", None, [("control_cards.k", "Include", [])])
    assert t.total_bytes() == root.stat().st_size + (root.parent / "control_cards.k").stat().st_size


def test_continuation_through_many_keyword_lines(write):
    # Every "*INCLUDE +" line continues the name of the directive above it, so
    # each name runs on to the end; only the last ones can name files.  The
    # walk must stay linear in the file size.
    write("b.k", b"b")
    write("*INCLUDEb.k", b"bb")
    p = write("main.k", b"*INCLUDE +\n" * 200_000 + b"b.k\n")
    assert shape(tree(p)) == ("main.k", None, [("*INCLUDEb.k", "Include", []), ("b.k", "Include", [])])


def test_long_name_over_many_continuation_lines_still_resolves(write, tmp_path):
    deep = tmp_path / ("d" * 200) / ("e" * 200) / ("f" * 200)
    deep.mkdir(parents=True)
    (deep / "x.k").write_bytes(b"x")
    rel = f"{'d' * 200}/{'e' * 200}/{'f' * 200}/x.k".encode()
    lines = b"".join(b"   " + rel[i:i + 10] + b" +\n" for i in range(0, len(rel), 10))
    p = write("main.k", b"*INCLUDE\n" + lines + b"\n")
    assert [c.path for c in tree(p).children] == [str(deep / "x.k")]


CORRUPT_BASE = (
    b"*KEYWORD\n*INCLUDE_PATH_RELATIVE\nlib\n*INCLUDE\n$ c\nsub +\n  dir/a.k\n*include_transform\r\nb.k\r\n"
    b"*INCLUDE_BINARY\nb.k\n*INCLUDE\n\n*INCLUDE\n*END\n"
)


def corrupt_tree(path):
    try:
        t = tree(path)
    except OSError:
        return  # a name that became "." or another directory
    assert t.total_files() >= 1 and t.byte_count == path.stat().st_size


def test_truncated_and_flipped_include_files(write):
    import random

    write("subdir/a.k", b"*INCLUDE\n../b.k\n")
    write("b.k", b"*NODE\n")
    p = write("main.k", b"")
    for cut in range(len(CORRUPT_BASE) + 1):
        p.write_bytes(CORRUPT_BASE[:cut])
        corrupt_tree(p)
    rng = random.Random(11)
    for _ in range(300):
        b = bytearray(CORRUPT_BASE)
        for _ in range(rng.randint(1, 5)):
            b[rng.randrange(len(b))] = rng.choice([0, 0x0A, 0x0D, 0x2A, 0x24, 0x2B, 0x20, 0xFF, rng.randrange(256)])
        p.write_bytes(bytes(b))
        corrupt_tree(p)


# ---- Differential check of directive recognition and name reading.

_WS = b" \t\r\n"
_SUFFIXES = {b"_PATH", b"_BINARY", b"_TRANSFORM", b"_COMPENSATED", b"_AUTO_ZZFREE", b"_STAMPED_PART",
             b"_PATH_RELATIVE"}


def _line(data: bytes, pos: int):
    end = data.find(b"\n", pos)
    c = data[pos:] if end < 0 else data[pos:end]
    if end >= 0 and c.endswith(b"\r"):
        c = c[:-1]
    return c, (len(data) if end < 0 else end + 1)


def _ref_kind(line: bytes):
    if len(line) < 8 or line[1:8].upper() != b"INCLUDE":
        return None
    if len(line) == 8 or line[8] in _WS:
        return b""
    s = line.rstrip(_WS)[8:].upper()
    return s if s in _SUFFIXES else None


def _ref_name(data: bytes, pos: int):
    if pos >= len(data):
        return None
    while True:
        c, nxt = _line(data, pos)
        if c == b"" or not c.startswith(b"$"):
            break
        if nxt >= len(data):
            return None
        pos = nxt
    pieces = []
    while True:
        c, nxt = _line(data, pos)
        c = c.lstrip(b" \t")
        if c == b"":
            break
        c = c.rstrip(_WS)
        more = c.endswith(b"+")
        if more:
            c = c[:-1].rstrip(_WS)
        pieces.append(c)
        if not more or nxt >= len(data):
            break
        pos = nxt
    return b"".join(pieces).decode().strip() or None


_INC_LINES = [b"*INCLUDE", b"*include_transform", b"*Include_Binary", b"*INCLUDE_PATH", b"*INCLUDES",
              b"*INCLUDE_NASTRAN", b"*INCLUDE x", b"a.k", b"b.k", b"a +", b".k", b" a.k ", b"$ c", b"", b"  ",
              b"*INCLUDE +", b"ab.k", b"*END", b"b", b"\t+"]
_INC_FILES = ["a.k", "b.k", "ab.k", "*INCLUDEa.k", "*INCLUDEb.k", "*INCLUDEab.k", "a.kb.k"]


@settings(max_examples=100, deadline=None)
@given(st.lists(st.sampled_from(_INC_LINES), max_size=20), st.sampled_from([b"\n", b"\r\n"]))
def test_directives_match_the_rules(tmp_path_factory, lines, eol):
    d = tmp_path_factory.mktemp("inc")
    for n in _INC_FILES:
        (d / n).write_bytes(b"x")
    data = eol.join(lines) + eol
    root = d / "main.k"
    root.write_bytes(data)
    expected = []
    pos = 0
    while pos < len(data):
        line, nxt = _line(data, pos)
        if line.startswith(b"*"):
            kind = _ref_kind(line)
            if kind is not None and kind not in (b"_PATH", b"_PATH_RELATIVE"):
                name = _ref_name(data, nxt)
                if name and os.path.exists(d / name) and (d / name).resolve() != root:
                    if str((d / name).resolve()) not in expected:
                        expected.append(str((d / name).resolve()))
        pos = nxt
    assert [c.path for c in tree(root).children] == expected


def test_missing_search_directories_do_not_hide_later_ones(write, tmp_path):
    write("lib/x.k", b"x")
    write("inc/y.k", b"yy")
    p = write("main.k", b"*INCLUDE\nx.k\n*INCLUDE_PATH_RELATIVE\nnone\n*INCLUDE_PATH\n" + str(tmp_path / "gone").encode()
              + b"\n*INCLUDE_PATH_RELATIVE\nlib\n*INCLUDE\nsub.k\n*INCLUDE_PATH\n" + str(tmp_path / "inc").encode()
              + b"\n*INCLUDE\ny.k\n")
    write("lib/sub.k", b"*INCLUDE\ny.k\n")
    assert shape(tree(p)) == ("main.k", None, [("x.k", "Include", []), ("sub.k", "Include", []),
                                               ("y.k", "Include", [])])
