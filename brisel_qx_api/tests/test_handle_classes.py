"""The handle classes and the callbacks base class as Python sees them,
without any device: names, documentation, what may be constructed or
subclassed, and the base class's no-op methods with their argument checks."""

import pytest

import brisel_qx_api as qx

INTERFACE_SIGNATURES = {
    "identify": "($self)",
    "get_nickname": "($self)",
    "set_nickname": "($self, nickname)",
    "reset_nickname": "($self)",
    "get_status": "($self)",
    "get_eth_config": "($self)",
    "set_eth_config": "($self, config)",
    "get_supported_eth_configs": "($self)",
    "get_tc10_state": "($self)",
    "send_tc10_command": "($self, command)",
    "read_dcq": "($self)",
    "run_cable_test": "($self)",
    "get_loopback_state": "($self)",
    "set_loopback_state": "($self, enabled)",
    "get_packet_generator_config": "($self)",
    "set_packet_generator_config": "($self, config)",
}
DEVICE_SIGNATURES = {
    "get_name": "($self)",
    "get_nickname": "($self)",
    "set_nickname": "($self, nickname)",
    "reset_nickname": "($self)",
    "get_serial_number": "($self)",
    "get_pcb_revision": "($self)",
    "get_firmware_version": "($self)",
    "get_bootloader_version": "($self)",
    "get_manufacturing_date": "($self)",
    "get_ean": "($self)",
    "get_firmware_ean": "($self)",
    "identify": "($self)",
    "get_interfaces": "($self)",
    "update_firmware_from_blob": "($self, blob, callbacks)",
    "update_firmware_from_path": "($self, path, callbacks)",
}
CLIENT_SIGNATURES = {
    "scan_for_devices": "($self)",
    "scan_for_devices_with_timeout": "($self, timeout)",
}
CALLBACKS_SIGNATURES = {
    "update_started": "($self, _total_bytes)",
    "report_progress": "($self, _total_transferred_bytes)",
    "start_finalizing": "($self)",
    "update_finished": "($self, _update_result)",
}
CLASSES = [
    (qx.Interface, INTERFACE_SIGNATURES),
    (qx.Device, DEVICE_SIGNATURES),
    (qx.Client, CLIENT_SIGNATURES),
    (qx.FirmwareUpdateCallbacks, CALLBACKS_SIGNATURES),
]


def own_attributes(cls):
    return {name for name in vars(cls) if not name.startswith("__")}


@pytest.mark.parametrize("cls, signatures", CLASSES, ids=lambda value: getattr(value, "__name__", ""))
def test_methods_in_table_order_with_their_signatures(cls, signatures):
    assert cls.__module__ == "brisel_qx_api"
    assert cls.__qualname__ == cls.__name__
    assert cls.__bases__ == (object,)
    assert [name for name in vars(cls) if name in signatures] == list(signatures)
    assert own_attributes(cls) == set(signatures)
    for name, signature in signatures.items():
        assert getattr(cls, name).__text_signature__ == signature, name


def test_class_documentation():
    assert qx.Interface.__doc__ is None
    assert qx.Device.__doc__ == "Device class, used for all device operations"
    assert qx.Device.__text_signature__ is None
    assert qx.Client.__doc__ == "A client, used for scanning for devices."
    assert qx.FirmwareUpdateCallbacks.__text_signature__ == "()"
    assert qx.FirmwareUpdateCallbacks.__doc__.startswith(
        "The FirmwareUpdateCallbacks is a base class to let user\nof update_firmware_from_blob")
    assert qx.FirmwareUpdateCallbacks.__doc__.endswith("'/some/path/to/firmware.img', callbacks\n        )")


@pytest.mark.parametrize(
    "method, doc",
    [
        # A trailing line break that the other docstrings do not have.
        (qx.Interface.get_nickname, "Gets the nickname\n\nReturns:\n    (str): Nicname\n"),
        (qx.Interface.set_packet_generator_config,
         "Sets the packet generator config\n\nParameters:\n    config (PacketGeneratorConfi): the new config"),
        (qx.Device.get_bootloader_version, None),
        (qx.Device.reset_nickname,
         "Resets the nickname (sets it back to empty string).\n\nRaises:\n"
         "    ApiNotAvailableInProtocolVersion: If the device firmware does not\n        yet support this api"),
        (qx.Client.scan_for_devices,
         "Scans for devices using DNS-SD\n\nReturns:\n   ([Device]): A list of found devices"),
        (qx.FirmwareUpdateCallbacks.update_started,
         "Called when the update starts\n\nParameters:\n    total_bytes (int): Total number of bytes that will get "
         "transferred"),
        (qx.create_client, "Creates a client instance.\n\nReturns:\n    (Client): A new client"),
    ],
    ids=lambda value: getattr(value, "__qualname__", ""),
)
def test_docstrings_with_peculiarities(method, doc):
    assert method.__doc__ == doc


@pytest.mark.parametrize("cls", [qx.Interface, qx.Device, qx.Client], ids=lambda cls: cls.__name__)
def test_handle_classes_cannot_be_made_or_extended_from_python(cls):
    with pytest.raises(TypeError, match=rf"^cannot create 'brisel_qx_api\.{cls.__name__}' instances$"):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        cls.__new__(cls)


