"""The benchmark's own children: fake devices by serial number and the raw
C++ loop, each pinned to a core. Fake devices, the advertiser and the
process handling are the tests' own (testing/processes.py).
"""

import subprocess

from testing import processes

ANSWER_SECONDS = 120.0


def pin_process(pid, core):
    """Every thread of `pid`, and the threads it starts later, onto `core`."""
    subprocess.run(["taskset", "-a", "-p", "-c", str(core), str(pid)], check=True,
                   stdout=subprocess.DEVNULL, timeout=10)


class FakeDevice(processes.FakeDevice):
    """One qx_fake_device with its serial number and interface count, pinned to `core`."""

    def __init__(self, executable, core, serial, interfaces=1, settings=()):
        args = ["--serial", str(serial), "--interfaces", str(interfaces)]
        for setting in settings:
            args += ["--set", setting]
        self.serial = serial
        super().__init__(executable, args, f"fake device {serial}", core)


class RawLoop(processes.Child):
    """The raw C++ loop (bench/raw_loop.cpp), connected to one fake device;
    with `same_calls`, making the module's system calls (its --same-calls)."""

    def __init__(self, executable, core, port, index, link_mode, same_calls=False):
        args = [executable, "--port", str(port), "--index", str(index), "--link-mode", str(link_mode)]
        if same_calls:
            args.append("--same-calls")
        super().__init__(args, "raw loop, same calls" if same_calls else "raw loop", core)

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
