#!/bin/sh
# The library as a host developer gets it: installs the build tree into a fresh prefix,
# builds the example hosts against that prefix, once through find_package(nurva) and once
# through pkg-config, and runs them against virtual programmers served by the installed
# nurva-sim.
#   consumer_test.sh BUILD_DIR WORK_DIR C_COMPILER CXX_COMPILER
set -eu
build=$1 work=$2 cc=$3 cxx=$4
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"

step() { echo "--- $*"; }

step "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
examples=$prefix/share/doc/nurva/examples

step "the library's soname and development link"
lib=$prefix/lib/libnurva.so
[ -L "$lib" ] && [ "$(readlink "$lib")" = libnurva.so.1 ] || { echo "libnurva.so is not the link to libnurva.so.1"; exit 1; }
readelf -d "$lib.1" | grep -q 'SONAME.*\[libnurva\.so\.1\]' || { echo "libnurva.so.1 has no soname libnurva.so.1"; exit 1; }

step "find_package(nurva)"
cmake -S "$examples" -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >"$work/cmake-configure.log" || { cat "$work/cmake-configure.log"; exit 1; }
cmake --build "$work/cmake" >"$work/cmake-build.log" || { cat "$work/cmake-build.log"; exit 1; }

step "pkg-config --cflags --libs nurva"
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs nurva)
libdir=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --variable=libdir nurva)
echo "$flags"
mkdir -p "$work/pc"
# shellcheck disable=SC2086  # the flags are words
"$cc" -std=c99 -Wall -Wextra -Werror -o "$work/pc/nurva_job" "$examples/c/nurva_job.c" $flags -Wl,-rpath,"$libdir"
# shellcheck disable=SC2086
"$cxx" -std=c++17 -Wall -Wextra -Werror -o "$work/pc/nurva_minimal" "$examples/cpp/minimal.cpp" $flags -Wl,-rpath,"$libdir"

for host in "$work/cmake/nurva_job" "$work/pc/nurva_job"; do
  readelf -d "$host" | grep -q 'NEEDED.*\[libnurva\.so\.1\]' || { echo "$host does not record libnurva.so.1"; exit 1; }
done

run="$examples/run-with-sim.sh $prefix/bin/nurva-sim $work/run 1"
step "C host built through CMake"
$run --expect "1 of 1 programmer(s) passed" "$work/cmake/nurva_job" DEMO.PACK
step "C++ host built through CMake"
$run --expect "channel 0: 39" "$work/cmake/nurva_minimal"
step "C host built through pkg-config"
$run --expect "1 of 1 programmer(s) passed" "$work/pc/nurva_job" DEMO.PACK
step "C++ host built through pkg-config"
$run --expect "channel 0: 39" "$work/pc/nurva_minimal"
step "installed nurva"
NURVA_VUSB_DIR=$work/nobus "$prefix/bin/nurva" --help >/dev/null
echo "consumer test passed"
