"""The benchmark: one run, one table. Started by bench/run_bench.sh inside a
private network namespace that holds only loopback (mDNS sends multicast),
with the repository in PYTHONPATH for testing/.

    run_bench.py --build BUILD_DIR [--cores CLIENT,DEVICE,HELPER] [--quick]
"""

import argparse
import datetime
import faulthandler
import gc
import json
import os
import resource
import subprocess
import sys
import time
from types import SimpleNamespace

import discovery
import per_call
from processes import FakeDevice, RawLoop
from stats import median
from testing.processes import Advertiser, in_private_namespace

HERE = os.path.dirname(os.path.abspath(__file__))

WATCHDOG_SECONDS = 1200  # far beyond a normal run; a hang ends with every thread's traceback
FIRMWARE_SIZE = 16 * 1024 * 1024
CHUNK_SIZE = 4088
MB = 1e6


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="build tree with the module, the fake device and the raw loop")
    parser.add_argument("--cores", help="client,device,helper cores (default: the 3rd to 5th usable core)")
    parser.add_argument("--quick", action="store_true", help="few repeats, to check the program itself")
    parser.add_argument("--budget", type=float, default=600, help="seconds the whole run may take")
    parser.add_argument("--module-dir", help="load the module from here instead (to compare two builds)")
    parser.add_argument("--phases", default="calls,import,discovery,memory",
                        help="comma-separated subset of calls,import,discovery,memory")
    return parser.parse_args()


def choose_cores(text):
    usable = sorted(os.sched_getaffinity(0))
    if text:
        cores = [int(word) for word in text.split(",")]
    else:
        # Not core 0, where the system's own interrupts and timers tend to land.
        cores = usable[2:5] if len(usable) >= 5 else (usable * 3)[:3]
    if len(cores) != 3 or not set(cores) <= set(usable):
        sys.exit(f"--cores needs three of the usable cores {usable}")
    return cores


class Run:
    def __init__(self, args):
        self.args = args
        self.started = time.monotonic()
        self.deadline = self.started + args.budget
        self.usable_cores = len(os.sched_getaffinity(0))
        self.client_core, self.device_core, self.helper_core = choose_cores(args.cores)
        build = os.path.abspath(args.build)
        self.fake_device = os.path.join(build, "qx_sdk_client", "qx_fake_device")
        self.raw_loop = os.path.join(build, "bench", "qx_bench_raw")
        self.module_dir = os.path.abspath(args.module_dir) if args.module_dir else os.path.join(build, "python")
        quick = args.quick
        self.rounds = 2 if quick else 20
        self.calls = 500 if quick else 2000
        self.warmup = 100 if quick else 200
        self.firmware_rounds = 1 if quick else 9
        self.import_runs = 5 if quick else 30
        self.memory_devices = 100 if quick else 1000
        self.memory_services = 100
        self.placements = [
            SimpleNamespace(name="1 core each", client_core=self.client_core, device_core=self.device_core),
            SimpleNamespace(name="both on 1 core", client_core=self.client_core, device_core=self.client_core),
        ]
        self.children = []
        self.notes = []

    def remaining(self):
        return self.deadline - time.monotonic()

    def start(self, child):
        self.children.append(child)
        return child

    def stop_all(self):
        while self.children:
            self.children.pop().stop()


