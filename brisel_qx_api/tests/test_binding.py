"""Argument binding and argument conversion, as every method, constructor and
function of the module applies them."""

import threading
import types

import pytest


def pg_args(qx):
    return [True, qx.PgPayloadSize.Size64, qx.PgPayloadType.PseudoRandom, qx.PgPacketValidity.GoodCrc, 0]


BINDING_CASES = [
    # (label, call, expected TypeError text)
    ("missing one", lambda qx, p: qx.format_ean(),
     "format_ean() missing 1 required positional argument: 'ean'"),
    ("missing one of three", lambda qx, p: qx.EthInterfaceConfig([], []),
     "EthInterfaceConfig.__new__() missing 1 required positional argument: 'aneg_mode'"),
    ("missing two", lambda qx, p: qx.EthInterfaceConfig([]),
     "EthInterfaceConfig.__new__() missing 2 required positional arguments: 'role' and 'aneg_mode'"),
    ("missing three", lambda qx, p: qx.EthInterfaceConfig(),
     "EthInterfaceConfig.__new__() missing 3 required positional arguments: 'speed', 'role', and 'aneg_mode'"),
    ("missing five", lambda qx, p: qx.PacketGeneratorConfig(),
     "PacketGeneratorConfig.__new__() missing 5 required positional arguments: "
     "'enabled', 'payload_size', 'payload_type', 'validity', and 'burst_size'"),
    ("missing after keywords", lambda qx, p: qx.EthInterfaceConfig(aneg_mode=qx.EthAnegMode.AnegDisabled),
     "EthInterfaceConfig.__new__() missing 2 required positional arguments: 'speed' and 'role'"),
    ("surplus, one given", lambda qx, p: p.Probe(1),
     "Probe.__new__() takes 0 positional arguments but 1 was given"),
    ("surplus, two given", lambda qx, p: qx.format_ean(1, 2),
     "format_ean() takes 1 positional arguments but 2 were given"),
    ("surplus, six given", lambda qx, p: qx.PacketGeneratorConfig(*pg_args(qx), 7),
     "PacketGeneratorConfig.__new__() takes 5 positional arguments but 6 were given"),
    ("surplus on a method", lambda qx, p: p.Probe().echo("a", "b"),
     "Probe.echo() takes 1 positional arguments but 2 were given"),
    ("unexpected keyword", lambda qx, p: qx.format_ean(e=1),
     "format_ean() got an unexpected keyword argument 'e'"),
    ("unexpected keyword on a method", lambda qx, p: p.Probe().echo(name="a"),
     "Probe.echo() got an unexpected keyword argument 'name'"),
    ("unexpected keyword, no parameters", lambda qx, p: p.Probe(x=1),
     "Probe.__new__() got an unexpected keyword argument 'x'"),
    ("multiple values", lambda qx, p: qx.format_ean(1, ean=1),
     "format_ean() got multiple values for argument 'ean'"),
    ("multiple values on a method", lambda qx, p: p.Probe().echo("a", text="b"),
     "Probe.echo() got multiple values for argument 'text'"),
    # The checks run in a fixed order: surplus, unknown keyword, repeated, missing.
    ("surplus before unknown keyword", lambda qx, p: qx.format_ean(1, 2, e=1),
     "format_ean() takes 1 positional arguments but 2 were given"),
    ("unknown keyword before repeated", lambda qx, p: qx.EthInterfaceConfig([], speed=[], zz=1),
     "EthInterfaceConfig.__new__() got an unexpected keyword argument 'zz'"),
    ("repeated before missing", lambda qx, p: qx.EthInterfaceConfig([], speed=[]),
     "EthInterfaceConfig.__new__() got multiple values for argument 'speed'"),
]


@pytest.mark.parametrize("label, call, text", BINDING_CASES, ids=[case[0] for case in BINDING_CASES])
def test_binding_errors(qx, probe, label, call, text):
    with pytest.raises(TypeError) as caught:
        call(qx, probe)
    assert str(caught.value) == text
    assert caught.value.args == (text,)


def test_keywords_bind_like_positions_in_any_order(qx):
    by_position = qx.EthInterfaceConfig([qx.EthLinkSpeed.Speed100MbitFullDuplex], [qx.EthRole.Follower],
                                        qx.EthAnegMode.IEEEAnegEnabled)
    by_keyword = qx.EthInterfaceConfig(aneg_mode=qx.EthAnegMode.IEEEAnegEnabled, role=[qx.EthRole.Follower],
                                       speed=[qx.EthLinkSpeed.Speed100MbitFullDuplex])
    mixed = qx.EthInterfaceConfig([qx.EthLinkSpeed.Speed100MbitFullDuplex], aneg_mode=qx.EthAnegMode.IEEEAnegEnabled,
                                  role=[qx.EthRole.Follower])
    for config in (by_keyword, mixed):
        assert (config.speed, config.role, config.aneg_mode) == (by_position.speed, by_position.role,
                                                                 by_position.aneg_mode)
    assert qx.format_ean(ean=0x1234567890123) == qx.format_ean(0x1234567890123)


