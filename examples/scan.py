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
import sys

import brisel_qx_api as qx

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


def ask(read):
    """What a device answers, or why it does not, as text."""
    try:
        return read()
    except qx.ApiNotAvailableInProtocolVersion:
        return "(not available in this firmware)"
    except DEVICE_ERRORS as error:
        return f"(failed: {error})"


def configurations(config):
    speeds = ", ".join(SPEEDS[speed] for speed in config.speed) or "none"
    roles = ", ".join(ROLES[role] for role in config.role) or "none"
    return f"{speeds}; {roles}; {ANEG_MODES[config.aneg_mode]}"


def table(rows, indent="    "):
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    lines = []
    for row in rows:
        lines.append(indent + "  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    return "\n".join(lines)


def interface_rows(device):
    rows = [("#", "Type", "Link", "Speed", "Role", "Supported configurations")]
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


def describe(device, number, count):
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
    """Draws the transfer as a bar; on a terminal in place, else as lines."""

    WIDTH = 40

    def __init__(self, stream=sys.stdout):
        self.stream = stream
        self.total = 0
        self.in_place = stream.isatty()
        self.last_step = -1

    def update_started(self, total_bytes):
        self.total = total_bytes
        self.stream.write(f"Sending {total_bytes} bytes\n")
        self.report_progress(0)

    def report_progress(self, total_transferred_bytes):
        fraction = total_transferred_bytes / self.total if self.total else 1.0
        filled = int(fraction * self.WIDTH)
        bar = f"[{'#' * filled}{'.' * (self.WIDTH - filled)}] {fraction:6.1%}  {total_transferred_bytes}/{self.total}"
        if self.in_place:
            self.stream.write("\r" + bar)
        elif int(fraction * 10) != self.last_step:  # a line per tenth
            self.last_step = int(fraction * 10)
            self.stream.write(bar + "\n")
        self.stream.flush()

    def start_finalizing(self):
        if self.in_place:
            self.stream.write("\n")
        self.stream.write("Transfer done; the device is checking and storing the image. Do not unplug it.\n")
        self.stream.flush()

    def update_finished(self, update_result):
        verdict = "succeeded" if update_result is qx.FirmwareUpdateResult.Success else f"failed: {update_result!r}"
        self.stream.write(f"Update {verdict}\n")
        self.stream.flush()


def update(devices, serial, image_path):
    matching = [device for device in devices if device.get_serial_number() == serial]
    if not matching:
        print(f"No device with serial number {serial} was found.", file=sys.stderr)
        return 1
    device = matching[0]
    with open(image_path, "rb") as image_file:
        image = image_file.read()
    print(f"Updating the firmware of {qx.format_ean(device.get_ean())} / {serial} "
          f"from {image_path} (firmware {ask(device.get_firmware_version)} now)")
    try:
        device.update_firmware_from_blob(image, ProgressBar())
    except DEVICE_ERRORS as error:
        print(f"The update failed: {error}", file=sys.stderr)
        return 1
    print(f"Firmware now reported: {ask(device.get_firmware_version)}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--timeout", type=float, default=1.0, help="seconds to listen for devices (default 1)")
    parser.add_argument("--update", type=int, metavar="SERIAL", help="serial number of the device to update")
    parser.add_argument("--image", metavar="FILE", help="firmware image for --update")
    args = parser.parse_args()
    if (args.update is None) != (args.image is None):
        parser.error("--update and --image go together")
    if args.timeout < 0:
        parser.error("--timeout must not be negative")

    print(f"brisel_qx_api {qx.get_api_version_string()}: scanning for {args.timeout:g} s ...")
    client = qx.create_client()
    devices = client.scan_for_devices_with_timeout(datetime.timedelta(seconds=args.timeout))
    print(f"Found {len(devices)} device(s).\n")
    for number, device in enumerate(devices, start=1):
        describe(device, number, len(devices))
    sys.stdout.flush()
    if args.update is not None:
        return update(devices, args.update, args.image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
