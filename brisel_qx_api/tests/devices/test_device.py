"""brisel_qx_api.Device against fake devices found by a scan."""

import datetime
import os
import pathlib
import resource
import struct
import threading
import time

import pytest

import brisel_qx_api as qx


def commands(fake):
    return [struct.unpack_from("<H", frame)[0] for frame in fake.requests()]


@pytest.fixture
def device(main_device, main_fake):
    yield main_device
    main_fake.command("clear_faults")


IDENTITY = [
    ("get_name", "QX Main"),
    ("get_nickname", ""),
    ("get_pcb_revision", "C"),
    ("get_firmware_version", "2.4.1"),
    ("get_bootloader_version", "1.2.0"),
    ("get_firmware_ean", 0x4260123456796),
    ("get_ean", 0x4260123456789),
    ("get_serial_number", 1001),
]


@pytest.mark.parametrize("method, expected", IDENTITY, ids=[case[0] for case in IDENTITY])
def test_identity(device, method, expected):
    value = getattr(device, method)()
    assert type(value) is type(expected)
    assert value == expected


def test_identity_is_asked_anew_except_ean_and_serial(device, main_fake):
    main_fake.clear()
    device.get_name()
    device.get_name()
    device.get_ean()
    device.get_serial_number()
    device.get_firmware_ean()
    assert commands(main_fake) == [3, 3, 9]

    spec = main_fake.spec
    main_fake.set("name", "Renamed")
    main_fake.set("ean", 1)
    try:
        assert device.get_name() == "Renamed"
        assert device.get_ean() == spec.ean  # kept from the scan
    finally:
        main_fake.set("name", spec.name)
        main_fake.set("ean", spec.ean)


@pytest.mark.parametrize("call, stored", [
    (lambda d: d.set_nickname("bench left"), "bench left"),
    (lambda d: d.set_nickname(nickname="keyword"), "keyword"),
    (lambda d: d.reset_nickname(), ""),
])
def test_nickname_writes(device, main_fake, call, stored):
    main_fake.set("nickname", "before")
    try:
        assert call(device) is None
        assert main_fake.get("nickname") == stored
        assert device.get_nickname() == stored
    finally:
        main_fake.set("nickname", "")


def test_identify_sends_one_request(device, main_fake):
    main_fake.clear()
    assert device.identify() is None
    assert commands(main_fake) == [7]


@pytest.mark.parametrize("call", [
    lambda d: d.get_nickname(),
    lambda d: d.set_nickname("x"),
    lambda d: d.reset_nickname(),
])
def test_version_1_device_refuses_nicknames_without_sending(scanned, call):
    legacy, fake = scanned.device("legacy"), scanned.fake("legacy")
    fake.clear()
    with pytest.raises(qx.ApiNotAvailableInProtocolVersion) as caught:
        call(legacy)
    assert caught.value.args == ("Operation not supported in older firmware",)
    assert fake.requests() == []
    assert legacy.get_name() == "QX Legacy"


UTC = datetime.timezone.utc


@pytest.mark.parametrize("seconds, expected", [
    (0, datetime.datetime(1970, 1, 1, tzinfo=UTC)),
    (1_700_000_000, datetime.datetime(2023, 11, 14, 22, 13, 20, tzinfo=UTC)),
    (253_402_300_799, datetime.datetime(9999, 12, 31, 23, 59, 59, tzinfo=UTC)),
])
def test_manufacturing_date(device, main_fake, seconds, expected):
    main_fake.set("manufacturing_date", seconds)
    try:
        first, second = device.get_manufacturing_date(), device.get_manufacturing_date()
    finally:
        main_fake.set("manufacturing_date", 1_700_000_000)
    assert first == expected and first is not second
    assert type(first) is datetime.datetime
    assert first.tzinfo is UTC
    assert first.microsecond == 0


