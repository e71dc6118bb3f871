"""The extension module frame: registration order, classes, conversions, errors."""

import pathlib

import pytest

import _tarvex
import tarvex
from conftest import SANITIZED

REGISTRATION_ORDER = [
    "IncludeNode", "parse_include_tree",
    "KeywordFile", "parse_keyword_file", "write_keyword",
    "Binout", "parse_binout",
    "D3plot", "open_d3plot", "D3plotWriter", "D3plotEditor", "IntforWriter",
    "BinoutEditor",
    "StateBlock", "InterfaceField", "FsiforField",
    "Rule", "Predicate", "Finding", "Report", "Cmp", "Severity",
    "Deck", "Entity", "Keyword", "File", "parse_deck", "Workspace",
    "resultant", "hic", "hic15", "hic36", "clip", "severity_index", "bric", "ubric",
    "vc", "nij", "nic", "tibia_index", "cfc", "filtfilt", "butterworth",
    "integrate", "differentiate", "decimate", "resample_linear",
]

STANDARD_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def public_names():
    return [n for n in vars(_tarvex) if n not in STANDARD_ATTRIBUTES]


def test_table_has_47_names():
    assert len(REGISTRATION_ORDER) == len(set(REGISTRATION_ORDER)) == 47


def test_names_are_registered_in_table_order_and_nothing_else():
    assert public_names() == REGISTRATION_ORDER


def test_module_identity():
    assert _tarvex.__name__ == "_tarvex"
    assert _tarvex.__doc__ == "High-performance LS-DYNA keyword file include tree parser."


@pytest.mark.parametrize("name", [n for n in REGISTRATION_ORDER if hasattr(_tarvex, n)])
def test_every_public_name_is_documented_and_reexported(name):
    obj = getattr(_tarvex, name)
    assert obj.__doc__ and obj.__doc__.strip()
    assert getattr(tarvex, name) is obj


@pytest.mark.parametrize("name", [n for n in REGISTRATION_ORDER if isinstance(getattr(_tarvex, n, None), type)])
def test_classes_are_final(name):
    cls = getattr(_tarvex, name)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_class_without_constructor_cannot_be_called():
    with pytest.raises(TypeError):
        _tarvex.IncludeNode()


@pytest.mark.parametrize(
    "bad", [b"/tmp/x.k", pathlib.Path("/tmp/x.k"), None, 3], ids=["bytes", "Path", "None", "int"]
)
def test_text_arguments_accept_only_str(bad):
    with pytest.raises(TypeError):
        _tarvex.parse_include_tree(bad)


def test_arguments_pass_by_keyword(tmp_path):
    p = tmp_path / "a.k"
    p.write_bytes(b"*KEYWORD\n")
    assert _tarvex.parse_include_tree(path=str(p)).byte_count == 9


def test_panic_exception_is_a_base_exception_outside_the_module():
    assert issubclass(tarvex.PanicException, BaseException)
    assert not issubclass(tarvex.PanicException, Exception)
    assert "PanicException" not in vars(_tarvex)


@pytest.mark.skipif(SANITIZED, reason="the sanitizer build carries no stubs")
def test_type_stubs_are_installed():
    # Next to the installed extension module: the top-level stub and the package's copy.
    site = pathlib.Path(_tarvex.__file__).parent
    assert (pathlib.Path(tarvex.__file__).parent / "py.typed").is_file()
    for stub_path in (site / "_tarvex.pyi", site / "tarvex" / "_tarvex.pyi"):
        stub = stub_path.read_text()
        for name in public_names():
            assert f"{name}" in stub, (stub_path, name)
        # Typed signatures, as bound.
        assert "def parse_include_tree(path: str) -> IncludeNode:" in stub


def test_interpreter_exit_reports_no_leaked_objects():
    import subprocess
    import sys

    out = subprocess.run([sys.executable, "-c", "import _tarvex"], capture_output=True, text=True)
    assert out.returncode == 0
    assert "leaked" not in out.stderr


@pytest.mark.skipif(SANITIZED, reason="the sanitizer build carries no stubs")
def test_type_stubs_type_check(tmp_path):
    import subprocess
    import sys

    pytest.importorskip("mypy")
    # Checked as a copy: mypy refuses files that live inside site-packages.
    stub = tmp_path / "_tarvex.pyi"
    stub.write_text((pathlib.Path(_tarvex.__file__).parent / "_tarvex.pyi").read_text())
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(tmp_path / "cache"), str(stub)],
        capture_output=True, text=True, cwd=tmp_path,
    )
    assert out.returncode == 0, out.stdout + out.stderr


@pytest.mark.parametrize(
    "index, outcome",
    [(1, "PART"), (True, "PART"), ("np1", "PART"), (-1, OverflowError), (2**64, OverflowError),
     ("npm1", OverflowError), (1.0, TypeError), ("npf", TypeError), ("1", TypeError), (None, TypeError)],
)
def test_index_arguments(tmp_path, index, outcome):
    np = pytest.importorskip("numpy")
    index = {"np1": np.int64(1), "npm1": np.int64(-1), "npf": np.float64(1)}.get(index, index) \
        if isinstance(index, str) and index != "1" else index
    p = tmp_path / "a.k"
    p.write_bytes(b"*NODE\n*PART\n")
    k = _tarvex.parse_keyword_file(str(p))
    if isinstance(outcome, str):
        assert k.keyword(index)["name"] == outcome
    else:
        with pytest.raises(outcome):
            k.keyword(index)


