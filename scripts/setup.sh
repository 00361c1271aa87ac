#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing this project.
# Quiet and quick when everything is there already.
set -euo pipefail
packages=(
  build-essential cmake ninja-build            # native build
  googletest libgtest-dev libgmock-dev         # tests; googletest sources also serve the Windows build
  libcli11-dev nlohmann-json3-dev              # command-line host
  g++-mingw-w64-x86-64-posix                   # Windows cross build
  wine64                                       # runs the Windows tests
  clang libclang-rt-14-dev                     # fuzz targets (libFuzzer, ASan, UBSan)
  libbenchmark-dev                             # benchmarks
  pkg-config dpkg-dev                          # consumer test, packages
  doxygen                                      # the reference of the exports
  python3 python3-pytest mypy                  # the Python package and its tests
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
