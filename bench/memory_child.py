"""Resident memory per connected device, in a fresh interpreter of its own so
nothing else the benchmark did is in its memory.

Scans until it holds `--count` devices (every advertised service points at
the same fake device, so each is one more connection to it), then prints
one JSON line. A warm-up scan first, so that what every scan loads once
(the mDNS library, thread arenas) is in the baseline and not counted per device.
"""

import argparse
import datetime
import gc
import json
import os
import resource
import socket
import time

import brisel_qx_api as qx

GAP_SECONDS = 1.2  # the responder's once-a-second rate limit, with a margin
SCAN = datetime.timedelta(seconds=1)


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--max-scans", type=int, default=30)
    parser.add_argument("--control-port", type=int, required=True, help="the fake device's control channel")
    args = parser.parse_args()

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < args.count + 256:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    client = qx.create_client()
    # Too short to find anything: it loads what every scan needs, but frees
    # no device memory that the devices counted below could reuse.
    warm = client.scan_for_devices_with_timeout(datetime.timedelta(milliseconds=20))
    warm_count = len(warm)
    del warm
    gc.collect()
    last_end = time.monotonic()
    baseline = resident_kib()
    fds_before = len(os.listdir("/proc/self/fd"))

    kept = []
    scans = 0
    while len(kept) < args.count and scans < args.max_scans:
        time.sleep(max(0.0, last_end + GAP_SECONDS - time.monotonic()))
        kept.extend(client.scan_for_devices_with_timeout(SCAN))
        last_end = time.monotonic()
        scans += 1
    del kept[args.count:]
    gc.collect()
    after = resident_kib()
    fds_after = len(os.listdir("/proc/self/fd"))
    with socket.create_connection(("127.0.0.1", args.control_port), timeout=10) as control:
        control.sendall(b"connections\n")
        device_side = control.recv(256).decode().strip()
    print(json.dumps({
        "devices": len(kept),
        "scans": scans,
        "warm_up_devices": warm_count,
        "baseline_kib": baseline,
        "after_kib": after,
        "per_device_kib": (after - baseline) / len(kept) if kept else None,
        "open_fds_added": fds_after - fds_before,
        "device_side_connections": device_side,
    }), flush=True)


if __name__ == "__main__":
    main()