def test_binding_errors_reach_nothing(probe):
    handle = probe.Probe()
    for call in (lambda: handle.echo(), lambda: handle.echo("a", "b"), lambda: handle.echo(x="a"),
                 lambda: handle.calls(1)):
        with pytest.raises(TypeError):
            call()
    assert handle.calls() == 0


# ---- the "argument '...': " rewrite --------------------------------------

class Raising:
    """An object whose integer conversion raises a given exception."""

    def __init__(self, exception):
        self.exception = exception

    def __index__(self):
        raise self.exception


class TypeErrorSubclass(TypeError):
    pass


def test_exact_type_error_is_rewritten_and_keeps_its_cause(qx):
    root = ValueError("root cause")
    error = TypeError("boom")
    error.__cause__ = root
    args = pg_args(qx)
    args[4] = Raising(error)
    with pytest.raises(TypeError) as caught:
        qx.PacketGeneratorConfig(*args)
    assert type(caught.value) is TypeError
    assert str(caught.value) == "argument 'burst_size': boom"
    assert caught.value is not error
    assert caught.value.__cause__ is root


@pytest.mark.parametrize("exception", [TypeErrorSubclass("specific"), OverflowError("too big"),
                                       AttributeError("no such thing"), ZeroDivisionError("odd")])
def test_other_errors_pass_unchanged(qx, exception):
    args = pg_args(qx)
    args[4] = Raising(exception)
    with pytest.raises(type(exception)) as caught:
        qx.PacketGeneratorConfig(*args)
    assert caught.value is exception


def test_unicode_encode_error_of_a_text_passes_unchanged(probe):
    with pytest.raises(UnicodeEncodeError) as caught:
        probe.echo_text("lone \udc80 surrogate")
    assert not str(caught.value).startswith("argument")


def test_first_refused_argument_ends_the_conversion(qx):
    # speed is refused; role (also bad) is never looked at.
    with pytest.raises(TypeError, match=r"^argument 'speed': "):
        qx.EthInterfaceConfig("ab", 5, None)


# ---- conversions, one table per target ------------------------------------

REFUSED_TEXT = [
    (5, "argument 'text': 'int' object is not an instance of 'str'"),
    (None, "argument 'text': 'None' is not an instance of 'str'"),
    (b"bytes", "argument 'text': 'bytes' object is not an instance of 'str'"),
]


@pytest.mark.parametrize("value, text", REFUSED_TEXT)
def test_text_refusals(probe, value, text):
    with pytest.raises(TypeError) as caught:
        probe.echo_text(value)
    assert str(caught.value) == text


def test_text_accepts_str_and_subclasses(probe):
    class Text(str):
        pass

    assert probe.echo_text("nick \u00fc\u20ac\U0001f600") == "nick \u00fc\u20ac\U0001f600"
    assert probe.echo_text(Text("sub")) == "sub"
    assert probe.echo_text("") == ""


def test_bytes_are_read_in_place_and_nothing_else_is_bytes(probe):
    class Blob(bytes):
        pass

    assert probe.byte_count(b"abc") == 3
    assert probe.byte_count(Blob(b"\0" * 70000)) == 70000
    for value, name in [(bytearray(b"a"), "bytearray"), (memoryview(b"a"), "memoryview"), ("a", "str")]:
        with pytest.raises(TypeError) as caught:
            probe.byte_count(value)
        assert str(caught.value) == f"argument 'blob': '{name}' object is not an instance of 'bytes'"


def fake_numpy_bool(name, module, truth):
    return type(name, (), {"__module__": module, "__bool__": lambda self: truth})()


@pytest.mark.parametrize(
    "value, stored",
    [
        (True, True),
        (False, False),
        (fake_numpy_bool("bool_", "numpy", True), True),
        (fake_numpy_bool("bool", "numpy", False), False),
    ],
)
def test_boolean_accepted(qx, value, stored):
    args = pg_args(qx)
    args[0] = value
    assert qx.PacketGeneratorConfig(*args).enabled is stored


@pytest.mark.parametrize(
    "value, type_name",
    [
        (1, "int"),
        (0, "int"),
        (None, None),
        ("True", "str"),
        (fake_numpy_bool("bool_", "not_numpy", True), "bool_"),
        (fake_numpy_bool("int8", "numpy", True), "int8"),
    ],
)
def test_boolean_refused(qx, value, type_name):
    args = pg_args(qx)
    args[0] = value
    with pytest.raises(TypeError) as caught:
        qx.PacketGeneratorConfig(*args)
    refusal = "'None' is not" if value is None else f"'{type_name}' object is not"
    assert str(caught.value) == f"argument 'enabled': {refusal} an instance of 'bool'"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("value, stored", [(0, 0), (255, 255), (Index(7), 7), (True, 1)])
def test_u8_accepted(qx, value, stored):
    args = pg_args(qx)
    args[4] = value
    assert qx.PacketGeneratorConfig(*args).burst_size == stored


@pytest.mark.parametrize("value", [256, -1, 2**63 - 1, -(2**63), Index(1000)])
def test_u8_out_of_range(qx, value):
    args = pg_args(qx)
    args[4] = value
    with pytest.raises(OverflowError) as caught:
        qx.PacketGeneratorConfig(*args)
    assert str(caught.value) == "out of range integral type conversion attempted"


