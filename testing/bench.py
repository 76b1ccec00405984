"""A simulated bench: fake devices, each a process of its own, advertised by
mDNS on loopback, for the end-to-end tests and the demo.

The fake devices run as separate processes because every module call keeps
the interpreter lock while it waits on the network: a device served from
this interpreter could never answer.

Everything here sends multicast only after checking that the network
namespace holds nothing but loopback (scripts/in_netns.sh makes one).

As a program it starts a bench, runs a command while the bench is up and
passes the command's exit status on (PYTHONPATH names the repository):

    python3 -m testing.bench --fake-device PATH [--device KEY=VALUE,...]... -- COMMAND...
"""

import argparse
import os
import signal
import subprocess
import sys
from dataclasses import dataclass, field

from testing import processes


def fake_device_path():
    build = os.environ.get("QX_BUILD_DIR")
    if not build:
        raise RuntimeError("QX_BUILD_DIR is not set: it names the build tree holding qx_fake_device")
    return os.path.join(build, "qx_sdk_client", "qx_fake_device")


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


class FakeDevice(processes.FakeDevice):
    """One qx_fake_device process for `spec`, and its control channel."""

    def __init__(self, spec, executable=None):
        self.spec = spec
        super().__init__(executable or fake_device_path(), spec.arguments())


class Bench:
    """Fake devices for `specs`, all advertised; use as a context manager.
    Benches up at the same time need different `name_prefix`es."""

    def __init__(self, specs, executable=None, name_prefix="qx-bench"):
        self.devices = []
        self.advertiser = None
        try:
            for spec in specs:
                self.devices.append(FakeDevice(spec, executable))
            self.advertiser = processes.Advertiser([device.port for device in self.devices], name_prefix,
                                                   lifetime=900)
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
        # Ctrl-C is the command's to handle; the bench waits for it to end.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        command = subprocess.Popen(args.command, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        return command.wait()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:  # while the bench was starting
        sys.exit(130)
