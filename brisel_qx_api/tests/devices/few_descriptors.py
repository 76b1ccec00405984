"""Scans made with only a few file descriptors left to the process.

    few_descriptors.py sweep FIRST LAST SERIAL
        Starts one fake device with SERIAL, advertised, then for each count
        from FIRST to LAST scans in a child process that has only that many
        descriptors free, and prints one JSON line per child. It sends
        multicast: run it only in a network namespace of its own holding
        just lo.

    few_descriptors.py scan FREE SERIAL
        The child: lowers its descriptor limit until FREE are left, scans
        (again, while the device is missing, up to three times) and prints
        "list SERIALS..." or "error MESSAGE" as its last line.
"""

import datetime
import os
import resource
import subprocess
import sys
import time

import child_sweep

CHILD_SECONDS = 60
SCAN_ATTEMPTS = 3
# A responder answers the same query at most once a second by multicast.
RATE_LIMIT_SECONDS = 1.2


def leave_free(free):
    """Sets the soft descriptor limit so that exactly `free` descriptors can
    still be opened: up to the first free slot past them. Looks with fstat,
    which needs no descriptor of its own."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    seen = 0
    for fd in range(min(soft, 4096)):
        try:
            os.fstat(fd)
            continue
        except OSError:
            pass
        if seen == free:
            resource.setrlimit(resource.RLIMIT_NOFILE, (fd, hard))
            return
        seen += 1
    raise RuntimeError(f"fewer than {free + 1} descriptors are free")


def scan_until_found(client, serial):
    """The outcome of scans repeated while the device is missing, as one line."""
    for attempt in range(SCAN_ATTEMPTS):
        if attempt:
            time.sleep(RATE_LIMIT_SECONDS)
        try:
            found = client.scan_for_devices_with_timeout(datetime.timedelta(seconds=1))
        except ValueError as error:
            return f"error {error}"
        serials = [device.get_serial_number() for device in found]
        if serial in serials:
            break
    return " ".join(["list", *map(str, serials)])


def scan(free, serial):
    import brisel_qx_api as qx

    client = qx.create_client()
    if "ubsan" in os.environ.get("LD_PRELOAD", ""):
        # UBSan's vptr check probes memory through a pipe: starved of
        # descriptors it takes sound objects for broken ones and, with
        # recovery off, ends the process. A scan with descriptors to spare
        # fills its cache of checked types first, so that the starved scan
        # needs no probes. Its devices, and their sockets, are gone once it
        # returns.
        scan_until_found(client, serial)
        time.sleep(RATE_LIMIT_SECONDS)
    leave_free(free)
    print(scan_until_found(client, serial), flush=True)


def sweep(first, last, serial):
    from testing import bench

    results = []
    with bench.Bench([bench.DeviceSpec(serial=serial, name="QX Starved")], name_prefix="qx-few-fds"):
        next_scan = time.monotonic()
        for free in range(first, last + 1):
            time.sleep(max(0.0, next_scan - time.monotonic()))
            child = subprocess.run([sys.executable, __file__, "scan", str(free), str(serial)],
                                   capture_output=True, text=True, timeout=CHILD_SECONDS)
            next_scan = time.monotonic() + RATE_LIMIT_SECONDS
            results.append({"free": free, "returncode": child.returncode,
                            "stdout": child.stdout, "stderr": child.stderr})
    child_sweep.print_results(results)


if __name__ == "__main__":
    child_sweep.main(sweep, scan)
