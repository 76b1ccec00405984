"""The fault soak (fault_soak.py) against fake devices of its own, with the
process's descriptors, threads and memory compared before and after.

A short run by default, a few seconds. A long one (inside a private network
namespace, as root):

    QX_SOAK_SECONDS=60 QX_SOAK_CALLS=500000 [QX_SOAK_SEED=...] scripts/run_soak.sh [BUILD_DIR]

The seed is printed first; QX_SOAK_SEED replays its sequence of calls and faults.
"""

import faulthandler
import gc
import os
import random
import struct
import sys
import threading
import time
import tracemalloc

import brisel_qx_api as qx
import fault_soak as soak
from testing import bench

SECONDS = float(os.environ.get("QX_SOAK_SECONDS", "6"))
CALLS = int(os.environ.get("QX_SOAK_CALLS", "5000"))
SEED = os.environ.get("QX_SOAK_SEED") or str(random.SystemRandom().randrange(1 << 32))
# Starting the bench and the first scans; and the longest step past the
# deadline (a timeout, a late reply and a rescan of several attempts).
SETUP_SECONDS = 60
STEP_SECONDS = 30
LANES = 2
DEVICES_PER_LANE = 3
RESCANS_PER_LANE = 1 + int(SECONDS // 20)
SAMPLE_SECONDS = 0.5
THREAD_EXIT_SECONDS = 2

# Python objects the soak's own counters hold are far below this; one object
# kept per call is far above it.
TRACED_GROWTH_LIMIT = 256 * 1024
# Growth of the resident size over the second half of the run, when the heap
# has grown to what the soak needs (garbage replies ask for up to 65,535
# interfaces at once); a few hundred bytes kept per call would pass it in a
# long run.
RESIDENT_GROWTH_LIMIT = 16 * 1024 * 1024


def sanitized():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def lane_specs(lane):
    return [bench.DeviceSpec(serial=3000 + 100 * lane + number, ean=0x4260123400000 + 16 * lane + number,
                             name=f"Soak {lane}.{number}", interfaces=2)
            for number in range(DEVICES_PER_LANE)]


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def running_threads():
    return len(os.listdir("/proc/self/task"))


def threads_once_settled(expected):
    """The thread count, once threads already joined have left: the system
    can list one for a moment after its join returned, longer on a loaded
    machine."""
    deadline = time.monotonic() + THREAD_EXIT_SECONDS
    while running_threads() != expected and time.monotonic() < deadline:
        time.sleep(0.01)
    return running_threads()


def resident_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def commands_of(fake):
    return {struct.unpack_from("<H", request)[0] for request in fake.requests()}


def prepare_lanes(the_bench, specs, scanner, budget, stats):
    """The first scan, the clean readings and what each call sends, and one
    lane per entry of `specs` holding its devices."""
    for fake in the_bench.devices:
        fake.clear()
    wanted = {fake.spec.serial for fake in the_bench.devices}
    found = scanner.find(wanted)
    assert set(found) == wanted, "the first scans missed some of the soak's devices"
    # Faults go only to commands that device creation never sends, so that a
    # scan cannot take a fault meant for a call.
    creation = commands_of(the_bench.devices[0])

    handles = {serial: soak.Handle(device, device.get_interfaces(), the_bench.by_serial(serial))
               for serial, device in found.items()}
    clean = {serial: soak.clean_readings(handle) for serial, handle in handles.items()}
    some = next(iter(handles))
    commands = soak.request_commands(handles[some], soak.CALLS, clean[some])
    assert all(commands.values()), commands
    assert not creation & {number for numbers in commands.values() for number in numbers}, (creation, commands)

    lanes = []
    for index, lane_spec in enumerate(specs):
        fakes = [the_bench.by_serial(spec.serial) for spec in lane_spec]
        lane = soak.Lane(index, fakes, clean, commands, sorted(creation), scanner, budget, stats, SEED,
                         RESCANS_PER_LANE)
        lane.handles = [handles.pop(fake.spec.serial) for fake in fakes]
        lanes.append(lane)
    return lanes


def run_lanes(lanes, budget):
    """Runs each lane on a thread of its own; the resident sizes seen
    meanwhile, as (seconds into the soak, bytes)."""
    workers = [threading.Thread(target=lane.run, name=f"soak lane {lane.index}") for lane in lanes]
    for worker in workers:
        worker.start()
    samples = []
    while time.monotonic() < budget.deadline + STEP_SECONDS:
        alive = [worker for worker in workers if worker.is_alive()]
        if not alive:
            break
        samples.append((time.monotonic() - budget.started, resident_bytes()))
        alive[0].join(SAMPLE_SECONDS)
    hung = [worker.name for worker in workers if worker.is_alive()]
    if hung:
        faulthandler.dump_traceback(file=sys.stderr)
    assert not hung, f"{hung} still running {STEP_SECONDS} s past the soak's end"
    return samples


def second_half_growth(samples, final):
    halfway = samples[-1][0] / 2
    return final - next(size for at, size in samples if at >= halfway)


def test_fault_soak(watchdog, capsys):
    watchdog(SETUP_SECONDS + SECONDS + STEP_SECONDS + 30)
    with capsys.disabled():
        print(f"\nfault soak: seed {SEED} (QX_SOAK_SEED replays it)", flush=True)
    specs = [lane_specs(lane) for lane in range(LANES)]
    # Another bench may be up (the session's): names of our own.
    with bench.Bench([spec for lane in specs for spec in lane], name_prefix="qx-soak") as the_bench:
        gc.collect()
        descriptors, threads = open_descriptors(), running_threads()
        stats = soak.Stats()
        scanner = soak.Scanner(qx.create_client(), stats)
        budget = soak.Budget(SECONDS, CALLS)
        lanes = prepare_lanes(the_bench, specs, scanner, budget, stats)

        gc.collect()
        tracemalloc.start()
        try:
            traced, resident = tracemalloc.get_traced_memory()[0], resident_bytes()
            budget.restart()
            samples = run_lanes(lanes, budget)
            elapsed = time.monotonic() - budget.started
            del lanes  # and with them every Device
            gc.collect()
            traced_growth = tracemalloc.get_traced_memory()[0] - traced
        finally:
            tracemalloc.stop()
        final = resident_bytes()
        late_growth = second_half_growth(samples, final)
        descriptors_after, threads_after = open_descriptors(), threads_once_settled(threads)

        resources = [f"descriptors {descriptors} -> {descriptors_after}", f"threads {threads} -> {threads_after}",
                     f"traced {traced_growth / 1024:+.1f} KiB",
                     f"resident {(final - resident) / 2**20:+.1f} MiB, {late_growth / 2**20:+.1f} MiB "
                     f"in the second half"]
        with capsys.disabled():
            print(soak.summary(stats, SEED, SECONDS, CALLS, elapsed, resources), flush=True)

        assert stats.failure_count == 0, "\n".join(stats.failures)
        assert (descriptors_after, threads_after) == (descriptors, threads)
        assert traced_growth < TRACED_GROWTH_LIMIT
        # The sanitizer's quarantine holds freed memory back on purpose.
        if not sanitized():
            assert late_growth < RESIDENT_GROWTH_LIMIT
    # Responders answer a query once a second; leave the next scan its answers.
    time.sleep(max(0.0, scanner.finished_at + soak.RATE_LIMIT_PAUSE - time.monotonic()))