@pytest.mark.parametrize("method", ["get_name", "get_interfaces"])
def test_device_method_refuses_a_foreign_receiver(method):
    with pytest.raises(TypeError):
        getattr(qx.Device, method)(qx.create_client())
    with pytest.raises(TypeError):
        getattr(qx.Device, method)(None)


def test_create_client_makes_a_new_client_each_time():
    first, second = qx.create_client(), qx.create_client()
    assert type(first) is qx.Client and type(second) is qx.Client
    assert first is not second and first != second
    with pytest.raises(TypeError):
        qx.create_client(1)
    with pytest.raises(TypeError):
        first.scan_for_devices(1)


# Nothing here reaches the network: each call fails while converting or
# binding, before any scan starts.
@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda c: c.scan_for_devices_with_timeout(0.1), TypeError,
         "argument 'timeout': 'float' object is not an instance of 'timedelta'"),
        (lambda c: c.scan_for_devices_with_timeout(1), TypeError,
         "argument 'timeout': 'int' object is not an instance of 'timedelta'"),
        (lambda c: c.scan_for_devices_with_timeout(None), TypeError,
         "argument 'timeout': 'None' is not an instance of 'timedelta'"),
        (lambda c: c.scan_for_devices_with_timeout(), TypeError,
         "Client.scan_for_devices_with_timeout() missing 1 required positional argument: 'timeout'"),
        (lambda c: c.scan_for_devices_with_timeout(timeot=1), TypeError,
         "Client.scan_for_devices_with_timeout() got an unexpected keyword argument 'timeot'"),
    ],
)
def test_scan_timeout_refusals_without_scanning(call, error, text):
    with pytest.raises(error) as caught:
        call(qx.create_client())
    assert str(caught.value) == text


def test_callbacks_base_class_does_nothing_and_takes_keywords():
    callbacks = qx.FirmwareUpdateCallbacks()
    assert callbacks.update_started(10) is None
    assert callbacks.report_progress(_total_transferred_bytes=2**64 - 1) is None
    assert callbacks.start_finalizing() is None
    assert callbacks.update_finished(qx.FirmwareUpdateResult.TransferError) is None
    assert not hasattr(callbacks, "__dict__")


def test_callbacks_subclass_keeps_state_and_reaches_base_methods():
    class Recording(qx.FirmwareUpdateCallbacks):
        def report_progress(self, total_transferred_bytes):
            self.seen = total_transferred_bytes
            return super().report_progress(total_transferred_bytes)

    callbacks = Recording()
    callbacks.report_progress(7)
    assert callbacks.seen == 7
    assert callbacks.update_started(1) is None
    assert isinstance(callbacks, qx.FirmwareUpdateCallbacks)


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda c: qx.FirmwareUpdateCallbacks(1), TypeError,
         "FirmwareUpdateCallbacks.__new__() takes 0 positional arguments but 1 was given"),
        (lambda c: qx.FirmwareUpdateCallbacks(x=1), TypeError,
         "FirmwareUpdateCallbacks.__new__() got an unexpected keyword argument 'x'"),
        (lambda c: c.update_started(-1), OverflowError, None),
        (lambda c: c.update_started(2**64), OverflowError, None),
        (lambda c: c.update_started("1"), TypeError,
         "argument '_total_bytes': 'str' object cannot be interpreted as an integer"),
        (lambda c: c.report_progress(), TypeError,
         "FirmwareUpdateCallbacks.report_progress() missing 1 required positional argument: "
         "'_total_transferred_bytes'"),
        (lambda c: c.report_progress(total_transferred_bytes=1), TypeError,
         "FirmwareUpdateCallbacks.report_progress() got an unexpected keyword argument 'total_transferred_bytes'"),
        (lambda c: c.update_finished(0), TypeError,
         "argument '_update_result': 'int' object is not an instance of 'FirmwareUpdateResult'"),
        (lambda c: c.update_finished(qx.Tc10State.Normal), TypeError,
         "argument '_update_result': 'Tc10State' object is not an instance of 'FirmwareUpdateResult'"),
        (lambda c: c.start_finalizing(1), TypeError, None),
    ],
)
def test_callbacks_base_class_argument_errors(call, error, text):
    with pytest.raises(error) as caught:
        call(qx.FirmwareUpdateCallbacks())
    if text is not None:
        assert str(caught.value) == text
    else:  # the interpreter's own text, passed on unchanged
        assert not str(caught.value).startswith("argument '")


def test_callbacks_subclass_needing_arguments_defines_its_own_new():
    class WithArguments(qx.FirmwareUpdateCallbacks):
        def __new__(cls, label):
            made = super().__new__(cls)
            made.label = label
            return made

        def __init__(self, label):
            pass

    assert WithArguments("x").label == "x"

    class InitOnly(qx.FirmwareUpdateCallbacks):
        def __init__(self, label):
            self.label = label

    with pytest.raises(TypeError, match="takes 0 positional arguments but 1 was given"):
        InitOnly("x")
