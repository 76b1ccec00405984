"""A fault soak: ordinary calls mixed with faults that fake devices put into
their replies (closed connections, replies late past the timeout or never,
replies sent twice, error packets, garbage, truncated and oversize frames),
from two threads, each on fake devices of its own.

Every call must give a value or an exception the module documents, each
fault its own outcome, the connection must come back after every fault that
leaves it open (once a late reply is in, also when a call went out before
it), and a connection the device closed must keep failing with the stream
errors. A Device whose connection was closed stays closed, so every lane
holds several and gets new ones from a rescan (some of which see a device
fail its creation); closes are only chosen while a lane has a spare.

Choices come from a seeded generator, one per lane, so a seed replays the
same sequence of calls and faults as far as timing lets it: the threads'
interleaving, what a rescan finds and when the time share below admits a
timeout are not seeded.
"""

import datetime
import random
import re
import struct
import threading
import time
import traceback
from collections import Counter
from dataclasses import dataclass

import brisel_qx_api as qx

# Late replies come 1.7 s to 2.6 s after their request (past the client's
# 1.337 s, inside a firmware update's 5 s); this much later they are surely in.
LATE_REPLY_MARGIN = 0.5
# A reply sent twice has its copy 0 to 20 ms behind it; this much later the
# copy is surely in, before the next request goes out.
COPY_MARGIN = 0.1
RATE_LIMIT_PAUSE = 1.2   # a responder answers the same query once a second
SCAN_ATTEMPTS = 3
CALLS_PER_STEP = 3       # at most: the faulted call and two more (a close's, a late reply's)
FAULT_SHARE = 0.3
# Faults that wait out a read timeout hold every lane up (the call keeps the
# interpreter lock), when any other step takes well under a millisecond: they
# get at most this share of the soak's time, so that the rest still runs.
BLOCKING_SHARE = 0.35
SPOILED_RESCAN_SHARE = 0.5
KEPT_FAILURES = 40

IMAGE = bytes(range(256)) * 10 + b"tail"  # three chunks at the fake device's chunk size


# --- the calls ----------------------------------------------------------------

class FinishedReports(qx.FirmwareUpdateCallbacks):
    """Keeps what update_finished was given."""

    def __init__(self):
        self.results = []

    def update_finished(self, update_result):
        self.results.append(update_result)


@dataclass(frozen=True)
class UpdateOutcome:
    finished: tuple


def update_firmware(device, _reference):
    callbacks = FinishedReports()
    try:
        device.update_firmware_from_blob(IMAGE, callbacks)
    except Exception as error:
        error.soak_finished = tuple(callbacks.results)
        raise
    return UpdateOutcome(tuple(callbacks.results))


@dataclass(frozen=True)
class Call:
    name: str
    on_interface: bool
    invoke: object        # (handle, the handle's clean readings) -> value
    request_name: str     # what a failed send names
    update: bool = False  # runs with the firmware update's longer timeout


def device_call(method, request=None):
    return Call(f"Device.{method}", False, lambda handle, _: getattr(handle, method)(),
                f"qx_sdk_client::device::Device::{request or method}")


def interface_call(method, request=None, invoke=None):
    return Call(f"Interface.{method}", True, invoke or (lambda handle, _: getattr(handle, method)()),
                f"qx_sdk_client::interface::Interface::{request or method}")


