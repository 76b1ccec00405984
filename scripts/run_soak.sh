#!/usr/bin/env bash
# The long fault soak: two threads drive fake devices that inject faults into
# their replies, inside a private network namespace (the scans send
# multicast), then the process's descriptors, threads and memory are checked.
# It prints the seed first and its counts at the end.
#
# Usage: scripts/run_soak.sh [BUILD_DIR]   (as root: it makes a network namespace)
#   QX_SOAK_SECONDS  how long the lanes run (default 60)
#   QX_SOAK_CALLS    at most this many calls (default 500000)
#   QX_SOAK_SEED     replays a seed that a run printed
# A sanitizer build (-DQX_SANITIZE=ON) as BUILD_DIR runs it with the runtimes preloaded.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build}")
python=/usr/bin/python3

if [[ $(id -u) -ne 0 ]]; then
  echo "run_soak.sh: run as root: the soak makes a private network namespace" >&2
  exit 1
fi
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 4 --target brisel_qx_api qx_fake_device >/dev/null

# The module, and the repository for testing/ (the simulated bench).
environment=(
  "PYTHONPATH=$build/python:$PWD"
  "QX_BUILD_DIR=$build"
  PYTHONDONTWRITEBYTECODE=1
  "QX_SOAK_SECONDS=${QX_SOAK_SECONDS:-60}"
  "QX_SOAK_CALLS=${QX_SOAK_CALLS:-500000}"
)
if [[ -n ${QX_SOAK_SEED:-} ]]; then
  environment+=("QX_SOAK_SEED=$QX_SOAK_SEED")
fi
if grep -q '^QX_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
  environment+=(
    "LD_PRELOAD=$("$compiler" -print-file-name=libasan.so) $("$compiler" -print-file-name=libubsan.so)"
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  )
fi

# The soak prints its seed and counts past pytest's capture; the lines the
# library prints for refused replies stay captured unless the soak fails.
exec scripts/in_netns.sh /usr/bin/env "${environment[@]}" \
  "$python" -m pytest -q -p no:cacheprovider brisel_qx_api/tests/devices/test_fault_soak.py
