#!/usr/bin/env python3
"""Finds the QX devices on the local network and shows what each reports.

    scan.py [--timeout SECONDS]
    scan.py --update SERIAL --image FILE [--timeout SECONDS]

With --update, the device with that serial number also gets its firmware
replaced by the contents of FILE, read into memory and sent from there,
while a progress bar follows the transfer. Without it nothing is changed
on any device.
"""

import argparse
import datetime
import os
import shutil
import stat
import sys
from collections.abc import Callable, Sequence
from typing import TextIO, TypeVar

import brisel_qx_api as qx

T = TypeVar("T")

SPEEDS = {
    qx.EthLinkSpeed.Speed10MbitFullDuplex: "10M full",
    qx.EthLinkSpeed.Speed10MbitHalfDuplex: "10M half",
    qx.EthLinkSpeed.Speed100MbitFullDuplex: "100M full",
    qx.EthLinkSpeed.Speed100MbitHalfDuplex: "100M half",
    qx.EthLinkSpeed.Speed1000MbitFullDuplex: "1G full",
    qx.EthLinkSpeed.Speed1000MbitHalfDuplex: "1G half",
}
ROLES = {
    qx.EthRole.Leader: "leader",
    qx.EthRole.LeaderPreferred: "leader (preferred)",
    qx.EthRole.Follower: "follower",
    qx.EthRole.FollowerPreferred: "follower (preferred)",
}
LINK_STATES = {qx.EthLinkState.Up: "up", qx.EthLinkState.Down: "down"}
INTERFACE_TYPES = {qx.InterfaceType.T1: "T1", qx.InterfaceType.T: "T"}
ANEG_MODES = {qx.EthAnegMode.AnegDisabled: "fixed", qx.EthAnegMode.IEEEAnegEnabled: "auto-negotiation"}
DEVICE_ERRORS = (ValueError, qx.OperationFailed, qx.OperationNotPermitted, qx.OperationNotSupportedByDevice,
                 qx.OperationNotSupportedByInterface, qx.ApiNotAvailableInProtocolVersion)


def ask(read: Callable[[], T]) -> T | str:
    """What a device answers, or why it does not, as text."""
    try:
        return read()
    except qx.ApiNotAvailableInProtocolVersion:
        return "(not available in this firmware)"
    except DEVICE_ERRORS as error:
        return f"(failed: {error})"


def configurations(config: qx.EthInterfaceConfig) -> str:
    speeds = ", ".join(SPEEDS[speed] for speed in config.speed) or "none"
    roles = ", ".join(ROLES[role] for role in config.role) or "none"
    return f"{speeds}; {roles}; {ANEG_MODES[config.aneg_mode]}"


