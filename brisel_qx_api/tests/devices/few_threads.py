"""Scans made with only a few threads left to the process.

    few_threads.py sweep FIRST LAST SERIAL
        Starts one fake device with SERIAL and a few services whose address
        never answers, all advertised, then for each count from FIRST to
        LAST scans in a child process that may start only that many more
        threads, and prints one JSON line per child. It sends multicast: run
        it only in a network namespace of its own holding just lo.

    few_threads.py scan SPARE
        The child: lowers its thread limit until SPARE more threads can be
        started, scans twice and prints, as its last line, a JSON object
        with the outcome of each scan ("list SERIALS..." or "error
        MESSAGE") and its thread and descriptor counts before and after.

Root is not held to the thread limit, so the children run as a uid of their
own. The limit counts every thread of that uid on the machine, so the uid
must be one that nothing else uses meanwhile: it is taken from the sweep's
process id, in a range far above the system's users.
"""

import datetime
import json
import os
import resource
import socket
import subprocess
import sys
import time

import child_sweep

CHILD_SECONDS = 90
SCANS = 2
DEAD_SERVICES = 6
# A responder answers the same query at most once a second by multicast.
RATE_LIMIT_SECONDS = 1.2
# Threads already joined may take a moment to leave the process.
SETTLE_SECONDS = 5.0
UID_BASE = 200_000
UID_STRIDE = 40_000


def counts():
    """Threads and open descriptors; the listing's own descriptor is not one."""
    return len(os.listdir("/proc/self/task")), len(os.listdir("/proc/self/fd")) - 1


def scan_once(client):
    try:
        found = client.scan_for_devices_with_timeout(datetime.timedelta(seconds=1))
    except ValueError as error:
        return f"error {error}"
    return " ".join(["list", *(str(device.get_serial_number()) for device in found)])


def scan(spare):
    import brisel_qx_api as qx

    client = qx.create_client()
    before = counts()
    _, hard = resource.getrlimit(resource.RLIMIT_NPROC)
    resource.setrlimit(resource.RLIMIT_NPROC, (before[0] + spare, hard))
    outcomes = []
    for attempt in range(SCANS):
        if attempt:
            time.sleep(RATE_LIMIT_SECONDS)
        outcomes.append(scan_once(client))
    deadline = time.monotonic() + SETTLE_SECONDS
    while counts() != before and time.monotonic() < deadline:
        time.sleep(0.05)
    after = counts()
    print(json.dumps({"outcomes": outcomes, "threads": [before[0], after[0]], "fds": [before[1], after[1]]}),
          flush=True)


def uid_in_use(uid):
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/status") as status:
                for line in status:
                    if line.startswith("Uid:"):
                        if uid in map(int, line.split()[1:]):
                            return True
                        break
        except OSError:
            pass
    return False


def unused_uid():
    for step in range(8):
        uid = UID_BASE + os.getpid() + step * UID_STRIDE
        if not uid_in_use(uid):
            return uid
    raise RuntimeError("no unused uid found for the thread-limited children")


class DeadService:
    """A loopback listener whose accept queue is full and which never
    accepts: connection requests get no answer at all, so each one holds a
    scan's worker for the client's whole timeout."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        # A backlog of 0 holds one connection; this one takes it.
        self.filler = socket.create_connection(("127.0.0.1", self.port), timeout=5)

    def close(self):
        self.filler.close()
        self.listener.close()


def sweep(first, last, serial):
    from testing import bench, processes

    uid = unused_uid()
    dead = []
    device = None
    advertiser = None
    results = []
    try:
        device = bench.FakeDevice(bench.DeviceSpec(serial=serial, name="QX Few Threads"))
        dead = [DeadService() for _ in range(DEAD_SERVICES)]
        # A responder for each, as separate hosts have, so all resolve soon.
        advertiser = processes.Advertiser([device.port, *(service.port for service in dead)], "qx-few-threads",
                                          lifetime=900, each=True)
        next_scan = time.monotonic()
        for spare in range(first, last + 1):
            time.sleep(max(0.0, next_scan - time.monotonic()))
            child = subprocess.run([sys.executable, __file__, "scan", str(spare)], capture_output=True, text=True,
                                   timeout=CHILD_SECONDS, user=uid, group=uid, extra_groups=[])
            next_scan = time.monotonic() + RATE_LIMIT_SECONDS
            results.append({"spare": spare, "returncode": child.returncode,
                            "stdout": child.stdout, "stderr": child.stderr})
    finally:
        if advertiser is not None:
            advertiser.stop()
        for service in dead:
            service.close()
        if device is not None:
            device.stop()
    child_sweep.print_results(results)


if __name__ == "__main__":
    child_sweep.main(sweep, scan)
