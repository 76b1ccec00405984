"""Conversions, enumeration reads and failed calls must not leave memory
behind: run each many times and compare traced and resident memory."""

import gc
import resource
import tracemalloc
import types

ITERATIONS = 100_000


def under_address_sanitizer():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def exercise(qx, probe):
    speeds = [qx.EthLinkSpeed.Speed100MbitFullDuplex, qx.EthLinkSpeed.Speed1000MbitFullDuplex]
    roles = [qx.EthRole.Leader, qx.EthRole.Follower]
    pg = [True, qx.PgPayloadSize.Size64, qx.PgPayloadType.PseudoRandom, qx.PgPacketValidity.GoodCrc, 3]
    source = types.SimpleNamespace(role=[probe.EthRole.Leader], speed=[probe.EthLinkSpeed.Speed10MbitHalfDuplex],
                                   aneg_mode=probe.EthAnegMode.AnegDisabled)
    bad_source = types.SimpleNamespace(enabled=True, payload_size=probe.PgPayloadSize.Size64,
                                       payload_type=probe.PgPayloadType.PseudoRandom,
                                       validity=probe.PgPacketValidity.GoodCrc, burst_size=256)
    handle = probe.Probe()

    def once():
        config = qx.EthInterfaceConfig(speeds, roles, qx.EthAnegMode.IEEEAnegEnabled)
        config.speed, config.role, config.aneg_mode
        qx.PacketGeneratorConfig(*pg).burst_size
        repr(qx.EthRole.Follower), int(qx.Tc10State.SleepAborted)
        qx.format_ean(0x1234567890123)
        probe.extract_eth_config(source).role
        probe.interface_status(probe.InterfaceType.T1, probe.EthLinkState.Up, probe.EthRole.Leader,
                               probe.EthLinkSpeed.Speed10MbitFullDuplex).eth_interface_status.role
        for failing in (
            lambda: qx.EthInterfaceConfig("ab", roles, qx.EthAnegMode.IEEEAnegEnabled),
            lambda: qx.PacketGeneratorConfig(*pg[:4], 256),
            lambda: qx.PacketGeneratorConfig(),
            lambda: qx.format_ean("x"),
            lambda: probe.extract_packet_generator_config(bad_source),
            lambda: probe.fail_with(0, "a text"),
            lambda: probe.fail_with(10, ""),
            lambda: handle.call(lambda: handle.echo("inner")),
        ):
            try:
                failing()
            except (TypeError, OverflowError, ValueError, RuntimeError):
                pass

    return once


def test_repeated_calls_leave_memory_where_it_was(qx, probe):
    once = exercise(qx, probe)
    for _ in range(2_000):  # warm caches, interned names, free lists
        once()
    gc.collect()
    tracemalloc.start()
    try:
        traced_before = tracemalloc.get_traced_memory()[0]
        resident_before = resident_bytes()
        for _ in range(ITERATIONS):
            once()
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
        resident_growth = resident_bytes() - resident_before
    finally:
        tracemalloc.stop()
    # One leaked object per iteration would be several megabytes.
    assert traced_growth < 256 * 1024, traced_growth
    if not under_address_sanitizer():  # its quarantine keeps freed memory resident
        assert resident_growth < 4 * 1024 * 1024, resident_growth
