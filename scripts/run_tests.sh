#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   - flake8 over every Python file git tracks (config: .flake8), and
#     clang-format 16 over every C++ file (config: .clang-format);
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

# First, as they take seconds and the builds take minutes.
if ! git ls-files -z -- '*.py' | xargs -0 flake8; then
  echo "run_tests.sh: flake8 found the above (settings in .flake8)" >&2
  exit 1
fi
if ! git ls-files -z -- '*.cpp' '*.hpp' '*.h' | xargs -0 clang-format-16 --dry-run --Werror; then
  echo "run_tests.sh: the C++ files above are not formatted (settings in .clang-format); to fix:" >&2
  echo "  git ls-files -z -- '*.cpp' '*.hpp' '*.h' | xargs -0 clang-format-16 -i" >&2
  exit 1
fi

scripts/run_fuzz.sh 5

# The three trees are the presets of CMakePresets.json, so that one of them
# can be built alone with the same settings: cmake --preset asan, and so on.
cmake --preset normal >/dev/null
cmake --build --preset normal -j "$jobs"
ctest --preset normal -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
