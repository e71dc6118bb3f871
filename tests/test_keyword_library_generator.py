"""The generated library tables are what the generator writes from the layout database."""

import subprocess
import sys

import pytest

from conftest import ROOT

DB = ROOT.parent / "shared" / "keyword-db" / "layouts.json"
GENERATED = ROOT / "src" / "keywords" / "library_data.cpp"


def test_generator_reproduces_the_committed_tables(tmp_path):
    if not DB.exists():
        pytest.skip("keyword layout database not available")
    out = tmp_path / "library_data.cpp"
    subprocess.run([sys.executable, str(ROOT / "tools" / "gen_keyword_library.py"), "--db", str(DB), "--out",
                    str(out)], check=True)
    assert out.read_bytes() == GENERATED.read_bytes()


def test_generated_tables_are_plain_constant_data():
    text = GENERATED.read_text(encoding="ascii")
    assert "std::vector" not in text and "std::string" not in text
    assert text.count("\n") < 80_000
