"""A Ctrl-C that lands in an update callback is kept before its failure line
is rendered and printed, so nothing that goes wrong there can lose it. The
probe runs the module's callbacks wrapper without a device."""

import os
import subprocess
import sys
import textwrap

import pytest

FAILED_LINE = "Failed to call python function with error "


@pytest.mark.parametrize("repr_error", [KeyboardInterrupt("second"), MemoryError()])
def test_a_failure_rendering_the_interrupt_neither_loses_nor_replaces_it(probe, capfd, repr_error):
    class Interrupt(KeyboardInterrupt):
        def __repr__(self):
            raise repr_error

    class Callbacks(probe.FirmwareUpdateCallbacks):
        def update_started(self, total_bytes):
            raise Interrupt("first")

    with pytest.raises(KeyboardInterrupt) as caught:
        probe.update_reports(Callbacks())
    # By its args, not by identity: a failed assertion would show the repr.
    assert caught.value.args == ("first",)
    lines = capfd.readouterr().out.splitlines()
    assert len(lines) == 1
    assert lines[0].startswith(f"{FAILED_LINE}PyErr {{ type: {Interrupt!r}, value: <unprintable object>, "
                               "traceback: Some(\"Traceback (most recent call last):")


def under_address_sanitizer():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


# In a child process: address space for the interrupt's repr once (the
# interpreter's UTF-8 copy) but not twice, so the module's own copy of the
# text fails with bad_alloc while the line is rendered.
OUT_OF_MEMORY_WHILE_RENDERING = textwrap.dedent("""
    import resource
    import _qx_probe as probe

    SIZE = 32 << 20

    class Interrupt(KeyboardInterrupt):
        text = "x" * SIZE

        def __repr__(self):
            return self.text

    class Callbacks(probe.FirmwareUpdateCallbacks):
        def update_started(self, total_bytes):
            raise Interrupt()

    with open("/proc/self/statm") as statm:
        mapped = int(statm.read().split()[0]) * resource.getpagesize()
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (mapped + SIZE + SIZE // 2, hard))
    try:
        probe.update_reports(Callbacks())
        outcome = "returned"
    except Interrupt:
        outcome = "interrupted"
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(outcome)
""")


@pytest.mark.skipif(under_address_sanitizer(),
                    reason="the sanitizer's operator new aborts the process instead of throwing bad_alloc")
def test_an_allocation_failure_while_rendering_the_line_keeps_the_interrupt(probe):
    child = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY_WHILE_RENDERING],
                           capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    # No line: memory really ran out before it could be printed.
    assert child.stdout == "interrupted\n"
