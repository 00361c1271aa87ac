"""Read back and block transfers on the three memories."""

from __future__ import annotations

import pytest

import nurva
from conftest import FILES, GOOD, POWER_DOWN

R = nurva.TPrgResult
F, E, U = nurva.tMemType.isFlash, nurva.tMemType.isEEprom, nurva.tMemType.isUsrRow


def test_programmed_flash_reads_back_as_the_project_image(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    assert p.program().wait().code == R.progDone
    chip = p.read_back(F, 0)
    image = p.read_file_block(F, 0, 256)
    assert chip.ok and image.ok
    assert len(chip.value) == 256 and chip.value == image.value


def test_program_and_over_blocks_reach_the_target(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    block = bytes(range(256))
    assert p.write_block(F, 0x200, block).ok
    assert p.read_back(F, 0x200).value == block
    assert p.write_block(E, 0x40, b"\x11" * 16).ok
    assert p.overwrite_block(E, 0x44, b"ABCD").ok
    assert p.read_back(E, 0x40, 16).value == b"\x11" * 4 + b"ABCD" + b"\x11" * 8


def test_file_blocks_round_trip(host: nurva.Nurva) -> None:
    p = host.programmer(FILES)
    for memory, address, data in ((E, 8, b"hello"), (F, 0x300, bytes(range(64)))):
        assert p.write_file_block(memory, address, data).ok
        assert p.read_file_block(memory, address, len(data)).value == data
    assert p.read_file_block(E, 0, 0).value == b""


@pytest.mark.parametrize(
    "call",
    [
        lambda p: p.read_back(E, 0, 0),
        lambda p: p.read_back(E, 0, 257),
        lambda p: p.write_block(E, 0, b""),
        lambda p: p.write_block(E, 0, bytes(257)),
        lambda p: p.overwrite_block(F, 0x1F0, bytes(17)),  # crosses a page
        lambda p: p.overwrite_block(U, 0, bytes(33)),
        lambda p: p.overwrite_block(E, 0, b""),
        lambda p: p.write_file_block(F, 0, bytes(65536)),
        lambda p: p.read_file_block(F, 0, 65536),
        lambda p: p.read_file_block(U, 0, -1),
    ],
    ids=["rb-0", "rb-257", "prog-0", "prog-257", "over-cross", "over-33", "over-0", "down-64k", "up-64k", "up-neg"],
)
def test_counts_out_of_range_are_the_librarys_parameter_error(host: nurva.Nurva, call) -> None:  # type: ignore[no-untyped-def]
    r = call(host.programmer(GOOD))
    assert (r.ok, r.code, r.text) == (False, R.ParmErr, "parameter error")
    assert getattr(r, "value", None) in (None, b"")


def test_flash_and_user_row_blocks_are_whole_pages(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    for memory in (F, U):
        with pytest.raises(ValueError, match="256"):
            p.write_block(memory, 0, bytes(255))
        with pytest.raises(ValueError, match="256"):
            p.read_back(memory, 0, 128)


def test_a_target_without_power_refuses_blocks(host: nurva.Nurva) -> None:
    p = host.programmer(POWER_DOWN)
    for r in (p.write_block(U, 0, bytes(256)), p.read_back(U, 0)):
        assert (r.ok, r.code) == (False, R.PwrDownErr), r
