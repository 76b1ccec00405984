"""Child processes for the tests, the demo and the benchmark: fake devices
(qx_fake_device) with their control channel, and the mDNS advertiser
(advertise.py beside this file). Every read from a child is bounded in
time, and every child is ended by its own process id.

Nothing here sends multicast before it has checked that the network
namespace holds nothing but loopback (scripts/in_netns.sh makes one).
"""

import os
import select
import socket
import subprocess
import sys
import time

ADVERTISE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "advertise.py")
STARTUP_SECONDS = 30.0
CONTROL_SECONDS = 30.0
STOP_SECONDS = 10.0


def ancestors():
    """Parent, grandparent, ... as far as /proc lets us see."""
    pid = os.getpid()
    for _ in range(64):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                pid = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            return
        if pid <= 1:
            return
        yield pid


def in_private_namespace():
    """True only in a network namespace that holds loopback alone and that
    some ancestor process made: an ancestor sits in another namespace."""
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        return False
    own = os.stat("/proc/self/ns/net").st_ino
    for pid in ancestors():
        try:
            if os.stat(f"/proc/{pid}/ns/net").st_ino != own:
                return True
        except OSError:
            return False
    return False


def child_environment():
    # Sanitizer runtimes preloaded for the interpreter under test are of no
    # use to the helpers; the fake device links its own when built with them.
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    return env


class Child:
    """A child that prints lines and serves until its standard input ends;
    `core` pins it and its threads to that processor core. It runs in a
    session of its own, so that Ctrl-C in a terminal reaches only the
    command a bench serves, which then ends, and the bench with it."""

    def __init__(self, args, what, core=None):
        if core is not None:
            args = ["taskset", "-c", str(core), *args]
        self.what = what
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=child_environment(), start_new_session=True)
        self._pending = b""

    def line(self, timeout):
        """The next line it prints, waiting no longer than `timeout` seconds."""
        deadline = time.monotonic() + timeout
        stream = self.process.stdout
        while b"\n" not in self._pending:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([stream], [], [], remaining)[0]:
                raise TimeoutError(f"no line from {self.what} in time (got {self._pending[:200]!r})")
            chunk = os.read(stream.fileno(), 1 << 20)
            if not chunk:
                raise RuntimeError(f"{self.what} ended before printing a line (got {self._pending[:200]!r})")
            self._pending += chunk
        line, _, self._pending = self._pending.partition(b"\n")
        return line.decode().strip()

    def stop(self, timeout=STOP_SECONDS):
        """Ends its standard input; kills it if it has not ended `timeout` seconds later."""
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(timeout=timeout)
            except (subprocess.TimeoutExpired, BrokenPipeError):
                self.process.kill()
                self.process.wait(timeout=timeout)
        self.close_pipes()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=STOP_SECONDS)
        self.close_pipes()

    def close_pipes(self):
        for stream in (self.process.stdin, self.process.stdout):
            if stream and not stream.closed:
                try:
                    stream.close()
                except BrokenPipeError:
                    pass


class ControlError(RuntimeError):
    pass


class FakeDevice(Child):
    """One qx_fake_device, started with its own command-line `args`, and its
    control channel."""

    def __init__(self, executable, args, what="qx_fake_device", core=None):
        super().__init__([executable, *args], what, core)
        try:
            self.port = self._number(self.line(STARTUP_SECONDS), "PORT")
            self.control_port = self._number(self.line(STARTUP_SECONDS), "CONTROL")
            self._control = socket.create_connection(("127.0.0.1", self.control_port), timeout=CONTROL_SECONDS)
            self._control_pending = b""
        except BaseException:
            self.kill()
            raise

    def _number(self, line, label):
        word, _, number = line.partition(" ")
        if word != label:
            raise RuntimeError(f"{self.what} printed {line!r} where {label} was expected")
        return int(number)

    def _control_line(self):
        while b"\n" not in self._control_pending:
            chunk = self._control.recv(1 << 20)  # bounded by the socket's timeout
            if not chunk:
                raise ControlError("control channel closed")
            self._control_pending += chunk
        line, _, self._control_pending = self._control_pending.partition(b"\n")
        return line.decode()

    def command(self, line):
        """Sends one control command; the text after OK, or ControlError."""
        self._control.sendall(line.encode() + b"\n")
        answer = self._control_line()
        if answer == "OK":
            return ""
        if answer.startswith("OK "):
            return answer[3:]
        raise ControlError(f"{self.what}: {line!r}: {answer}")

    def set(self, name, value):
        self.command(f"set {name} {value}")

    def get(self, name):
        return self.command(f"get {name}")

    def iset(self, index, name, value):
        self.command(f"iset {index} {name} {value}")

    def iget(self, index, name):
        return self.command(f"iget {index} {name}")

    def fault(self, target, times, kind):
        self.command(f"fault {target} {times} {kind}")

    def requests(self):
        """Every request frame received since the last clear, as bytes."""
        count = int(self.command("requests"))
        return [bytes.fromhex(self._control_line()) for _ in range(count)]

    def handled(self):
        """How many of the requests received since the last clear the device is
        done with: all it sends for them is handed to the system."""
        return int(self.command("handled"))

    def clear(self):
        self.command("clear")

    def accepted_connections(self):
        return int(self.command("connections").split()[1])

    def close_pipes(self):
        super().close_pipes()
        control = getattr(self, "_control", None)
        if control is not None:
            control.close()


class Advertiser(Child):
    """advertise.py in a process of its own: one mDNS service per port (ports
    may repeat), all from one responder or, with `each`, each from its own.
    Advertisers up at the same time need different names."""

    def __init__(self, ports, name, lifetime, each=False, core=None):
        if not in_private_namespace():
            raise RuntimeError("refusing to advertise by mDNS outside a private network namespace holding only lo")
        args = [sys.executable, ADVERTISE, "--name", name, "--lifetime", str(lifetime)]
        if each:
            args.append("--each")
        for port in ports:
            args += ["--port", str(port)]
        super().__init__(args, "advertise.py", core)
        try:
            line = self.line(STARTUP_SECONDS + len(ports) * 0.05)
            if line != "READY":
                raise RuntimeError(f"advertise.py printed {line!r}")
        except BaseException:
            self.stop()
            raise
