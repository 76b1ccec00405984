"""Per-call latency and firmware throughput: the module, the raw C++ loop and
the pure-Python client against one fake device, in interleaved rounds.
"""

import gc
import os
import socket
import struct
import time

from pure_client import PureDevice
from processes import pin_process
from stats import Samples, median

OPERATIONS = ("get_status", "get_name", "set_eth_config")
CLIENTS = ("raw", "bare", "module", "pure")
RAW_OPERATION = {"get_status": "status", "get_name": "name", "set_eth_config": "set_eth"}


def timed_calls(function, args, count):
    """`count` samples of function(*args) in ns, and the CPU time of the whole batch.

    One loop per argument count, so no packing of arguments or extra frame
    lands inside the timed region; the sample is stored after the second
    clock read.
    """
    ns = time.perf_counter_ns
    cpu = time.process_time_ns
    samples = [0] * count
    cpu_start = cpu()
    if len(args) == 0:
        for i in range(count):
            start = ns()
            function()
            samples[i] = ns() - start
    elif len(args) == 1:
        (a,) = args
        for i in range(count):
            start = ns()
            function(a)
            samples[i] = ns() - start
    else:
        a, b = args
        for i in range(count):
            start = ns()
            function(a, b)
            samples[i] = ns() - start
    return samples, cpu() - cpu_start


def timer_cost(count):
    """The median cost of an empty timed region, and the CPU time per loop turn."""
    ns = time.perf_counter_ns
    cpu = time.process_time_ns
    samples = [0] * count
    cpu_start = cpu()
    for i in range(count):
        start = ns()
        samples[i] = ns() - start
    return median(samples), (cpu() - cpu_start) / count


