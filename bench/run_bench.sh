#!/usr/bin/env bash
# Builds what the benchmark needs into build-bench/ and runs it inside a
# private network namespace that holds only loopback (the scans send
# multicast). Prints one table. Needs root for the namespace.
# Usage: bench/run_bench.sh [--quick] [--cores CLIENT,DEVICE,HELPER]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j4 --target brisel_qx_api qx_fake_device qx_bench_raw >/dev/null

# Nothing left behind in the source tree; the repository on the path for testing/.
export PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$PWD
exec timeout 1500 scripts/in_netns.sh /usr/bin/python3 bench/run_bench.py --build "$build" "$@"