def per_call_phase(run, qx):
    fake = run.start(FakeDevice(run.fake_device, run.device_core, serial=1, interfaces=1,
                                settings=[f"firmware.chunk_size={CHUNK_SIZE}"]))
    advertiser = run.start(Advertiser([fake.port], "qx-bench", lifetime=120, each=True, core=run.helper_core))
    os.sched_setaffinity(0, {run.client_core})
    scanner = discovery.Scanner(qx)
    device = None
    for _ in range(3):
        serials_and_devices = scanner.client.scan_for_devices_with_timeout(datetime.timedelta(seconds=1))
        scanner.last_end = time.monotonic()
        if serials_and_devices:
            device = serials_and_devices[0]
            break
        time.sleep(discovery.RATE_LIMIT_GAP)
    advertiser.stop()  # nothing multicasts while calls are timed
    run.children.remove(advertiser)
    if device is None:
        raise RuntimeError("the scan did not find the fake device")
    interface = device.get_interfaces()[0]
    config = interface.get_eth_config()
    pure = per_call.connect_pure(fake.port)
    link_mode = pure.get_eth_config(0)
    raw_loops = {client: run.start(RawLoop(run.raw_loop, run.client_core, fake.port, 0, link_mode,
                                           same_calls=client == "raw_same"))
                 for client in per_call.RAW_CLIENTS}
    bare_sockets = {"bare": per_call.BareSocket(fake.port), "bare_same": per_call.SameCallsSocket(fake.port)}
    targets = per_call.Targets(device, interface, config, pure, link_mode, raw_loops, bare_sockets)
    per_call.check_same_frames(fake, targets)

    calls = {}
    firmware = {}
    for placement in run.placements:
        calls[placement.name] = per_call.measure_calls(placement, fake, targets, run.rounds, run.calls, run.warmup)
        firmware[placement.name] = per_call.measure_firmware(placement, qx, fake, device, raw_loops, FIRMWARE_SIZE,
                                                             CHUNK_SIZE, run.firmware_rounds)
    pure.close()
    for bare in bare_sockets.values():
        bare.close()
    del interface, device
    return calls, firmware


def discovery_phase(run, qx, count):
    fakes = [run.start(FakeDevice(run.fake_device, run.device_core, serial=100 + i, interfaces=1))
             for i in range(count)]
    advertiser = run.start(Advertiser([fake.port for fake in fakes], "qx-bench", lifetime=400, each=True,
                                      core=run.helper_core))
    os.sched_setaffinity(0, {run.client_core})
    # Half of what is left for this search, so the other search and the
    # memory phase keep their share.
    budget = min(180.0, max(30.0, (run.remaining() - 60) / (2 if count == 1 else 1.3)))
    result = discovery.shortest_duration(qx, [fake.serial for fake in fakes], time.monotonic() + budget)
    advertiser.stop()
    for child in [advertiser, *fakes]:
        child.stop()
        run.children.remove(child)
    return result


def shared_responder_phase(run, qx, count=32, durations_ms=(300, 1000)):
    """How many of `count` services one shared responder gets across per scan."""
    fakes = [run.start(FakeDevice(run.fake_device, run.device_core, serial=200 + i, interfaces=1))
             for i in range(count)]
    advertiser = run.start(Advertiser([fake.port for fake in fakes], "qx-bench", lifetime=120, core=run.helper_core))
    os.sched_setaffinity(0, {run.client_core})
    scanner = discovery.Scanner(qx)
    found = {duration: len(set(scanner.scan(duration)[0])) for duration in durations_ms}
    for child in [advertiser, *fakes]:
        child.stop()
        run.children.remove(child)
    return found


def memory_phase(run):
    fake = run.start(FakeDevice(run.fake_device, run.device_core, serial=7, interfaces=1))
    advertiser = run.start(Advertiser([fake.port] * run.memory_services, "qx-bench", lifetime=300, each=True,
                                      core=run.helper_core))
    env = dict(os.environ, PYTHONPATH=run.module_dir)
    child = subprocess.run(["taskset", "-c", str(run.client_core), sys.executable,
                            os.path.join(HERE, "memory_child.py"), "--count", str(run.memory_devices),
                            "--control-port", str(fake.control_port)],
                           env=env, capture_output=True, text=True, timeout=240)
    for each in (advertiser, fake):
        each.stop()
        run.children.remove(each)
    lines = [line for line in child.stdout.splitlines() if line.startswith("{")]
    if child.returncode != 0 or not lines:
        raise RuntimeError(f"memory child failed: {child.stderr[-2000:]}")
    return json.loads(lines[-1])


IMPORT_SNIPPET = """
import sys, time
before = set(sys.modules)
start = time.perf_counter_ns()
import brisel_qx_api
elapsed = time.perf_counter_ns() - start
print(elapsed, len(set(sys.modules) - before - {"brisel_qx_api"}))
"""