@pytest.mark.parametrize("seconds, error, text", [
    (253_402_300_800, OverflowError, None),          # past year 9999: datetime's own refusal
    (86_400 * 999_999_999, OverflowError, None),     # timedelta's largest day count, added to 1970
    (86_400 * 1_000_000_000, OverflowError, None),   # more days than a timedelta holds
    (185_542_587_187_200, ValueError, "out of range integral type conversion attempted"),
    (2**63 - 1, ValueError, "out of range integral type conversion attempted"),
])
def test_manufacturing_date_beyond_datetime(device, main_fake, seconds, error, text):
    main_fake.set("manufacturing_date", seconds)
    try:
        with pytest.raises(error) as caught:
            device.get_manufacturing_date()
        assert type(caught.value) is error
        if text is not None:
            assert str(caught.value) == text
    finally:
        main_fake.set("manufacturing_date", 1_700_000_000)
    assert device.get_manufacturing_date().year == 2023


def test_device_without_interfaces(scanned):
    bare = scanned.device("bare")
    first, second = bare.get_interfaces(), bare.get_interfaces()
    assert first == [] and type(first) is list and first is not second


# Statuses inside the identify reply: (wire status, exception, message)
@pytest.mark.parametrize("status, error, text", [
    (2, ValueError, 'Unknown error type ApiError("Encountered an unspecified error")'),
    (3, qx.OperationFailed, "Operation failed"),
    (4, qx.OperationNotPermitted, "Operation not permitted"),
    (5, qx.OperationNotSupportedByDevice, "Operation failed"),
    (6, qx.OperationNotSupportedByInterface, "Operation not supported by interface"),
])
@pytest.mark.parametrize("field, call", [
    ("identify_status", lambda d: d.identify()),
    ("set_nickname_status", lambda d: d.set_nickname("refused")),
], ids=["identify", "set_nickname"])
def test_non_success_status_in_a_reply_raises(device, main_fake, field, call, status, error, text):
    main_fake.set(field, status)
    try:
        with pytest.raises(error) as caught:
            call(device)
        assert type(caught.value) is error
        assert caught.value.args == (text,)
    finally:
        main_fake.set(field, 0)
    assert call(device) is None
    device.reset_nickname()


@pytest.mark.parametrize("status, error, text", [
    (1, qx.ApiNotAvailableInProtocolVersion, "Operation not supported in older firmware"),
    (4, ValueError, 'Unknown error type ApiError("An error ocurred in the protocol '
                    '\\"QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED\\"")'),
    (2, ValueError, 'Unknown error type ApiError("An error ocurred in the protocol '
                    '\\"QX_PROTOCOL_STATUS_SERVICE_API_ERROR\\"")'),
])
@pytest.mark.parametrize("call", [lambda d: d.get_name(), lambda d: d.get_manufacturing_date(),
                                  lambda d: d.get_interfaces()], ids=["get_name", "get_manufacturing_date",
                                                                      "get_interfaces"])
def test_error_packet_raises_and_the_device_goes_on(device, main_fake, call, status, error, text):
    main_fake.fault("next", 1, f"error {status}")
    with pytest.raises(error) as caught:
        call(device)
    assert type(caught.value) is error
    assert caught.value.args == (text,)
    assert device.get_name() == "QX Main"


def test_a_reply_value_that_cannot_be_converted(device, main_fake, capfd):
    # An interface type the module has no member for.
    interface = device.get_interfaces()[0]
    main_fake.iset(0, "interface_type", 1)
    try:
        with pytest.raises(ValueError, match=r"^Unknown error type NotImplemented$"):
            interface.get_status()
    finally:
        main_fake.iset(0, "interface_type", 0)
    assert capfd.readouterr().out.startswith("Conversion error not implemented, ")
    assert type(interface.get_status()) is qx.InterfaceStatus


