"""The processes a benchmark run starts: fake devices, the mDNS advertiser
and the raw C++ loop. Every read from a child is bounded in time, and every
child is ended by its own process id when the run ends.
"""

import os
import select
import socket
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HERE = os.path.dirname(os.path.abspath(__file__))
# One responder per service, as separate devices have; or all services in one.
ADVERTISE_EACH = os.path.join(HERE, "advertise_each.py")
ADVERTISE_SHARED = os.path.join(REPO, "qx_sdk_client", "tests", "netns", "advertise.py")
STARTUP_SECONDS = 30.0
ANSWER_SECONDS = 120.0


def in_private_namespace():
    """Only loopback, in a network namespace that an ancestor process is not
    in: scripts/in_netns.sh made it."""
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        return False
    own = os.stat("/proc/self/ns/net").st_ino
    pid = os.getpid()
    for _ in range(64):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                pid = int(stat.read().rsplit(")", 1)[1].split()[1])
            if pid <= 1:
                return False
            if os.stat(f"/proc/{pid}/ns/net").st_ino != own:
                return True
        except (OSError, ValueError, IndexError):
            return False
    return False


def pin_process(pid, core):
    """Every thread of `pid`, and the threads it starts later, onto `core`."""
    subprocess.run(["taskset", "-a", "-p", "-c", str(core), str(pid)], check=True,
                   stdout=subprocess.DEVNULL, timeout=10)


def read_line(stream, deadline, what):
    line = b""
    while not line.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([stream], [], [], remaining)[0]:
            raise TimeoutError(f"no answer from {what} in time (got {line[:200]!r})")
        chunk = os.read(stream.fileno(), 1 << 20)
        if not chunk:
            raise RuntimeError(f"{what} ended (got {line[:200]!r})")
        line += chunk
    return line.decode()


class Child:
    """A child process with a line protocol on its pipes."""

    def __init__(self, args, what, core):
        self.what = what
        self.process = subprocess.Popen(["taskset", "-c", str(core), *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
        self._pending = ""

    def line(self, timeout):
        while "\n" not in self._pending:
            self._pending += read_line(self.process.stdout, time.monotonic() + timeout, self.what)
        line, _, self._pending = self._pending.partition("\n")
        return line

    def stop(self, timeout=10):
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(timeout=timeout)
            except (subprocess.TimeoutExpired, BrokenPipeError):
                self.process.kill()
                self.process.wait(timeout=timeout)
        for stream in (self.process.stdin, self.process.stdout):
            if stream and not stream.closed:
                try:
                    stream.close()
                except BrokenPipeError:
                    pass


class FakeDevice(Child):
    """One qx_fake_device and its control channel."""

    def __init__(self, executable, core, serial, interfaces=1, settings=()):
        args = [executable, "--serial", str(serial), "--interfaces", str(interfaces)]
        for setting in settings:
            args += ["--set", setting]
        super().__init__(args, f"fake device {serial}", core)
        self.serial = serial
        try:
            self.port = self._number(self.line(STARTUP_SECONDS), "PORT")
            self.control_port = self._number(self.line(STARTUP_SECONDS), "CONTROL")
            self._control = socket.create_connection(("127.0.0.1", self.control_port), timeout=30)
            self._buffer = b""
        except BaseException:
            self.stop()
            raise

    @staticmethod
    def _number(line, label):
        word, _, number = line.partition(" ")
        if word != label:
            raise RuntimeError(f"fake device printed {line!r} where {label} was expected")
        return int(number)

    def _control_line(self):
        while b"\n" not in self._buffer:
            chunk = self._control.recv(1 << 20)
            if not chunk:
                raise RuntimeError("control channel closed")
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode()

    def command(self, line):
        self._control.sendall(line.encode() + b"\n")
        answer = self._control_line()
        if answer == "OK":
            return ""
        if answer.startswith("OK "):
            return answer[3:]
        raise RuntimeError(f"fake device: {line!r}: {answer}")

    def requests(self):
        count = int(self.command("requests"))
        return [bytes.fromhex(self._control_line()) for _ in range(count)]

    def clear(self):
        self.command("clear")

    def stop(self, timeout=10):
        control = getattr(self, "_control", None)
        if control is not None:
            control.close()
        super().stop(timeout)


class Advertiser(Child):
    """One mDNS service per port given (ports may repeat), each from a
    responder of its own, or all from one shared responder."""

    def __init__(self, ports, core, lifetime, shared=False):
        if not in_private_namespace():
            raise RuntimeError("refusing to advertise by mDNS outside a private network namespace")
        script = ADVERTISE_SHARED if shared else ADVERTISE_EACH
        args = [sys.executable, script, "--name", "qx-bench", "--lifetime", str(lifetime)]
        for port in ports:
            args += ["--port", str(port)]
        super().__init__(args, os.path.basename(script), core)
        try:
            line = self.line(STARTUP_SECONDS + len(ports) * 0.05)
            if line != "READY":
                raise RuntimeError(f"{script} printed {line!r}")
        except BaseException:
            self.stop()
            raise


class RawLoop(Child):
    """The raw C++ loop (bench/raw_loop.cpp), connected to one fake device."""

    def __init__(self, executable, core, port, index, link_mode):
        super().__init__([executable, "--port", str(port), "--index", str(index), "--link-mode", str(link_mode)],
                         "raw loop", core)

    def ask(self, command):
        self.process.stdin.write(command.encode() + b"\n")
        self.process.stdin.flush()
        answer = self.line(ANSWER_SECONDS)
        if not answer.startswith("OK"):
            raise RuntimeError(f"raw loop: {command!r}: {answer}")
        return [int(word) for word in answer.split()[1:]]

    def stop(self, timeout=10):
        if self.process.poll() is None:
            try:
                self.ask("quit")
            except (RuntimeError, TimeoutError, BrokenPipeError):
                pass
        super().stop(timeout)
