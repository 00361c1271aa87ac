"""Finding and loading the shared library, and the C prototypes of its exports."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Dict, List, Optional, Sequence, Tuple, Union

# The environment variable naming the library file to load.
LIBRARY_ENV = "NURVA_LIBRARY"

# Room for any result text; the longest the library gives (the card's file list) stays
# under 1000 characters.
TEXT_BUFFER_SIZE = 4096

# Most programmers the library handles, and so the most channels.
MAX_PROGRAMMERS = 16

_i32 = ctypes.c_int32
_pi32 = ctypes.POINTER(ctypes.c_int32)
_pu8 = ctypes.POINTER(ctypes.c_uint8)
_text = ctypes.c_char_p
_name = ctypes.c_char_p

# Channel calls answering only with res and text: channel, res, text.
_PLAIN = (
    "ClosePort CheckProgrammer InitChannel ReleaseTarget CheckDevice GetFileNames CloseAfile "
    "GetFileState EraseDevice EraseDeviceX EraseDeviceUsr ProgDevice ProgFlash ProgEEprom ProgUsrRow "
    "ProgFuses ProgLockBits VerifyDevice VerifyFlashOnly VerifyEEpromOnly GetProgStatus"
).split()

# Every export with its argument types; all but AbortAll return nothing.
PROTOTYPES: Dict[str, Tuple[object, ...]] = {
    "AbortAll": (),
    "GetProgIDs": (_pi32, _text),
    **{name: (_i32, _pi32, _text) for name in _PLAIN},
    "GetTargVolt": (_i32, _pi32, _pi32, _text),
    "GetFuses": (_i32, _i32, _pi32, _pi32, _text),
    "CheckAfile": (_i32, _name, _pi32, _text),
    "OpenAfile": (_i32, _name, _pi32, _text),
    "DeleteAfile": (_i32, _name, _pi32, _text),
    "GetProjParams": (_i32, _name, _pi32, _text),
    "DownloadFile": (_i32, _name, _pi32, _text),
    "ReadBackChipF": (_i32, _pu8, _i32, _pi32, _text),
    "ReadBackChipE": (_i32, _pu8, _i32, _i32, _pi32, _text),
    "ReadBackChipU": (_i32, _pu8, _i32, _pi32, _text),
    "DownProgBlockF": (_i32, _pu8, _i32, _pi32, _text),
    "DownProgBlockE": (_i32, _pu8, _i32, _i32, _pi32, _text),
    "DownProgBlockU": (_i32, _pu8, _i32, _pi32, _text),
    **{f"{family}{m}": (_i32, _pu8, _i32, _i32, _pi32, _text)
       for family in ("DownOverBlock", "DownFileBlock", "UpFileBlock") for m in "FEU"},
}
assert len(PROTOTYPES) == 45

PathArg = Union[str, "os.PathLike[str]"]


class LibraryNotFound(OSError):
    """The library file could not be found or loaded."""


def _candidates() -> List[str]:
    if sys.platform == "win32":
        return ["NURVA_DLL.dll"]
    names = ["libnurva.so.1", "libnurva.so"]
    found = ctypes.util.find_library("nurva")
    if found:
        names.insert(0, found)
    return names


class Library:
    """The loaded library with the prototypes of its 45 exports set.

    ``raw`` is the ctypes handle, for calling an export directly.
    """

    def __init__(self, path: str) -> None:
        try:
            if sys.platform == "win32":
                self.raw: ctypes.CDLL = ctypes.WinDLL(path)
            else:
                self.raw = ctypes.CDLL(path)
        except OSError as e:
            raise LibraryNotFound(f"cannot load the NURVA library {path!r}: {e}") from e
        self.path = path
        missing = [n for n in PROTOTYPES if not hasattr(self.raw, n)]
        if missing:
            raise LibraryNotFound(f"{path!r} is not the NURVA library: it lacks {', '.join(missing)}")
        for name, args in PROTOTYPES.items():
            fn = getattr(self.raw, name)
            fn.argtypes = list(args)
            fn.restype = ctypes.c_uint8 if name == "AbortAll" else None

    def function(self, name: str) -> "ctypes._FuncPointer":
        return getattr(self.raw, name)  # type: ignore[no-any-return]


_lock = threading.Lock()
_loaded: Dict[str, Library] = {}


def load_library(path: Optional[PathArg] = None) -> Library:
    """Loads the library once per file: ``path``, else ``$NURVA_LIBRARY``, else the system's.

    The system search tries ``libnurva.so.1`` and ``libnurva.so`` on Linux and
    ``NURVA_DLL.dll`` on Windows.
    """
    if path is None:
        path = os.environ.get(LIBRARY_ENV) or None
    tried: Sequence[str] = [os.fspath(path)] if path is not None else _candidates()
    errors: List[str] = []
    with _lock:
        for name in tried:
            if name in _loaded:
                return _loaded[name]
            try:
                lib = Library(name)
            except LibraryNotFound as e:
                errors.append(str(e))
                continue
            _loaded[name] = lib
            return lib
    hint = f" (set {LIBRARY_ENV} to the library file)" if path is None else ""
    raise LibraryNotFound("; ".join(errors) + hint)
