# Types of the extension module brisel_qx_api. The test command checks this
# file against the built module (mypy.stubtest), so the two cannot drift apart.
import datetime
from collections.abc import Sequence
from typing import ClassVar, Final, final

from typing_extensions import Self

__all__ = [
    # exceptions
    "OperationFailed", "OperationNotPermitted", "OperationNotSupportedByDevice",
    "OperationNotSupportedByInterface", "ApiNotAvailableInProtocolVersion",
    # classes
    "Client", "Device", "FirmwareUpdateCallbacks", "FirmwareUpdateResult", "Interface",
    "InterfaceType", "EthLinkState", "EthRole", "EthLinkSpeed", "EthAnegMode",
    "InterfaceStatus", "EthInterfaceStatus", "EthInterfaceConfig", "Tc10Command", "Tc10State",
    "DcqReading", "CableTestHarnessStatus", "CableTestResult",
    "PgPayloadSize", "PgPayloadType", "PgPacketValidity", "PacketGeneratorConfig",
    # functions
    "get_api_version", "get_api_version_string", "format_ean", "create_client",
]

# ---- exceptions ------------------------------------------------------------

class OperationFailed(RuntimeError): ...
class OperationNotPermitted(RuntimeError): ...
class OperationNotSupportedByDevice(RuntimeError): ...
class OperationNotSupportedByInterface(RuntimeError): ...
class ApiNotAvailableInProtocolVersion(RuntimeError): ...

# ---- enumerations: members are class attributes of their own class ---------

@final
class FirmwareUpdateResult:
    Success: ClassVar[FirmwareUpdateResult]
    TransferError: ClassVar[FirmwareUpdateResult]
    FirmwareFailedSignatureCheck: ClassVar[FirmwareUpdateResult]
    FirmwareCorrupt: ClassVar[FirmwareUpdateResult]
    FirmwareForOtherDevice: ClassVar[FirmwareUpdateResult]
    UnknownError: ClassVar[FirmwareUpdateResult]
    def __int__(self) -> int: ...

@final
class InterfaceType:
    T1: ClassVar[InterfaceType]
    T: ClassVar[InterfaceType]
    def __int__(self) -> int: ...

@final
class EthLinkState:
    Up: ClassVar[EthLinkState]
    Down: ClassVar[EthLinkState]
    def __int__(self) -> int: ...

@final
class EthRole:
    Leader: ClassVar[EthRole]
    LeaderPreferred: ClassVar[EthRole]
    Follower: ClassVar[EthRole]
    FollowerPreferred: ClassVar[EthRole]
    def __int__(self) -> int: ...

@final
class EthLinkSpeed:
    Speed10MbitFullDuplex: ClassVar[EthLinkSpeed]
    Speed10MbitHalfDuplex: ClassVar[EthLinkSpeed]
    Speed100MbitFullDuplex: ClassVar[EthLinkSpeed]
    Speed100MbitHalfDuplex: ClassVar[EthLinkSpeed]
    Speed1000MbitFullDuplex: ClassVar[EthLinkSpeed]
    Speed1000MbitHalfDuplex: ClassVar[EthLinkSpeed]
    def __int__(self) -> int: ...

@final
class EthAnegMode:
    AnegDisabled: ClassVar[EthAnegMode]
    IEEEAnegEnabled: ClassVar[EthAnegMode]
    def __int__(self) -> int: ...

@final
class Tc10Command:
    WakeUp: ClassVar[Tc10Command]
    Sleep: ClassVar[Tc10Command]
    def __int__(self) -> int: ...

@final
class Tc10State:
    Normal: ClassVar[Tc10State]
    Sleep: ClassVar[Tc10State]
    SleepFailed: ClassVar[Tc10State]
    SleepAborted: ClassVar[Tc10State]
    def __int__(self) -> int: ...

@final
class CableTestHarnessStatus:
    CableOpen: ClassVar[CableTestHarnessStatus]
    CableShorted: ClassVar[CableTestHarnessStatus]
    CableGood: ClassVar[CableTestHarnessStatus]
    def __int__(self) -> int: ...

@final
class PgPayloadSize:
    Size64: ClassVar[PgPayloadSize]
    Size1518: ClassVar[PgPayloadSize]
    def __int__(self) -> int: ...

@final
class PgPayloadType:
    PseudoRandom: ClassVar[PgPayloadType]
    Alternating: ClassVar[PgPayloadType]
    OnlyOnes: ClassVar[PgPayloadType]
    OnlyZeroes: ClassVar[PgPayloadType]
    def __int__(self) -> int: ...

