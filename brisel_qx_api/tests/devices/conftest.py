"""End-to-end fixtures: fake devices in processes of their own, found by a
real mDNS scan. Scanning sends multicast, so these tests run only inside a
private network namespace (scripts/in_netns.sh); elsewhere they are skipped.

The bench is started and scanned once per session; tests share the Device
objects and put back any device state they change.
"""

import faulthandler
import os
import pathlib
import sys
import time
import types

import pytest

import brisel_qx_api as qx
from testing import bench
from testing.processes import in_private_namespace

# Longer than any test needs; a hang (a lock never released, the
# interpreter lock held while waiting) ends the run with every thread's
# traceback instead of blocking it.
TEST_WATCHDOG_SECONDS = 60
SCAN_ATTEMPTS = 3

# EAN and serial number tell the devices apart; the start order differs
# from the sorted order on purpose.
DEVICES = types.SimpleNamespace(
    main=bench.DeviceSpec(serial=1001, ean=0x4260123456789, name="QX Main", interfaces=2),
    legacy=bench.DeviceSpec(serial=1000, ean=0x4260123456789, version=1, name="QX Legacy", interfaces=1),
    bare=bench.DeviceSpec(serial=5, ean=0x1112223334445, name="QX Bare", interfaces=0),
    updater=bench.DeviceSpec(serial=9, ean=0x5556667778889, name="QX Updater", interfaces=1),
    doomed=bench.DeviceSpec(serial=7, ean=0x9990001112223, name="QX Doomed", interfaces=1),
)
HERE = pathlib.Path(__file__).parent


def pytest_collection_modifyitems(config, items):
    if in_private_namespace():
        return
    skip = pytest.mark.skip(reason="scans send multicast: run inside a private network namespace "
                                   "(scripts/in_netns.sh)")
    for item in items:
        if HERE in pathlib.Path(item.path).parents:
            item.add_marker(skip)


# Where the watchdog writes: the real standard error, copied while output
# capture is not active, so the tracebacks reach the terminal or the log.
watchdog_output = []


def pytest_configure(config):
    watchdog_output.append(os.fdopen(os.dup(2), "w"))


def pytest_unconfigure(config):
    faulthandler.cancel_dump_traceback_later()
    while watchdog_output:
        watchdog_output.pop().close()


def arm_watchdog(seconds=TEST_WATCHDOG_SECONDS):
    faulthandler.dump_traceback_later(seconds, exit=True,
                                      file=watchdog_output[0] if watchdog_output else sys.stderr)


@pytest.fixture(autouse=True)
def watchdog():
    """A test that needs longer calls the value with its own number of seconds."""
    arm_watchdog()
    yield arm_watchdog
    faulthandler.cancel_dump_traceback_later()


class Scanned:
    """The bench and what one scan found on it."""

    def __init__(self, the_bench, client, found, finished_at):
        self.bench = the_bench
        self.client = client
        self.found = found
        self.finished_at = finished_at
        self.by_serial = {device.get_serial_number(): device for device in found}

    def device(self, role):
        return self.by_serial[getattr(DEVICES, role).serial]

    def fake(self, role):
        return self.bench.by_serial(getattr(DEVICES, role).serial)

    def wait_out_rate_limit(self):
        # A responder answers the same query at most once a second by
        # multicast; a scan right after another would miss the answers.
        pause = self.finished_at + 1.2 - time.monotonic()
        if pause > 0:
            time.sleep(pause)

    def scanned_again(self, client):
        self.wait_out_rate_limit()
        try:
            return client.scan_for_devices()
        finally:
            self.finished_at = time.monotonic()


@pytest.fixture(scope="session")
def scanned():
    arm_watchdog()
    with bench.Bench(list(vars(DEVICES).values())) as the_bench:
        client = qx.create_client()
        wanted = {spec.serial for spec in vars(DEVICES).values()}
        # Found devices are kept for the whole session; so are their connections.
        attempts = Scanned(the_bench, client, [], time.monotonic() - 2)
        for _ in range(SCAN_ATTEMPTS):
            found = attempts.scanned_again(client)
            if {device.get_serial_number() for device in found} >= wanted:
                break
        faulthandler.cancel_dump_traceback_later()
        yield Scanned(the_bench, client, found, attempts.finished_at)


@pytest.fixture
def main_device(scanned):
    return scanned.device("main")


@pytest.fixture
def main_fake(scanned):
    return scanned.fake("main")