def import_phase(run):
    env = dict(os.environ, PYTHONPATH=run.module_dir, PYTHONDONTWRITEBYTECODE="1")
    times = []
    extra_modules = 0
    for _ in range(run.import_runs):
        out = subprocess.run(["taskset", "-c", str(run.client_core), sys.executable, "-c", IMPORT_SNIPPET],
                             env=env, capture_output=True, text=True, timeout=30, check=True).stdout.split()
        times.append(int(out[0]) / 1e6)
        extra_modules = int(out[1])
    return {"times_ms": times, "extra_modules": extra_modules}


# ---- the table --------------------------------------------------------------

def fmt(value, digits=1):
    return "—" if value is None or value != value else f"{value:.{digits}f}"


def yes_no(ok):
    return "met" if ok else "**not met**"


LABELS = {"get_status": "`Interface.get_status()`", "get_name": "`Device.get_name()`",
          "set_eth_config": "`Interface.set_eth_config(...)`"}
# The raw C++ loop and the bare Python socket are the physical limit; their
# "same syscalls" twins also make the module's extra system calls (the drain
# before each request, the immediate acknowledgement after each reply), so
# that module − bare (same syscalls) is what the module's own code costs.
COLUMNS = {
    "measurement": "Measurement", "placement": "Placement",
    "raw": "raw C++ loop", "raw_same": "raw C++ loop, same syscalls",
    "bare": "bare Python socket", "bare_same": "bare Python socket, same syscalls",
    "module": "module", "pure": "pure Python",
    "module_raw": "module − raw", "module_raw_same": "module − raw (same syscalls)", "pure_raw": "pure − raw",
    "module_bare": "module − bare", "module_bare_same": "module − bare (same syscalls)",
    "target": "target",
}
HEAD = tuple(COLUMNS.values())
# Each target is judged against both baselines: the physical limit and its
# same-syscalls twin.
BASELINES = {"raw": "raw", "raw_same": "same syscalls"}


def row(measurement, placement, **cells):
    """One table row; the columns not named stay empty."""
    unknown = set(cells) - set(COLUMNS)
    assert not unknown, f"no such columns: {unknown}"
    cells.update(measurement=measurement, placement=placement)
    return tuple(cells.get(key, "") for key in COLUMNS)


def against_baselines(ok):
    """For {baseline: ok}: 'met (raw), **not met** (same syscalls)'."""
    return ", ".join(f"{yes_no(ok[baseline])} ({name})" for baseline, name in BASELINES.items())


def differences(value):
    """The difference columns for {client: figure}."""
    return {
        "module_raw": fmt(value["module"] - value["raw"], 2),
        "module_raw_same": fmt(value["module"] - value["raw_same"], 2),
        "pure_raw": fmt(value["pure"] - value["raw"], 2),
        "module_bare": fmt(value["module"] - value["bare"], 2),
        "module_bare_same": fmt(value["module"] - value["bare_same"], 2),
    }


def call_rows(run, calls):
    for operation in per_call.OPERATIONS:
        for placement in run.placements:
            result = calls[placement.name][operation]
            median_us = {client: samples.median_us() for client, samples in result.items()}
            cpu_us = {client: samples.cpu_us_per_call() for client, samples in result.items()}
            # The module's overhead over a baseline: at most 2 µs, and at
            # most half of what the pure-Python client adds over it.
            over = {baseline: median_us["module"] - median_us[baseline] for baseline in BASELINES}
            pure_over = {baseline: median_us["pure"] - median_us[baseline] for baseline in BASELINES}
            two_us = {baseline: over[baseline] <= 2.0 for baseline in BASELINES}
            half_pure = {baseline: over[baseline] <= pure_over[baseline] / 2 for baseline in BASELINES}
            yield row(f"{LABELS[operation]} µs, median / p99", placement.name,
                      **{client: f"{fmt(samples.median_us())} / {fmt(samples.p99_us())}"
                         for client, samples in result.items()},
                      **differences(median_us),
                      target=f"≤ 2: {against_baselines(two_us)}; ≤ ½ pure's: {against_baselines(half_pure)}")
            yield row(f"{LABELS[operation]} client CPU µs per call", placement.name,
                      **{client: fmt(value, 2) for client, value in cpu_us.items()}, **differences(cpu_us))


