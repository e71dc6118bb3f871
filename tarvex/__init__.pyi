"""tarvex: fast, byte-exact access to LS-DYNA files from Python.

Type information of the package: every public name of the native extension
module, as the package re-exports it, and the names the package adds.
"""

from tarvex._tarvex import *  # the stub of the native module, installed beside this file

#: Raised for broken internal invariants; a BaseException subclass.
PanicException: type[BaseException]

__version__: str