# Setters write what the device already holds, so the clean readings stay
# right even when a fault lets the request through.
CALLS = [
    device_call("get_name"),
    device_call("get_nickname"),
    device_call("get_pcb_revision"),
    device_call("get_firmware_version"),
    device_call("get_bootloader_version"),
    device_call("get_manufacturing_date"),
    device_call("get_firmware_ean"),
    device_call("get_interfaces"),
    device_call("identify"),
    device_call("reset_nickname", "set_nickname"),
    Call("Device.update_firmware_from_blob", False, update_firmware,
         "qx_sdk_client::device::Device::update_firmware_from_blob", update=True),
    interface_call("identify"),
    interface_call("get_nickname"),
    interface_call("reset_nickname", "set_nickname"),
    interface_call("get_status"),
    interface_call("get_eth_config"),
    interface_call("get_supported_eth_configs"),
    interface_call("get_tc10_state"),
    interface_call("read_dcq"),
    interface_call("run_cable_test"),
    interface_call("get_loopback_state"),
    interface_call("set_loopback_state", invoke=lambda handle, _: handle.set_loopback_state(False)),
    interface_call("get_packet_generator_config"),
    interface_call("set_eth_config",
                   invoke=lambda handle, clean: handle.set_eth_config(clean["Interface.get_eth_config"][0])),
    interface_call("set_packet_generator_config",
                   invoke=lambda handle, clean: handle.set_packet_generator_config(
                       clean["Interface.get_packet_generator_config"][0])),
]
# The readings that the setters send back must be taken first.
READ_FIRST = ["Interface.get_eth_config", "Interface.get_packet_generator_config"]


def enumeration_types():
    types = []
    for name in qx.__all__:
        cls = getattr(qx, name)
        if isinstance(cls, type) and any(isinstance(getattr(cls, attribute), cls)
                                         for attribute in dir(cls) if not attribute.startswith("_")):
            types.append(cls)
    return tuple(types)


ENUMERATIONS = enumeration_types()


def fingerprint(value):
    """A comparable picture of a call's result."""
    if isinstance(value, ENUMERATIONS):
        return type(value).__name__, int(value)
    if value is None or isinstance(value, (bool, int, str, datetime.datetime)):
        return value
    if isinstance(value, (list, tuple)):
        return tuple(fingerprint(item) for item in value)
    if isinstance(value, qx.Interface):
        return "Interface"
    if isinstance(value, UpdateOutcome):
        return "update", fingerprint(value.finished)
    names = [name for name in dir(type(value)) if not name.startswith("_")]
    return type(value).__name__, tuple((name, fingerprint(getattr(value, name))) for name in names)


# --- outcomes -----------------------------------------------------------------

MODULE_EXCEPTIONS = {
    qx.ApiNotAvailableInProtocolVersion: "Operation not supported in older firmware",
    qx.OperationFailed: "Operation failed",
    qx.OperationNotPermitted: "Operation not permitted",
    qx.OperationNotSupportedByDevice: "Operation failed",
    qx.OperationNotSupportedByInterface: "Operation not supported by interface",
}

# The texts of the ValueErrors an SDK error becomes: label, pattern after
# "Unknown error type ", and the calls that may give it (None: any).
SDK_VALUE_ERRORS = [
    ("read_header", r'TcpStreamReadError\("Failed to read packet header"\)', None),
    ("read_payload", r'TcpStreamReadError\("Failed to read remaining payload"\)', None),
    ("read_oversize", r'TcpStreamReadError\("Reply payload of (\d+) bytes does not fit the packet buffer '
                      r'of 4092 payload bytes"\)', None),
    ("write", r'TcpStreamWriteError\("Failed to send (\S+) request"\)', None),
    ("protocol_status", r'ApiError\("An error ocurred in the protocol \\"(QX_PROTOCOL_STATUS_[A-Z0-9_]+)\\""\)', None),
    ("unspecified", r'ApiError\("Encountered an unspecified error"\)', None),
    ("not_implemented", r"NotImplemented", None),
    ("utf8", r'Utf8Error\("(Failed to decode utf-8 from bytes|Failed to convert cstring to native String)"\)',
     None),
    ("chunk_size", r"ApiError\(\"Device is requesting a chunk size of (\d+), which doesn't work\"\)",
     {"Device.update_firmware_from_blob"}),
]
SDK_VALUE_ERRORS = [(label, re.compile("Unknown error type " + pattern), calls)
                    for label, pattern, calls in SDK_VALUE_ERRORS]
# A manufacturing date that the device reports beyond what datetime holds.
DATE_RANGE_CALLS = {"Device.get_manufacturing_date"}
DATE_RANGE_VALUE_ERROR = "out of range integral type conversion attempted"


