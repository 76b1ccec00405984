"""Typed code against the module's stub (found beside the built module):
the example script under mypy --strict, and calls the stub must refuse next
to the same calls made right."""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[3]

# (line, whether mypy must reject it); the lines run in order in one function.
CASES = [
    ("devices = client.scan_for_devices_with_timeout(datetime.timedelta(milliseconds=500))", False),
    ("client.scan_for_devices_with_timeout(0.5)", True),
    ("interface = devices[0].get_interfaces()[0]", False),
    ("interface.set_loopback_state(True)", False),
    ("interface.set_loopback_state(1)", True),
    ("interface.send_tc10_command(qx.Tc10Command.Sleep)", False),
    ("interface.send_tc10_command(qx.Tc10State.Sleep)", True),
    ("serial: int = devices[0].get_serial_number()", False),
    ("name: int = devices[0].get_name()", True),
    ("config = qx.EthInterfaceConfig([qx.EthLinkSpeed.Speed100MbitFullDuplex], [qx.EthRole.Leader], "
     "qx.EthAnegMode.AnegDisabled)", False),
    ("interface.set_eth_config(config)", False),
    ("config.aneg_mode = qx.EthAnegMode.IEEEAnegEnabled", True),
    ("role: qx.EthRole = interface.get_status().eth_interface_status.role", False),
    ("major, minor, patch = qx.get_api_version()", False),
    ("qx.format_ean('4260123456789')", True),
]


def mypy(path, cwd):
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--hide-error-context",
                           "--no-color-output", str(path)], cwd=cwd, capture_output=True, text=True, timeout=240)


def test_example_script_passes_strict_mypy(tmp_path):
    result = mypy(ROOT / "examples" / "scan.py", tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_wrong_calls_are_errors_and_right_ones_are_not(tmp_path):
    header = ["import datetime", "import brisel_qx_api as qx", "",
              "def use(client: qx.Client) -> None:"]
    snippet = tmp_path / "snippet.py"
    snippet.write_text("\n".join(header + ["    " + line for line, _ in CASES]) + "\n")
    result = mypy(snippet.name, tmp_path)
    flagged = {int(n) for n in re.findall(r"^snippet\.py:(\d+): error:", result.stdout, re.MULTILINE)}
    expected = {len(header) + 1 + i for i, (_, wrong) in enumerate(CASES) if wrong}
    assert flagged == expected, result.stdout + result.stderr
