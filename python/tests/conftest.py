"""One virtual programmer bus for the whole test session.

The library comes from $NURVA_LIBRARY and the simulator from $NURVA_SIM (the build sets
both). The bus holds, in device order:

  0  "NURVA Prog" 4E520001  sample project open, fast jobs
  1  "NURVA P/R"  4E520002  sample project open, target without power
  2  "NURVA Prog" 4E520003  sample project open, fast jobs, a cell that verifies wrong
  -  a device with another model name, dropped by discovery
  3  "NURVA Prog" 4E520004  sample project open (the file and file-block tests)
"""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Iterator

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

import nurva  # noqa: E402

SERIALS = ["4E520001", "4E520002", "4E520003", "4E520004"]
GOOD, POWER_DOWN, VERIFY_ERROR, FILES = 0, 1, 2, 3
SAMPLE = "DEMO.PACK"


class Sim:
    def __init__(self, root: Path) -> None:
        self.root = root
        self.bus = root / "bus"
        self.bus.mkdir()
        self.log = root / "sim.log"

    def card(self, channel: int) -> Path:
        return self.root / f"card{channel}"


def _sim_binary() -> str:
    sim = os.environ.get("NURVA_SIM")
    if not sim or not os.access(sim, os.X_OK):
        pytest.exit("set NURVA_SIM to the nurva-sim program (and NURVA_LIBRARY to libnurva.so)", 2)
    return sim


@pytest.fixture(scope="session")
def sim() -> Iterator[Sim]:
    root = Path(tempfile.mkdtemp(prefix="nurva-py-"))
    s = Sim(root)
    specs = [
        f"serial={SERIALS[0]},model=prog,card={s.card(0)},sample,job-speed=50,name=nurva-sim-00",
        f"serial={SERIALS[1]},model=pr,card={s.card(1)},sample,fault=power-down,name=nurva-sim-01",
        f"serial={SERIALS[2]},model=prog,card={s.card(2)},sample,job-speed=50,fault=verify-error,name=nurva-sim-02",
        f"serial=4E520009,model=OTHER PROG,card={s.card(9)},name=nurva-sim-03",
        f"serial={SERIALS[3]},model=prog,card={s.card(3)},sample,name=nurva-sim-04",
    ]
    args = [_sim_binary(), "--dir", str(s.bus)]
    for spec in specs:
        args += ["--programmer", spec]
    with open(s.log, "wb") as log:
        proc = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 10
        while not all((s.bus / f"nurva-sim-0{i}").exists() for i in range(len(specs))):
            if proc.poll() is not None or time.monotonic() > deadline:
                pytest.exit("nurva-sim did not start: " + s.log.read_text(errors="replace"), 2)
            time.sleep(0.02)
        os.environ["NURVA_VUSB_DIR"] = str(s.bus)
        yield s
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        shutil.rmtree(root, ignore_errors=True)


@pytest.fixture(scope="session")
def found(sim: Sim) -> nurva.Discovery:
    return nurva.Nurva().discover()


@pytest.fixture
def host(found: nurva.Discovery) -> nurva.Nurva:
    return nurva.Nurva()


@pytest.fixture
def strict(found: nurva.Discovery) -> nurva.Nurva:
    return nurva.Nurva(raise_on_error=True)
