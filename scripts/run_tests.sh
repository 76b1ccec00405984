#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   - flake8 over every Python file git tracks (config: .flake8);
#   - the decoders' fuzz targets, each for a few seconds (clang, libFuzzer);
#   - a normal build: C++ and Python tests;
#   - an AddressSanitizer/UBSan build: C++ tests, and the Python tests against
#     a sanitizer build of the module (the runtimes are preloaded for python3);
#   - a Release build (-O3) of everything, compiled only: GCC warns there
#     about things that the -O2 and -O0 builds do not show.
# Warnings are errors in all three.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh

jobs=$(nproc)

# First, as it takes a second and the builds take minutes.
if ! git ls-files -z -- '*.py' | xargs -0 flake8; then
  echo "run_tests.sh: flake8 found the above (settings in .flake8)" >&2
  exit 1
fi

scripts/run_fuzz.sh 5

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON -DQX_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQX_WERROR=ON >/dev/null
cmake --build build-release -j "$jobs"
