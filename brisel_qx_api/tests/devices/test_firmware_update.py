"""Firmware updates with Python callbacks, and what callbacks and other
threads may do with the device meanwhile."""

import os
import re
import signal
import subprocess
import threading
import time
import traceback
import weakref

import pytest

import brisel_qx_api as qx

CHUNK = 1024
IMAGE = bytes(range(256)) * 10 + b"tail"  # 2,564 bytes: two full chunks and a short one
PROGRESS = [1024, 2048, 2564]
FAILED_LINE = "Failed to call python function with error "
JOIN_TIMEOUT = 20


@pytest.fixture
def updater(scanned):
    fake = scanned.fake("updater")
    fake.set("firmware.chunk_size", CHUNK)
    yield scanned.device("updater")
    fake.command("clear_faults")
    fake.set("firmware.finalize_status", 0)


@pytest.fixture
def fake(scanned):
    return scanned.fake("updater")


class Recording(qx.FirmwareUpdateCallbacks):
    def __init__(self):
        self.calls = []

    def update_started(self, total_bytes):
        self.calls.append(("update_started", total_bytes))

    def report_progress(self, total_transferred_bytes):
        self.calls.append(("report_progress", total_transferred_bytes))

    def start_finalizing(self):
        self.calls.append(("start_finalizing",))

    def update_finished(self, update_result):
        self.calls.append(("update_finished", update_result))


EXPECTED_CALLS = ([("update_started", len(IMAGE))] + [("report_progress", n) for n in PROGRESS]
                  + [("start_finalizing",), ("update_finished", qx.FirmwareUpdateResult.Success)])


def received_image(fake):
    return bytes.fromhex(fake.get("firmware.image").removeprefix("hex:"))


def failed_lines(out):
    return [line for line in out.splitlines() if line.startswith(FAILED_LINE)]


def test_update_from_bytes_reports_in_order(updater, fake, capfd):
    callbacks = Recording()
    assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    assert callbacks.calls == EXPECTED_CALLS
    assert callbacks.calls[-1][1] is qx.FirmwareUpdateResult.Success
    assert all(type(call[1]) is int for call in callbacks.calls[:-2])
    assert received_image(fake) == IMAGE
    assert capfd.readouterr().out == ""


def test_update_from_a_file_and_from_a_bytes_subclass(updater, fake, tmp_path):
    image_file = tmp_path / "firmware.img"
    image_file.write_bytes(IMAGE)
    callbacks = Recording()
    assert updater.update_firmware_from_path(path=str(image_file), callbacks=callbacks) is None
    assert callbacks.calls == EXPECTED_CALLS
    assert received_image(fake) == IMAGE

    class Image(bytes):
        pass

    callbacks = Recording()
    updater.update_firmware_from_blob(Image(IMAGE[:100]), callbacks)
    assert callbacks.calls[0] == ("update_started", 100)
    assert received_image(fake) == IMAGE[:100]


def test_an_empty_file_is_an_empty_image(updater, fake, tmp_path):
    image_file = tmp_path / "empty.img"
    image_file.write_bytes(b"")
    callbacks = Recording()
    assert updater.update_firmware_from_path(str(image_file), callbacks) is None
    assert callbacks.calls == [("update_started", 0), ("start_finalizing",),
                               ("update_finished", qx.FirmwareUpdateResult.Success)]
    assert received_image(fake) == b""


def test_the_base_class_as_is_reports_nothing_visible(updater, capfd):
    assert updater.update_firmware_from_blob(IMAGE, qx.FirmwareUpdateCallbacks()) is None
    assert capfd.readouterr().out == ""


def test_overriding_one_method_leaves_the_others_to_the_base_class(updater, capfd):
    class Progress(qx.FirmwareUpdateCallbacks):
        def __init__(self):
            self.seen = []

        def report_progress(self, total_transferred_bytes):
            self.seen.append(total_transferred_bytes)

    callbacks = Progress()
    updater.update_firmware_from_blob(IMAGE, callbacks)
    assert callbacks.seen == PROGRESS
    assert capfd.readouterr().out == ""


