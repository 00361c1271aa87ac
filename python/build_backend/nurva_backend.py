"""A build backend on the standard library alone, so the package installs with no network.

It knows this one pure-Python package: the wheel holds the files of ``nurva/`` and the
metadata taken from ``pyproject.toml``; the sdist holds the source tree.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import sys
import tarfile
import zipfile
from typing import Any, Dict, List, Optional, Tuple

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "nurva"
_SDIST_PARTS = ["pyproject.toml", "README.md", "build_backend", _PACKAGE, "tests"]


def _project() -> Dict[str, Any]:
    path = os.path.join(_ROOT, "pyproject.toml")
    if sys.version_info >= (3, 11):
        import tomllib

        with open(path, "rb") as f:
            return dict(tomllib.load(f)["project"])
    # Older Pythons: the few plain `key = "value"` lines of [project] are enough.
    project: Dict[str, Any] = {}
    section = ""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line
            elif section == "[project]" and "=" in line and line.split("=", 1)[1].strip().startswith('"'):
                key, value = (s.strip() for s in line.split("=", 1))
                project[key] = value.strip('"')
    return project


def _metadata() -> str:
    p = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}"]
    if "description" in p:
        lines.append(f"Summary: {p['description']}")
    if "requires-python" in p:
        lines.append(f"Requires-Python: {p['requires-python']}")
    for c in p.get("classifiers", []):
        lines.append(f"Classifier: {c}")
    readme = os.path.join(_ROOT, str(p.get("readme", "README.md")))
    body = ""
    if os.path.exists(readme):
        lines.append("Description-Content-Type: text/markdown")
        with open(readme, encoding="utf-8") as f:
            body = f.read()
    return "\n".join(lines) + "\n\n" + body


def _dist_name() -> str:
    p = _project()
    return f"{p['name']}-{p['version']}"


def _package_files() -> List[str]:
    files = []
    for folder, dirs, names in os.walk(os.path.join(_ROOT, _PACKAGE)):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for n in sorted(names):
            if not n.endswith((".pyc", ".pyo")):
                files.append(os.path.relpath(os.path.join(folder, n), _ROOT).replace(os.sep, "/"))
    return files


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    return []


def _write_dist_info(directory: str) -> str:
    info = f"{_dist_name()}.dist-info"
    os.makedirs(os.path.join(directory, info), exist_ok=True)
    with open(os.path.join(directory, info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    return info


def prepare_metadata_for_build_wheel(metadata_directory: str, config_settings: Optional[Dict[str, Any]] = None) -> str:
    return _write_dist_info(metadata_directory)


def build_wheel(
    wheel_directory: str,
    config_settings: Optional[Dict[str, Any]] = None,
    metadata_directory: Optional[str] = None,
) -> str:
    name = f"{_dist_name()}-py3-none-any.whl"
    info = f"{_dist_name()}.dist-info"
    entries: List[Tuple[str, bytes]] = []
    for rel in _package_files():
        with open(os.path.join(_ROOT, rel), "rb") as f:
            entries.append((rel, f.read()))
    entries.append((f"{info}/METADATA", _metadata().encode("utf-8")))
    wheel = "Wheel-Version: 1.0\nGenerator: nurva_backend\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    entries.append((f"{info}/WHEEL", wheel.encode()))
    record = [_record_line(n, d) for n, d in entries] + [f"{info}/RECORD,,"]
    entries.append((f"{info}/RECORD", ("\n".join(record) + "\n").encode()))
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as z:
        for n, d in entries:
            z.writestr(zipfile.ZipInfo(n, date_time=(2020, 1, 1, 0, 0, 0)), d, zipfile.ZIP_DEFLATED)
    return name


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, Any]] = None) -> str:
    base = _dist_name()
    name = f"{base}.tar.gz"

    def keep(info: tarfile.TarInfo) -> Optional[tarfile.TarInfo]:
        return None if "__pycache__" in info.name or info.name.endswith(".pyc") else info

    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as t:
        for part in _SDIST_PARTS:
            path = os.path.join(_ROOT, part)
            if os.path.exists(path):
                t.add(path, arcname=f"{base}/{part}", filter=keep)
        pkg_info = _metadata().encode("utf-8")
        ti = tarfile.TarInfo(f"{base}/PKG-INFO")
        ti.size = len(pkg_info)
        t.addfile(ti, io.BytesIO(pkg_info))
    return name
