"""brisel_qx_api.Interface against fake devices found by a scan."""

import struct
import types

import pytest

import brisel_qx_api as qx


def commands(fake):
    """The command numbers of the requests the fake device received."""
    return [struct.unpack_from("<H", frame)[0] for frame in fake.requests()]


@pytest.fixture
def interfaces(main_device, main_fake):
    yield main_device.get_interfaces()
    main_fake.command("clear_faults")


@pytest.fixture
def interface(interfaces):
    return interfaces[0]


def fields(value, names):
    return {name: getattr(value, name) for name in names}


def test_get_interfaces_gives_new_working_objects_in_index_order(main_device, main_fake):
    for index in range(2):
        main_fake.iset(index, "nickname", f"port {index}")
    try:
        first, second = main_device.get_interfaces(), main_device.get_interfaces()
        assert type(first) is list and len(first) == 2
        assert all(type(interface) is qx.Interface for interface in first + second)
        assert len({id(interface) for interface in first + second}) == 4
        assert first[0] != second[0]
        assert [interface.get_nickname() for interface in first + second] == ["port 0", "port 1"] * 2
    finally:
        for index in range(2):
            main_fake.iset(index, "nickname", "")


# The fake device's initial interface state, as the module shows it.
INITIAL_READS = [
    ("get_status", qx.InterfaceStatus,
     lambda r: (r.interface_type, r.eth_interface_status.link_state, r.eth_interface_status.role,
                r.eth_interface_status.speed),
     (qx.InterfaceType.T1, qx.EthLinkState.Up, qx.EthRole.Leader, qx.EthLinkSpeed.Speed100MbitFullDuplex)),
    ("get_eth_config", qx.EthInterfaceConfig, lambda r: (r.speed, r.role, r.aneg_mode),
     ([qx.EthLinkSpeed.Speed100MbitFullDuplex], [qx.EthRole.Leader], qx.EthAnegMode.AnegDisabled)),
    ("get_supported_eth_configs", qx.EthInterfaceConfig, lambda r: (r.speed, r.role, r.aneg_mode),
     ([qx.EthLinkSpeed.Speed100MbitFullDuplex, qx.EthLinkSpeed.Speed1000MbitFullDuplex],
      [qx.EthRole.Leader, qx.EthRole.Follower], qx.EthAnegMode.IEEEAnegEnabled)),
    ("read_dcq", qx.DcqReading,
     lambda r: (r.sqi, r.sqi_worst, r.mse, r.mse_worst, r.peak_mse, r.peak_mse_worst), (7, 5, 120, 340, 3, 9)),
    ("run_cable_test", qx.CableTestResult, lambda r: (r.harness_status, r.distance_to_fault),
     (qx.CableTestHarnessStatus.CableGood, 0)),
    ("get_packet_generator_config", qx.PacketGeneratorConfig,
     lambda r: (r.enabled, r.payload_size, r.payload_type, r.validity, r.burst_size),
     (False, qx.PgPayloadSize.Size64, qx.PgPayloadType.PseudoRandom, qx.PgPacketValidity.GoodCrc, 0)),
]


@pytest.mark.parametrize("method, cls, read, expected", INITIAL_READS, ids=[case[0] for case in INITIAL_READS])
def test_reads_give_a_new_value_object_on_every_call(interface, method, cls, read, expected):
    first = getattr(interface, method)()
    second = getattr(interface, method)()
    assert type(first) is cls and type(second) is cls
    assert first is not second
    assert read(first) == expected == read(second)
    # Enumeration fields are the shared members themselves.
    for got, want in zip(read(first), expected):
        if isinstance(want, list):
            assert all(g is w for g, w in zip(got, want))
        elif not isinstance(want, (int, bool)):
            assert got is want


def test_plain_reads(interface, main_fake):
    assert interface.get_nickname() == ""
    assert interface.get_tc10_state() is qx.Tc10State.Normal
    assert interface.get_loopback_state() is False


