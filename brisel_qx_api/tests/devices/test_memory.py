"""Calls on handles, failing ones and updates whose callbacks fail included,
must leave no Python objects behind."""

import gc
import tracemalloc
import types

import brisel_qx_api as qx

ITERATIONS = 1_500


def test_repeated_handle_calls_leave_traced_memory_where_it_was(scanned, capfd):
    device, legacy = scanned.device("main"), scanned.device("legacy")
    updater = scanned.device("updater")
    interface, legacy_interface = device.get_interfaces()[0], legacy.get_interfaces()[0]
    no_attributes = types.SimpleNamespace()

    class Failing(qx.FirmwareUpdateCallbacks):
        def report_progress(self, total_transferred_bytes):
            raise ValueError(total_transferred_bytes)

    def once():
        device.get_name(), device.get_manufacturing_date(), device.get_interfaces()
        interface.get_status().eth_interface_status.speed
        interface.get_supported_eth_configs().role
        interface.get_packet_generator_config()
        for failing in (lambda: legacy_interface.read_dcq(), lambda: interface.set_eth_config(no_attributes),
                        lambda: interface.set_nickname(5),
                        lambda: device.update_firmware_from_path("/nonexistent", None)):
            try:
                failing()
            except (qx.ApiNotAvailableInProtocolVersion, AttributeError, TypeError, ValueError):
                pass

    for _ in range(100):
        once()
    for _ in range(3):
        updater.update_firmware_from_blob(b"x" * 3000, Failing())
        updater.update_firmware_from_blob(b"x" * 3000, None)
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(ITERATIONS):
            once()
        for _ in range(50):
            updater.update_firmware_from_blob(b"x" * 3000, Failing())
            updater.update_firmware_from_blob(b"x" * 3000, None)
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
        capfd.readouterr()
    # One object kept per call would be well over this.
    assert growth < 64 * 1024, growth