def table(rows: Sequence[Sequence[str]], indent: str = "    ") -> str:
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    lines = []
    for row in rows:
        lines.append(indent + "  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    return "\n".join(lines)


def interface_rows(device: qx.Device) -> list[tuple[str, ...]]:
    rows: list[tuple[str, ...]] = [("#", "Type", "Link", "Speed", "Role", "Supported configurations")]
    interfaces = device.get_interfaces()
    for index, interface in enumerate(interfaces):
        status = ask(interface.get_status)
        supported = ask(interface.get_supported_eth_configs)
        if isinstance(status, str):
            kind, link, speed, role = status, "-", "-", "-"
        else:
            eth = status.eth_interface_status
            kind, link = INTERFACE_TYPES[status.interface_type], LINK_STATES[eth.link_state]
            speed, role = SPEEDS[eth.speed], ROLES[eth.role]
        rows.append((str(index), kind, link, speed, role,
                     supported if isinstance(supported, str) else configurations(supported)))
    return rows


def describe(device: qx.Device, number: int, count: int) -> None:
    name = ask(device.get_name)
    print(f"Device {number} of {count}: {name}")
    manufactured = ask(device.get_manufacturing_date)
    if isinstance(manufactured, datetime.datetime):
        manufactured = manufactured.strftime("%Y-%m-%d %H:%M:%S %Z")
    firmware_ean = ask(device.get_firmware_ean)
    print(table([
        ("Nickname", ask(device.get_nickname) or "(none)"),
        ("EAN", qx.format_ean(device.get_ean())),
        ("Serial number", str(device.get_serial_number())),
        ("Firmware", f"{ask(device.get_firmware_version)}"
                     f" (EAN {firmware_ean if isinstance(firmware_ean, str) else qx.format_ean(firmware_ean)})"),
        ("Bootloader", ask(device.get_bootloader_version)),
        ("PCB revision", ask(device.get_pcb_revision)),
        ("Manufactured", manufactured),
    ]))
    try:
        rows = interface_rows(device)
    except DEVICE_ERRORS as error:
        print(f"    Interfaces: (failed: {error})")
    else:
        print(f"    Interfaces: {len(rows) - 1}")
        if len(rows) > 1:
            print(table(rows, indent="      "))
    print()


class ProgressBar(qx.FirmwareUpdateCallbacks):
    """Draws the transfer as a bar; on a terminal in place and as wide as the
    terminal, else as a line per tenth."""

    def __init__(self, stream: TextIO = sys.stdout) -> None:
        self.stream = stream
        self.total = 0
        self.in_place = stream.isatty()
        self.line_open = False
        self.last_tenth = -1

    def update_started(self, total_bytes: int) -> None:
        self.total = total_bytes
        self.stream.write(f"Sending {total_bytes} bytes\n")
        self.report_progress(0)

    def report_progress(self, total_transferred_bytes: int) -> None:
        done, total = total_transferred_bytes, self.total
        # Rounded down, so that 100 % means the last byte is acknowledged.
        permille = done * 1000 // total if total else 1000
        counts = f"{permille // 10:3d}.{permille % 10} %  {done:{len(str(total))}d}/{total}"
        # One column to spare: a line as wide as the terminal would wrap.
        columns = shutil.get_terminal_size().columns - 1
        width = columns - len(counts) - 3
        if width >= 10:
            filled = done * width // total if total else width
            line = f"[{'#' * filled}{'.' * (width - filled)}] {counts}"
        else:
            line = counts[:columns]
        if self.in_place:
            self.stream.write("\r" + line + "\x1b[K")
            self.line_open = True
        elif permille // 100 != self.last_tenth:
            self.last_tenth = permille // 100
            self.stream.write(line + "\n")
        self.stream.flush()

    def end_line(self) -> None:
        """Ends a bar drawn in place, so that what follows has lines of its own."""
        if self.line_open:
            self.stream.write("\n")
            self.stream.flush()
            self.line_open = False

    def start_finalizing(self) -> None:
        self.end_line()
        self.stream.write("Transfer done; the device is checking and storing the image. Do not unplug it.\n")
        self.stream.flush()

    def update_finished(self, update_result: qx.FirmwareUpdateResult) -> None:
        verdict = "succeeded" if update_result is qx.FirmwareUpdateResult.Success else f"failed: {update_result!r}"
        self.stream.write(f"Update {verdict}\n")
        self.stream.flush()


def read_image(path: str) -> bytes:
    """The whole image file; exits with the reason if it cannot be read."""
    try:
        # Checked first: opening a FIFO would wait for a writer, and a device
        # such as /dev/zero would be read without end.
        if not stat.S_ISREG(os.stat(path).st_mode):
            sys.exit(f"scan.py: firmware image {path}: not a regular file")
        with open(path, "rb") as image_file:
            return image_file.read()
    except OSError as error:
        sys.exit(f"scan.py: firmware image {path}: {error.strerror or error}")


def update(devices: Sequence[qx.Device], serial: int, image_path: str, image: bytes) -> int:
    matching = [device for device in devices if device.get_serial_number() == serial]
    if not matching:
        print(f"No device with serial number {serial} was found.", file=sys.stderr)
        return 1
    device = matching[0]
    print(f"Updating the firmware of {qx.format_ean(device.get_ean())} / {serial} "
          f"from {image_path} (firmware {ask(device.get_firmware_version)} now)")
    bar = ProgressBar()
    try:
        # Ctrl-C meanwhile: the update goes on to its end (it cannot be cut
        # short), then this call raises KeyboardInterrupt.
        device.update_firmware_from_blob(image, bar)
    except DEVICE_ERRORS as error:
        bar.end_line()
        print(f"The update failed: {error}", file=sys.stderr)
        return 1
    print(f"Firmware now reported: {ask(device.get_firmware_version)}")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--timeout", type=float, default=1.0, help="seconds to listen for devices (default 1)")
    parser.add_argument("--update", type=int, metavar="SERIAL", help="serial number of the device to update")
    parser.add_argument("--image", metavar="FILE", help="firmware image for --update")
    args = parser.parse_args()
    if (args.update is None) != (args.image is None):
        parser.error("--update and --image go together")
    if args.timeout < 0:
        parser.error("--timeout must not be negative")
    # Before the scan, so that a wrong path is told at once.
    image = read_image(args.image) if args.image is not None else b""

    print(f"brisel_qx_api {qx.get_api_version_string()}: scanning for {args.timeout:g} s ...")
    client = qx.create_client()
    devices = client.scan_for_devices_with_timeout(datetime.timedelta(seconds=args.timeout))
    print(f"Found {len(devices)} device(s).")
    if not devices:
        print("Check that the devices are powered and on this computer's network, that no firewall drops mDNS "
              "(UDP port 5353), or give them longer with --timeout.")
    print()
    for number, device in enumerate(devices, start=1):
        describe(device, number, len(devices))
    sys.stdout.flush()
    if args.update is not None:
        return update(devices, args.update, args.image, image)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("\nInterrupted.", file=sys.stderr)
        sys.exit(130)
