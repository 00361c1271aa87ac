"""Programmer check and target control."""

from __future__ import annotations

import threading
import time
from typing import List

import pytest

import nurva
from conftest import FILES, GOOD, POWER_DOWN, SERIALS

R = nurva.TPrgResult


@pytest.mark.parametrize(
    "channel, method, code, text",
    [
        (GOOD, "check", R.MMCok, f"TESK at Port {SERIALS[GOOD]}"),
        (GOOD, "init_channel", R.progFound, "prog OK"),
        (GOOD, "release_target", R.resOk, "target release"),
        (POWER_DOWN, "check", R.MMCok, f"TESK at Port {SERIALS[POWER_DOWN]}"),
        (POWER_DOWN, "check_device", R.PwrDownErr, "power down"),
    ],
)
def test_check_calls(host: nurva.Nurva, channel: int, method: str, code: R, text: str) -> None:
    r = getattr(host.programmer(channel), method)()
    assert (r.code, r.text) == (code, text)
    assert r.ok == (code in (R.MMCok, R.progFound, R.resOk))


@pytest.mark.parametrize("channel, volts, text", [(GOOD, 3.3, "3.3"), (POWER_DOWN, 0.0, "0")])
def test_target_voltage_in_volts(host: nurva.Nurva, channel: int, volts: float, text: str) -> None:
    r = host.programmer(channel).target_voltage()
    assert (r.ok, r.value, r.text) == (True, pytest.approx(volts), text)


def test_fuse_value_and_refusal(host: nurva.Nurva) -> None:
    r = host.programmer(GOOD).fuse("l")
    assert r.ok and r.value == int(r.text, 16)
    assert host.programmer(GOOD).fuse(ord("l")).value == r.value
    refused = host.programmer(POWER_DOWN).fuse("l")
    assert (refused.ok, refused.code, refused.text) == (False, R.PwrDownErr, "device power down")


@pytest.mark.parametrize("selector", ["", "lh", "\u0100"])
def test_fuse_selector_is_one_8_bit_character(host: nurva.Nurva, selector: str) -> None:
    with pytest.raises(ValueError):
        host.programmer(GOOD).fuse(selector)


def test_check_device_sees_the_erased_target(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    assert p.erase().ok
    r = p.check_device()
    assert (r.ok, r.code, r.text) == (True, R.resOk, "empty")


def test_channels_run_side_by_side_and_a_busy_one_says_so(host: nurva.Nurva) -> None:
    files = host.programmer(FILES)
    listing: List[nurva.Reply[List[str]]] = []
    t = threading.Thread(target=lambda: listing.append(files.file_names()))
    t.start()
    try:
        time.sleep(0.3)  # the listing takes at least 1.5 s
        t0 = time.monotonic()
        other = host.programmer(GOOD).check()
        took = time.monotonic() - t0
        same = files.check()
    finally:
        t.join(30)
    assert other.ok and took < 1.0, took
    assert (same.code, same.text) == (R.progBusy, "Busy")
    assert listing and listing[0].ok
