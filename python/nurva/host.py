"""The library as a whole: discovery and the list of programmers."""

from __future__ import annotations

import ctypes
from dataclasses import dataclass, field
from typing import List, Optional, Union

from ._call import decode
from ._library import MAX_PROGRAMMERS, TEXT_BUFFER_SIZE, Library, PathArg, load_library
from .codes import TPrgResult
from .programmer import Programmer


@dataclass(frozen=True)
class Discovery:
    """What a discovery found.

    ``channels`` is the number of channels (programmers in the list, 0 to 16);
    ``serials`` the serial numbers the library lists, in channel order (a programmer
    whose serial number is 0 is left out, so the n-th serial is not always channel n);
    ``foreign_dropped`` is true when a device answered with another model name and was
    dropped: it says nothing about the programmers found.
    """

    channels: int
    serials: List[str] = field(default_factory=list)
    foreign_dropped: bool = False


class Nurva:
    """The NURVA library loaded into this process.

    ``library`` is a loaded :class:`Library` or the path of the library file; by default
    ``$NURVA_LIBRARY``, else the system's search. With ``raise_on_error`` every call that
    does not succeed raises :class:`~nurva.NurvaError` instead of returning its reply.
    The library keeps one list of programmers per process, so every ``Nurva`` on the same
    file shares it.
    """

    def __init__(self, library: Union[Library, PathArg, None] = None, *, raise_on_error: bool = False) -> None:
        self.lib = library if isinstance(library, Library) else load_library(library)
        self.raise_on_error = raise_on_error

    def discover(self) -> Discovery:
        """AbortAll: drops every link and finds the programmers afresh (one second or more).

        No other call may run meanwhile, on any thread.
        """
        dropped = bool(self.lib.function("AbortAll")())
        return Discovery(channels=self.channel_count(), serials=self.serials(), foreign_dropped=dropped)

    def serials(self) -> List[str]:
        """GetProgIDs: the serial numbers of the listed programmers (8 hexadecimal digits)."""
        count = ctypes.c_int32(0)
        text = ctypes.create_string_buffer(TEXT_BUFFER_SIZE)
        self.lib.function("GetProgIDs")(ctypes.byref(count), text)
        serials = [s for s in decode(text.value).split("\r\n") if s]
        return serials[: max(count.value, 0)]

    def channel_count(self) -> int:
        """The number of channels, asked of ClosePort (which touches no programmer)."""
        for channel in range(MAX_PROGRAMMERS):
            if self.programmer(channel, raise_on_error=False).close_port().code != TPrgResult.resNone:
                return channel
        return MAX_PROGRAMMERS

    def programmer(self, channel: int, *, raise_on_error: Optional[bool] = None) -> Programmer:
        """The programmer on ``channel`` (no check that the channel exists: its calls tell)."""
        return Programmer(self, channel, raise_on_error=raise_on_error)

    def programmers(self) -> List[Programmer]:
        """A programmer for each channel of the current list."""
        return [self.programmer(c) for c in range(self.channel_count())]