@dataclass(frozen=True)
class Outcome:
    label: str          # "value", an exception name, a label of SDK_VALUE_ERRORS, or "unexpected"
    value: object = None
    detail: str = ""    # the part of the message that varies (status name, length, request name)
    error: BaseException = None

    def describe(self):
        if self.error is not None:
            return f"{type(self.error).__name__}({str(self.error)!r})"
        return f"value {self.value!r}"


def classify(call, value=None, error=None):
    if error is None:
        return Outcome("value", value=value)
    text = str(error)
    if type(error) in MODULE_EXCEPTIONS:
        if error.args == (MODULE_EXCEPTIONS[type(error)],):
            return Outcome(type(error).__name__, error=error)
    elif type(error) is ValueError and len(error.args) == 1:
        for label, pattern, calls in SDK_VALUE_ERRORS:
            match = pattern.fullmatch(text)
            if match and (calls is None or call.name in calls):
                return Outcome(label, detail=match.group(1) if match.groups() else "", error=error)
        if text == DATE_RANGE_VALUE_ERROR and call.name in DATE_RANGE_CALLS:
            return Outcome("date_range", error=error)
    elif type(error) is OverflowError and call.name in DATE_RANGE_CALLS:
        return Outcome("date_range", error=error)
    return Outcome("unexpected", error=error)


# What a reply the client could not make sense of may give.
DECODED = frozenset({"value", *(cls.__name__ for cls in MODULE_EXCEPTIONS), "protocol_status", "unspecified",
                     "not_implemented", "utf8", "chunk_size", "date_range"})
READ_FAILURES = frozenset({"read_header", "read_payload"})
CLOSED_STREAM = frozenset({"read_header", "write"})


# --- faults -------------------------------------------------------------------

@dataclass(frozen=True)
class Fault:
    kind: str
    arguments: str          # after "fault <command> 1 "
    allowed: frozenset      # outcome labels
    value: str = "typed"    # "reference": a value must equal the clean reading; "typed": be of its type
    closes: bool = False
    settle: float = 0.0     # seconds after the call started until a late reply is surely in
    impatient_latency: int = None  # ms: one more call before settling, which the device answers that late
    retried: bool = False          # that call is the one that timed out
    oversize: int = None    # the announced length a read_oversize must name


def hex_bytes(data):
    return data.hex() or "00"


def frame(command, payload):
    return struct.pack("<HH", command & 0xFFFF, len(payload)) + payload


def error_packet(rng, call, command):
    status = rng.randrange(25) if rng.random() < 0.5 else rng.randrange(0x10000)
    if status == 0 or call.update:
        allowed = DECODED  # success: the typed layer's initial values; an update goes on past a refused chunk
    elif status == 1:
        allowed = frozenset({"ApiNotAvailableInProtocolVersion"})
    else:
        allowed = frozenset({"protocol_status"})
    return Fault("error_packet", f"error {status}", allowed)


def garbage_frame(rng, call, command):
    # A whole frame, for the reply's command, another one or the error packet,
    # sometimes with stray bytes behind it that the next exchange must drop.
    number = rng.choice([command + 1, rng.randrange(0x10000), 0xBAAD])
    # Mostly as short as real replies are, so that some decode.
    data = frame(number, rng.randbytes(rng.randrange(9) if rng.random() < 0.6 else rng.randrange(41)))
    if rng.random() < 0.3:
        data += rng.randbytes(rng.randrange(1, 7))
    return Fault("garbage_frame", f"raw {hex_bytes(data)}", DECODED)


def oversize_frame(rng, call, command):
    length = rng.randrange(4093, 0x10000)
    return Fault("oversize_frame", f"oversize {length}", frozenset({"read_oversize"}), oversize=length)


def zero_filled_frame(rng, call, command):
    length = rng.randrange(65) if rng.random() < 0.8 else rng.randrange(4093)
    return Fault("zero_filled_frame", f"oversize {length}", DECODED)


