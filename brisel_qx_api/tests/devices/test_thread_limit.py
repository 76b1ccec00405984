"""Scans in a process that may start only a few more threads, with services
that hold a worker each: they fail cleanly or find what they can, and leave
no thread or descriptor behind."""

import json

import pytest

import child_sweep

SPARE_COUNTS = range(0, 9)
SERIAL = 4343
ERROR = "error Unknown error type DeviceDiscoveryError("
NO_DAEMON = ERROR + '"Failed to create MDNS Service Daemon")'
NO_WORKER = ERROR + '"Failed to start the discovery worker thread")'
DEAD_LINE = "Failed to connect to device NetworkError"


@pytest.fixture(scope="module")
def outcomes():
    # Runs before any test's watchdog is armed; the timeout bounds it.
    results = child_sweep.run_sweep("few_threads.py", SPARE_COUNTS, SERIAL, timeout=380)
    assert [result["spare"] for result in results] == list(SPARE_COUNTS)
    for result in results:
        assert result["returncode"] == 0, result
        *printed, last = result["stdout"].splitlines() or [""]
        result.update(json.loads(last), printed=printed)
    return results


def test_every_scan_gives_an_error_or_a_list_and_leaves_nothing_behind(outcomes):
    for result in outcomes:
        assert len(result["outcomes"]) == 2, result
        for outcome in result["outcomes"]:
            assert outcome.startswith(ERROR) or outcome.startswith("list"), result
        # The services that never answer are reported; nothing else is.
        assert set(result["printed"]) <= {DEAD_LINE}, result
        before, after = result["threads"]
        assert after == before, result
        before, after = result["fds"]
        assert after == before, result


def test_the_daemon_needs_a_thread_the_scan_two(outcomes):
    assert outcomes[0]["outcomes"] == [NO_DAEMON, NO_DAEMON], outcomes[0]
    assert outcomes[1]["outcomes"] == [NO_WORKER, NO_WORKER], outcomes[1]
    # The daemon's thread and one worker connect every service in turn;
    # more workers only connect them side by side.
    for result in outcomes[2:]:
        assert all(outcome.startswith("list") for outcome in result["outcomes"]), result
    found = [outcome for result in outcomes for outcome in result["outcomes"] if outcome == f"list {SERIAL}"]
    assert found, outcomes