# (interface fields to set on the fake, wire values; read; expected)
STATE_READS = [
    ({"tc10_state": 2}, lambda i: i.get_tc10_state(), qx.Tc10State.SleepFailed),
    ({"tc10_state": 3}, lambda i: i.get_tc10_state(), qx.Tc10State.SleepAborted),
    ({"loopback": 1}, lambda i: i.get_loopback_state(), True),
    ({"nickname": "Ünïcode ✓"}, lambda i: i.get_nickname(), "Ünïcode ✓"),
    ({"interface_type": 2, "link_state": 0}, lambda i: (i.get_status().interface_type,
                                                        i.get_status().eth_interface_status.link_state),
     (qx.InterfaceType.T, qx.EthLinkState.Down)),
    ({"cable_harness_status": 1, "cable_distance": 42}, lambda i: (i.run_cable_test().harness_status,
                                                                   i.run_cable_test().distance_to_fault),
     (qx.CableTestHarnessStatus.CableShorted, 42)),
    ({"dcq.sqi": 255, "dcq.mse": 65535}, lambda i: (i.read_dcq().sqi, i.read_dcq().mse), (255, 65535)),
    # Wire values: payload type 3 is OnlyOnes.
    ({"packet_generator.enabled": 1, "packet_generator.payload_size": 1, "packet_generator.payload_type": 3,
      "packet_generator.validity": 1, "packet_generator.burst_size": 200},
     lambda i: fields(i.get_packet_generator_config(),
                      ["enabled", "payload_size", "payload_type", "validity", "burst_size"]),
     {"enabled": True, "payload_size": qx.PgPayloadSize.Size1518, "payload_type": qx.PgPayloadType.OnlyOnes,
      "validity": qx.PgPacketValidity.SymbolErrorsBadCrc, "burst_size": 200}),
]


@pytest.mark.parametrize("state, read, expected", STATE_READS)
def test_reads_show_what_the_device_reports(interfaces, main_fake, state, read, expected):
    index = 1
    before = {name: main_fake.iget(index, name) for name in state}
    for name, value in state.items():
        main_fake.iset(index, name, value)
    try:
        assert read(interfaces[index]) == expected
    finally:
        for name, value in before.items():
            main_fake.iset(index, name, value)


def pg(enabled, size=qx.PgPayloadSize.Size1518, kind=qx.PgPayloadType.Alternating,
       validity=qx.PgPacketValidity.SymbolErrorsBadCrc, burst=17):
    return qx.PacketGeneratorConfig(enabled, size, kind, validity, burst)


# (call, interface fields it changes, wire values afterwards)
WRITES = [
    (lambda i: i.set_nickname("bench port"), {"nickname": "bench port"}),
    (lambda i: i.set_nickname(nickname="by keyword"), {"nickname": "by keyword"}),
    (lambda i: i.reset_nickname(), {"nickname": ""}),
    (lambda i: i.set_nickname(""), {"nickname": ""}),
    (lambda i: i.set_loopback_state(True), {"loopback": "1"}),
    (lambda i: i.set_loopback_state(enabled=False), {"loopback": "0"}),
    (lambda i: i.set_packet_generator_config(pg(True)),
     {"packet_generator.enabled": "1", "packet_generator.payload_size": "1", "packet_generator.burst_size": "17",
      "packet_generator.validity": "1"}),
    # Switched off, the other four are not sent: the device keeps its own.
    (lambda i: i.set_packet_generator_config(pg(False)), {"packet_generator.enabled": "0"}),
    (lambda i: i.set_packet_generator_config(types.SimpleNamespace(
        enabled=True, payload_size=qx.PgPayloadSize.Size64, payload_type=qx.PgPayloadType.OnlyOnes,
        validity=qx.PgPacketValidity.GoodCrc, burst_size=0)),
     {"packet_generator.enabled": "1", "packet_generator.payload_size": "0", "packet_generator.burst_size": "0"}),
]


@pytest.mark.parametrize("call, changed", WRITES)
def test_writes_reach_the_device_and_return_none(interfaces, main_fake, call, changed):
    index = 1
    main_fake.iset(index, "nickname", "before")
    before = {name: main_fake.iget(index, name) for name in changed}
    try:
        assert call(interfaces[index]) is None
        assert {name: main_fake.iget(index, name) for name in changed} == changed
        assert main_fake.iget(0, "nickname") == ""  # the other interface is untouched
    finally:
        for name, value in before.items():
            main_fake.iset(index, name, value)
        main_fake.iset(index, "nickname", "")