def short_delay(rng, call, command):
    return Fault("short_delay", f"delay {rng.randrange(0, 11)}", frozenset({"value"}), value="reference")


def split_reply(rng, call, command):
    return Fault("split_reply", f"split {rng.randrange(1, 7)} {rng.randrange(0, 5)}", frozenset({"value"}),
                 value="reference")


def late_reply(rng, call, command):
    if call.update:
        # Late for an ordinary exchange, in time for an update's longer timeout.
        delay = rng.randrange(1500, 3001)
        return Fault("late_reply", f"delay {delay}", frozenset({"value"}), value="reference")
    if rng.random() < 0.5:
        return impatient_late_reply("late_reply", rng, retried=False)
    delay = rng.randrange(1700, 2601)
    return Fault("late_reply", f"delay {delay}", frozenset({"read_header"}), settle=delay / 1000 + LATE_REPLY_MARGIN)


def retried_late_reply(rng, call, command):
    return impatient_late_reply("retried_late_reply", rng, retried=True)


def impatient_late_reply(kind, rng, retried):
    # The next call goes out at once and reads the late reply in its stead
    # (which must come well within that call's timeout); the device takes a
    # moment over that call's own reply, as real ones do.
    delay, latency = rng.randrange(1700, 2201), rng.randrange(20, 151)
    return Fault(kind, f"delay {delay}", frozenset({"read_header"}),
                 settle=(delay + latency) / 1000 + LATE_REPLY_MARGIN, impatient_latency=latency, retried=retried)


def repeated_reply(rng, call, command):
    # The call takes the first; the next call, whatever it is, must not take the copy.
    # Half of them come as from a stack with Nagle's algorithm on, which holds
    # the copy, and the replies after it, until the client acknowledges.
    gap = rng.randrange(21)
    sending = " nagle" if rng.random() < 0.5 else ""
    return Fault("repeated_reply", f"twice {gap}{sending}", frozenset({"value"}), value="reference",
                 settle=gap / 1000 + COPY_MARGIN)


def no_reply(rng, call, command):
    return Fault("no_reply", "noreply", frozenset({"read_header"}))


def truncated_frame(rng, call, command):
    """Less than a frame, and then nothing."""
    choice = rng.random()
    if choice < 0.3:
        return Fault("truncated_frame", f"raw {hex_bytes(rng.randbytes(rng.randrange(1, 4)))}",
                     frozenset({"read_header"}))
    if choice < 0.5:
        # Too long for the buffer, and cut short while the client drops it.
        length = rng.randrange(4093, 0x10000)
        data = struct.pack("<HH", command + 1, length) + bytes(rng.randrange(length))
        return Fault("truncated_frame", f"raw {hex_bytes(data)}", frozenset({"read_oversize"}), oversize=length)
    length = rng.randrange(1, 65)
    data = struct.pack("<HH", command + 1, length) + rng.randbytes(rng.randrange(length))
    return Fault("truncated_frame", f"raw {hex_bytes(data)}", frozenset({"read_payload"}))


def closed_connection(rng, call, command):
    # Some bytes of the reply, maybe all of it, then the device hangs up.
    return Fault("closed_connection", f"close {rng.randrange(17)}", frozenset({"value"}) | READ_FAILURES,
                 value="reference", closes=True)


@dataclass(frozen=True)
class FaultKind:
    name: str
    weight: float
    make: object
    blocks: bool = False     # waits out a read timeout with the interpreter lock held
    updates: bool = True     # may hit a firmware update (whose timeout is 5 s)


FAULT_KINDS = [
    FaultKind("error_packet", 5, error_packet),
    FaultKind("garbage_frame", 5, garbage_frame),
    FaultKind("oversize_frame", 3, oversize_frame),
    FaultKind("zero_filled_frame", 2, zero_filled_frame),
    FaultKind("short_delay", 1, short_delay),
    FaultKind("split_reply", 3, split_reply),
    # An update sends its next request at once, before the copy is in.
    FaultKind("repeated_reply", 1, repeated_reply, updates=False),
    FaultKind("closed_connection", 2, closed_connection),
    FaultKind("late_reply", 0.6, late_reply, blocks=True),
    FaultKind("retried_late_reply", 0.6, retried_late_reply, blocks=True, updates=False),
    FaultKind("no_reply", 1, no_reply, blocks=True, updates=False),
    FaultKind("truncated_frame", 1, truncated_frame, blocks=True, updates=False),
]


