"""Loading the library, the export table, and what reaches the C calls."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

import nurva
from nurva._library import PROTOTYPES

REPO = Path(__file__).resolve().parents[2]


def test_every_listed_export_has_a_prototype_and_is_loaded() -> None:
    listed = [line.strip() for line in (REPO / "api" / "exports.txt").read_text().splitlines() if line.strip()]
    assert sorted(PROTOTYPES) == sorted(listed)
    lib = nurva.load_library()
    for name in listed:
        assert lib.function(name).argtypes is not None, name


@pytest.mark.parametrize(
    "path, message",
    [
        ("/nonexistent/libnurva.so", "cannot load"),
        # A real shared library that is not this one.
        (next(p for p in ("/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6") if os.path.exists(p)),
         "lacks AbortAll"),
    ],
)
def test_a_wrong_library_file_is_refused_with_a_reason(path: str, message: str) -> None:
    with pytest.raises(nurva.LibraryNotFound, match=message):
        nurva.load_library(path)


def test_the_library_path_comes_from_the_environment(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv(nurva.LIBRARY_ENV, "/nonexistent/from-env.so")
    with pytest.raises(nurva.LibraryNotFound, match="from-env.so"):
        nurva.Nurva()


def test_before_discovery_every_call_answers_not_connected() -> None:
    # A process of its own: this one has already run discovery.
    script = """
import nurva
h = nurva.Nurva()
p = h.programmer(0)
r = p.check()
print(r.res, r.text, r.ok)
s = p.status()
print(s.res, s.text)
print(h.channel_count(), h.serials())
job = p.program()
print(job.done, job.ok, list(job) == [], job.final is job.start)
"""
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"), PYTHONDONTWRITEBYTECODE="1")
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "5 USB not connected!! False",
        "5 USB not connected!!",
        "0 []",
        "True False True True",
    ]


@pytest.mark.parametrize("channel", [2**31, 2**32, -(2**31) - 1])
def test_a_channel_beyond_32_bits_is_refused_not_wrapped(host: nurva.Nurva, channel: int) -> None:
    # 2**32 would wrap to channel 0 and reach the first programmer.
    with pytest.raises(ValueError, match="32 bits"):
        host.programmer(channel)


@pytest.mark.parametrize(
    "call",
    [
        lambda p: p.read_back(nurva.tMemType.isFlash, 2**31),
        lambda p: p.read_file_block(nurva.tMemType.isFlash, 0, 2**32),
        lambda p: p.fuse(2**32 + ord("l")),
    ],
    ids=["address", "count", "selector"],
)
def test_arguments_beyond_32_bits_are_refused(host: nurva.Nurva, call) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(ValueError, match="32 bits"):
        call(host.programmer(0))


@pytest.mark.parametrize("name", ["DEMO.PACK\0rest", b"A\0B"])
def test_a_name_with_a_nul_is_refused_before_anything_is_sent(host: nurva.Nurva, name: object) -> None:
    p = host.programmer(0)
    for call in (p.check_file, p.open_file, p.delete_file, p.project_params, p.download):
        with pytest.raises(ValueError, match="NUL"):
            call(name)  # type: ignore[arg-type]


def test_names_are_8_bit_strings(host: nurva.Nurva) -> None:
    with pytest.raises(UnicodeEncodeError):
        host.programmer(0).check_file("\u20ac.PACK")
    with pytest.raises(TypeError):
        host.programmer(0).check_file(42)  # type: ignore[arg-type]