def firmware_rows(run, firmware):
    for placement in run.placements:
        times = firmware[placement.name]
        rate = {client: FIRMWARE_SIZE / MB / median(values) for client, values in times.items()}
        best = {client: FIRMWARE_SIZE / MB / min(values) for client, values in times.items()}
        ratio = {baseline: rate["module"] / rate[baseline] for baseline in BASELINES}
        best_ratio = {baseline: best["module"] / best[baseline] for baseline in BASELINES}
        yield row("Firmware update 16 MiB, 4,088-byte chunks, MB/s median (best)", placement.name,
                  **{baseline: f"{fmt(rate[baseline])} ({fmt(best[baseline])})" for baseline in BASELINES},
                  module=f"{fmt(rate['module'])} ({fmt(best['module'])}); Python callbacks: {fmt(rate['module_py'])}",
                  **{f"module_{baseline}": f"ratio {ratio[baseline]:.3f} (best {best_ratio[baseline]:.3f})"
                     for baseline in BASELINES},
                  target=f"≥ 0.90: {against_baselines({key: value >= 0.9 for key, value in ratio.items()})}")


def discovery_rows(found, shared):
    for count, result in found.items():
        plural = "s" if count > 1 else ""
        duration = result["duration_ms"]
        target = f"≤ 300: {yes_no(duration is not None and duration <= 300)}" if count == 32 else ""
        yield row(f"Scan finding all of {count} device{plural} in 10/10 runs: shortest duration, ms", "1 core each",
                  module=fmt(duration, 0) if duration else f"none ({result['note']})", target=target)
        overheads = result["overheads_ms"]
        yield row(f"Scan wall time − duration, {count} device{plural}, ms median / max", "1 core each",
                  module=f"{fmt(median(overheads))} / {fmt(max(overheads) if overheads else None)}",
                  target=f"< 30: {yes_no(bool(overheads) and max(overheads) < 30)}")
    if shared:
        yield row("32 services from ONE shared responder: devices found by one scan", "1 core each",
                  module=", ".join(f"{found_count} in {duration} ms" for duration, found_count in shared.items()))


def import_rows(imports):
    times = sorted(imports["times_ms"])
    yield row("Import of the module, ms median / min", "1 core",
              module=f"{fmt(median(times), 2)} / {fmt(times[0], 2)}", target=f"< 5: {yes_no(median(times) < 5)}")


def memory_rows(memory):
    yield row(f"Resident memory per connected device, KiB ({memory['devices']} connections)", "1 core each",
              module=fmt(memory["per_device_kib"], 2))