def test_u8_beyond_64_bits_is_the_interpreters_overflow_error(qx):
    args = pg_args(qx)
    args[4] = 2**64
    with pytest.raises(OverflowError) as caught:
        qx.PacketGeneratorConfig(*args)
    assert not str(caught.value).startswith("argument")


@pytest.mark.parametrize("value, type_name", [("1", "str"), (1.0, "float"), (None, "NoneType")])
def test_u8_without_integer_conversion(qx, value, type_name):
    args = pg_args(qx)
    args[4] = value
    with pytest.raises(TypeError) as caught:
        qx.PacketGeneratorConfig(*args)
    assert str(caught.value) == f"argument 'burst_size': '{type_name}' object cannot be interpreted as an integer"


@pytest.mark.parametrize(
    "value, text",
    [
        (0, "'int' object is not an instance of 'EthAnegMode'"),
        (None, "'None' is not an instance of 'EthAnegMode'"),
        ("AnegDisabled", "'str' object is not an instance of 'EthAnegMode'"),
    ],
)
def test_member_refusals(qx, value, text):
    with pytest.raises(TypeError) as caught:
        qx.EthInterfaceConfig([], [], value)
    assert str(caught.value) == "argument 'aneg_mode': " + text


def test_member_of_another_class_with_the_same_integer_is_refused(qx):
    assert int(qx.EthLinkState.Up) == int(qx.EthAnegMode.AnegDisabled)
    with pytest.raises(TypeError) as caught:
        qx.EthInterfaceConfig([], [], qx.EthLinkState.Up)
    assert str(caught.value) == "argument 'aneg_mode': 'EthLinkState' object is not an instance of 'EthAnegMode'"


class Text(str):
    pass


@pytest.mark.parametrize(
    "value, text",
    [
        ("ab", "Can't extract `str` to `Vec`"),
        ("", "Can't extract `str` to `Vec`"),
        (Text("ab"), "Can't extract `str` to `Vec`"),
        (5, "'int' object is not an instance of 'Sequence'"),
        ({}, "'dict' object is not an instance of 'Sequence'"),
        (set(), "'set' object is not an instance of 'Sequence'"),
        ((x for x in []), "'generator' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
        ([1], "'int' object is not an instance of 'EthLinkSpeed'"),
    ],
)
def test_member_list_refusals(qx, value, text):
    with pytest.raises(TypeError) as caught:
        qx.EthInterfaceConfig(value, [], qx.EthAnegMode.AnegDisabled)
    assert str(caught.value) == "argument 'speed': " + text


def test_member_list_stops_at_the_first_bad_element(qx):
    seen = []

    class Watched(list):
        def __iter__(self):
            for item in list.__iter__(self):
                seen.append(item)
                yield item

    roles = Watched([qx.EthRole.Leader, "bad", qx.EthRole.Follower])
    with pytest.raises(TypeError, match=r"^argument 'role': 'str' object is not an instance of 'EthRole'$"):
        qx.EthInterfaceConfig([], roles, qx.EthAnegMode.AnegDisabled)
    assert seen == [qx.EthRole.Leader, "bad"]


# ---- the exclusive borrow --------------------------------------------------

def test_a_call_from_inside_a_call_is_refused_then_the_object_is_free(probe):
    handle = probe.Probe()
    with pytest.raises(RuntimeError) as caught:
        handle.call(lambda: handle.echo("inner"))
    assert str(caught.value) == "Already borrowed"
    assert caught.value.args == ("Already borrowed",)
    assert handle.calls() == 1  # the inner call never reached the C++ side
    assert handle.call(lambda: "later") == "later"
    assert handle.echo("again") == "again"


def test_the_borrow_is_released_after_a_failed_conversion(probe):
    handle = probe.Probe()
    with pytest.raises(TypeError):
        handle.echo(5)
    assert handle.echo("x") == "x"
    assert handle.calls() == 1


def test_the_borrow_is_released_when_the_call_raises(probe):
    handle = probe.Probe()

    def fail():
        raise KeyError("from inside")

    with pytest.raises(KeyError):
        handle.call(fail)
    assert handle.echo("x") == "x"


def test_another_thread_is_refused_at_once_while_a_call_runs(probe):
    handle = probe.Probe()
    inside = threading.Event()
    finished = threading.Event()
    outcome = {}

    def other_thread():
        inside.wait(timeout=10)
        try:
            handle.echo("from the other thread")
            outcome["error"] = None
        except RuntimeError as error:
            outcome["error"] = str(error)
        finished.set()

    def busy():
        inside.set()
        finished.wait(timeout=10)

    worker = threading.Thread(target=other_thread)
    worker.start()
    handle.call(busy)
    worker.join(timeout=10)
    assert not worker.is_alive()
    assert outcome == {"error": "Already borrowed"}
    assert handle.echo("afterwards") == "afterwards"


def test_methods_check_their_receiver(probe):
    with pytest.raises(TypeError):
        probe.Probe.echo(types.SimpleNamespace(), "x")