def test_any_object_with_the_methods_will_do(updater):
    class Unrelated:
        def __init__(self):
            self.calls = []

        def __getattr__(self, name):  # also found by ordinary lookup
            return lambda *args: self.calls.append((name, *args))

    callbacks = Unrelated()
    updater.update_firmware_from_blob(IMAGE, callbacks)
    assert callbacks.calls == EXPECTED_CALLS


def test_without_callbacks_each_report_prints_an_attribute_error(updater, fake, capfd):
    assert updater.update_firmware_from_blob(IMAGE, None) is None
    expected = [
        FAILED_LINE + "PyErr { type: <class 'AttributeError'>, value: AttributeError(\"'NoneType' object has no "
                      f"attribute '{name}'\"), traceback: None }}"
        for name in ["update_started"] + ["report_progress"] * 3 + ["start_finalizing", "update_finished"]
    ]
    assert capfd.readouterr().out.splitlines() == expected
    assert received_image(fake) == IMAGE


def test_a_raising_callback_is_printed_once_per_call_and_the_update_goes_on(updater, capfd):
    class Failing(Recording):
        def report_progress(self, total_transferred_bytes):
            super().report_progress(total_transferred_bytes)
            raise KeyError(total_transferred_bytes)

    callbacks = Failing()
    assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    assert callbacks.calls == EXPECTED_CALLS
    lines = failed_lines(capfd.readouterr().out)
    assert len(lines) == 3
    for line, count in zip(lines, PROGRESS):
        match = re.fullmatch(r"Failed to call python function with error PyErr \{ type: <class 'KeyError'>, "
                             r"value: KeyError\((\d+)\), traceback: Some\(\"(.*)\"\) \}", line)
        assert match, line
        assert int(match.group(1)) == count
        traceback = match.group(2)
        assert traceback.startswith("Traceback (most recent call last):\\n  File \\\"")
        assert "in report_progress\\n" in traceback and "raise KeyError(total_transferred_bytes)" in traceback
        assert "\n" not in traceback


def test_return_values_of_callbacks_are_ignored(updater, capfd):
    class Returning(qx.FirmwareUpdateCallbacks):
        def update_started(self, total_bytes):
            return "stop?"

        def update_finished(self, update_result):
            return update_result

    assert updater.update_firmware_from_blob(IMAGE, Returning()) is None
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("status, result, error, text", [
    (3, qx.FirmwareUpdateResult.UnknownError, qx.OperationFailed, "Operation failed"),
])
def test_a_refused_finalize_is_reported_twice(updater, fake, status, result, error, text):
    fake.set("firmware.finalize_status", status)
    callbacks = Recording()
    with pytest.raises(error) as caught:
        updater.update_firmware_from_blob(IMAGE, callbacks)
    assert caught.value.args == (text,)
    assert callbacks.calls[-1] == ("update_finished", result)
    assert callbacks.calls[-1][1] is result


def test_an_error_packet_for_finalize_is_a_transfer_error(updater, fake):
    fake.fault(53, 1, "error 3")  # the finalize request
    callbacks = Recording()
    with pytest.raises(ValueError, match=r"^Unknown error type ApiError\("):
        updater.update_firmware_from_blob(IMAGE, callbacks)
    assert callbacks.calls[-1] == ("update_finished", qx.FirmwareUpdateResult.TransferError)
    assert callbacks.calls[-1][1] is qx.FirmwareUpdateResult.TransferError


def test_a_refused_start_calls_no_callback(updater, fake):
    fake.fault(49, 1, "error 4")  # the start request
    callbacks = Recording()
    with pytest.raises(ValueError):
        updater.update_firmware_from_blob(IMAGE, callbacks)
    assert callbacks.calls == []
    updater.update_firmware_from_blob(IMAGE, callbacks)
    assert callbacks.calls == EXPECTED_CALLS


