import importlib
import os
import subprocess
import sys
import textwrap

import pytest

import brisel_qx_api as qx

ALL_NAMES = [
    "OperationFailed",
    "OperationNotPermitted",
    "OperationNotSupportedByDevice",
    "OperationNotSupportedByInterface",
    "ApiNotAvailableInProtocolVersion",
    "Client",
    "Device",
    "FirmwareUpdateCallbacks",
    "FirmwareUpdateResult",
    "Interface",
    "InterfaceType",
    "EthLinkState",
    "EthRole",
    "EthLinkSpeed",
    "EthAnegMode",
    "InterfaceStatus",
    "EthInterfaceStatus",
    "EthInterfaceConfig",
    "Tc10Command",
    "Tc10State",
    "DcqReading",
    "CableTestHarnessStatus",
    "CableTestResult",
    "PgPayloadSize",
    "PgPayloadType",
    "PgPacketValidity",
    "PacketGeneratorConfig",
    "get_api_version",
    "get_api_version_string",
    "format_ean",
    "create_client",
]

EXCEPTIONS = {
    "OperationFailed": "OperationFailed is raised when the device was unable to perform the\n"
    "requested operation",
    "OperationNotPermitted": "OperationNotPermitted is raised when the device was unable to perform\n"
    "the requested operation due to lack of permission",
    "OperationNotSupportedByDevice": "OperationNotSupportedByDevice is raised when the device was unable to\n"
    "perform the requested operation due hardware restrictions on this device.",
    "OperationNotSupportedByInterface": "OperationNotSupportedByInterface is raised when an operation was\n"
    "attempted on an interface that does not support it (using TC10-related\n"
    "APIs on a 100/1000BASE-T interface for instance)",
    "ApiNotAvailableInProtocolVersion": "ApiNotAvailableInProtocolVersion is raised when attempting to call an\n"
    "API function that is not supported in the firmware currently running on\n"
    "the device, updating should resolve this error.",
}


def test_all_lists_every_name_once_in_registration_order():
    assert qx.__all__ == ALL_NAMES
    assert len(set(qx.__all__)) == len(qx.__all__)
    for name in qx.__all__:
        assert getattr(qx, name).__name__ == name


def test_module_docstring():
    assert qx.__doc__ == "QX API for Python module"


@pytest.mark.parametrize("name, doc", EXCEPTIONS.items())
def test_exception_type(name, doc):
    exception = getattr(qx, name)
    assert exception.__module__ == "brisel_qx_api"
    assert exception.__name__ == name
    assert exception.__qualname__ == name
    assert exception.__bases__ == (RuntimeError,)
    assert exception.__doc__ == doc

    class Specific(exception):  # stays subclassable like any exception
        pass

    assert issubclass(Specific, RuntimeError)


def test_exceptions_are_unrelated_to_one_another():
    types = [getattr(qx, name) for name in EXCEPTIONS]
    for first in types:
        for second in types:
            assert issubclass(first, second) == (first is second)


@pytest.fixture
def fresh_import():
    """Imports the module again into a new module object, then puts the
    original back so later tests see the usual one."""
    original = sys.modules.pop("brisel_qx_api")
    try:
        yield importlib.import_module("brisel_qx_api")
    finally:
        sys.modules["brisel_qx_api"] = original


def test_second_import_shares_types_and_members(fresh_import):
    again = fresh_import
    assert again is not qx
    assert again.__all__ == qx.__all__
    for name in qx.__all__:
        if isinstance(getattr(qx, name), type):
            assert getattr(again, name) is getattr(qx, name), name
        else:  # functions are made anew for each module object
            assert getattr(again, name) is not getattr(qx, name)
    assert again.EthRole.Follower is qx.EthRole.Follower
    assert again.FirmwareUpdateResult.UnknownError is qx.FirmwareUpdateResult.UnknownError
    with pytest.raises(qx.OperationFailed):
        raise again.OperationFailed("raised through the second import")


def test_import_starts_no_thread_and_opens_no_file():
    script = textwrap.dedent(
        """
        import os
        before = (sorted(os.listdir('/proc/self/task')), sorted(os.listdir('/proc/self/fd')))
        import brisel_qx_api
        after = (sorted(os.listdir('/proc/self/task')), sorted(os.listdir('/proc/self/fd')))
        print(len(before[0]), len(after[0]), before[1] == after[1])
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60,
                         env=os.environ.copy(), check=True).stdout.split()
    assert out == ["1", "1", "True"]


def test_api_version():
    version = qx.get_api_version()
    assert version == (0, 2, 1) and type(version) is tuple
    assert all(type(part) is int for part in version)
    assert qx.get_api_version_string() == "0.2.1"


@pytest.mark.parametrize(
    "ean, text",
    [
        (0, "00-00000-00000-0"),
        (0x1234567890123, "12-34567-89012-3"),
        (15, "00-00000-00000-15"),
        (0xFF << 56, "00-00000-00000-0"),
        (2**64 - 1, "fff-fffff-fffff-15"),
    ],
)
def test_format_ean(ean, text):
    assert qx.format_ean(ean) == text
    assert qx.format_ean(ean=ean) == text


def test_format_ean_takes_what_converts_to_an_int():
    class Index:
        def __index__(self):
            return 0x4012345678901

    class Int(int):
        pass

    assert qx.format_ean(Index()) == "40-12345-67890-1"
    assert qx.format_ean(Int(1)) == "00-00000-00000-1"


@pytest.mark.parametrize("ean", [-1, 2**64])
def test_format_ean_out_of_range_is_the_interpreters_overflow_error(ean):
    with pytest.raises(OverflowError) as caught:
        qx.format_ean(ean)
    assert "argument" not in str(caught.value)


def test_format_ean_of_text_names_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'ean': 'str' object cannot be interpreted as an integer$"):
        qx.format_ean("1")


@pytest.mark.parametrize(
    "function, signature",
    [
        ("format_ean", "(ean)"),
        ("get_api_version", "()"),
        ("get_api_version_string", "()"),
    ],
)
def test_function_signatures(function, signature):
    assert getattr(qx, function).__text_signature__ == signature
    assert getattr(qx, function).__module__ == "brisel_qx_api"


@pytest.mark.parametrize("function", ["get_api_version", "get_api_version_string"])
def test_functions_without_parameters_refuse_arguments(function):
    with pytest.raises(TypeError):
        getattr(qx, function)(1)
    with pytest.raises(TypeError):
        getattr(qx, function)(x=1)