def test_eth_config_round_trip_from_any_object_with_the_attributes(interface, main_fake):
    before = main_fake.iget(0, "eth_config")
    config = types.SimpleNamespace(speed=[qx.EthLinkSpeed.Speed1000MbitFullDuplex], role=(qx.EthRole.Follower,),
                                   aneg_mode=qx.EthAnegMode.IEEEAnegEnabled)
    try:
        assert interface.set_eth_config(config) is None
        read = interface.get_eth_config()
        assert (read.speed, read.role, read.aneg_mode) == ([qx.EthLinkSpeed.Speed1000MbitFullDuplex],
                                                           [qx.EthRole.Follower], qx.EthAnegMode.IEEEAnegEnabled)
        interface.set_eth_config(config=qx.EthInterfaceConfig([qx.EthLinkSpeed.Speed100MbitFullDuplex],
                                                              [qx.EthRole.Leader], qx.EthAnegMode.AnegDisabled))
        assert interface.get_eth_config().speed == [qx.EthLinkSpeed.Speed100MbitFullDuplex]
    finally:
        main_fake.iset(0, "eth_config", before)


@pytest.mark.parametrize("command", [qx.Tc10Command.WakeUp, qx.Tc10Command.Sleep])
def test_send_tc10_command_and_identify_send_one_request_each(interface, main_fake, command):
    main_fake.clear()
    assert interface.send_tc10_command(command) is None
    assert interface.send_tc10_command(command=command) is None
    assert interface.identify() is None
    assert commands(main_fake) == [77, 77, 21]


# (call, TypeError or other error type, exact text)
ARGUMENT_ERRORS = [
    (lambda i: i.set_nickname(), TypeError,
     "Interface.set_nickname() missing 1 required positional argument: 'nickname'"),
    (lambda i: i.set_nickname("a", "b"), TypeError,
     "Interface.set_nickname() takes 1 positional arguments but 2 were given"),
    (lambda i: i.set_nickname(name="a"), TypeError,
     "Interface.set_nickname() got an unexpected keyword argument 'name'"),
    (lambda i: i.set_nickname("a", nickname="b"), TypeError,
     "Interface.set_nickname() got multiple values for argument 'nickname'"),
    (lambda i: i.set_nickname(5), TypeError, "argument 'nickname': 'int' object is not an instance of 'str'"),
    (lambda i: i.set_nickname(b"bytes"), TypeError,
     "argument 'nickname': 'bytes' object is not an instance of 'str'"),
    (lambda i: i.set_loopback_state(1), TypeError, "argument 'enabled': 'int' object is not an instance of 'bool'"),
    (lambda i: i.send_tc10_command(1), TypeError,
     "argument 'command': 'int' object is not an instance of 'Tc10Command'"),
    (lambda i: i.send_tc10_command(qx.Tc10State.Sleep), TypeError,
     "argument 'command': 'Tc10State' object is not an instance of 'Tc10Command'"),
    (lambda i: i.set_eth_config(object()), AttributeError, "'object' object has no attribute 'role'"),
    (lambda i: i.set_eth_config(types.SimpleNamespace(role="Leader", speed=[], aneg_mode=None)), TypeError,
     "argument 'config': failed to extract field EthInterfaceConfig.role"),
    (lambda i: i.set_packet_generator_config(types.SimpleNamespace(
        enabled=False, payload_size=qx.PgPayloadSize.Size64, payload_type=qx.PgPayloadType.OnlyOnes,
        validity=qx.PgPacketValidity.GoodCrc, burst_size=256)), TypeError,
     "argument 'config': failed to extract field PacketGeneratorConfig.burst_size"),
]


@pytest.mark.parametrize("call, error, text", ARGUMENT_ERRORS, ids=[case[2][:60] for case in ARGUMENT_ERRORS])
def test_argument_errors_send_nothing_and_leave_the_object_usable(interface, main_fake, call, error, text):
    main_fake.clear()
    with pytest.raises(error) as caught:
        call(interface)
    assert type(caught.value) is error
    assert str(caught.value) == text
    assert main_fake.requests() == []
    assert interface.get_nickname() == ""


def test_a_refused_field_carries_the_refusal_as_cause(interface):
    with pytest.raises(TypeError) as caught:
        interface.set_eth_config(types.SimpleNamespace(role="Leader", speed=[], aneg_mode=None))
    assert type(caught.value.__cause__) is TypeError
    assert "str" in str(caught.value.__cause__)