# Faults that make device creation fail, for scans that must leave the device out.
CREATION_FAULTS = [
    lambda rng: "close 0",
    lambda rng: "noreply",
    lambda rng: f"delay {rng.randrange(1700, 2601)}",
    lambda rng: f"error {rng.randrange(2, 0x10000)}",
    lambda rng: f"oversize {rng.randrange(4093, 0x10000)}",
    lambda rng: f"raw {hex_bytes(frame(rng.randrange(0x1000, 0xBA00), rng.randbytes(rng.randrange(9))))}",
]


# --- bookkeeping --------------------------------------------------------------

class Budget:
    """The soak's bounds: calls and seconds, shared by the lanes."""

    def __init__(self, seconds, calls):
        self.seconds = seconds
        self.calls_left = calls
        self.blocked = 0.0
        self._lock = threading.Lock()
        self.restart()

    def restart(self):
        """The seconds count from now."""
        self.started = time.monotonic()
        self.deadline = self.started + self.seconds

    def remaining(self):
        return self.deadline - time.monotonic()

    def blocking_allowed(self):
        with self._lock:
            return self.blocked <= BLOCKING_SHARE * (time.monotonic() - self.started)

    def add_blocked(self, seconds):
        with self._lock:
            self.blocked += seconds

    def reserve(self, calls):
        """False once the time is up or fewer than `calls` are left."""
        with self._lock:
            if self.calls_left < calls or time.monotonic() >= self.deadline:
                return False
            self.calls_left -= calls
            return True

    def give_back(self, calls):
        with self._lock:
            self.calls_left += calls


class Stats:
    def __init__(self):
        self._lock = threading.Lock()
        self.counts = Counter()          # (section, key)
        self.failure_count = 0
        self.failures = []

    def count(self, section, key, n=1):
        with self._lock:
            self.counts[section, key] += n

    def fail(self, text):
        with self._lock:
            self.failure_count += 1
            if len(self.failures) < KEPT_FAILURES:
                self.failures.append(text)

    def section(self, name):
        with self._lock:
            return Counter({key: n for (section, key), n in self.counts.items() if section == name})


# --- the lanes ----------------------------------------------------------------

@dataclass
class Handle:
    """A Device with its interfaces, over one connection."""
    device: object
    interfaces: list
    fake: object

    def target(self, call, rng):
        if not call.on_interface:
            return self.device, None
        index = rng.randrange(len(self.interfaces))
        return self.interfaces[index], index


class Scanner:
    """One client shared by the lanes; scans take turns and keep the
    responders' rate limit."""

    def __init__(self, client, stats):
        self.client = client
        self.stats = stats
        self._lock = threading.Lock()
        self.finished_at = time.monotonic() - RATE_LIMIT_PAUSE

    def scan(self, prepare=None):
        """The devices a scan finds; `prepare` runs first, when no other scan can start."""
        with self._lock:
            pause = self.finished_at + RATE_LIMIT_PAUSE - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            if prepare is not None:
                prepare()
            started = time.monotonic()
            try:
                return self.client.scan_for_devices()
            finally:
                self.finished_at = time.monotonic()
                self.stats.count("scans", "scans")
                self.stats.count("seconds held", "(scans)", self.finished_at - started)

    def find(self, serials, attempts=SCAN_ATTEMPTS):
        """{serial: Device} for those of `serials` a scan found."""
        found = {}
        for _ in range(attempts):
            found.update({device.get_serial_number(): device for device in self.scan()
                          if device.get_serial_number() in serials and device.get_serial_number() not in found})
            if set(found) >= set(serials):
                break
        return found


