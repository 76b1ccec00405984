"""Discovery: the shortest scan duration, in 50 ms steps, at which every
advertised fake device is found in 10 of 10 scans, and what a scan costs
beyond its duration.

A responder multicasts a given answer at most once a second, and every scan
starts a new mDNS daemon that asks afresh (nothing is cached between
scans). So scans start at least RATE_LIMIT_GAP after the previous one
ended; a scan sooner would only measure the responder's rate limit. The
advertiser stays up for the whole search: restarting it would cost its
probing and announcing (over two seconds) per run, and a fresh responder
answers no sooner than one that has been quiet for a second.
"""

import datetime
import time

STEP_MS = 50
RUNS = 10
RATE_LIMIT_GAP = 1.2


class Scanner:
    def __init__(self, qx):
        self.client = qx.create_client()
        self.last_end = time.monotonic() - RATE_LIMIT_GAP

    def scan(self, duration_ms):
        """(serial numbers found, wall time in ms)."""
        pause = self.last_end + RATE_LIMIT_GAP - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        timeout = datetime.timedelta(milliseconds=duration_ms)
        start = time.perf_counter_ns()
        devices = self.client.scan_for_devices_with_timeout(timeout)
        wall_ms = (time.perf_counter_ns() - start) / 1e6
        self.last_end = time.monotonic()
        serials = [device.get_serial_number() for device in devices]
        del devices  # closes the connections before the next scan
        return serials, wall_ms


def shortest_duration(qx, wanted_serials, deadline, max_ms=2000):
    """Walks up from 50 ms; a step ends at its first incomplete scan.

    Returns a dict: duration_ms (None if none passed in time), the wall-minus-
    duration figures of the passing step, every step's outcome, scan count.
    """
    wanted = set(wanted_serials)
    scanner = Scanner(qx)
    steps = []
    scans = 0
    for duration_ms in range(STEP_MS, max_ms + 1, STEP_MS):
        overheads = []
        passed = 0
        for _ in range(RUNS):
            if time.monotonic() + RATE_LIMIT_GAP + duration_ms / 1000 + 1 > deadline:
                return {"duration_ms": None, "steps": steps, "scans": scans, "overheads_ms": [],
                        "note": "time budget spent"}
            serials, wall_ms = scanner.scan(duration_ms)
            scans += 1
            overheads.append(wall_ms - duration_ms)
            if not wanted <= set(serials):
                break
            passed += 1
        steps.append((duration_ms, passed, len(overheads)))
        if passed == RUNS:
            return {"duration_ms": duration_ms, "steps": steps, "scans": scans, "overheads_ms": overheads,
                    "note": ""}
    return {"duration_ms": None, "steps": steps, "scans": scans, "overheads_ms": [],
            "note": f"none up to {max_ms} ms"}