def test_callback_using_the_same_device_object_is_already_borrowed(updater, capfd):
    class UsesDevice(Recording):
        def report_progress(self, total_transferred_bytes):
            super().report_progress(total_transferred_bytes)
            updater.get_ean()

    callbacks = UsesDevice()
    assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    assert callbacks.calls == EXPECTED_CALLS
    lines = failed_lines(capfd.readouterr().out)
    assert len(lines) == 3
    assert all(line.startswith(FAILED_LINE + "PyErr { type: <class 'RuntimeError'>, "
                                             "value: RuntimeError('Already borrowed'), traceback: Some(")
               for line in lines)
    assert updater.get_ean() == 0x5556667778889


def test_callback_using_an_interface_of_the_device_fails_at_once(updater, fake, capfd):
    interface = updater.get_interfaces()[0]
    outcomes = []

    class UsesInterface(Recording):
        def update_started(self, total_bytes):
            super().update_started(total_bytes)
            try:
                interface.get_status()
            except ValueError as error:
                outcomes.append(str(error))
                raise

    callbacks = UsesInterface()
    fake.clear()
    assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    assert callbacks.calls == EXPECTED_CALLS
    assert outcomes == ["Unknown error type FailedToAquireLock"]
    lines = failed_lines(capfd.readouterr().out)
    assert len(lines) == 1
    assert lines[0].startswith(FAILED_LINE + "PyErr { type: <class 'ValueError'>, "
                                             "value: ValueError('Unknown error type FailedToAquireLock')")
    # Nothing of the refused call reached the device, and the lock is sound.
    assert 19 not in [int.from_bytes(frame[:2], "little") for frame in fake.requests()]
    assert type(interface.get_status()) is qx.InterfaceStatus


def test_another_thread_waits_for_the_update_without_stopping_it(updater, fake):
    """A thread that uses an interface of the device being updated waits
    until the update is over; the update and its callbacks go on meanwhile,
    and a thread that uses the Device object itself is refused at once."""
    interface = updater.get_interfaces()[0]
    waiting_started = threading.Event()
    status_done = threading.Event()
    results = {}

    def use_interface():
        waiting_started.set()
        try:
            results["status"] = interface.get_status()
        except Exception as error:  # reported by the assertions below
            results["status"] = error
        status_done.set()

    def use_device():
        try:
            results["ean"] = updater.get_ean()
        except RuntimeError as error:
            results["ean"] = error

    threads = [threading.Thread(target=use_interface), threading.Thread(target=use_device)]

    class StartsThreads(Recording):
        def update_started(self, total_bytes):
            super().update_started(total_bytes)
            for thread in threads:
                thread.start()
            assert waiting_started.wait(JOIN_TIMEOUT)
            threads[1].join(JOIN_TIMEOUT)
            # Sleeping lets the interface thread run into the device's lock.
            time.sleep(0.3)

        def update_finished(self, update_result):
            super().update_finished(update_result)
            results["done during update"] = status_done.is_set()

    callbacks = StartsThreads()
    assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    for thread in threads:
        thread.join(JOIN_TIMEOUT)
        assert not thread.is_alive()
    assert callbacks.calls == EXPECTED_CALLS
    assert results["done during update"] is False
    assert type(results["status"]) is qx.InterfaceStatus
    assert type(results["ean"]) is RuntimeError and str(results["ean"]) == "Already borrowed"
    assert received_image(fake) == IMAGE


def test_threads_using_an_interface_meanwhile_all_get_through(updater):
    """Several threads queue on the device's lock during an update; each
    gets its turn after it, and the interpreter lock stays usable. Each
    uses an object of its own: one object in use is refused to the others."""
    interfaces = [updater.get_interfaces()[0] for _ in range(3)]
    done = []
    started = threading.Barrier(len(interfaces) + 1, timeout=JOIN_TIMEOUT)

    def use(interface):
        started.wait()
        done.append(interface.get_nickname())

    threads = [threading.Thread(target=use, args=(interface,)) for interface in interfaces]

    class Starts(Recording):
        def update_started(self, total_bytes):
            super().update_started(total_bytes)
            for thread in threads:
                thread.start()
            started.wait()
            time.sleep(0.2)

        def report_progress(self, total_transferred_bytes):
            super().report_progress(total_transferred_bytes)
            time.sleep(0.05)

    callbacks = Starts()
    updater.update_firmware_from_blob(IMAGE, callbacks)
    for thread in threads:
        thread.join(JOIN_TIMEOUT)
    assert callbacks.calls == EXPECTED_CALLS
    assert done == [""] * len(interfaces)


