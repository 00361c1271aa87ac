"""Result codes of the library and the memories of the target."""

from __future__ import annotations

import enum


class TPrgResult(enum.IntEnum):
    """The code a call writes to its ``res``; the same values as ``NURVA_RES_*`` in NURVA_DLL.h."""

    resNone = 0
    resOk = 1
    progDone = 2
    noProg = 3
    progFound = 4
    progBusy = 5
    progDefect = 6
    progIdle = 7
    progComErr = 8
    progTimeOutErr = 9
    PwrDownErr = 10
    PwrSupplyErr = 11
    SignatureErr = 12
    invPassword = 13
    limitExc = 14
    eraChip = 15
    eraFlash = 16
    eraEEp = 17
    eraUsrRow = 18
    ProtectedErr = 19
    NotEmptyErr = 20
    prgFlash = 21
    prgEEp = 22
    prgUsrRow = 23
    verifyFlash = 24
    verifyEEp = 25
    verifyUsrRow = 26
    VerifyErr = 27
    dwnLoading = 28
    ParmErr = 29
    dwnLoadErrF = 30
    dwnLoadErrE = 31
    dwnLoadErrU = 32
    invFile = 33
    invFName = 34
    FileExist = 35
    FileNotFound = 36
    FileErr = 37
    FileDwnErr = 38
    MMCok = 39
    MMCprotected = 40
    MMCnoMedia = 41
    MMCmissing = 42
    MMCinitFailed = 43
    MMCresetFailed = 44
    MMCcheckFailed = 45
    MMCnoProg = 46
    MMCprogBusy = 47


# The status codes of a program or verify job that has not ended yet.
JOB_RUNNING = frozenset(
    {
        TPrgResult.resOk,
        TPrgResult.eraChip,
        TPrgResult.prgFlash,
        TPrgResult.prgEEp,
        TPrgResult.prgUsrRow,
        TPrgResult.verifyFlash,
        TPrgResult.verifyEEp,
        TPrgResult.verifyUsrRow,
    }
)


class tMemType(enum.IntEnum):
    """A memory of the target, chosen for the read-back and block calls."""

    isFlash = 1
    isEEprom = 2
    isUsrRow = 3

    @property
    def suffix(self) -> str:
        """The last letter of the export names for this memory (F, E, U)."""
        return {tMemType.isFlash: "F", tMemType.isEEprom: "E", tMemType.isUsrRow: "U"}[self]
