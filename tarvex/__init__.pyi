"""tarvex: fast, byte-exact access to LS-DYNA files from Python.

Type information of the package: every public name of the native extension
module, as the package re-exports it, and the names the package adds.
"""

from collections.abc import Mapping
from typing import Any

import pandas  # type: ignore[import-untyped, import-not-found, unused-ignore]

from tarvex._tarvex import *  # the stub of the native module, installed beside this file

#: Raised for broken internal invariants; a BaseException subclass.
PanicException: type[BaseException]

__version__: str

def table_to_frame(columns: Mapping[str, Any]) -> pandas.DataFrame:
    """A dict of keyword columns (Deck.table, Deck.table_with,
    KeywordFile.parse_builtin, KeywordFile.parse_schema) as a pandas DataFrame,
    one row per record; a field of k values per row becomes the columns
    name_1 .. name_k.  pandas is optional: ImportError names the extra."""
