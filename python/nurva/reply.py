"""What every call answers: its code, its text and the values it read."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Generic, Optional, TypeVar

from .codes import TPrgResult

T = TypeVar("T")


@dataclass(frozen=True)
class Reply(Generic[T]):
    """The answer of one call.

    ``res`` is the number the library wrote (``None`` when the call reached no decision
    and left it unwritten), ``text`` its result text, ``value`` what the call read (a
    voltage, a fuse byte, a block of bytes, a list of names; ``None`` for plain commands)
    as the call left it, to be relied on when ``ok``, and ``ok`` whether the answer is
    the call's success.
    """

    call: str
    res: Optional[int]
    text: str
    value: T
    ok: bool

    @property
    def code(self) -> Optional[TPrgResult]:
        """``res`` as a result code; ``None`` when nothing was written."""
        if self.res is None:
            return None
        try:
            return TPrgResult(self.res)
        except ValueError:
            return None

    def check(self) -> "Reply[T]":
        """Returns this reply when it is a success, else raises :class:`NurvaError`."""
        if not self.ok:
            raise NurvaError(self)
        return self

    def __str__(self) -> str:
        code = self.code
        name = code.name if code is not None else ("no code" if self.res is None else "code")
        shown = "" if self.res is None else f" {self.res}"
        return f"{self.call}: {self.text!r} ({name}{shown})"


class NurvaError(Exception):
    """A call that did not succeed, raised by :meth:`Reply.check` or by ``raise_on_error``."""

    def __init__(self, reply: "Reply[Any]") -> None:
        super().__init__(str(reply))
        self.reply = reply

    @property
    def code(self) -> Optional[TPrgResult]:
        return self.reply.code

    @property
    def text(self) -> str:
        return self.reply.text
