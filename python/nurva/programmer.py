"""One programmer, reached through its channel number."""

from __future__ import annotations

import ctypes
from typing import TYPE_CHECKING, Callable, FrozenSet, List, Optional, Tuple, TypeVar, Union

from . import _call
from ._call import NameArg, PathArg, int32, invoke
from .codes import JOB_RUNNING, TPrgResult, tMemType
from .job import DEFAULT_JOB_TIMEOUT, Job
from .reply import Reply

if TYPE_CHECKING:
    from .host import Nurva

_OK = frozenset({TPrgResult.resOk})

# Bytes of one Flash or user-row block (program blocks, read back).
PAGE_SIZE = 256


T = TypeVar("T")


def _codes(ok: FrozenSet[TPrgResult]) -> Callable[[Optional[int]], bool]:
    def test(res: Optional[int]) -> bool:
        return res is not None and res in ok

    return test


def _lines(text: str) -> List[str]:
    """The non-empty lines of a CR LF list."""
    return [line for line in text.split("\r\n") if line]


def _report_lines(text: str) -> List[str]:
    """Every line of a report, empty ones kept so that each stays in its place."""
    lines = text.split("\r\n")
    return lines[:-1] if lines and lines[-1] == "" else lines


class Programmer:
    """The programmer on one channel, with a method for each channel export.

    Every method returns a :class:`~nurva.Reply`; with ``raise_on_error`` a reply that
    is not the call's success raises :class:`~nurva.NurvaError` instead. The start
    commands of program and verify jobs return a :class:`~nurva.Job`.
    """

    def __init__(self, host: "Nurva", channel: int, *, raise_on_error: Optional[bool] = None) -> None:
        self.host = host
        self.channel = int32(channel, "channel")
        self.raise_on_error: bool = host.raise_on_error if raise_on_error is None else raise_on_error

    def __repr__(self) -> str:
        return f"Programmer(channel={self.channel})"

    def _plain(
        self, name: str, ok: FrozenSet[TPrgResult] = _OK, raise_on_error: Optional[bool] = None
    ) -> Reply[None]:
        answer = invoke(self.host.lib, name, self.channel)
        return self._reply(name, answer, None, ok, raise_on_error)

    def _reply(
        self,
        name: str,
        answer: Tuple[Optional[int], str],
        value: T,
        ok: FrozenSet[TPrgResult] = _OK,
        raise_on_error: Optional[bool] = None,
    ) -> Reply[T]:
        strict = self.raise_on_error if raise_on_error is None else raise_on_error
        return _call.reply(name, answer, value, _codes(ok), strict)

    # Channel

    def close_port(self) -> Reply[None]:
        """ClosePort: "port closed" with resNone when the channel exists; closes nothing."""
        return self._plain("ClosePort", frozenset({TPrgResult.resNone}))

    # Programmer check and target control

    def check(self) -> Reply[None]:
        """CheckProgrammer: the programmer and its card; success is MMCok."""
        return self._plain("CheckProgrammer", frozenset({TPrgResult.MMCok}))

    def init_channel(self) -> Reply[None]:
        """InitChannel: prepares the channel for a new job; success is progFound ("prog OK")."""
        return self._plain("InitChannel", frozenset({TPrgResult.progFound}))

    def release_target(self) -> Reply[None]:
        """ReleaseTarget: lets go of the target."""
        return self._plain("ReleaseTarget")

    def check_device(self) -> Reply[None]:
        """CheckDevice: the state of the target against the open project."""
        return self._plain("CheckDevice")

    def target_voltage(self) -> Reply[float]:
        """GetTargVolt: the target supply in volts (the library counts in 10 mV)."""
        volt = ctypes.c_int32(0)
        answer = invoke(self.host.lib, "GetTargVolt", self.channel, ctypes.byref(volt))
        return self._reply("GetTargVolt", answer, volt.value / 100)

    def fuse(self, selector: Union[str, int]) -> Reply[int]:
        """GetFuses: one fuse byte; ``selector`` is the programmer's selector character
        (for the virtual programmer ``'l'``, ``'h'``, ``'e'``, ``'0'``..``'9'``, ``'k'``)."""
        if isinstance(selector, str):
            if len(selector) != 1 or ord(selector) > 0xFF:
                raise ValueError("selector must be one 8-bit character")
            sel = ord(selector)
        else:
            sel = int32(selector, "selector")
        fuse = ctypes.c_int32(0)
        answer = invoke(self.host.lib, "GetFuses", self.channel, sel, ctypes.byref(fuse))
        return self._reply("GetFuses", answer, fuse.value)

    # Project files on the card

    def file_names(self) -> Reply[List[str]]:
        """GetFileNames: the names the card lists (empty lines left out)."""
        answer = invoke(self.host.lib, "GetFileNames", self.channel)
        return self._reply("GetFileNames", answer, _lines(answer[1]))

    def check_file(self, name: NameArg) -> Reply[None]:
        """CheckAfile: whether ``name`` is a whole project file on the card."""
        return self._named("CheckAfile", name)

    def open_file(self, name: NameArg) -> Reply[None]:
        """OpenAfile: opens the project ``name`` for the jobs and block calls."""
        return self._named("OpenAfile", name)

    def close_file(self) -> Reply[None]:
        """CloseAfile: closes the open project."""
        return self._plain("CloseAfile")

    def delete_file(self, name: NameArg) -> Reply[None]:
        """DeleteAfile: deletes ``name`` from the card."""
        return self._named("DeleteAfile", name)

    def file_state(self) -> Reply[Optional[str]]:
        """GetFileState: the open project's name, or ``None`` when none is open ("file
        closed"); both are a success."""
        res, text = answer = invoke(self.host.lib, "GetFileState", self.channel)
        value = text if res == TPrgResult.resOk else None
        return self._reply("GetFileState", answer, value, frozenset({TPrgResult.resOk, TPrgResult.invFName}))

    def project_params(self, name: NameArg) -> Reply[List[str]]:
        """GetProjParams: the settings of project ``name`` as the report's twelve lines."""
        answer = invoke(self.host.lib, "GetProjParams", self.channel, _call.c_string(name, "file name"))
        ok = answer[0] == TPrgResult.resOk
        return self._reply("GetProjParams", answer, _report_lines(answer[1]) if ok else [])

    def download(self, path: PathArg) -> Reply[None]:
        """DownloadFile: copies the PC file at ``path`` onto the card."""
        answer = invoke(self.host.lib, "DownloadFile", self.channel, _call.c_path(path))
        return self._reply("DownloadFile", answer, None)

    def _named(self, name: str, file_name: NameArg) -> Reply[None]:
        answer = invoke(self.host.lib, name, self.channel, _call.c_string(file_name, "file name"))
        return self._reply(name, answer, None)

    # Erase, program and verify

    def erase(self) -> Reply[None]:
        """EraseDevice: erases the chip."""
        return self._plain("EraseDevice")

    def erase_x(self) -> Reply[None]:
        """EraseDeviceX: the erase variant 'G'."""
        return self._plain("EraseDeviceX")

    def erase_usr_row(self) -> Reply[None]:
        """EraseDeviceUsr: erases the user signature row."""
        return self._plain("EraseDeviceUsr")

    def _start(self, name: str, timeout: float) -> Job:
        return Job(self, self._plain(name), timeout)

    def program(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """ProgDevice: starts programming everything the open project holds."""
        return self._start("ProgDevice", timeout)

    def program_flash(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """ProgFlash: starts programming the Flash."""
        return self._start("ProgFlash", timeout)

    def program_eeprom(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """ProgEEprom: starts programming the EEprom."""
        return self._start("ProgEEprom", timeout)

    def program_usr_row(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """ProgUsrRow: starts programming the user signature row."""
        return self._start("ProgUsrRow", timeout)

    def verify(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """VerifyDevice: starts verifying everything against the open project."""
        return self._start("VerifyDevice", timeout)

    def verify_flash(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """VerifyFlashOnly: starts verifying the Flash."""
        return self._start("VerifyFlashOnly", timeout)

    def verify_eeprom(self, timeout: float = DEFAULT_JOB_TIMEOUT) -> Job:
        """VerifyEEpromOnly: starts verifying the EEprom."""
        return self._start("VerifyEEpromOnly", timeout)

    def program_fuses(self) -> Reply[None]:
        """ProgFuses: writes the project's fuses (one step, no status follows)."""
        return self._plain("ProgFuses")

    def program_lock_bits(self) -> Reply[None]:
        """ProgLockBits: writes the project's lock bits (one step, no status follows)."""
        return self._plain("ProgLockBits")

    def status(self, raise_on_error: Optional[bool] = None) -> Reply[None]:
        """GetProgStatus: the running job's next status; a success while the job runs and
        when it has ended with progDone."""
        return self._plain("GetProgStatus", JOB_RUNNING | {TPrgResult.progDone}, raise_on_error)

    # Read back and block transfers

    def read_back(self, memory: tMemType, address: int, count: int = PAGE_SIZE) -> Reply[bytes]:
        """ReadBackChipF/E/U: one block of the target's memory from ``address`` (the
        programmer's unit). Flash and user row blocks are always 256 bytes; an EEprom
        block is ``count`` bytes (1 to 256)."""
        memory = tMemType(memory)
        address = int32(address, "address")
        name = "ReadBackChip" + memory.suffix
        if memory == tMemType.isEEprom:
            count = int32(count, "count")
            buf = (ctypes.c_uint8 * (count if 1 <= count <= PAGE_SIZE else 1))()
            answer = invoke(self.host.lib, name, self.channel, buf, address, count)
        else:
            if count != PAGE_SIZE:
                raise ValueError(f"a {memory.name} read back is {PAGE_SIZE} bytes")
            buf = (ctypes.c_uint8 * PAGE_SIZE)()
            answer = invoke(self.host.lib, name, self.channel, buf, address)
        data = bytes(buf) if answer[0] is not None and answer[0] != TPrgResult.ParmErr else b""
        return self._reply(name, answer, data)

    def write_block(self, memory: tMemType, address: int, data: bytes) -> Reply[None]:
        """DownProgBlockF/E/U: programs one block into the target at ``address``: 256
        bytes for Flash and user row, 1 to 256 for EEprom."""
        memory = tMemType(memory)
        address = int32(address, "address")
        name = "DownProgBlock" + memory.suffix
        if memory == tMemType.isEEprom:
            answer = invoke(self.host.lib, name, self.channel, _in_buffer(data), address, len(data))
        else:
            if len(data) != PAGE_SIZE:
                raise ValueError(f"a {memory.name} program block is {PAGE_SIZE} bytes, not {len(data)}")
            answer = invoke(self.host.lib, name, self.channel, _in_buffer(data), address)
        return self._reply(name, answer, None)

    def overwrite_block(self, memory: tMemType, address: int, data: bytes) -> Reply[None]:
        """DownOverBlockF/E/U: writes 1 to 32 bytes within one 256-byte page over the target."""
        return self._block("DownOverBlock", memory, address, data)

    def write_file_block(self, memory: tMemType, address: int, data: bytes) -> Reply[None]:
        """DownFileBlockF/E/U: writes 0 to 65535 bytes into the open project's image."""
        return self._block("DownFileBlock", memory, address, data)

    def read_file_block(self, memory: tMemType, address: int, count: int) -> Reply[bytes]:
        """UpFileBlockF/E/U: ``count`` bytes (0 to 65535) of the open project's image."""
        memory = tMemType(memory)
        address = int32(address, "address")
        count = int32(count, "count")
        name = "UpFileBlock" + memory.suffix
        # The library refuses a count outside 0..65535 before it touches the buffer.
        buf = (ctypes.c_uint8 * (count if 0 < count <= 0xFFFF else 1))()
        answer = invoke(self.host.lib, name, self.channel, buf, address, count)
        data = bytes(buf)[: max(count, 0)] if answer[0] not in (None, TPrgResult.ParmErr) else b""
        return self._reply(name, answer, data)

    def _block(self, family: str, memory: tMemType, address: int, data: bytes) -> Reply[None]:
        memory = tMemType(memory)
        address = int32(address, "address")
        name = family + memory.suffix
        answer = invoke(self.host.lib, name, self.channel, _in_buffer(data), address, len(data))
        return self._reply(name, answer, None)


def _in_buffer(data: bytes) -> "ctypes.Array[ctypes.c_uint8]":
    """The bytes in a C buffer of their own (never empty, so the pointer is never null)."""
    raw = bytes(data)
    buf = (ctypes.c_uint8 * max(len(raw), 1))()
    ctypes.memmove(buf, raw, len(raw))
    return buf
