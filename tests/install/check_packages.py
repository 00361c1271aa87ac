#!/usr/bin/env python3
"""Makes the build's packages with cpack and checks what they hold.

    check_packages.py --cpack CPACK --config CPackConfig.cmake --out DIR
                      --platform linux|windows --version X.Y.Z --soversion N --exports exports.txt

Linux: the .deb (dpkg-deb) and the .tar.gz; Windows: the ZIP. Each must hold the header,
the library with its links or import libraries, the tools, the CMake package, the
pkg-config file and the README, and nothing of the tests. Exits 1 with every finding.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile

problems = []


def fail(msg):
    problems.append(msg)


def strip_top(names):
    """Entries relative to the archive's one top directory."""
    tops = {n.split("/", 1)[0] for n in names}
    if len(tops) != 1:
        fail(f"the archive has {len(tops)} top-level entries, wanted one directory: {sorted(tops)[:5]}")
        return {}
    return {n.split("/", 1)[1]: n for n in names if "/" in n and n.split("/", 1)[1]}


def common_files(platform):
    files = ["include/NURVA_DLL.h", "lib/cmake/nurva/nurvaConfig.cmake", "lib/cmake/nurva/nurvaConfigVersion.cmake",
             "lib/cmake/nurva/nurvaTargets.cmake", "lib/pkgconfig/nurva.pc"]
    if platform == "windows":
        files += ["bin/NURVA_DLL.dll", "bin/nurva.exe", "lib/NURVA_DLL.lib", "lib/libNURVA_DLL.dll.a",
                  "lib/NURVA_DLL.def", "README.md"]
    else:
        files += ["bin/nurva", "bin/nurva-sim", "share/doc/nurva/README.md",
                  "share/doc/nurva/examples/c/nurva_job.c", "share/doc/nurva/examples/CMakeLists.txt"]
    return files


# Files of the tests or of the build that must never ship.
FORBIDDEN = re.compile(r"(gtest|gmock|testdrv|test_|/CMakeFiles/|\.o$|\.obj$|(?<!NURVA_DLL\.dll)\.a$)", re.I)


def check_listing(kind, entries, platform):
    """entries: relative path -> (is symlink, link target or None)."""
    for f in common_files(platform):
        if f not in entries:
            fail(f"{kind}: {f} is missing")
    for f in entries:
        if FORBIDDEN.search(f):
            fail(f"{kind}: {f} should not be in the package")


def check_linux_links(kind, entries, version, soversion):
    major, minor, patch = version.split(".")
    real = f"lib/libnurva.so.{soversion}.{minor}.{patch}"
    want = {f"lib/libnurva.so.{soversion}": f"libnurva.so.{soversion}.{minor}.{patch}",
            "lib/libnurva.so": f"libnurva.so.{soversion}"}
    if real not in entries or entries[real][0]:
        fail(f"{kind}: {real} is missing or not a file")
    for link, target in want.items():
        if link not in entries:
            fail(f"{kind}: {link} is missing")
        elif entries[link] != (True, target):
            fail(f"{kind}: {link} should link to {target}, is {entries[link]}")


def tar_entries(tf):
    return {m.name: (m.issym(), m.linkname if m.issym() else None) for m in tf.getmembers() if not m.isdir()}


def check_pc(kind, text, platform):
    lib = "-lNURVA_DLL" if platform == "windows" else "-lnurva"
    if "prefix=${pcfiledir}/" not in text or lib not in text or "-I${includedir}" not in text:
        fail(f"{kind}: nurva.pc is not relocatable or names the wrong library:\n{text}")