def test_the_callbacks_object_is_released_after_the_update(updater):
    callbacks = Recording()
    watcher = weakref.ref(callbacks)
    updater.update_firmware_from_blob(IMAGE, callbacks)
    del callbacks
    assert watcher() is None


def test_a_large_image_in_many_chunks(updater, fake):
    fake.set("firmware.chunk_size", 4000)
    image = os.urandom(1_000_000)

    class Count(qx.FirmwareUpdateCallbacks):
        reports = 0

        def report_progress(self, total_transferred_bytes):
            self.reports += 1
            self.last = total_transferred_bytes

    callbacks = Count()
    updater.update_firmware_from_blob(image, callbacks)
    assert (callbacks.reports, callbacks.last) == (250, 1_000_000)
    assert received_image(fake) == image


# Ctrl-C during an update. The update cannot be cut short; a KeyboardInterrupt
# that lands in a callback is printed like any failure there, and comes out of
# the update call once the update is over.

SMALL_CHUNK = 512
SMALL_PROGRESS = [512, 1024, 1536, 2048, 2560, 2564]


def all_calls(progress, result=qx.FirmwareUpdateResult.Success):
    return ([("update_started", len(IMAGE))] + [("report_progress", n) for n in progress]
            + [("start_finalizing",), ("update_finished", result)])


class Interrupted(KeyboardInterrupt):
    pass


class RaisesOnThirdReport(Recording):
    error = None  # set on the object: the base class's constructor takes no arguments
    reports = 0

    def report_progress(self, total_transferred_bytes):
        super().report_progress(total_transferred_bytes)
        self.reports += 1
        if self.reports == 3:
            raise self.error


@pytest.mark.parametrize("error, comes_out", [
    (KeyboardInterrupt(), True),
    (Interrupted("a subclass"), True),
    (ValueError("printed and dropped"), False),
])
def test_ctrl_c_in_a_callback_comes_out_once_the_update_is_over(updater, fake, capfd, error, comes_out):
    fake.set("firmware.chunk_size", SMALL_CHUNK)
    callbacks = RaisesOnThirdReport()
    callbacks.error = error
    if comes_out:
        with pytest.raises(KeyboardInterrupt) as caught:
            updater.update_firmware_from_blob(IMAGE, callbacks)
        assert caught.value is error
        assert caught.value.__context__ is None
    else:
        assert updater.update_firmware_from_blob(IMAGE, callbacks) is None
    # The update went on to its end: every report, the finalize exchange.
    assert callbacks.calls == all_calls(SMALL_PROGRESS)
    assert fake.get("firmware.finalize_count") == "1"
    assert received_image(fake) == IMAGE
    lines = failed_lines(capfd.readouterr().out)
    assert len(lines) == 1
    assert lines[0].startswith(f"{FAILED_LINE}PyErr {{ type: {type(error)!r}, value: {error!r}, traceback: Some(")
    # Nothing is left pending: the device object is free and works.
    assert updater.get_name() == "QX Updater"


