"""A device that sends a reply twice: the copy, in before the next request
goes out, is no answer to it; the next call gets its own."""

import time

import pytest

import brisel_qx_api as qx

COPY_GAP_MS = 10
COPY_IN = 0.3  # seconds after the call by which the copy has surely arrived


@pytest.fixture
def device(main_device, main_fake):
    yield main_device
    main_fake.command("clear_faults")
    main_fake.set("identify_status", 0)


def test_a_copy_of_a_success_is_not_taken_for_a_refusal(device, main_fake):
    main_fake.fault("next", 1, f"twice {COPY_GAP_MS}")
    assert device.identify() is None
    time.sleep(COPY_IN)
    main_fake.set("identify_status", 4)  # operation not permitted
    with pytest.raises(qx.OperationNotPermitted):
        device.identify()


def test_a_copy_of_one_reply_is_not_taken_for_another(device, main_fake):
    nickname = device.get_nickname()
    main_fake.fault("next", 1, f"twice {COPY_GAP_MS}")
    assert device.get_name() == "QX Main"
    time.sleep(COPY_IN)
    assert device.get_nickname() == nickname
    assert device.get_name() == "QX Main"
