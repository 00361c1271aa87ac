"""One export call: arguments checked and converted, the code and text read back."""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Any, Callable, Optional, Tuple, TypeVar, Union

from ._library import TEXT_BUFFER_SIZE, Library
from .reply import Reply

T = TypeVar("T")

# The value res holds before a call: no code has this number, so a call that writes no
# code is told apart from one that does.
_UNSET = -1

_I32_MIN = -(2**31)
_I32_MAX = 2**31 - 1

NameArg = Union[str, bytes]
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def int32(value: int, what: str) -> int:
    """``value`` as a 32-bit argument; a value the C type cannot hold is refused, not wrapped."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not _I32_MIN <= value <= _I32_MAX:
        raise ValueError(f"{what} {value} does not fit in 32 bits")
    return value


def c_string(value: NameArg, what: str) -> bytes:
    """A name as the library's 8-bit string; a NUL inside would cut it short unseen."""
    if isinstance(value, str):
        data = value.encode("latin-1")
    elif isinstance(value, bytes):
        data = value
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{what} must not hold a NUL character")
    return data


def c_path(value: PathArg) -> bytes:
    """A PC file path as the library opens it: the ANSI code page on Windows, the file
    system's encoding elsewhere."""
    if isinstance(value, bytes):
        data = value
    elif sys.platform == "win32":
        data = os.fsdecode(value).encode("mbcs")
    else:
        data = os.fsencode(value)
    if b"\0" in data:
        raise ValueError("file name must not hold a NUL character")
    return data


def decode(raw: bytes) -> str:
    """The library's 8-bit text, every byte kept."""
    return raw.decode("latin-1")


def invoke(lib: Library, name: str, *args: Any) -> Tuple[Optional[int], str]:
    """Calls the channel export ``name`` with ``args`` followed by res and the text buffer."""
    res = ctypes.c_int32(_UNSET)
    text = ctypes.create_string_buffer(TEXT_BUFFER_SIZE)
    lib.function(name)(*args, ctypes.byref(res), text)
    return (None if res.value == _UNSET else res.value), decode(text.value)


def reply(
    name: str,
    answer: Tuple[Optional[int], str],
    value: T,
    ok: Callable[[Optional[int]], bool],
    raise_on_error: bool,
) -> Reply[T]:
    res, text = answer
    r = Reply(call=name, res=res, text=text, value=value, ok=ok(res))
    if raise_on_error:
        r.check()
    return r
