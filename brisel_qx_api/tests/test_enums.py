import operator
import weakref

import pytest

import brisel_qx_api as qx

ENUMS = [
    ("FirmwareUpdateResult", "Result of firmware update",
     ["Success", "TransferError", "FirmwareFailedSignatureCheck", "FirmwareCorrupt", "FirmwareForOtherDevice",
      "UnknownError"]),
    ("InterfaceType", "The interface type", ["T1", "T"]),
    ("EthLinkState", "The ethernet link state", ["Up", "Down"]),
    ("EthRole", "The ethernet role", ["Leader", "LeaderPreferred", "Follower", "FollowerPreferred"]),
    ("EthLinkSpeed", "The ethernet link speed",
     ["Speed10MbitFullDuplex", "Speed10MbitHalfDuplex", "Speed100MbitFullDuplex", "Speed100MbitHalfDuplex",
      "Speed1000MbitFullDuplex", "Speed1000MbitHalfDuplex"]),
    ("EthAnegMode", "The ethernet auto negotiation mode", ["AnegDisabled", "IEEEAnegEnabled"]),
    ("Tc10Command", "Available TC10 commands", ["WakeUp", "Sleep"]),
    ("Tc10State", "Possible TC10 states", ["Normal", "Sleep", "SleepFailed", "SleepAborted"]),
    ("CableTestHarnessStatus", "Cable test harness status", ["CableOpen", "CableShorted", "CableGood"]),
    ("PgPayloadSize", "Packet Generator Paylad Size", ["Size64", "Size1518"]),
    ("PgPayloadType", "Packet Generator Paylad Type", ["PseudoRandom", "Alternating", "OnlyOnes", "OnlyZeroes"]),
    ("PgPacketValidity", "Packet Generator Packet Validity", ["GoodCrc", "SymbolErrorsBadCrc"]),
]
ENUM_IDS = [name for name, _, _ in ENUMS]


def all_members():
    return [getattr(getattr(qx, name), member) for name, _, members in ENUMS for member in members]


def test_thirty_nine_distinct_members():
    members = all_members()
    assert len(members) == 39
    assert len({id(member) for member in members}) == 39


@pytest.mark.parametrize("name, doc, members", ENUMS, ids=ENUM_IDS)
def test_enumeration_class(name, doc, members):
    cls = getattr(qx, name)
    assert (cls.__module__, cls.__name__, cls.__qualname__, cls.__doc__) == ("brisel_qx_api", name, name, doc)
    assert cls.__bases__ == (object,)
    # The class's own attributes: the members in value order, repr and int.
    own = [key for key in cls.__dict__ if key not in ("__module__", "__doc__")]
    assert own == ["__repr__", "__int__"] + members
    for value, member_name in enumerate(members):
        member = getattr(cls, member_name)
        assert type(member) is cls
        assert int(member) == value and type(int(member)) is int
        text = f"{name}.{member_name}"
        assert repr(member) == str(member) == f"{member}" == text
        assert bool(member) is True


@pytest.mark.parametrize("name", ENUM_IDS)
def test_enumeration_classes_cannot_be_called_or_subclassed(name):
    cls = getattr(qx, name)
    text = f"cannot create 'brisel_qx_api.{name}' instances"
    for call in (lambda: cls(), lambda: cls(0), lambda: type(getattr(cls, ENUMS[ENUM_IDS.index(name)][2][0]))()):
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == text
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


def test_equality_and_hashing_are_by_identity():
    assert qx.EthLinkState.Up == qx.EthLinkState.Up
    assert qx.EthLinkState.Up != 0
    assert qx.EthLinkState.Up != qx.InterfaceType.T1
    assert qx.EthLinkState.Up != qx.EthLinkState.Down
    assert hash(qx.EthRole.Leader) == object.__hash__(qx.EthRole.Leader)
    roles = {qx.EthRole.Leader: "l", qx.EthRole.Follower: "f"}
    assert roles[qx.EthRole.Leader] == "l"
    assert {qx.EthRole.Leader, qx.EthRole.Leader, qx.EthRole.Follower} == {qx.EthRole.Leader, qx.EthRole.Follower}


@pytest.mark.parametrize(
    "use",
    [
        lambda m: m < m,
        lambda m: m + 1,
        lambda m: [0, 1, 2][m],
        lambda m: hex(m),
        lambda m: operator.index(m),
        lambda m: iter(type(m)),
        lambda m: m.name,
        lambda m: m.value,
        lambda m: weakref.ref(m),
    ],
)
def test_members_offer_nothing_else(use):
    with pytest.raises((TypeError, AttributeError)):
        use(qx.EthRole.Follower)


def test_members_take_no_attributes():
    with pytest.raises(AttributeError):
        qx.EthRole.Leader.extra = 1
    assert not hasattr(qx.EthRole.Leader, "__dict__")


def test_results_hand_out_the_class_attribute_objects():
    config = qx.EthInterfaceConfig([qx.EthLinkSpeed.Speed1000MbitFullDuplex], [qx.EthRole.Follower],
                                   qx.EthAnegMode.IEEEAnegEnabled)
    assert config.role[0] is qx.EthRole.Follower
    assert config.speed[0] is qx.EthLinkSpeed.Speed1000MbitFullDuplex
    assert config.aneg_mode is qx.EthAnegMode.IEEEAnegEnabled


def test_rebinding_a_class_attribute_changes_only_that_attribute():
    leader = qx.EthRole.Leader
    config = qx.EthInterfaceConfig([], [leader], qx.EthAnegMode.AnegDisabled)
    qx.EthRole.Leader = "rebound"
    try:
        assert config.role[0] is leader
        assert repr(config.role[0]) == "EthRole.Leader"
    finally:
        qx.EthRole.Leader = leader


def test_members_work_in_match_statements():
    def describe(result):
        match result:
            case qx.FirmwareUpdateResult.Success:
                return "success"
            case _:
                return "failed"

    assert describe(qx.FirmwareUpdateResult.Success) == "success"
    assert describe(qx.FirmwareUpdateResult.UnknownError) == "failed"
    assert describe(0) == "failed"