ARGUMENT_ERRORS = [
    (lambda d: d.set_nickname(), TypeError, "Device.set_nickname() missing 1 required positional argument: 'nickname'"),
    (lambda d: d.set_nickname(5), TypeError, "argument 'nickname': 'int' object is not an instance of 'str'"),
    (lambda d: d.update_firmware_from_blob(b"image"), TypeError,
     "Device.update_firmware_from_blob() missing 1 required positional argument: 'callbacks'"),
    (lambda d: d.update_firmware_from_blob(), TypeError,
     "Device.update_firmware_from_blob() missing 2 required positional arguments: 'blob' and 'callbacks'"),
    (lambda d: d.update_firmware_from_blob(b"", None, None), TypeError,
     "Device.update_firmware_from_blob() takes 2 positional arguments but 3 were given"),
    (lambda d: d.update_firmware_from_blob(bytearray(b"image"), qx.FirmwareUpdateCallbacks()), TypeError,
     "argument 'blob': 'bytearray' object is not an instance of 'bytes'"),
    (lambda d: d.update_firmware_from_blob(memoryview(b"image"), qx.FirmwareUpdateCallbacks()), TypeError,
     "argument 'blob': 'memoryview' object is not an instance of 'bytes'"),
    (lambda d: d.update_firmware_from_path(pathlib.Path("/tmp/image"), qx.FirmwareUpdateCallbacks()), TypeError,
     "argument 'path': 'PosixPath' object is not an instance of 'str'"),
    (lambda d: d.update_firmware_from_path(b"/tmp/image", qx.FirmwareUpdateCallbacks()), TypeError,
     "argument 'path': 'bytes' object is not an instance of 'str'"),
    (lambda d: d.update_firmware_from_path(path="/tmp/image"), TypeError,
     "Device.update_firmware_from_path() missing 1 required positional argument: 'callbacks'"),
]


@pytest.mark.parametrize("call, error, text", ARGUMENT_ERRORS, ids=[case[2][:60] for case in ARGUMENT_ERRORS])
def test_argument_errors_send_nothing(device, main_fake, call, error, text):
    main_fake.clear()
    with pytest.raises(error) as caught:
        call(device)
    assert str(caught.value) == text
    assert main_fake.requests() == []
    assert device.get_name() == "QX Main"


class Recording:
    """Any object with the four methods will do; this one remembers calls."""

    def __init__(self):
        self.calls = []

    def update_started(self, total_bytes):
        self.calls.append("update_started")

    def report_progress(self, total_transferred_bytes):
        self.calls.append("report_progress")

    def start_finalizing(self):
        self.calls.append("start_finalizing")

    def update_finished(self, update_result):
        self.calls.append("update_finished")


def test_refused_blob_touches_no_callback(device):
    callbacks = Recording()
    with pytest.raises(TypeError):
        device.update_firmware_from_blob(bytearray(3), callbacks)
    assert callbacks.calls == []


@pytest.mark.parametrize("path", ["/nonexistent/image.bin", "/nonexistent/\u00fcml\u00e4ut"])
def test_update_from_a_missing_file_fails_before_any_callback(device, main_fake, path):
    callbacks = Recording()
    main_fake.clear()
    with pytest.raises(ValueError) as caught:
        device.update_firmware_from_path(path, callbacks)
    assert str(caught.value) == f'Unknown error type FileOpenError("Failed to open file {path}")'
    assert callbacks.calls == []
    assert main_fake.requests() == []


@pytest.fixture
def unreadable_path(request, tmp_path):
    """A path that is no regular file: reading it would block or never end."""
    kind = request.param
    if kind == "directory":
        yield str(tmp_path)
    elif kind == "/dev/zero":
        yield "/dev/zero"
    else:
        fifo = tmp_path / "image.fifo"
        os.mkfifo(fifo)
        # Both ends at once, so that this open does not wait: an idle writer.
        writer = os.open(fifo, os.O_RDWR) if kind == "fifo with an idle writer" else None
        yield str(fifo)
        if writer is not None:
            os.close(writer)


@pytest.mark.parametrize("unreadable_path", ["directory", "/dev/zero", "fifo without a writer",
                                             "fifo with an idle writer"], indirect=True)
def test_update_from_what_is_no_regular_file_is_refused_at_once(device, main_fake, unreadable_path):
    callbacks = Recording()
    main_fake.clear()
    peak_before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    started = time.monotonic()
    with pytest.raises(ValueError) as caught:
        device.update_firmware_from_path(unreadable_path, callbacks)
    assert time.monotonic() - started < 1
    assert str(caught.value) == f'Unknown error type FileReadError("Failed to read file {unreadable_path}")'
    assert callbacks.calls == []
    assert main_fake.requests() == []
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak_before < 64 * 1024


