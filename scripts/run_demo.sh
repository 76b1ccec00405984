#!/usr/bin/env bash
# The main job: a real scan on a simulated bench. Builds the module if
# needed, then, inside a private network namespace (nothing reaches the real
# network), starts three fake devices, one of them of protocol version 1,
# advertises them by mDNS and runs examples/scan.py against them, updating
# one device's firmware from bytes.
# Usage: scripts/run_demo.sh   (as root: making a network namespace needs it)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
python=/usr/bin/python3

if [[ $(id -u) -ne 0 ]]; then
  echo "run_demo.sh: run as root (sudo scripts/run_demo.sh): the demo makes a private network namespace" >&2
  exit 1
fi

# Installs only what is missing (the compiler, CMake, python3-zeroconf, ...).
scripts/install_deps.sh

if [[ ! -f $build/python/brisel_qx_api.abi3.so || ! -x $build/qx_sdk_client/qx_fake_device ]]; then
  echo "Building the module and the fake device into $build/ ..."
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Cheap when nothing changed.
cmake --build "$build" -j "$(nproc)" --target brisel_qx_api qx_fake_device >/dev/null

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
# A stand-in firmware image: 200 KiB of random bytes.
head -c 204800 /dev/urandom >"$workdir/firmware.img"

echo
echo "Starting three fake devices in a private network namespace and scanning for them:"
echo
# PYTHONPATH names the module and the repository, for testing/ (the simulated bench).
PYTHONPATH="$PWD/$build/python:$PWD" PYTHONDONTWRITEBYTECODE=1 scripts/in_netns.sh "$python" -m testing.bench \
  --fake-device "$build/qx_sdk_client/qx_fake_device" \
  --device "serial=20240017,ean=0x4260123456789,name=QX Bench Left,interfaces=2,nickname=left rack,firmware.chunk_size=2048,if1.interface_type=2,if1.link_state=0,if1.link_mode=0x0184" \
  --device "serial=20240018,ean=0x4260123456789,name=QX Bench Right,interfaces=1,manufacturing_date=1735689600" \
  --device "serial=20190003,ean=0x4260123456772,version=1,name=QX Bench Old,interfaces=1,firmware_version=1.9.0,manufacturing_date=1546300800" \
  -- "$python" examples/scan.py --update 20240017 --image "$workdir/firmware.img"