@final
class PgPacketValidity:
    GoodCrc: ClassVar[PgPacketValidity]
    SymbolErrorsBadCrc: ClassVar[PgPacketValidity]
    def __int__(self) -> int: ...

# ---- value classes: read-only attributes -----------------------------------

@final
class EthInterfaceStatus:
    link_state: Final[EthLinkState]
    role: Final[EthRole]
    speed: Final[EthLinkSpeed]

@final
class InterfaceStatus:
    interface_type: Final[InterfaceType]
    eth_interface_status: Final[EthInterfaceStatus]

@final
class EthInterfaceConfig:
    def __new__(cls, speed: Sequence[EthLinkSpeed], role: Sequence[EthRole], aneg_mode: EthAnegMode) -> Self: ...
    speed: Final[list[EthLinkSpeed]]
    role: Final[list[EthRole]]
    aneg_mode: Final[EthAnegMode]

@final
class DcqReading:
    sqi: Final[int]
    sqi_worst: Final[int]
    mse: Final[int]
    mse_worst: Final[int]
    peak_mse: Final[int]
    peak_mse_worst: Final[int]

@final
class CableTestResult:
    harness_status: Final[CableTestHarnessStatus]
    distance_to_fault: Final[int]

@final
class PacketGeneratorConfig:
    def __new__(
        cls,
        enabled: bool,
        payload_size: PgPayloadSize,
        payload_type: PgPayloadType,
        validity: PgPacketValidity,
        burst_size: int,
    ) -> Self: ...
    enabled: Final[bool]
    payload_size: Final[PgPayloadSize]
    payload_type: Final[PgPayloadType]
    validity: Final[PgPacketValidity]
    burst_size: Final[int]

# ---- devices ---------------------------------------------------------------

class FirmwareUpdateCallbacks:
    def __new__(cls) -> Self: ...
    def update_started(self, _total_bytes: int) -> None: ...
    def report_progress(self, _total_transferred_bytes: int) -> None: ...
    def start_finalizing(self) -> None: ...
    def update_finished(self, _update_result: FirmwareUpdateResult) -> None: ...

@final
class Interface:
    def identify(self) -> None: ...
    def get_nickname(self) -> str: ...
    def set_nickname(self, nickname: str) -> None: ...
    def reset_nickname(self) -> None: ...
    def get_status(self) -> InterfaceStatus: ...
    def get_eth_config(self) -> EthInterfaceConfig: ...
    def set_eth_config(self, config: EthInterfaceConfig) -> None: ...
    def get_supported_eth_configs(self) -> EthInterfaceConfig: ...
    def get_tc10_state(self) -> Tc10State: ...
    def send_tc10_command(self, command: Tc10Command) -> None: ...
    def read_dcq(self) -> DcqReading: ...
    def run_cable_test(self) -> CableTestResult: ...
    def get_loopback_state(self) -> bool: ...
    def set_loopback_state(self, enabled: bool) -> None: ...
    def get_packet_generator_config(self) -> PacketGeneratorConfig: ...
    def set_packet_generator_config(self, config: PacketGeneratorConfig) -> None: ...

@final
class Device:
    def get_name(self) -> str: ...
    def get_nickname(self) -> str: ...
    def set_nickname(self, nickname: str) -> None: ...
    def reset_nickname(self) -> None: ...
    def get_serial_number(self) -> int: ...
    def get_pcb_revision(self) -> str: ...
    def get_firmware_version(self) -> str: ...
    def get_bootloader_version(self) -> str: ...
    def get_manufacturing_date(self) -> datetime.datetime: ...
    def get_ean(self) -> int: ...
    def get_firmware_ean(self) -> int: ...
    def identify(self) -> None: ...
    def get_interfaces(self) -> list[Interface]: ...
    def update_firmware_from_blob(self, blob: bytes, callbacks: FirmwareUpdateCallbacks) -> None: ...
    def update_firmware_from_path(self, path: str, callbacks: FirmwareUpdateCallbacks) -> None: ...

@final
class Client:
    def scan_for_devices(self) -> list[Device]: ...
    def scan_for_devices_with_timeout(self, timeout: datetime.timedelta) -> list[Device]: ...

# ---- functions -------------------------------------------------------------

def get_api_version() -> tuple[int, int, int]: ...
def get_api_version_string() -> str: ...
def format_ean(ean: int) -> str: ...
def create_client() -> Client: ...
