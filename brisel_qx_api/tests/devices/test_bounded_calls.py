"""However a device sends its reply, or whatever signals arrive meanwhile,
a call ends within the client's timeout (1.337 s) plus a little."""

import signal
import struct
import time

import pytest

TIMEOUT = 1.337
SLACK = 0.7
GAP = 0.2  # between the pieces a trickling device sends


@pytest.fixture
def device(main_device, main_fake):
    yield main_device
    main_fake.command("clear_faults")


def name_reply_size(name):
    return 4 + 2 + len(name.encode())


def timed(call):
    started = time.monotonic()
    with pytest.raises(ValueError) as caught:
        call()
    return str(caught.value), time.monotonic() - started, started


@pytest.mark.parametrize("fault, pieces, text", [
    # The reply a byte at a time: each byte well inside the timeout.
    ("split 1 200", name_reply_size("QX Main"), "TcpStreamReadError("),
    # A header announcing more than fits, then its payload four bytes at a time.
    ("split 4 200 " + struct.pack("<HH", 4, 0xFFFF).hex() + "00" * 32, 9,
     'TcpStreamReadError("Reply payload of 65535 bytes does not fit the packet buffer of 4092 payload bytes")'),
], ids=["reply", "oversize"])
def test_a_trickled_reply_fails_in_time_and_the_connection_recovers(device, main_fake, fault, pieces, text):
    main_fake.fault("next", 1, fault)
    message, took, started = timed(device.get_name)
    assert message.startswith("Unknown error type " + text)
    assert took < TIMEOUT + SLACK
    # Once the device has sent the rest, the next call drains it and gets its own reply.
    time.sleep(max(0.0, started + pieces * GAP + 0.5 - time.monotonic()))
    assert device.get_name() == "QX Main"


def test_a_periodic_signal_does_not_keep_a_silent_device_waiting(device, main_fake):
    signals = []
    previous = signal.signal(signal.SIGALRM, lambda number, frame: signals.append(number))
    signal.setitimer(signal.ITIMER_REAL, 0.1, 0.1)
    try:
        main_fake.fault("next", 1, "noreply")
        message, took, _ = timed(device.get_name)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert message == 'Unknown error type TcpStreamReadError("Failed to read packet header")'
    assert TIMEOUT <= took < TIMEOUT + SLACK
    assert signals
    assert device.get_name() == "QX Main"
