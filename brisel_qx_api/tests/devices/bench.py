"""A simulated bench: fake devices, each a process of its own, advertised by
mDNS on loopback, for the end-to-end tests and the demo.

The fake devices run as separate processes because every module call keeps
the interpreter lock while it waits on the network: a device served from
this interpreter could never answer.

Everything here sends multicast only after checking that the network
namespace holds nothing but loopback (scripts/in_netns.sh makes one).

As a program it starts a bench, runs a command while the bench is up and
passes the command's exit status on:

    bench.py --fake-device PATH [--device KEY=VALUE,...]... -- COMMAND...
"""

import argparse
import os
import select
import socket
import subprocess
import sys
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
ADVERTISE = os.path.join(HERE, "advertise.py")
SERVICE_TYPE = "_br-command-api._tcp.local."
STARTUP_TIMEOUT = 20.0
CONTROL_TIMEOUT = 10.0


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


def fake_device_path():
    build = os.environ.get("QX_BUILD_DIR")
    if not build:
        raise RuntimeError("QX_BUILD_DIR is not set: it names the build tree holding qx_fake_device")
    return os.path.join(build, "qx_sdk_client", "qx_fake_device")


def child_environment():
    # Sanitizer runtimes preloaded for the interpreter under test are of no
    # use to the helpers; the fake device links its own when built with them.
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    return env


def read_line(stream, deadline, what):
    """One line from a child's pipe, waiting no later than `deadline`."""
    line = b""
    while not line.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([stream], [], [], remaining)[0]:
            raise TimeoutError(f"no line from {what} in time (got {line!r})")
        chunk = os.read(stream.fileno(), 1)
        if not chunk:
            raise RuntimeError(f"{what} ended before printing a line (got {line!r})")
        line += chunk
    return line.decode().strip()


@dataclass
class DeviceSpec:
    serial: int
    ean: int = 0x4260123456789
    version: int = 2
    name: str = "QX Bench Device"
    interfaces: int = 2
    settings: dict = field(default_factory=dict)  # extra device fields, wire values
    interface_settings: dict = field(default_factory=dict)  # (index, field) -> wire value

    def arguments(self):
        args = ["--version", str(self.version), "--ean", str(self.ean), "--serial", str(self.serial),
                "--name", self.name, "--interfaces", str(self.interfaces)]
        for key, value in self.settings.items():
            args += ["--set", f"{key}={value}"]
        for (index, key), value in self.interface_settings.items():
            args += ["--iset", f"{index}:{key}={value}"]
        return args


class ControlError(RuntimeError):
    pass


class FakeDevice:
    """One qx_fake_device process and its control channel."""

    def __init__(self, spec, executable=None):
        self.spec = spec
        self.process = subprocess.Popen([executable or fake_device_path(), *spec.arguments()],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=child_environment())
        try:
            deadline = time.monotonic() + STARTUP_TIMEOUT
            self.port = self._number(read_line(self.process.stdout, deadline, "qx_fake_device"), "PORT")
            self.control_port = self._number(read_line(self.process.stdout, deadline, "qx_fake_device"), "CONTROL")
            self._control = socket.create_connection(("127.0.0.1", self.control_port), timeout=CONTROL_TIMEOUT)
            self._pending = b""
        except BaseException:
            self.kill()
            raise

    @staticmethod
    def _number(line, label):
        word, _, number = line.partition(" ")
        if word != label:
            raise RuntimeError(f"qx_fake_device printed {line!r} where {label} was expected")
        return int(number)

    def _line(self):
        while b"\n" not in self._pending:
            chunk = self._control.recv(65536)  # bounded by the socket's timeout
            if not chunk:
                raise ControlError("control channel closed")
            self._pending += chunk
        line, _, self._pending = self._pending.partition(b"\n")
        return line.decode()

    def command(self, line):
        """Sends one control command; the text after OK, or ControlError."""
        self._control.sendall(line.encode() + b"\n")
        answer = self._line()
        if answer == "OK":
            return ""
        if answer.startswith("OK "):
            return answer[3:]
        raise ControlError(f"{line!r}: {answer}")

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
        return [bytes.fromhex(self._line()) for _ in range(count)]

    def clear(self):
        self.command("clear")

    def accepted_connections(self):
        return int(self.command("connections").split()[1])

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=STARTUP_TIMEOUT)
        self.close_pipes()

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()  # the tool serves until its stdin ends
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=STARTUP_TIMEOUT)
        self.close_pipes()

    def close_pipes(self):
        for stream in (self.process.stdin, self.process.stdout):
            if stream and not stream.closed:
                stream.close()
        control = getattr(self, "_control", None)
        if control is not None:
            control.close()


class Advertiser:
    """advertise.py in a process of its own: one mDNS service per port."""

    def __init__(self, ports, name_prefix="qx-bench"):
        if not in_private_namespace():
            raise RuntimeError("refusing to advertise: not inside a private network namespace holding only lo")
        args = [sys.executable, ADVERTISE, "--name-prefix", name_prefix]
        for port in ports:
            args += ["--port", str(port)]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=child_environment())
        try:
            line = read_line(self.process.stdout, time.monotonic() + STARTUP_TIMEOUT, "advertise.py")
            if line != "READY":
                raise RuntimeError(f"advertise.py printed {line!r}")
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=STARTUP_TIMEOUT)
        for stream in (self.process.stdin, self.process.stdout):
            if not stream.closed:
                stream.close()


class Bench:
    """Fake devices for `specs`, all advertised; use as a context manager.
    Benches up at the same time need different `name_prefix`es."""

    def __init__(self, specs, executable=None, name_prefix="qx-bench"):
        self.devices = []
        self.advertiser = None
        try:
            for spec in specs:
                self.devices.append(FakeDevice(spec, executable))
            self.advertiser = Advertiser([device.port for device in self.devices], name_prefix)
        except BaseException:
            self.close()
            raise

    def by_serial(self, serial):
        return next(device for device in self.devices if device.spec.serial == serial)

    def close(self):
        if self.advertiser is not None:
            self.advertiser.stop()
        for device in self.devices:
            device.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def parse_spec(text):
    """serial=3,version=1,name=Bench 3,interfaces=2,ean=0x42...,FIELD=VALUE,ifN.FIELD=VALUE"""
    values = dict(part.split("=", 1) for part in text.split(","))
    known = {"serial", "ean", "version", "name", "interfaces"}
    spec = DeviceSpec(serial=int(values["serial"], 0))
    if "ean" in values:
        spec.ean = int(values["ean"], 0)
    if "version" in values:
        spec.version = int(values["version"], 0)
    if "name" in values:
        spec.name = values["name"]
    if "interfaces" in values:
        spec.interfaces = int(values["interfaces"], 0)
    for key, value in values.items():
        if key in known:
            continue
        if key.startswith("if") and "." in key and key[2:].split(".", 1)[0].isdigit():
            index, name = key[2:].split(".", 1)
            spec.interface_settings[(int(index), name)] = value
        else:
            spec.settings[key] = value
    return spec


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fake-device", required=True, help="the qx_fake_device executable")
    parser.add_argument("--device", action="append", type=parse_spec, default=[],
                        help="one fake device: serial=N[,ean=E][,version=V][,name=TEXT][,interfaces=N]"
                             "[,FIELD=VALUE][,ifINDEX.FIELD=VALUE] (wire values)")
    parser.add_argument("command", nargs="+", help="what to run while the bench is up")
    args = parser.parse_args()
    with Bench(args.device, args.fake_device):
        return subprocess.run(args.command, check=False).returncode


if __name__ == "__main__":
    sys.exit(main())