def check_linux(out, version, soversion):
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    tgzs = [f for f in os.listdir(out) if f.endswith(".tar.gz")]
    if len(debs) != 1 or len(tgzs) != 1:
        fail(f"wanted one .deb and one .tar.gz in {out}, found {sorted(os.listdir(out))}")
        return
    deb = os.path.join(out, debs[0])
    listing = subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True, text=True).stdout
    entries = {}
    for line in listing.splitlines():
        # drwxr-xr-x root/root 0 2026-01-01 00:00 ./usr/lib/  |  lrwxrwxrwx ... ./usr/lib/libnurva.so -> libnurva.so.1
        m = re.match(r"(\S)\S+\s+\S+\s+\d+\s+\S+\s+\S+\s+\./usr/(\S+)(?: -> (\S+))?$", line)
        if m and m.group(1) != "d":
            entries[m.group(2)] = (m.group(1) == "l", m.group(3))
    check_listing("deb", entries, "linux")
    check_linux_links("deb", entries, version, soversion)
    fields = subprocess.run(["dpkg-deb", "-f", deb, "Package", "Version", "Depends"], check=True, capture_output=True,
                            text=True).stdout
    if "Package: nurva" not in fields or f"Version: {version}" not in fields or "libc6" not in fields:
        fail(f"deb: control fields are not as wanted:\n{fields}")
    pc = subprocess.run(f"dpkg-deb --fsys-tarfile '{deb}' | tar -xO ./usr/lib/pkgconfig/nurva.pc", shell=True,
                        capture_output=True, text=True).stdout
    check_pc("deb", pc, "linux")

    with tarfile.open(os.path.join(out, tgzs[0])) as tf:
        raw = tar_entries(tf)
        rel = strip_top(raw)
        entries = {r: raw[full] for r, full in rel.items()}
        check_listing("tar.gz", entries, "linux")
        check_linux_links("tar.gz", entries, version, soversion)
        for f in ("bin/nurva", "bin/nurva-sim", "share/doc/nurva/examples/run-with-sim.sh"):
            if f in rel and not tf.getmember(rel[f]).mode & 0o111:
                fail(f"tar.gz: {f} is not executable")
        if "lib/pkgconfig/nurva.pc" in rel:
            check_pc("tar.gz", tf.extractfile(rel["lib/pkgconfig/nurva.pc"]).read().decode(), "linux")


def check_windows(out, exports):
    zips = [f for f in os.listdir(out) if f.endswith(".zip")]
    if len(zips) != 1:
        fail(f"wanted one .zip in {out}, found {sorted(os.listdir(out))}")
        return
    with zipfile.ZipFile(os.path.join(out, zips[0])) as zf:
        rel = strip_top([n for n in zf.namelist() if not n.endswith("/")])
        check_listing("zip", {r: (False, None) for r in rel}, "windows")
        if "lib/NURVA_DLL.def" in rel:
            names = zf.read(rel["lib/NURVA_DLL.def"]).decode().split()
            missing = [e for e in exports if e not in names]
            if "LIBRARY" not in names or "NURVA_DLL" not in names or missing:
                fail(f"zip: NURVA_DLL.def lacks the library line or exports {missing}")
        if "lib/pkgconfig/nurva.pc" in rel:
            check_pc("zip", zf.read(rel["lib/pkgconfig/nurva.pc"]).decode(), "windows")
        if "bin/NURVA_DLL.dll" in rel and not zf.read(rel["bin/NURVA_DLL.dll"]).startswith(b"MZ"):
            fail("zip: bin/NURVA_DLL.dll is not a Windows program file")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cpack", required=True)
    ap.add_argument("--config", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--platform", choices=["linux", "windows"], required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--soversion", required=True)
    ap.add_argument("--exports", required=True)
    a = ap.parse_args()

    shutil.rmtree(a.out, ignore_errors=True)
    os.makedirs(a.out)
    made = subprocess.run([a.cpack, "--config", a.config, "-B", a.out], capture_output=True, text=True)
    if made.returncode != 0:
        print(made.stdout, made.stderr, sep="\n")
        print("cpack failed")
        return 1
    print(made.stdout.strip())
    shutil.rmtree(os.path.join(a.out, "_CPack_Packages"), ignore_errors=True)

    with open(a.exports) as f:
        exports = [line.strip() for line in f if re.match(r"[A-Za-z]", line)]
    if a.platform == "linux":
        check_linux(a.out, a.version, a.soversion)
    else:
        check_windows(a.out, exports)
    for p in problems:
        print("FAIL:", p)
    if not problems:
        print("packages hold what they should:", ", ".join(sorted(os.listdir(a.out))))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
