"""Discovery, the channel list and the channel answers."""

from __future__ import annotations

import pytest

import nurva
from conftest import FILES, GOOD, SERIALS


def test_discovery_lists_the_programmers_and_reports_the_dropped_stranger(found: nurva.Discovery) -> None:
    assert found.channels == 4
    assert found.serials == SERIALS
    assert found.foreign_dropped is True


def test_programmers_follow_the_channels(host: nurva.Nurva) -> None:
    progs = host.programmers()
    assert [p.channel for p in progs] == [0, 1, 2, 3]
    # The programmer behind the dropped device moved up to channel 3.
    assert SERIALS[FILES] in progs[FILES].check().text


@pytest.mark.parametrize("channel", [-1, 4, 15, 16])
def test_a_channel_outside_the_list_answers_illegal_port(host: nurva.Nurva, channel: int) -> None:
    p = host.programmer(channel)
    for r in (p.check(), p.close_port(), p.status(), p.erase(), p.program().start):
        assert (r.code, r.text, r.ok) == (nurva.TPrgResult.noProg, "illegal port number", False), r


def test_close_port_closes_nothing(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    r = p.close_port()
    assert (r.code, r.text, r.ok) == (nurva.TPrgResult.resNone, "port closed", True)
    assert p.check().ok


def test_raise_on_error_raises_with_the_reply(strict: nurva.Nurva, host: nurva.Nurva) -> None:
    with pytest.raises(nurva.NurvaError) as e:
        strict.programmer(9).check()
    assert e.value.code == nurva.TPrgResult.noProg
    assert e.value.text == "illegal port number"
    assert e.value.reply.call == "CheckProgrammer"
    # The same call without it returns the failure; check() raises on demand.
    r = host.programmer(9).check()
    assert not r.ok
    with pytest.raises(nurva.NurvaError, match="illegal port number"):
        r.check()
    assert strict.programmer(GOOD).check().code == nurva.TPrgResult.MMCok
