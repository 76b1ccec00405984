"""Per-call latency and firmware throughput: the module, the raw C++ loop,
the bare Python socket and the pure-Python client against one fake device,
in interleaved rounds. The raw loop and the bare socket run twice: as the
physical limit, and making the system calls the module makes ("same").
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
CLIENTS = ("raw", "raw_same", "bare", "bare_same", "module", "pure")
RAW_CLIENTS = ("raw", "raw_same")  # the C++ loops, driven over their stdin
BARE_CLIENTS = ("bare", "bare_same")
RAW_OPERATION = {"get_status": "status", "get_name": "name", "set_eth_config": "set_eth"}
# Looked up once, not on every call of the same-calls socket.
MSG_DONTWAIT, IPPROTO_TCP, TCP_QUICKACK = socket.MSG_DONTWAIT, socket.IPPROTO_TCP, socket.TCP_QUICKACK


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


class SameCallsSocket(BareSocket):
    """The bare socket making the module's system calls besides: before each
    request a drain (reads without waiting until none is left; here the
    first finds nothing), after the reply an immediate acknowledgement.
    What the module adds to this is the cost of its own code."""

    def __init__(self, port):
        super().__init__(port)
        self.scratch = bytearray(4096)

    def exchange(self, frame):
        sock = self.sock
        try:
            while sock.recv_into(self.scratch, 4096, MSG_DONTWAIT):
                pass
        except BlockingIOError:
            pass
        sock.send(frame)
        sock.recv_into(self.buffer)
        sock.setsockopt(IPPROTO_TCP, TCP_QUICKACK, 1)


class Targets:
    """Every way to make each call, bound once: `raw_loops` and
    `bare_sockets` by client name, the Python callables in `calls`."""

    def __init__(self, device, interface, config, pure, link_mode, raw_loops, bare_sockets):
        self.raw_loops = raw_loops
        self.bare_sockets = bare_sockets
        frames = {
            "get_status": struct.pack("<HHH", 19, 2, 0),
            "get_name": struct.pack("<HH", 3, 0),
            "set_eth_config": struct.pack("<HHHH", 25, 4, 0, link_mode),
        }
        self.calls = {client: {op: (bare.exchange, (frame,)) for op, frame in frames.items()}
                      for client, bare in bare_sockets.items()}
        self.calls["module"] = {
            "get_status": (interface.get_status, ()),
            "get_name": (device.get_name, ()),
            "set_eth_config": (interface.set_eth_config, (config,)),
        }
        self.calls["pure"] = {
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
            if client in RAW_CLIENTS:
                targets.raw_loops[client].ask(f"once {RAW_OPERATION[operation]}")
            else:
                function, args = targets.calls[client][operation]
                function(*args)
            frames[client] = fake.requests()
        module = frames["module"]
        if len(module) != 1 or any(sent != module for sent in frames.values()):
            raise RuntimeError(f"{operation}: the clients send different frames: {frames}")
    fake.clear()


def place(placement, fake, raw_loops):
    os.sched_setaffinity(0, {placement.client_core})
    for raw in raw_loops.values():
        pin_process(raw.process.pid, placement.client_core)
    pin_process(fake.process.pid, placement.device_core)


def measure_calls(placement, fake, targets, rounds, calls, warmup):
    """{operation: {client: Samples}} for one placement."""
    place(placement, fake, targets.raw_loops)
    py_timer, py_timer_cpu = timer_cost(calls)
    raw_timer_answer = targets.raw_loops["raw"].ask(f"timer {calls}")
    raw_timer = median(raw_timer_answer[1:])
    raw_timer_cpu = raw_timer_answer[0] / calls
    placement.timer_ns = {"python": py_timer, "c++": raw_timer}
    results = {op: {client: Samples(raw_timer if client in RAW_CLIENTS else py_timer) for client in CLIENTS}
               for op in OPERATIONS}
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
                    if client in RAW_CLIENTS:
                        raw = targets.raw_loops[client]
                        raw.ask(f"calls {RAW_OPERATION[operation]} {warmup}")
                        answer = raw.ask(f"calls {RAW_OPERATION[operation]} {calls}")
                        results[operation][client].add(answer[1:], answer[0], raw_timer_cpu)
                    else:
                        function, args = targets.calls[client][operation]
                        timed_calls(function, args, warmup)
                        samples, cpu_ns = timed_calls(function, args, calls)
                        results[operation][client].add(samples, cpu_ns, py_timer_cpu)
                        if client in BARE_CLIENTS:
                            targets.bare_sockets[client].check_in_step(args[0])
                fake.clear()  # the device keeps every request frame
            gc.collect()
    finally:
        gc.enable()
    return results


def firmware_image(size):
    """Byte i is i * 7 mod 251, as the raw loop makes it."""
    period = bytes(i * 7 % 251 for i in range(251))
    return (period * (size // 251 + 1))[:size]


def measure_firmware(placement, qx, fake, device, raw_loops, size, chunk, rounds):
    """{client: [seconds per update]}; "raw" and "raw_same" the C++ loops,
    "module" with the callbacks base class, "module_py" with a Python
    subclass whose methods do nothing."""

    class PythonCallbacks(qx.FirmwareUpdateCallbacks):
        def update_started(self, total_bytes):
            pass

        def report_progress(self, total_transferred_bytes):
            pass

        def start_finalizing(self):
            pass

        def update_finished(self, update_result):
            pass

    place(placement, fake, raw_loops)
    image = firmware_image(size)
    callbacks = {"module": qx.FirmwareUpdateCallbacks(), "module_py": PythonCallbacks()}
    order_base = (*RAW_CLIENTS, "module", "module_py")
    times = {client: [] for client in order_base}
    gc.collect()
    for round_index in range(rounds):
        shift = round_index % len(order_base)
        order = order_base[shift:] + order_base[:shift]
        for client in order:
            if client in RAW_CLIENTS:
                times[client].append(raw_loops[client].ask(f"firmware {size} {chunk} 1")[0] / 1e9)
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
