"""Scans: what they return, how long they wait, what they refuse."""

import datetime
import gc
import subprocess
import sys
import time

import pytest

import brisel_qx_api as qx

SORTED_SERIALS = [5, 1000, 1001, 9, 7]


def identities(devices):
    return [(device.get_ean(), device.get_serial_number()) for device in devices]


def accepted(scanned):
    return [fake.accepted_connections() for fake in scanned.bench.devices if fake.process.poll() is None]


def test_scan_finds_every_device_sorted_by_ean_then_serial(scanned):
    found = scanned.found
    assert type(found) is list
    assert all(type(device) is qx.Device for device in found)
    assert [device.get_serial_number() for device in found] == SORTED_SERIALS
    assert identities(found) == sorted(identities(found))
    assert len({id(device) for device in found}) == len(found)


def test_a_second_client_finds_the_same_devices_over_new_connections(scanned):
    other = qx.create_client()
    assert other is not scanned.client
    before = accepted(scanned)
    again = scanned.scanned_again(other)
    assert identities(again) == [pair for pair in identities(scanned.found)
                                 if pair in identities(again)]
    assert {device.get_serial_number() for device in again} >= set(SORTED_SERIALS) - {7}  # 7 may be gone
    assert all(after == count + 1 for count, after in zip(before, accepted(scanned)))
    assert not {id(device) for device in again} & {id(device) for device in scanned.found}

    # An interface outlives its device object and keeps the connection.
    main = next(device for device in again if device.get_serial_number() == 1001)
    interface = main.get_interfaces()[1]
    del main, again
    gc.collect()
    assert interface.get_nickname() == ""
    assert type(interface.get_status()) is qx.InterfaceStatus


class Span(datetime.timedelta):
    pass


# Whatever these find is a sorted part of the bench: how many services the
# daemon has resolved so soon is mDNS timing, not ours to assert.
@pytest.mark.parametrize("timeout", [datetime.timedelta(0), datetime.timedelta(milliseconds=100),
                                     Span(milliseconds=100)], ids=["zero", "100ms", "subclass"])
def test_short_scans_return_sorted_devices_found_so_far(scanned, timeout):
    client = qx.create_client()
    started = time.monotonic()
    found = client.scan_for_devices_with_timeout(timeout=timeout)
    elapsed = time.monotonic() - started
    scanned.finished_at = time.monotonic()
    assert type(found) is list
    assert identities(found) == sorted(identities(found))
    assert set(identities(found)) <= set(identities(scanned.found))
    assert elapsed >= timeout.total_seconds()


@pytest.mark.parametrize("timeout, error, text", [
    (datetime.timedelta(seconds=-1), ValueError, "Cannot convert a negative timedelta to a duration"),
    (datetime.timedelta(microseconds=-1), ValueError, "Cannot convert a negative timedelta to a duration"),
    (datetime.timedelta(days=999_999_999), OverflowError, "timedelta too large to be a duration"),
    (0.1, TypeError, "argument 'timeout': 'float' object is not an instance of 'timedelta'"),
])
def test_refused_timeouts_scan_nothing(scanned, timeout, error, text):
    before = accepted(scanned)
    with pytest.raises(error) as caught:
        qx.create_client().scan_for_devices_with_timeout(timeout)
    assert type(caught.value) is error
    assert str(caught.value) == text
    assert accepted(scanned) == before


def test_a_client_in_use_is_borrowed(scanned):
    client = qx.create_client()

    class Timeout(datetime.timedelta):
        # Read while the call already holds the client.
        @property
        def days(self):
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                client.scan_for_devices()
            return -1

    with pytest.raises(ValueError):
        client.scan_for_devices_with_timeout(Timeout(0))


def test_a_network_without_devices_gives_empty_lists(tmp_path):
    # A namespace of its own, nested in this one: nobody advertises there.
    script = tmp_path / "scan_empty.py"
    script.write_text(
        "import datetime, brisel_qx_api as qx\n"
        "client = qx.create_client()\n"
        "print(client.scan_for_devices_with_timeout(datetime.timedelta(0)), client.scan_for_devices())\n")
    done = subprocess.run(["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$0" "$1"',
                           sys.executable, str(script)],
                          capture_output=True, text=True, timeout=60, check=True)
    assert done.stdout == "[] []\n"
