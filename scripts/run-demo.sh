#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build, and run a whole job
# against a virtual programmer (no hardware needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target nurva_cli
exec build/native/tools/cli/nurva demo "$@"