class Lane:
    """One thread's share of the soak: fake devices no other lane faults,
    and the Devices over them whose connections are still open."""

    def __init__(self, index, fakes, clean, commands, creation, scanner, budget, stats, seed, rescans):
        self.index = index
        self.fakes = {fake.spec.serial: fake for fake in fakes}
        self.clean = clean          # serial -> interface index or None -> call name -> (value, fingerprint)
        self.commands = commands    # call name -> the request commands it sends
        self.creation = creation    # the request commands of device creation
        self.scanner = scanner
        self.budget = budget
        self.stats = stats
        self.rng = random.Random(f"{seed}/lane {index}")
        self.rescans_left = rescans
        self.handles = []
        # Every fault kind once first, so that a short run still sees each;
        # the kinds that wait out a timeout are split between the lanes.
        self.first_round = [kind for number, kind in enumerate(FAULT_KINDS)
                            if not kind.blocks or number % 2 == index % 2]
        self.rng.shuffle(self.first_round)

    def fail(self, text):
        self.stats.fail(f"lane {self.index}: {text}")

    # Calls.

    def invoke(self, call, handle, target, index):
        self.stats.count("calls", call.name)
        try:
            value = call.invoke(target, self.clean[handle.fake.spec.serial][index])
        except Exception as error:  # whatever it is, it is classified below
            return classify(call, error=error)
        return classify(call, value=value)

    def clean_reading(self, handle, call, index):
        return self.clean[handle.fake.spec.serial][index][call.name]

    def check_value(self, call, handle, index, outcome, how):
        value, wanted = self.clean_reading(handle, call, index)
        if how == "reference" and fingerprint(outcome.value) != wanted:
            return f"gave {fingerprint(outcome.value)!r}, the device holds {wanted!r}"
        if how == "typed" and type(outcome.value) is not type(value):
            return f"gave {outcome.value!r}, not a {type(value).__name__}"
        if isinstance(outcome.value, UpdateOutcome) and len(outcome.value.finished) != 1:
            return f"returned after update_finished was called {len(outcome.value.finished)} times"
        return None

    def ordinary_call(self, handle, call, target, index, role="ordinary", context=""):
        outcome = self.invoke(call, handle, target, index)
        self.stats.count("outcomes", f"{role}: {outcome.label}")
        problem = (self.check_value(call, handle, index, outcome, "reference") if outcome.label == "value"
                   else "failed with " + outcome.describe())
        if problem:
            self.fail(f"{role}{context}: {call.name} on {handle.fake.spec.serial}: {problem}")

    def faulted_call(self, handle, call, target, index, fault, command):
        handle.fake.command(f"fault {command} 1 {fault.arguments}")
        started = time.monotonic()
        outcome = self.invoke(call, handle, target, index)
        self.stats.count("seconds held", fault.kind, time.monotonic() - started)
        # A fault the call never reached must not hit a later one.
        handle.fake.command("clear_faults")
        self.stats.count("faults", fault.kind)
        self.stats.count("fault outcomes", f"{fault.kind} -> {outcome.label}")
        if outcome.label == "protocol_status":
            self.stats.count("protocol statuses", outcome.detail)
        where = f"{call.name} on {handle.fake.spec.serial} with fault {command}: {fault.arguments[:60]}"
        problem = None
        if outcome.label not in fault.allowed:
            problem = f"failed with {outcome.describe()}" if outcome.error is not None else outcome.describe()
            problem += f", not one of {sorted(fault.allowed)}"
        elif outcome.label == "value":
            problem = self.check_value(call, handle, index, outcome, fault.value)
        elif outcome.label == "read_oversize" and int(outcome.detail) != fault.oversize:
            problem = f"named {outcome.detail} bytes, the device announced {fault.oversize}"
        finished = getattr(outcome.error, "soak_finished", ())
        if len(finished) > 1:
            problem = f"update_finished was called {len(finished)} times"
        if problem:
            self.fail(f"{where}: {problem}")
        return outcome, started

    def impatient_call(self, handle, fault, timed_out):
        """A call while the late reply is still on its way: it reads that
        reply, which is its own value if the request was the same (a script
        trying again), and otherwise one it refuses."""
        if fault.retried:
            call, target, index = timed_out
        else:
            call = self.rng.choice([call for call in CALLS if not call.update])
            target, index = handle.target(call, self.rng)
        handle.fake.command(f"fault {self.commands[call.name][0]} 1 delay {fault.impatient_latency}")
        outcome = self.invoke(call, handle, target, index)
        self.stats.count("outcomes", f"right after {fault.kind}: {outcome.label}")
        problem = None
        if outcome.label not in DECODED:
            problem = f"gave {outcome.describe()}"
        elif outcome.label == "value":
            problem = self.check_value(call, handle, index, outcome, "reference")
        if problem:
            self.fail(f"right after {fault.kind} ({fault.arguments}): {call.name} on {handle.fake.spec.serial}: "
                      f"{problem}")

    def after_fault(self, handle, fault, started, faulted):
        """Once a late reply is in, the connection must serve the next
        request as if nothing had happened."""
        if fault.impatient_latency is not None:
            self.impatient_call(handle, fault, faulted)
        pause = started + fault.settle - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        call = self.rng.choice(CALLS)
        target, index = handle.target(call, self.rng)
        self.ordinary_call(handle, call, target, index, role=f"after {fault.kind}",
                           context=f" ({fault.arguments[:40]})")

    def after_close(self, handle, fault):
        """A closed connection stays closed: every call fails with the stream's errors."""
        self.handles.remove(handle)
        self.stats.count("devices", "closed")
        for _ in range(2):
            call = self.rng.choice(CALLS)
            target, index = handle.target(call, self.rng)
            outcome = self.invoke(call, handle, target, index)
            self.stats.count("outcomes", f"after close: {outcome.label}")
            if outcome.label not in CLOSED_STREAM:
                self.fail(f"{call.name} on a closed connection ({fault.arguments}) gave {outcome.describe()}")
            elif outcome.label == "write" and outcome.detail != call.request_name:
                self.fail(f"{call.name} on a closed connection named the request {outcome.detail}")

    # Devices.

    def adopt(self, devices):
        for serial, device in devices.items():
            interfaces = device.get_interfaces()
            self.stats.count("calls", "Device.get_interfaces")
            wanted = len(self.clean[serial][None]["Device.get_interfaces"][1])
            if len(interfaces) != wanted:
                self.fail(f"a device found anew has {len(interfaces)} interfaces, not {wanted}")
            self.handles.append(Handle(device, interfaces, self.fakes[serial]))

    def rescan(self):
        """Devices anew for the fakes the lane holds none of; one call each."""
        self.rescans_left -= 1
        serials = [serial for serial in self.fakes if serial not in {h.fake.spec.serial for h in self.handles}]
        if self.rng.random() < SPOILED_RESCAN_SHARE:
            self.spoiled_scan(self.fakes[self.rng.choice(serials)])
        found = self.scanner.find(serials)
        self.stats.count("devices", "found by a rescan", len(found))
        self.adopt(found)
        return len(found)

    def spoiled_scan(self, fake):
        """A scan while one device fails to be created: it is left out,
        unless the scan connected to it more than once."""
        command = self.rng.choice(self.creation)
        arguments = self.rng.choice(CREATION_FAULTS)(self.rng)
        before = []

        def spoil():
            # Only now: a scan of the other lane would take the fault.
            before.append(fake.accepted_connections())
            fake.command(f"fault {command} 1 {arguments}")

        try:
            found = {device.get_serial_number() for device in self.scanner.scan(spoil)}
        finally:
            fake.command("clear_faults")
        connections = fake.accepted_connections() - before[0]
        if fake.spec.serial not in found:
            self.stats.count("devices", "left out by a scan")
        elif connections < 2:
            self.fail(f"a scan created device {fake.spec.serial} though it answered {command} with {arguments}")
        else:
            self.stats.count("devices", "found again by a second connection of a scan")

    # Steps.

    def pick_fault(self, call):
        def fits(kind):
            if kind.name == "closed_connection" and len(self.handles) < 2:
                return False
            return kind.updates or not call.update
        if self.first_round:
            for kind in self.first_round:
                if fits(kind):
                    self.first_round.remove(kind)
                    return kind
            return None
        if self.rng.random() >= FAULT_SHARE:
            return None
        blocking = self.budget.blocking_allowed()
        kinds = [kind for kind in FAULT_KINDS if fits(kind) and (blocking or not kind.blocks)]
        return self.rng.choices(kinds, weights=[kind.weight for kind in kinds])[0]

    def step(self):
        handle = self.handles[0]
        call = self.rng.choice(CALLS)
        target, index = handle.target(call, self.rng)
        kind = self.pick_fault(call)
        if kind is None:
            self.ordinary_call(handle, call, target, index)
            return 1
        command = self.rng.choice(self.commands[call.name])
        fault = kind.make(self.rng, call, command)
        _, started = self.faulted_call(handle, call, target, index, fault, command)
        if kind.blocks:
            self.budget.add_blocked(time.monotonic() - started)
        if fault.closes:
            self.after_close(handle, fault)
            return 3
        self.after_fault(handle, fault, started, (call, target, index))
        return 2 if fault.impatient_latency is None else 3

    def run(self):
        try:
            # A step and a rescan after it, at most: the adoptions are one call each.
            most = CALLS_PER_STEP + len(self.fakes)
            while self.handles and self.budget.reserve(most):
                used = self.step()
                if len(self.handles) < 2 and self.rescans_left > 0 and self.budget.remaining() > 3:
                    used += self.rescan()
                self.budget.give_back(most - used)
        except BaseException:  # reported, and the lane ends
            self.fail("stopped by\n" + traceback.format_exc())
        finally:
            self.handles.clear()


