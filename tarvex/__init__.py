"""tarvex: fast, byte-exact access to LS-DYNA files from Python.

The native extension module ``_tarvex`` does the work; this package re-exports
its public names, carries the type stubs and adds ``PanicException``, the
exception raised for unrecoverable internal failures (a ``BaseException``
subclass, so ``except Exception`` does not catch it).

It also adds the pandas bridges (pandas is optional and imported on first
use): the methods ``Binout.to_frame`` and ``Report.to_frame``, set on the
native classes when the package is imported, and the function
``table_to_frame`` for the column dicts of ``Deck.table`` and
``KeywordFile.parse_builtin``.
"""

import sys as _sys

import _tarvex
from _tarvex import *  # noqa: F401,F403

from tarvex._frames import binout_to_frame as _binout_to_frame
from tarvex._frames import report_to_frame as _report_to_frame
from tarvex._frames import table_to_frame

#: Raised for unrecoverable internal failures; created by ``_tarvex`` on import.
PanicException: type[BaseException] = _sys.modules["_tarvex_runtime"].PanicException

__version__ = "0.1.0"

# The native classes are final but accept new attributes: the bridges become
# ordinary methods of Binout and Report.
_binout_to_frame.__name__, _binout_to_frame.__qualname__ = "to_frame", "Binout.to_frame"
_report_to_frame.__name__, _report_to_frame.__qualname__ = "to_frame", "Report.to_frame"
_tarvex.Binout.to_frame = _binout_to_frame
_tarvex.Report.to_frame = _report_to_frame

__all__ = [name for name in vars(_tarvex) if not name.startswith("_")] + ["PanicException", "table_to_frame"]