class BareSocket:
    """The least any Python caller can do per call: one send and one
    receive on a blocking socket, nothing checked or decoded. It shows how
    much of an overhead comes from being called from Python at all."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.buffer = bytearray(4096)

    def exchange(self, frame):
        self.sock.send(frame)
        self.sock.recv_into(self.buffer)

    def check_in_step(self, frame):
        """A reply read whole, so every batch leaves the stream in step."""
        self.sock.settimeout(5)
        try:
            self.sock.sendall(frame)
            header = self.sock.recv(4, socket.MSG_WAITALL)
            command, length = struct.unpack("<HH", header)
            if length:
                self.sock.recv(length, socket.MSG_WAITALL)
            if command != struct.unpack_from("<H", frame)[0] + 1:
                raise RuntimeError(f"bare socket out of step: reply {command}")
        finally:
            self.sock.settimeout(None)

    def close(self):
        self.sock.close()


class Targets:
    """The four ways to make each call, bound once."""

    def __init__(self, device, interface, config, pure, link_mode, raw, bare):
        self.raw = raw
        self.bare_socket = bare
        frames = {
            "get_status": struct.pack("<HHH", 19, 2, 0),
            "get_name": struct.pack("<HH", 3, 0),
            "set_eth_config": struct.pack("<HHHH", 25, 4, 0, link_mode),
        }
        self.bare = {op: (bare.exchange, (frame,)) for op, frame in frames.items()}
        self.module = {
            "get_status": (interface.get_status, ()),
            "get_name": (device.get_name, ()),
            "set_eth_config": (interface.set_eth_config, (config,)),
        }
        self.pure = {
            "get_status": (pure.get_interface_status, (0,)),
            "get_name": (pure.get_name, ()),
            "set_eth_config": (pure.set_eth_config, (0, link_mode)),
        }


def check_same_frames(fake, targets):
    """Each client must send the very bytes the module sends."""
    for operation in OPERATIONS:
        frames = {}
        for client in CLIENTS:
            fake.clear()
            if client == "raw":
                targets.raw.ask(f"once {RAW_OPERATION[operation]}")
            else:
                function, args = getattr(targets, client)[operation]
                function(*args)
            frames[client] = fake.requests()
        if not (len(frames["module"]) == 1 and
                frames["raw"] == frames["bare"] == frames["module"] == frames["pure"]):
            raise RuntimeError(f"{operation}: the clients send different frames: {frames}")
    fake.clear()


def place(placement, fake, raw):
    os.sched_setaffinity(0, {placement.client_core})
    pin_process(raw.process.pid, placement.client_core)
    pin_process(fake.process.pid, placement.device_core)


def measure_calls(placement, fake, targets, rounds, calls, warmup):
    """{operation: {client: Samples}} for one placement."""
    place(placement, fake, targets.raw)
    py_timer, py_timer_cpu = timer_cost(calls)
    raw_timer_answer = targets.raw.ask(f"timer {calls}")
    raw_timer = median(raw_timer_answer[1:])
    raw_timer_cpu = raw_timer_answer[0] / calls
    placement.timer_ns = {"python": py_timer, "c++": raw_timer}
    results = {op: {"raw": Samples(raw_timer), "bare": Samples(py_timer), "module": Samples(py_timer),
                    "pure": Samples(py_timer)} for op in OPERATIONS}
    gc.collect()
    gc.disable()
    try:
        for round_index in range(rounds):
            for operation in OPERATIONS:
                # A different client goes first in each round, so none
                # always runs right after the device's idle gap.
                shift = round_index % len(CLIENTS)
                order = CLIENTS[shift:] + CLIENTS[:shift]
                for client in order:
                    if client == "raw":
                        targets.raw.ask(f"calls {RAW_OPERATION[operation]} {warmup}")
                        answer = targets.raw.ask(f"calls {RAW_OPERATION[operation]} {calls}")
                        results[operation]["raw"].add(answer[1:], answer[0], raw_timer_cpu)
                    else:
                        function, args = getattr(targets, client)[operation]
                        timed_calls(function, args, warmup)
                        samples, cpu_ns = timed_calls(function, args, calls)
                        results[operation][client].add(samples, cpu_ns, py_timer_cpu)
                        if client == "bare":
                            targets.bare_socket.check_in_step(args[0])
                fake.clear()  # the device keeps every request frame
            gc.collect()
    finally:
        gc.enable()
    return results


def firmware_image(size):
    """Byte i is i * 7 mod 251, as the raw loop makes it."""
    period = bytes(i * 7 % 251 for i in range(251))
    return (period * (size // 251 + 1))[:size]


def measure_firmware(placement, qx, fake, device, raw, size, chunk, rounds):
    """{client: [seconds per update]}; "module" with the callbacks base class,
    "module_py" with a Python subclass whose methods do nothing."""

    class PythonCallbacks(qx.FirmwareUpdateCallbacks):
        def update_started(self, total_bytes):
            pass

        def report_progress(self, total_transferred_bytes):
            pass

        def start_finalizing(self):
            pass

        def update_finished(self, update_result):
            pass

    place(placement, fake, raw)
    image = firmware_image(size)
    callbacks = {"module": qx.FirmwareUpdateCallbacks(), "module_py": PythonCallbacks()}
    times = {"raw": [], "module": [], "module_py": []}
    order_base = ("raw", "module", "module_py")
    gc.collect()
    for round_index in range(rounds):
        order = order_base[round_index % 3:] + order_base[:round_index % 3]
        for client in order:
            if client == "raw":
                times["raw"].append(raw.ask(f"firmware {size} {chunk} 1")[0] / 1e9)
            else:
                start = time.perf_counter_ns()
                device.update_firmware_from_blob(image, callbacks[client])
                times[client].append((time.perf_counter_ns() - start) / 1e9)
            if fake.command("get firmware.announced_size") != str(size):
                raise RuntimeError("the device did not see the whole update")
            fake.clear()
    expected_chunks = -(-size // chunk)
    last_chunk = int(fake.command("get firmware.chunk_indices").split()[-1])
    if last_chunk != expected_chunks - 1:
        raise RuntimeError(f"last chunk index {last_chunk}, expected {expected_chunks - 1}")
    return times


def connect_pure(port):
    return PureDevice("127.0.0.1", port)