# --- setting up ---------------------------------------------------------------

def request_commands(handle, calls, clean_args):
    """The command numbers each call sends, as the fake device saw them."""
    commands = {}
    for call in calls:
        target, index = (handle.interfaces[0], 0) if call.on_interface else (handle.device, None)
        handle.fake.clear()
        call.invoke(target, clean_args[index])
        commands[call.name] = sorted({struct.unpack_from("<H", request)[0] for request in handle.fake.requests()})
    return commands


def clean_readings(handle):
    """index (None for the device) -> call name -> (value, fingerprint), read without faults."""
    readings = {}
    for index, target in [(None, handle.device), *enumerate(handle.interfaces)]:
        calls = [call for call in CALLS if call.on_interface == (index is not None)]
        calls.sort(key=lambda call: call.name not in READ_FIRST)
        own = readings[index] = {}
        for call in calls:
            value = call.invoke(target, own)
            # Interfaces would keep the connection open; their list's type is what counts.
            own[call.name] = ([] if call.name == "Device.get_interfaces" else value, fingerprint(value))
    return readings


def summary(stats, seed, seconds, calls, elapsed, resources):
    lines = [f"fault soak: seed {seed}, limits {seconds:g} s and {calls} calls, ran {elapsed:.1f} s"]
    called = stats.section("calls")
    lines.append(f"  calls {sum(called.values())}, scans {sum(stats.section('scans').values())}, "
                 f"devices {dict(stats.section('devices'))}")
    for name in ("faults", "outcomes", "fault outcomes", "protocol statuses", "seconds held", "calls"):
        counts = stats.section(name)
        total = sum(counts.values())
        lines.append(f"  {name} ({total:.1f}):" if isinstance(total, float) else f"  {name} ({total}):")
        lines.extend(f"    {key}: {n:.1f}" if isinstance(n, float) else f"    {key}: {n}"
                     for key, n in sorted(counts.items()))
    lines.append("  resources: " + ", ".join(resources))
    lines.append(f"  failures: {stats.failure_count}")
    return "\n".join(lines)
