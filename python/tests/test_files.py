"""Project files on the card: listing, state, check, open and close, download, delete."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest

import nurva
from conftest import FILES, SAMPLE, Sim

R = nurva.TPrgResult


def test_listing_state_and_report(host: nurva.Nurva) -> None:
    p = host.programmer(FILES)
    names = p.file_names()
    assert (names.ok, names.value) == (True, [SAMPLE])
    assert (p.file_state().value, p.check_file(SAMPLE).text) == (SAMPLE, "File check ok")
    report = p.project_params(SAMPLE)
    assert report.ok and len(report.value) == 12
    assert (report.value[0], report.value[8], report.value[9]) == ("demo blink", "yes", "SPI")
    missing = p.project_params("NOPE.PACK")
    assert (missing.ok, missing.value) == (False, [])


def test_close_and_open(host: nurva.Nurva) -> None:
    p = host.programmer(FILES)
    assert p.close_file().ok
    state = p.file_state()
    # No open project is an answer, not a failure.
    assert (state.ok, state.value, state.text) == (True, None, "file closed")
    assert p.open_file("NOPE.PACK").code == R.FileNotFound
    assert p.open_file(SAMPLE).text == "file open"
    assert p.file_state().value == SAMPLE


def test_download_and_delete(host: nurva.Nurva, sim: Sim, tmp_path: Path) -> None:
    p = host.programmer(FILES)
    copy = tmp_path / "Copy.pack"
    shutil.copy(sim.card(FILES) / SAMPLE, copy)
    assert p.check_file("COPY.PACK").ok is False
    assert p.download(copy).text == "ok"
    assert p.check_file("COPY.PACK").ok
    # The card name keeps the name's case and puts the extension in capitals.
    assert (sim.card(FILES) / "Copy.PACK").read_bytes() == copy.read_bytes()
    assert p.delete_file("COPY.PACK").text == "File deleted"
    assert p.delete_file("COPY.PACK").code == R.FileErr
    assert not (sim.card(FILES) / "Copy.PACK").exists()


@pytest.mark.parametrize(
    "name, text",
    [("missing.pack", "File not found"), ("notes.txt", "invalid file name")],
)
def test_download_refusals(host: nurva.Nurva, tmp_path: Path, name: str, text: str) -> None:
    path = tmp_path / name
    if name.endswith(".txt"):
        path.write_text("x")
    r = host.programmer(FILES).download(str(path))
    assert (r.ok, r.code, r.text) == (False, R.invFName, text)


def test_a_report_with_an_empty_line_keeps_every_line_in_its_place(
    host: nurva.Nurva, tmp_path: Path
) -> None:
    flash = tmp_path / "f.bin"
    flash.write_bytes(bytes(64))
    project = tmp_path / "plain.pack"
    made = subprocess.run([os.environ["NURVA_SIM"], "mkproj", "-o", str(project), "--device", "ATmega328P",
                           "--flash", str(flash), "--name", "plain"], capture_output=True, text=True, timeout=30)
    assert made.returncode == 0, made.stderr
    p = host.programmer(FILES)
    assert p.download(project).ok
    try:
        report = p.project_params("plain.PACK")
        assert report.ok
        assert len(report.value) == 12, report.value
        # Name, the two dates, the empty info text, then the clock.
        assert (report.value[0], report.value[3], report.value[4]) == ("plain", "", "1 MHz")
    finally:
        assert p.delete_file("plain.PACK").ok
