import types
import weakref

import pytest

import brisel_qx_api as qx

VALUE_CLASSES = ["InterfaceStatus", "EthInterfaceStatus", "EthInterfaceConfig", "PacketGeneratorConfig",
                 "DcqReading", "CableTestResult"]
NOT_CONSTRUCTIBLE = ["InterfaceStatus", "EthInterfaceStatus", "DcqReading", "CableTestResult"]


def pg_config(qx, enabled=True, burst_size=0):
    return qx.PacketGeneratorConfig(enabled, qx.PgPayloadSize.Size1518, qx.PgPayloadType.OnlyZeroes,
                                    qx.PgPacketValidity.SymbolErrorsBadCrc, burst_size)


@pytest.mark.parametrize("name", VALUE_CLASSES)
def test_value_class_basics(name):
    cls = getattr(qx, name)
    assert (cls.__module__, cls.__name__, cls.__bases__) == ("brisel_qx_api", name, (object,))
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("name", NOT_CONSTRUCTIBLE)
def test_result_classes_cannot_be_called(name):
    with pytest.raises(TypeError) as caught:
        getattr(qx, name)()
    assert str(caught.value) == f"cannot create 'brisel_qx_api.{name}' instances"


@pytest.mark.parametrize(
    "name, signature",
    [("EthInterfaceConfig", "(speed, role, aneg_mode)"),
     ("PacketGeneratorConfig", "(enabled, payload_size, payload_type, validity, burst_size)")],
)
def test_constructible_classes_show_their_signature(name, signature):
    cls = getattr(qx, name)
    assert cls.__text_signature__ == signature
    assert not cls.__doc__.startswith(name)


def test_eth_interface_config_keeps_lists_as_given(qx):
    empty = qx.EthInterfaceConfig([], [], qx.EthAnegMode.AnegDisabled)
    assert empty.speed == [] and empty.role == []
    roles = [qx.EthRole.Follower, qx.EthRole.Leader, qx.EthRole.Leader]
    speeds = (qx.EthLinkSpeed.Speed10MbitHalfDuplex, qx.EthLinkSpeed.Speed10MbitHalfDuplex)
    config = qx.EthInterfaceConfig(speeds, roles, qx.EthAnegMode.IEEEAnegEnabled)
    roles.append(qx.EthRole.FollowerPreferred)  # the object keeps its own copy
    assert config.role == [qx.EthRole.Follower, qx.EthRole.Leader, qx.EthRole.Leader]
    assert config.speed == list(speeds)
    assert config.aneg_mode is qx.EthAnegMode.IEEEAnegEnabled


def test_every_read_converts_anew(qx):
    config = qx.EthInterfaceConfig([], [qx.EthRole.Leader], qx.EthAnegMode.AnegDisabled)
    first, second = config.role, config.role
    assert first is not second and first == second
    first.clear()
    assert config.role == [qx.EthRole.Leader]


def test_packet_generator_config_keeps_every_value(qx):
    for enabled in (True, False):
        config = pg_config(qx, enabled, 255)
        assert config.enabled is enabled
        assert config.payload_size is qx.PgPayloadSize.Size1518
        assert config.payload_type is qx.PgPayloadType.OnlyZeroes
        assert config.validity is qx.PgPacketValidity.SymbolErrorsBadCrc
        assert config.burst_size == 255 and type(config.burst_size) is int


