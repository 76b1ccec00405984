#!/usr/bin/env bash
# The main job: a real scan on a simulated bench inside a private network
# namespace (nothing reaches the real network).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "This will build the module, start three fake devices advertised over mDNS"
echo "inside a private network namespace, and run examples/scan.py against them."
echo "The Python module is not built yet; nothing to run."
