"""Python binding of the NURVA host library for USB device programmers.

    import nurva

    host = nurva.Nurva()                 # $NURVA_LIBRARY or the system's libnurva / NURVA_DLL
    found = host.discover()
    prog = host.programmer(0)
    print(prog.check())
    with prog.program() as job:
        for status in job:
            print(status.text)
"""

from ._library import LIBRARY_ENV, Library, LibraryNotFound, load_library
from .codes import JOB_RUNNING, TPrgResult, tMemType
from .host import Discovery, Nurva
from .job import DEFAULT_JOB_TIMEOUT, Job, JobTimeout
from .programmer import PAGE_SIZE, Programmer
from .reply import NurvaError, Reply

__version__ = "0.1.0"

__all__ = [
    "DEFAULT_JOB_TIMEOUT",
    "Discovery",
    "JOB_RUNNING",
    "Job",
    "JobTimeout",
    "LIBRARY_ENV",
    "Library",
    "LibraryNotFound",
    "Nurva",
    "NurvaError",
    "PAGE_SIZE",
    "Programmer",
    "Reply",
    "TPrgResult",
    "load_library",
    "tMemType",
]
