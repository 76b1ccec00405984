"""How an SDK error becomes a Python exception, for every error kind."""

import pytest

# The SDK's error kinds in declaration order (their numbers 0 to 16).
KINDS = [
    "ApiError",
    "ApiNotAvailableInProtocolVersion",
    "ClientSoftwareTooOldForDevice",
    "ConnectionError",
    "DeviceDiscoveryError",
    "FailedToAquireLock",
    "FileOpenError",
    "FileReadError",
    "NetworkError",
    "NotImplemented",
    "RemoteOperationFailed",
    "RemoteOperationNotPermitted",
    "RemoteOperationNotSupportedByDevice",
    "RemoteOperationNotSupportedByInterface",
    "TcpStreamWriteError",
    "TcpStreamReadError",
    "Utf8Error",
]
TEXT_KINDS = {"ApiError", "DeviceDiscoveryError", "FileOpenError", "FileReadError", "TcpStreamWriteError",
              "TcpStreamReadError", "Utf8Error"}

MAPPED = {
    "ApiNotAvailableInProtocolVersion": ("ApiNotAvailableInProtocolVersion",
                                         "Operation not supported in older firmware"),
    "RemoteOperationFailed": ("OperationFailed", "Operation failed"),
    "RemoteOperationNotPermitted": ("OperationNotPermitted", "Operation not permitted"),
    "RemoteOperationNotSupportedByDevice": ("OperationNotSupportedByDevice", "Operation failed"),
    "RemoteOperationNotSupportedByInterface": ("OperationNotSupportedByInterface",
                                               "Operation not supported by interface"),
}


def raise_kind(probe, kind, text=""):
    with pytest.raises(Exception) as caught:
        probe.fail_with(KINDS.index(kind), text)
    return caught.value


@pytest.mark.parametrize("kind", sorted(MAPPED))
def test_kinds_with_an_exception_of_their_own(probe, kind):
    exception_name, message = MAPPED[kind]
    error = raise_kind(probe, kind, "text that must not show")
    assert type(error) is getattr(probe, exception_name)
    assert error.args == (message,)
    assert str(error) == message


@pytest.mark.parametrize("kind", [kind for kind in KINDS if kind not in MAPPED])
def test_every_other_kind_is_a_value_error_with_the_debug_text(probe, kind):
    error = raise_kind(probe, kind, "some text")
    assert type(error) is ValueError
    assert not isinstance(error, RuntimeError)
    expected = 'Unknown error type ' + (f'{kind}("some text")' if kind in TEXT_KINDS else kind)
    assert error.args == (expected,)


@pytest.mark.parametrize(
    "text, shown",
    [
        ('say "hi"', r'ApiError("say \"hi\"")'),
        ("two\nlines\ttab\\", r'ApiError("two\nlines\ttab\\")'),
        ("it's", 'ApiError("it\'s")'),
        ("", 'ApiError("")'),
    ],
)
def test_texts_are_shown_escaped(probe, text, shown):
    assert raise_kind(probe, "ApiError", text).args == ("Unknown error type " + shown,)


def test_failed_to_acquire_lock_ends_in_the_kind_name(probe):
    assert str(raise_kind(probe, "FailedToAquireLock")) == "Unknown error type FailedToAquireLock"


def test_not_supported_by_device_is_not_caught_as_operation_failed(probe):
    with pytest.raises(probe.OperationNotSupportedByDevice):
        try:
            probe.fail_with(KINDS.index("RemoteOperationNotSupportedByDevice"), "")
        except probe.OperationFailed:
            pytest.fail("caught by the wrong exception")
