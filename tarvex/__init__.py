"""tarvex: fast, byte-exact access to LS-DYNA files from Python.

The native extension module ``_tarvex`` does the work; this package re-exports
its public names, carries the type stubs and adds ``PanicException``, the
exception raised for unrecoverable internal failures (a ``BaseException``
subclass, so ``except Exception`` does not catch it).
"""

import sys as _sys

import _tarvex
from _tarvex import *  # noqa: F401,F403

#: Raised for unrecoverable internal failures; created by ``_tarvex`` on import.
PanicException: type[BaseException] = _sys.modules["_tarvex_runtime"].PanicException

__version__ = "0.1.0"

__all__ = [name for name in vars(_tarvex) if not name.startswith("_")] + ["PanicException"]
