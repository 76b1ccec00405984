"""A device that sends a reply twice from a stack with Nagle's algorithm on
holds the copy until the reply is acknowledged. Left to the system, that
acknowledgement rides on the next request, so the copy would come just after
it and answer it; calls that follow fast must still each get their own."""

import time

import pytest

COPY_GAP_MS = 10
CALL_GAP = 0.02          # seconds: well inside the system's delay of an acknowledgement
GET_NAME = 3
DEVICE_DONE_WITHIN = 5   # seconds


@pytest.fixture
def device(main_device, main_fake):
    name = main_fake.get("name")
    main_fake.clear()
    yield main_device
    main_fake.command("clear_faults")
    main_fake.set("name", name)


def wait_until_handled(fake, count):
    """Until the device has sent all it will for `count` requests, so that a
    slow device process on a busy machine cannot pass for a held copy."""
    deadline = time.monotonic() + DEVICE_DONE_WITHIN
    while fake.handled() < count:
        assert time.monotonic() < deadline, f"the device did not handle {count} requests"
        time.sleep(0.001)


def test_calls_20_ms_apart_after_a_held_copy_each_get_their_own_answer(device, main_fake):
    wrong = []
    for call in range(1, 16):
        if call % 5 == 1:
            main_fake.fault(GET_NAME, 1, f"twice {COPY_GAP_MS} nagle")
        name = f"call {call}"
        main_fake.set("name", name)
        answer = device.get_name()
        if answer != name:
            wrong.append(f"{name} got {answer}")
        time.sleep(CALL_GAP)
        wait_until_handled(main_fake, call)
    assert wrong == []