def table(rows):
    rows = [HEAD, *rows]
    assert all(len(row) == len(HEAD) for row in rows), "a row with the wrong number of cells"
    widths = [max(len(str(row[i])) for row in rows) for i in range(len(HEAD))]
    lines = []
    for index, row in enumerate(rows):
        lines.append("| " + " | ".join(str(cell).ljust(widths[i]) for i, cell in enumerate(row)) + " |")
        if index == 0:
            lines.append("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    return "\n".join(lines)


def describe(run, results):
    lines = [
        f"Machine: {os.cpu_count()} cores ({run.usable_cores} usable); client pinned to core {run.client_core}, "
        f"fake device to core {run.device_core} (\"both on 1 core\": core {run.client_core}), advertiser "
        f"to core {run.helper_core}; all on loopback in a private network namespace.",
    ]
    if "calls" in results:
        timers = run.placements[0].timer_ns
        lines.append(
            f"Per call: {run.rounds} interleaved rounds × {run.calls} timed calls (+{run.warmup} untimed) per "
            f"client and operation = {run.rounds * run.calls} samples each; the empty timed region's median "
            f"(Python {timers['python']:.0f} ns, C++ {timers['c++']:.0f} ns) is taken off every sample; "
            f"garbage collection off while timing; all {len(per_call.CLIENTS)} clients send byte-identical "
            "frames (checked). The bare Python socket is `sock.send(frame)` + `sock.recv_into(buffer)`, nothing "
            "checked: the least any Python caller pays; module − bare is what the module adds to that. The "
            "\"same syscalls\" variants of it and of the raw C++ loop also make the module's other system calls: "
            "before each request `recv(fd, buf, 4096, MSG_DONTWAIT)` until EAGAIN (the drain), after each reply "
            "`setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, ...)`, and the raw loop then sends each frame from one "
            "buffer with `send` rather than pieces with `sendmsg`. In Python the drain's EAGAIN comes as a "
            "BlockingIOError, which every Python caller pays for too. Module − bare (same syscalls) is what the "
            "module's own code costs. Targets are judged against both the physical limit (raw) and the same "
            "syscalls.")
        lines.append(f"Firmware: {run.firmware_rounds} interleaved updates per client and placement, median taken; "
                     f"MB = 10^6 bytes.")
    if "discovery" in results:
        found = results["discovery"]
        lines.append(
            "Discovery: one responder per fake device; steps of 50 ms from 50 ms, 10 runs per step, a step ends "
            f"at its first incomplete scan; scans start ≥ {discovery.RATE_LIMIT_GAP} s after the previous one "
            "ended (responder rate limit); "
            + "; ".join(f"{count} device(s): {result['scans']} scans, steps (ms passed/run) "
                        + " ".join(f"{d}:{p}/{n}" for d, p, n in result["steps"])
                        for count, result in found.items()) + ".")
    if "import" in results:
        imports = results["import"]
        lines.append(f"Import: {run.import_runs} fresh interpreters, `import brisel_qx_api` timed inside each "
                     f"(it imports {imports['extra_modules']} other modules).")
    if "memory" in results:
        memory = results["memory"]
        lines.append(
            f"Memory: {memory['devices']} devices from {memory['scans']} scans of {run.memory_services} services "
            f"(all on one fake device), RSS {memory['baseline_kib']} → {memory['after_kib']} KiB; fds added "
            f"{memory['open_fds_added']}; the fake device then had "
            f"{memory['device_side_connections'].split()[1]} connections open.")
    return "\n".join(lines)


def main():
    args = parse_args()
    faulthandler.dump_traceback_later(WATCHDOG_SECONDS, exit=True)
    if not in_private_namespace():
        sys.exit("run_bench.py: run me inside a private network namespace (bench/run_bench.sh does)")
    run = Run(args)
    phases = set(args.phases.split(","))
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # the memory phase holds 1,000 connections
    sys.path.insert(0, run.module_dir)
    import brisel_qx_api as qx

    results = {}
    rows = []
    try:
        if "calls" in phases:
            print("per call and firmware ...", file=sys.stderr, flush=True)
            results["calls"] = per_call_phase(run, qx)
            gc.collect()
        if "import" in phases:
            print("import ...", file=sys.stderr, flush=True)
            results["import"] = import_phase(run)
        if "discovery" in phases:
            found = {}
            for count in (1, 32):
                print(f"discovery with {count} ...", file=sys.stderr, flush=True)
                found[count] = discovery_phase(run, qx, count)
            results["discovery"] = found
            print("shared responder ...", file=sys.stderr, flush=True)
            results["shared"] = shared_responder_phase(run, qx)
        if "memory" in phases:
            print("memory ...", file=sys.stderr, flush=True)
            results["memory"] = memory_phase(run)
    finally:
        run.stop_all()
    if "calls" in results:
        calls, firmware = results["calls"]
        rows += [*call_rows(run, calls), *firmware_rows(run, firmware)]
    if "discovery" in results:
        rows += discovery_rows(results["discovery"], results.get("shared"))
    if "import" in results:
        rows += import_rows(results["import"])
    if "memory" in results:
        rows += memory_rows(results["memory"])
    print(table(rows))
    print()
    print(describe(run, results))
    print(f"Whole run: {time.monotonic() - run.started:.0f} s.")
    faulthandler.cancel_dump_traceback_later()


if __name__ == "__main__":
    main()