def test_functions_show_their_description_first():
    import inspect

    f = _tarvex.parse_include_tree
    assert f.__doc__.splitlines()[0] == "Parse an LS-DYNA keyword file and return the include tree."
    assert str(inspect.signature(f)) == "(path)"
    assert f.__module__ == "_tarvex" and f.__name__ == "parse_include_tree"
    for name in REGISTRATION_ORDER:
        obj = getattr(_tarvex, name, None)
        if callable(obj) and not isinstance(obj, type):
            assert not obj.__doc__.startswith(name + "("), name


@pytest.mark.parametrize("cls, method, doc", [
    ("IncludeNode", "total_bytes", "Total bytes across all files in this subtree."),
    ("IncludeNode", "total_files", "Total number of files in this subtree (including self)."),
])
def test_methods_show_their_description(cls, method, doc):
    import inspect

    m = getattr(getattr(_tarvex, cls), method)
    assert m.__doc__ == doc
    assert str(inspect.signature(m)) == "(self, /)"


def public_callables():
    """(label, callable) of every module function, constructor and public method."""
    for name in REGISTRATION_ORDER:
        obj = getattr(_tarvex, name, None)
        if obj is None:
            continue
        if not isinstance(obj, type):
            yield name, obj
            continue
        for attr, value in vars(obj).items():
            if (attr == "__init__" or not attr.startswith("_")) and callable(value):
                yield f"{name}.{attr}", getattr(obj, attr)


@pytest.mark.parametrize("label, fn", list(public_callables()), ids=lambda v: v if isinstance(v, str) else "")
def test_every_callable_has_a_valid_signature(label, fn):
    import inspect

    inspect.signature(fn)  # raises ValueError for a text signature that does not read back


@pytest.mark.parametrize("fn, text", [
    (_tarvex.KeywordFile.set_keyword, "(self, /, index, name, cards, options=None)"),
    (_tarvex.D3plotWriter.set_ids, "(self, /, node_ids=None, shell_ids=None, solid_ids=None, part_ids=None)"),
    (_tarvex.IntforWriter.set_fields, "(self, /, wear=0, pressure=0, shear=0, force=0, gap=0)"),
    (_tarvex.Binout, "(pattern)"),
    (_tarvex.D3plotWriter, "(node_coords, title=None)"),
])
def test_signatures_show_their_defaults(fn, text):
    import inspect

    assert str(inspect.signature(fn)) == text


USER_SCRIPT = '''
import numpy as np
import tarvex

tree = tarvex.parse_include_tree("main.k")
files: int = tree.total_files()
kf: tarvex.KeywordFile = tarvex.parse_keyword_file("main.k")
d = tarvex.open_d3plot("d3plot")
block = d.block(tarvex.StateBlock.Displacement)
hic: float = tarvex.hic36(np.zeros(10), 1e-4)
try:
    tarvex.parse_include_tree("main.k")
except tarvex.PanicException:
    pass
version: str = tarvex.__version__
'''


def typed_package_path(tmp_path):
    """A folder from which mypy finds the typed package as installed.

    An editable install leaves the native module's stub in the build tree:
    the package is then assembled from both places as a copy."""
    pkg = pathlib.Path(tarvex.__file__).parent
    if (pkg / "_tarvex.pyi").is_file():
        return None
    copy = tmp_path / "site" / "tarvex"
    copy.mkdir(parents=True)
    for name in ("__init__.pyi", "py.typed"):
        (copy / name).write_bytes((pkg / name).read_bytes())
    built = pathlib.Path(_tarvex.__file__).parent / "tarvex" / "_tarvex.pyi"
    (copy / "_tarvex.pyi").write_bytes(built.read_bytes())
    return copy.parent


def run_mypy(tmp_path, source):
    import os
    import subprocess
    import sys

    script = tmp_path / "user_script.py"
    script.write_text(source)
    env = dict(os.environ)
    site = typed_package_path(tmp_path)
    if site is not None:
        env["MYPYPATH"] = str(site)
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(tmp_path / "cache"), str(script)],
        capture_output=True, text=True, cwd=tmp_path, env=env,
    )
    return out.returncode, out.stdout + out.stderr


@pytest.mark.skipif(SANITIZED, reason="the sanitizer build carries no stubs")
def test_user_script_type_checks(tmp_path):
    pytest.importorskip("mypy")
    code, report = run_mypy(tmp_path, USER_SCRIPT)
    assert code == 0, report


@pytest.mark.skipif(SANITIZED, reason="the sanitizer build carries no stubs")
def test_user_script_misuse_is_reported(tmp_path):
    pytest.importorskip("mypy")
    code, report = run_mypy(tmp_path, "import tarvex\ntarvex.parse_include_tree(3)\nreveal_type(tarvex.Binout)\n")
    assert code == 1
    assert 'Argument 1 to "parse_include_tree" has incompatible type "int"; expected "str"' in report
    assert 'Revealed type is "def (pattern: str) -> tarvex._tarvex.Binout"' in report
