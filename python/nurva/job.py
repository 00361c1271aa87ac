"""A program or verify job that runs on in the programmer after its start call."""

from __future__ import annotations

import time
from types import TracebackType
from typing import TYPE_CHECKING, Iterator, Optional, Type

from .codes import JOB_RUNNING, TPrgResult
from .reply import NurvaError, Reply

if TYPE_CHECKING:
    from .programmer import Programmer

# How long a job is followed unless the caller gives a limit, in seconds.
DEFAULT_JOB_TIMEOUT = 300.0

# Pause before polling again while another call holds the channel (the poll then answers
# "Busy" at once instead of waiting up to 50 ms for a status).
_BUSY_PAUSE = 0.01


class JobTimeout(TimeoutError):
    """The job sent no final status within the time limit."""


def _busy(r: Reply[None]) -> bool:
    return r.code == TPrgResult.progBusy and r.text == "Busy"


class Job:
    """A started job, followed with ``GetProgStatus``.

    Iterate over it to get each new status until the final one (included)::

        with programmer.program() as job:
            for status in job:
                print(status.text)
        print(job.ok)

    The job holds no busy mark on its channel: other calls may run on the channel
    meanwhile (a poll then answers "Busy" and is repeated). Leaving the ``with`` block
    without an exception follows the job to its end first, so no job is left running
    unnoticed.
    """

    def __init__(self, programmer: "Programmer", start: Reply[None], timeout: float = DEFAULT_JOB_TIMEOUT) -> None:
        self.programmer = programmer
        self.start = start
        self.timeout = timeout
        self._last: Reply[None] = start
        self._final: Optional[Reply[None]] = None if start.ok else start

    @property
    def started(self) -> bool:
        """Whether the programmer accepted the start."""
        return self.start.ok

    @property
    def last(self) -> Reply[None]:
        """The latest answer: the start reply until a status has come."""
        return self._last

    @property
    def final(self) -> Optional[Reply[None]]:
        """The status that ended the job (the refused start reply when it never ran);
        ``None`` while it runs."""
        return self._final

    @property
    def done(self) -> bool:
        return self._final is not None

    @property
    def ok(self) -> bool:
        """Whether the job has ended with "operation successful"."""
        return self._final is not None and self._final.code == TPrgResult.progDone

    def statuses(self, timeout: Optional[float] = None) -> Iterator[Reply[None]]:
        """Yields each status that differs from the one before, until the final one.

        Raises :class:`JobTimeout` when no final status has come within ``timeout``
        seconds (default: the job's own limit) of this call.
        """
        if self._final is not None:
            return
        until = time.monotonic() + (self.timeout if timeout is None else timeout)
        while True:
            # Each poll waits up to 50 ms for a status, which paces this loop.
            r = self.programmer.status(raise_on_error=False)
            if _busy(r):
                if time.monotonic() >= until:
                    raise JobTimeout(f"no final status within the time limit; last: {self._last}")
                time.sleep(_BUSY_PAUSE)
                continue
            # Until the first status comes the poll answers resOk with the start's text.
            changed = r.res != self._last.res or (r.text != self._last.text and r.code != TPrgResult.resOk)
            if changed:
                self._last = r
            if r.code not in JOB_RUNNING:
                self._final = r
                if changed:
                    yield r
                if self.programmer.raise_on_error and not self.ok:
                    raise NurvaError(r)
                return
            if changed:
                yield r
            if time.monotonic() >= until:
                raise JobTimeout(f"no final status within the time limit; last: {self._last}")

    def __iter__(self) -> Iterator[Reply[None]]:
        return self.statuses()

    def wait(self, timeout: Optional[float] = None) -> Reply[None]:
        """Follows the job to its end and returns the final status."""
        for _ in self.statuses(timeout):
            pass
        assert self._final is not None
        return self._final

    def __enter__(self) -> "Job":
        return self

    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        if exc_type is None and self._final is None:
            self.wait()
