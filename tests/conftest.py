import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
TESTDATA = ROOT.parent / "shared" / "testdata"

# Set by CI for the AddressSanitizer build, which is built without type stubs.
SANITIZED = os.environ.get("TARVEX_SANITIZED") == "1"


def shared_data(*parts: str) -> pathlib.Path:
    """A file of the real third-party test data; skips the test when absent."""
    p = TESTDATA.joinpath(*parts)
    if not p.exists():
        pytest.skip(f"test data not available: {p}")
    return p


@pytest.fixture
def write(tmp_path):
    """write(name, bytes) -> path: create a file (and its folders) under tmp_path."""

    def _write(name: str, data: bytes) -> pathlib.Path:
        p = tmp_path / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
        return p

    return _write