def test_update_from_a_fifo_leaves_a_writer_waiting_in_open_waiting(device, main_fake, tmp_path):
    """Refusing a FIFO must not open it for reading: that would release a
    writer blocked in open(), whose write then breaks the pipe."""
    fifo = tmp_path / "image.fifo"
    os.mkfifo(fifo)
    writer_tid = []
    outcome = []

    def write():
        writer_tid.append(threading.get_native_id())
        try:
            with open(fifo, "wb") as image:
                image.write(b"image")
            outcome.append("written")
        except OSError as error:
            outcome.append(error)

    def in_open():
        try:
            return pathlib.Path(f"/proc/self/task/{writer_tid[0]}/syscall").read_text().split()[0] == "257"
        except (IndexError, OSError):
            return False

    writer = threading.Thread(target=write, daemon=True)
    writer.start()
    try:
        deadline = time.monotonic() + 5
        while not in_open() and time.monotonic() < deadline:
            time.sleep(0.01)
        assert in_open(), "the writer did not get into openat"

        callbacks = Recording()
        main_fake.clear()
        with pytest.raises(ValueError) as caught:
            device.update_firmware_from_path(str(fifo), callbacks)
        assert str(caught.value) == f'Unknown error type FileReadError("Failed to read file {fifo}")'
        assert callbacks.calls == []
        assert main_fake.requests() == []
        writer.join(0.2)
        assert writer.is_alive() and outcome == [], f"the update opened the FIFO for reading: {outcome}"
    finally:
        # Our own reader releases the writer; its write fits the pipe.
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        writer.join(5)
        os.close(reader)
    assert outcome == ["written"]


def test_broken_connection(scanned):
    """The device goes away: what talks to it fails with the stream's errors,
    what was kept from the scan still answers."""
    doomed, fake = scanned.device("doomed"), scanned.fake("doomed")
    interface = doomed.get_interfaces()[0]
    assert doomed.get_name() == "QX Doomed"
    fake.kill()

    with pytest.raises(ValueError) as first:
        doomed.get_name()
    assert str(first.value) == 'Unknown error type TcpStreamReadError("Failed to read packet header")'
    with pytest.raises(ValueError) as second:
        doomed.get_name()
    assert str(second.value) == ('Unknown error type TcpStreamWriteError('
                                 '"Failed to send qx_sdk_client::device::Device::get_name request")')
    with pytest.raises(ValueError) as on_interface:
        interface.get_status()
    assert str(on_interface.value) == ('Unknown error type TcpStreamWriteError('
                                       '"Failed to send qx_sdk_client::interface::Interface::get_status request")')

    assert doomed.get_ean() == fake.spec.ean
    assert doomed.get_serial_number() == fake.spec.serial


def test_device_objects_are_distinct_and_equal_only_to_themselves(scanned):
    main, legacy = scanned.device("main"), scanned.device("legacy")
    assert main == main and main != legacy
    assert type(main) is qx.Device and type(legacy) is qx.Device


@pytest.mark.parametrize("call, seconds", [
    (lambda device, fake: (fake.fault("next", 1, "delay 300"), device.get_name()), 0.3),
    (lambda device, fake: qx.create_client().scan_for_devices_with_timeout(datetime.timedelta(milliseconds=200)),
     0.2),
], ids=["exchange", "scan"])
def test_calls_keep_the_interpreter_lock_while_they_wait(scanned, device, main_fake, call, seconds):
    """No other Python thread runs while a call waits: a thread that notes
    the time as often as it can sees a pause at least as long as the wait."""
    longest_pause = [0.0]
    stop = threading.Event()

    def note_the_time():
        last = time.monotonic()
        while not stop.is_set():
            now = time.monotonic()
            longest_pause[0] = max(longest_pause[0], now - last)
            last = now

    noter = threading.Thread(target=note_the_time)
    noter.start()
    try:
        time.sleep(0.05)
        call(device, main_fake)
        time.sleep(0.05)
    finally:
        stop.set()
        noter.join(10)
    scanned.finished_at = time.monotonic()
    # Giving the lock up would let it note the time every few milliseconds.
    assert longest_pause[0] >= 0.9 * seconds
