"""Installs the package with pip from a copy of its source, without network, and imports it.

Run by the build's tests: python3 install_check.py. The copy keeps the source tree free
of build output.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent


def main() -> int:
    with tempfile.TemporaryDirectory(prefix="nurva-pip-") as tmp:
        src = Path(tmp) / "src"
        shutil.copytree(SOURCE, src, ignore=shutil.ignore_patterns("__pycache__", "tests", "*.egg-info", "build"))
        site = Path(tmp) / "site"
        env = dict(os.environ, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONDONTWRITEBYTECODE="1")
        pip = [sys.executable, "-m", "pip", "install", "--quiet", "--no-index", "--target", str(site), str(src)]
        run = subprocess.run(pip, env=env, capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            print("pip install failed:", run.stdout, run.stderr, sep="\n")
            return 1
        probe = (
            "import nurva, os, sys; d = os.path.dirname(nurva.__file__); "
            "assert d.startswith(sys.argv[1]), d; "
            "assert os.path.exists(os.path.join(d, 'py.typed')); "
            "assert len(nurva.TPrgResult) == 48; print(nurva.__version__)"
        )
        env["PYTHONPATH"] = str(site)
        run = subprocess.run([sys.executable, "-c", probe, str(site)], env=env, cwd=tmp, capture_output=True,
                             text=True, timeout=60)
        if run.returncode != 0:
            print("the installed package does not import:", run.stdout, run.stderr, sep="\n")
            return 1
        print("installed nurva", run.stdout.strip(), "into", site)
    return 0


if __name__ == "__main__":
    sys.exit(main())
