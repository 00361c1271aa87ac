"""Erase, program and verify jobs, and following them."""

from __future__ import annotations

import time
from typing import List, Optional, Tuple

import pytest

import nurva
from conftest import GOOD, POWER_DOWN, VERIFY_ERROR
from nurva import Job, Reply

R = nurva.TPrgResult


def _assert_followed(statuses: List[Reply[None]], job: Job) -> None:
    assert statuses, "no status came"
    assert statuses[-1] is job.final
    assert all(s.code in nurva.JOB_RUNNING for s in statuses[:-1])
    pairs = [(s.res, s.text) for s in statuses]
    assert all(a != b for a, b in zip(pairs, pairs[1:])), pairs


def test_program_then_verify_is_followed_to_success(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    with p.program() as job:
        assert (job.started, job.start.text) == (True, "programming")
        statuses = list(job)
    _assert_followed(statuses, job)
    assert R.prgFlash in [s.code for s in statuses]
    assert (job.ok, job.final and job.final.text) == (True, "operation successful")

    # Leaving the block without iterating follows the job to its end.
    with p.verify() as verify:
        assert verify.start.text == "verifying"
    assert verify.done and verify.ok


@pytest.mark.parametrize(
    "method, start_text",
    [
        ("program_flash", "prog Flash"),
        ("program_eeprom", "prog EEprom"),
        ("verify_flash", "verifying"),
        ("verify_eeprom", "verifying"),
    ],
)
def test_memory_jobs_end_with_success(host: nurva.Nurva, method: str, start_text: str) -> None:
    p = host.programmer(GOOD)
    if method == "program_flash":
        assert p.erase().ok  # Flash is programmed only when erased
    job = getattr(p, method)()
    assert job.start.text == start_text
    assert job.wait().code == R.progDone


def test_one_step_commands_and_erase(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    assert (p.program_fuses().text, p.erase().text, p.erase_x().text) == (
        "fuses programmed", "chip erased", "chip erased")
    # Lock bits would protect this chip for the other tests: refused on the unpowered one.
    q = host.programmer(POWER_DOWN)
    for r in (q.program_lock_bits(), q.erase_usr_row()):
        assert (r.ok, r.code) == (False, R.PwrDownErr), r


def test_a_refused_start_has_no_statuses(host: nurva.Nurva, strict: nurva.Nurva) -> None:
    job = host.programmer(POWER_DOWN).program()
    assert (job.started, job.done, job.ok) == (False, True, False)
    assert list(job) == [] and job.wait() is job.start
    assert (job.start.code, job.start.text) == (R.PwrDownErr, "device power down")
    # The user row has no image in the sample project.
    assert host.programmer(GOOD).program_usr_row().start.code == R.FileErr
    with pytest.raises(nurva.NurvaError, match="device power down"):
        strict.programmer(POWER_DOWN).program()


def test_a_job_that_fails_ends_with_its_error(host: nurva.Nurva, strict: nurva.Nurva) -> None:
    p = host.programmer(VERIFY_ERROR)
    assert p.program().wait().code == R.progDone
    job = p.verify()
    statuses = list(job)
    _assert_followed(statuses, job)
    assert (job.ok, statuses[-1].code, statuses[-1].text) == (False, R.VerifyErr, "Verify error")
    with pytest.raises(nurva.NurvaError, match="Verify error"):
        strict.programmer(VERIFY_ERROR).verify().wait()


def test_following_a_job_is_bounded(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    job = p.program()
    with pytest.raises(nurva.JobTimeout):
        job.wait(timeout=0)
    assert not job.done
    assert job.wait().code == R.progDone


def test_an_exception_in_the_block_leaves_the_job_unfollowed(host: nurva.Nurva) -> None:
    p = host.programmer(GOOD)
    with pytest.raises(KeyError):
        with p.program() as job:
            raise KeyError("stop")
    assert not job.done
    job.wait()


# Following a job against scripted polls: the change rule, "Busy" and the end.


class Scripted:
    def __init__(self, polls: List[Tuple[int, str]], raise_on_error: bool = False) -> None:
        self.polls = list(polls)
        self.raise_on_error = raise_on_error
        self.calls = 0

    def status(self, raise_on_error: Optional[bool] = None) -> Reply[None]:
        self.calls += 1
        res, text = self.polls.pop(0) if self.polls else (5, "Busy")
        ok = res in nurva.JOB_RUNNING or res == R.progDone
        return Reply("GetProgStatus", res, text, None, ok)


START = Reply("ProgDevice", 1, "programming", None, True)


@pytest.mark.parametrize(
    "polls, shown",
    [
        # Before the first status the poll repeats resOk with an older text: no change.
        ([(1, "TESK found"), (15, "erase Chip"), (15, "erase Chip"), (21, "prog Flash"), (2, "operation successful")],
         [15, 21, 2]),
        # "Busy" (another call holds the channel) is neither a status nor the end.
        ([(5, "Busy"), (21, "prog Flash"), (5, "Busy"), (21, "prog Flash"), (2, "operation successful")], [21, 2]),
        ([(21, "prog Flash"), (22, "prog EEprom"), (27, "Verify error")], [21, 22, 27]),
        # Other answers with code 5 end the job: there is no list any more.
        ([(21, "prog Flash"), (5, "USB not connected!!")], [21, 5]),
        ([(9, "progTimeOutError")], [9]),
    ],
    ids=["repeats", "busy", "error", "not-connected", "at-once"],
)
def test_statuses_shown_and_the_end(polls: List[Tuple[int, str]], shown: List[int]) -> None:
    prog = Scripted(polls)
    job = Job(prog, START)  # type: ignore[arg-type]
    assert [s.res for s in job] == shown
    assert job.final is not None and job.final.res == shown[-1]
    assert job.ok == (shown[-1] == R.progDone)
    assert prog.polls == []
    assert list(job) == []  # ended: no more polls
    assert prog.calls == len(polls)


def test_strict_job_raises_at_a_failed_end() -> None:
    job = Job(Scripted([(21, "prog Flash"), (12, "Wrong signature")], raise_on_error=True), START)  # type: ignore[arg-type]
    seen = []
    with pytest.raises(nurva.NurvaError, match="Wrong signature"):
        for s in job:
            seen.append(s.res)
    assert seen == [21, 12]


def test_a_channel_busy_for_ever_times_out() -> None:
    job = Job(Scripted([]), START, timeout=0.1)  # type: ignore[arg-type]
    t0 = time.monotonic()
    with pytest.raises(nurva.JobTimeout):
        job.wait()
    assert time.monotonic() - t0 < 2.0