@pytest.mark.parametrize("call", [lambda i: i.identify(1), lambda i: i.identify(x=1), lambda i: i.get_status(None)])
def test_methods_without_parameters_refuse_any_argument(interface, main_fake, call):
    main_fake.clear()
    with pytest.raises(TypeError):
        call(interface)
    assert main_fake.requests() == []


def test_a_nickname_without_utf8_form_is_refused_unchanged(interface, main_fake):
    main_fake.clear()
    with pytest.raises(UnicodeEncodeError):
        interface.set_nickname("lone \udc80 surrogate")
    assert main_fake.requests() == []


VERSION_2_CALLS = [
    ("get_tc10_state", lambda i: i.get_tc10_state()),
    ("send_tc10_command", lambda i: i.send_tc10_command(qx.Tc10Command.WakeUp)),
    ("read_dcq", lambda i: i.read_dcq()),
    ("run_cable_test", lambda i: i.run_cable_test()),
    ("get_loopback_state", lambda i: i.get_loopback_state()),
    ("set_loopback_state", lambda i: i.set_loopback_state(True)),
    ("get_packet_generator_config", lambda i: i.get_packet_generator_config()),
    ("set_packet_generator_config", lambda i: i.set_packet_generator_config(pg(True))),
]


@pytest.mark.parametrize("name, call", VERSION_2_CALLS, ids=[case[0] for case in VERSION_2_CALLS])
def test_version_1_device_refuses_version_2_requests_without_sending(scanned, name, call):
    legacy, fake = scanned.device("legacy"), scanned.fake("legacy")
    interface = legacy.get_interfaces()[0]
    fake.clear()
    with pytest.raises(qx.ApiNotAvailableInProtocolVersion) as caught:
        call(interface)
    assert caught.value.args == ("Operation not supported in older firmware",)
    assert fake.requests() == []
    assert type(interface.get_status()) is qx.InterfaceStatus
    assert interface.get_nickname() == ""


# Statuses inside a regular reply: (wire status, exception, message)
REPLY_STATUSES = [
    (2, ValueError, 'Unknown error type ApiError("Encountered an unspecified error")'),
    (3, qx.OperationFailed, "Operation failed"),
    (4, qx.OperationNotPermitted, "Operation not permitted"),
    (5, qx.OperationNotSupportedByDevice, "Operation failed"),
    (6, qx.OperationNotSupportedByInterface, "Operation not supported by interface"),
    (17, qx.OperationNotSupportedByDevice, "Operation failed"),  # a status without a kind of its own
]


@pytest.mark.parametrize("status, error, text", REPLY_STATUSES)
@pytest.mark.parametrize("field, call", [
    ("identify_status", lambda i: i.identify()),
    ("tc10_command_status", lambda i: i.send_tc10_command(qx.Tc10Command.Sleep)),
], ids=["identify", "send_tc10_command"])
def test_non_success_status_in_a_reply_raises(interface, main_fake, field, call, status, error, text):
    main_fake.iset(0, field, status)
    try:
        with pytest.raises(error) as caught:
            call(interface)
        assert type(caught.value) is error
        assert caught.value.args == (text,)
    finally:
        main_fake.iset(0, field, 0)
    assert call(interface) is None


# Error packets instead of a reply: (device status, exception, message)
ERROR_PACKETS = [
    (1, qx.ApiNotAvailableInProtocolVersion, "Operation not supported in older firmware"),
    (3, ValueError,
     'Unknown error type ApiError("An error ocurred in the protocol '
     '\\"QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED\\"")'),
    (18, ValueError,
     'Unknown error type ApiError("An error ocurred in the protocol '
     '\\"QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE\\"")'),
]


@pytest.mark.parametrize("status, error, text", ERROR_PACKETS)
def test_error_packet_raises_and_the_connection_goes_on(interface, main_fake, status, error, text):
    main_fake.fault("next", 1, f"error {status}")
    with pytest.raises(error) as caught:
        interface.get_status()
    assert type(caught.value) is error
    assert caught.value.args == (text,)
    assert type(interface.get_status()) is qx.InterfaceStatus


def test_error_packet_with_success_status_gives_the_initial_values(interface, main_fake):
    main_fake.fault("next", 1, "error 0")
    assert interface.get_nickname() == ""