def test_configs_are_read_only_and_compare_by_identity(qx):
    config = qx.EthInterfaceConfig([], [], qx.EthAnegMode.AnegDisabled)
    with pytest.raises(AttributeError):
        config.role = []
    with pytest.raises(AttributeError):
        config.other = 1
    assert not hasattr(config, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(config)
    assert config != qx.EthInterfaceConfig([], [], qx.EthAnegMode.AnegDisabled)
    assert qx.EthInterfaceConfig.role.__doc__ == ""


def test_interface_status_from_the_sdk(probe):
    status = probe.interface_status(probe.InterfaceType.T, probe.EthLinkState.Down, probe.EthRole.Leader,
                                    probe.EthLinkSpeed.Speed1000MbitFullDuplex)
    assert type(status) is probe.InterfaceStatus
    assert status.interface_type is probe.InterfaceType.T
    eth = status.eth_interface_status
    assert type(eth) is probe.EthInterfaceStatus
    assert status.eth_interface_status is not eth
    assert eth.link_state is probe.EthLinkState.Down
    assert eth.role is probe.EthRole.Leader
    assert eth.speed is probe.EthLinkSpeed.Speed1000MbitFullDuplex


def test_dcq_reading_and_cable_test_result_from_the_sdk(probe):
    reading = probe.dcq_reading(1, 2, 65535, 4, 254, 255)
    assert (reading.sqi, reading.sqi_worst, reading.mse, reading.mse_worst, reading.peak_mse,
            reading.peak_mse_worst) == (1, 2, 65535, 4, 254, 255)
    result = probe.cable_test_result(probe.CableTestHarnessStatus.CableShorted, 2**32 - 1)
    assert result.harness_status is probe.CableTestHarnessStatus.CableShorted
    assert result.distance_to_fault == 2**32 - 1


# ---- extraction by attribute ----------------------------------------------

def eth_namespace(p, **changes):
    fields = dict(role=[p.EthRole.Follower], speed=(p.EthLinkSpeed.Speed100MbitHalfDuplex,),
                  aneg_mode=p.EthAnegMode.IEEEAnegEnabled)
    fields.update(changes)
    return types.SimpleNamespace(**fields)


def pg_namespace(p, **changes):
    fields = dict(enabled=True, payload_size=p.PgPayloadSize.Size1518, payload_type=p.PgPayloadType.Alternating,
                  validity=p.PgPacketValidity.SymbolErrorsBadCrc, burst_size=9)
    fields.update(changes)
    return types.SimpleNamespace(**fields)


def test_eth_config_from_any_object_with_the_attributes(probe):
    class Own:
        role = [probe.EthRole.Follower]
        speed = [probe.EthLinkSpeed.Speed100MbitHalfDuplex]

        @property
        def aneg_mode(self):
            return probe.EthAnegMode.IEEEAnegEnabled

    instance = probe.EthInterfaceConfig([probe.EthLinkSpeed.Speed100MbitHalfDuplex], [probe.EthRole.Follower],
                                        probe.EthAnegMode.IEEEAnegEnabled)
    for source in (eth_namespace(probe), Own(), instance):
        config = probe.extract_eth_config(source)
        assert config.role == [probe.EthRole.Follower]
        assert config.speed == [probe.EthLinkSpeed.Speed100MbitHalfDuplex]
        assert config.aneg_mode is probe.EthAnegMode.IEEEAnegEnabled


def test_packet_generator_config_extraction(probe):
    on = probe.extract_packet_generator_config(pg_namespace(probe))
    assert (on.enabled, on.payload_size, on.payload_type, on.validity, on.burst_size) == (
        True, probe.PgPayloadSize.Size1518, probe.PgPayloadType.Alternating,
        probe.PgPacketValidity.SymbolErrorsBadCrc, 9)
    # Switched off, the other values are checked but dropped: what comes back
    # is the generator's "off" state.
    off = probe.extract_packet_generator_config(pg_namespace(probe, enabled=False))
    assert (off.enabled, off.payload_size, off.payload_type, off.validity, off.burst_size) == (
        False, probe.PgPayloadSize.Size64, probe.PgPayloadType.PseudoRandom, probe.PgPacketValidity.GoodCrc, 0)


@pytest.mark.parametrize(
    "source, attribute",
    [
        (lambda p: object(), "role"),
        (lambda p: types.SimpleNamespace(role=[], aneg_mode=p.EthAnegMode.AnegDisabled), "speed"),
    ],
)
def test_a_missing_attribute_is_reported_unchanged(probe, source, attribute):
    with pytest.raises(AttributeError) as caught:
        probe.extract_eth_config(source(probe))
    assert type(caught.value) is AttributeError
    assert attribute in str(caught.value)
    assert not str(caught.value).startswith("argument")


def test_packet_generator_extraction_reports_enabled_first(probe):
    with pytest.raises(AttributeError, match="enabled"):
        probe.extract_packet_generator_config(object())


EXTRACTION_REFUSALS = [
    # (extract, source changes, field, cause type, cause text)
    ("eth", dict(role="ab"), "EthInterfaceConfig.role", TypeError, "Can't extract `str` to `Vec`"),
    ("eth", dict(speed=[0]), "EthInterfaceConfig.speed", TypeError,
     "'int' object is not an instance of 'EthLinkSpeed'"),
    ("eth", dict(aneg_mode=None), "EthInterfaceConfig.aneg_mode", TypeError,
     "'None' is not an instance of 'EthAnegMode'"),
    ("pg", dict(enabled=1), "PacketGeneratorConfig.enabled", TypeError,
     "'int' object is not an instance of 'bool'"),
    ("pg", dict(burst_size=256), "PacketGeneratorConfig.burst_size", OverflowError,
     "out of range integral type conversion attempted"),
    ("pg", dict(burst_size=-1), "PacketGeneratorConfig.burst_size", OverflowError,
     "out of range integral type conversion attempted"),
    ("pg", dict(enabled=False, payload_type=2), "PacketGeneratorConfig.payload_type", TypeError,
     "'int' object is not an instance of 'PgPayloadType'"),
]


@pytest.mark.parametrize("extract, changes, field, cause_type, cause_text", EXTRACTION_REFUSALS)
def test_a_refused_field_names_it_with_the_refusal_as_cause(probe, extract, changes, field, cause_type,
                                                            cause_text):
    if extract == "eth":
        call, source = probe.extract_eth_config, eth_namespace(probe, **changes)
    else:
        call, source = probe.extract_packet_generator_config, pg_namespace(probe, **changes)
    with pytest.raises(TypeError) as caught:
        call(source)
    assert type(caught.value) is TypeError
    assert str(caught.value) == f"argument 'config': failed to extract field {field}"
    cause = caught.value.__cause__
    assert type(cause) is cause_type and str(cause) == cause_text


def test_extraction_reads_attributes_in_order_and_stops_at_a_refusal(probe):
    read = []

    class Recording:
        def __getattr__(self, name):
            read.append(name)
            return "ab" if name == "speed" else [probe.EthRole.Leader]

    with pytest.raises(TypeError, match="EthInterfaceConfig.speed"):
        probe.extract_eth_config(Recording())
    assert read == ["role", "speed"]


def test_errors_raised_while_reading_an_attribute(probe):
    class Specific(TypeError):
        pass

    class Failing:
        def __init__(self, error):
            self.error = error

        @property
        def role(self):
            raise self.error

    specific = Specific("from a property")
    with pytest.raises(Specific) as caught:
        probe.extract_eth_config(Failing(specific))
    assert caught.value is specific
    # A plain TypeError from the object is still an argument's TypeError.
    with pytest.raises(TypeError) as caught:
        probe.extract_eth_config(Failing(TypeError("plain")))
    assert str(caught.value) == "argument 'config': plain"


def test_extraction_keeps_no_reference_to_its_source(probe):
    class Source:
        role = [probe.EthRole.Leader]
        speed = []
        aneg_mode = probe.EthAnegMode.AnegDisabled

    source = Source()
    watch = weakref.ref(source)
    probe.extract_eth_config(source)
    del source
    assert watch() is None


@pytest.mark.parametrize("kind", ["eth", "pg"])
def test_a_dict_is_not_a_configuration(probe, kind):
    source = vars(eth_namespace(probe)) if kind == "eth" else vars(pg_namespace(probe))
    call = probe.extract_eth_config if kind == "eth" else probe.extract_packet_generator_config
    with pytest.raises(AttributeError):
        call(dict(source))