def test_of_several_ctrl_c_the_first_comes_out_also_when_the_update_failed(updater, fake, capfd, tmp_path):
    image_file = tmp_path / "firmware.img"
    image_file.write_bytes(IMAGE)
    fake.set("firmware.finalize_status", 3)  # the device refuses the image

    class InterruptsEveryReport(Recording):
        def report_progress(self, total_transferred_bytes):
            super().report_progress(total_transferred_bytes)
            raise Interrupted(total_transferred_bytes)

    callbacks = InterruptsEveryReport()
    with pytest.raises(Interrupted) as caught:
        updater.update_firmware_from_path(str(image_file), callbacks)
    assert caught.value.args == (PROGRESS[0],)
    # What the update itself came to goes with the interrupt.
    failure = caught.value.__context__
    assert type(failure) is qx.OperationFailed and failure.args == ("Operation failed",)
    assert callbacks.calls == all_calls(PROGRESS, qx.FirmwareUpdateResult.UnknownError)
    assert len(failed_lines(capfd.readouterr().out)) == len(PROGRESS)


def test_ctrl_c_while_a_callback_handles_its_own_error_keeps_the_update_failure(updater, fake, capfd):
    """The interrupt already has the callback's error as its context; the
    update's failure goes in between, so both stay in the chain."""
    fake.set("firmware.chunk_size", SMALL_CHUNK)
    fake.fault(51, 1, "noreply")  # the first chunk's reply never comes

    class InterruptsWhileHandling(Recording):
        def update_started(self, total_bytes):
            super().update_started(total_bytes)
            try:
                raise LookupError("the callback's own")
            except LookupError:
                raise KeyboardInterrupt("while handling")

    callbacks = InterruptsWhileHandling()
    with pytest.raises(KeyboardInterrupt) as caught:
        updater.update_firmware_from_blob(IMAGE, callbacks)
    assert caught.value.args == ("while handling",)
    failure = caught.value.__context__
    assert type(failure) is ValueError and failure.args[0].startswith("Unknown error type ")
    assert type(failure.__context__) is LookupError and failure.__context__.args == ("the callback's own",)
    assert failure.__context__.__context__ is None
    # Printed oldest first, as Python prints any chain.
    shown = "".join(traceback.format_exception(type(caught.value), caught.value, caught.value.__traceback__))
    positions = [shown.find(text) for text in ("LookupError: the callback's own", f"ValueError: {failure}",
                                               "KeyboardInterrupt: while handling")]
    assert -1 not in positions and positions == sorted(positions), shown
    assert callbacks.calls == [("update_started", len(IMAGE))]
    assert len(failed_lines(capfd.readouterr().out)) == 1
    fake.command("clear_faults")
    assert updater.update_firmware_from_blob(IMAGE, Recording()) is None


def test_a_real_ctrl_c_while_the_update_waits_on_the_device(updater, fake, capfd):
    """SIGINT from another process, most likely while the module waits for a
    chunk's reply: the interpreter raises KeyboardInterrupt in the next
    callback, and the update call raises it once the update is over."""
    fake.set("firmware.chunk_size", SMALL_CHUNK)
    fake.fault(51, "always", "delay 50")  # each chunk's reply
    sender = []

    class SendsCtrlC(Recording):
        def update_started(self, total_bytes):
            super().update_started(total_bytes)
            sender.append(subprocess.Popen(["/bin/sh", "-c", f"sleep 0.1; kill -INT {os.getpid()}"]))

        def update_finished(self, update_result):
            super().update_finished(update_result)
            sender[0].wait(JOIN_TIMEOUT)  # so that the signal is in before the update returns

    callbacks = SendsCtrlC()
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.raises(KeyboardInterrupt):
            updater.update_firmware_from_blob(IMAGE, callbacks)
    finally:
        signal.signal(signal.SIGINT, previous)
        for process in sender:
            process.wait(JOIN_TIMEOUT)
    assert sender[0].returncode == 0
    # The update went on to its end; the one callback that the interrupt cut
    # short may have missed recording its call.
    assert fake.get("firmware.finalize_count") == "1"
    assert received_image(fake) == IMAGE
    assert len(set(all_calls(SMALL_PROGRESS)) - set(callbacks.calls)) <= 1
    lines = failed_lines(capfd.readouterr().out)
    assert len(lines) == 1 and lines[0].startswith(FAILED_LINE + "PyErr { type: <class 'KeyboardInterrupt'>")
