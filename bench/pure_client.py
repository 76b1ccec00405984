"""What a user would write instead of the module: a client of the same
request/reply exchange in plain Python, with `socket` and `struct`.

It does what a careful script would: a timeout on every socket call, a
check of every reply's command, error packets raised, values decoded into
small named tuples. It knows only the few requests the benchmark times.
"""

import socket
import struct
from collections import namedtuple

ERROR_PACKET = 0xBAAD
TIMEOUT_SECONDS = 1.337

_HEADER = struct.Struct("<HH")
_U16 = struct.Struct("<H")
_U64 = struct.Struct("<Q")
_STATUS = struct.Struct("<BBHB")  # interface type, spare byte, link mode, link state
_INTERFACE_REQUEST = struct.Struct("<HHH")
_SET_ETH_CONFIG = struct.Struct("<HHHH")

GET_VERSION, GET_DEVICE_NAME, GET_INTERFACE_STATUS = 1, 3, 19
SET_ETH_CONFIG, GET_ETH_CONFIG, GET_SERIAL_NUMBER, GET_EAN = 25, 27, 29, 39

InterfaceStatus = namedtuple("InterfaceStatus", "interface_type link_mode link_state")


class DeviceError(Exception):
    pass


class PureDevice:
    def __init__(self, host, port):
        self._sock = socket.create_connection((host, port), timeout=TIMEOUT_SECONDS)
        self.protocol_version = _U16.unpack(self._exchange(_HEADER.pack(GET_VERSION, 0), GET_VERSION))[0]
        self.ean = _U64.unpack(self._exchange(_HEADER.pack(GET_EAN, 0), GET_EAN))[0]
        self.serial_number = _U64.unpack(self._exchange(_HEADER.pack(GET_SERIAL_NUMBER, 0), GET_SERIAL_NUMBER))[0]

    def close(self):
        self._sock.close()

    def _recv_exact(self, size):
        data = self._sock.recv(size)
        if len(data) == size:
            return data
        pieces = [data]
        have = len(data)
        while have < size:
            piece = self._sock.recv(size - have)
            if not piece:
                raise DeviceError("connection closed by the device")
            pieces.append(piece)
            have += len(piece)
        return b"".join(pieces)

    def _exchange(self, frame, request):
        self._sock.sendall(frame)
        command, length = _HEADER.unpack(self._recv_exact(4))
        payload = self._recv_exact(length) if length else b""
        if command == ERROR_PACKET:
            raise DeviceError(f"device refused request {request}: {payload.hex()}")
        if command != request + 1:
            raise DeviceError(f"reply {command} to request {request}")
        return payload

    def get_name(self):
        payload = self._exchange(_HEADER.pack(GET_DEVICE_NAME, 0), GET_DEVICE_NAME)
        (length,) = _U16.unpack_from(payload)
        return payload[2:2 + length].decode("utf-8")

    def get_interface_status(self, index):
        payload = self._exchange(_INTERFACE_REQUEST.pack(GET_INTERFACE_STATUS, 2, index), GET_INTERFACE_STATUS)
        interface_type, _, link_mode, link_state = _STATUS.unpack_from(payload)
        return InterfaceStatus(interface_type, link_mode, link_state)

    def get_eth_config(self, index):
        """The link mode bit set; the status must be success."""
        payload = self._exchange(_INTERFACE_REQUEST.pack(GET_ETH_CONFIG, 2, index), GET_ETH_CONFIG)
        status, link_mode = struct.unpack_from("<HH", payload)
        if status != 0:
            raise DeviceError(f"status {status}")
        return link_mode

    def set_eth_config(self, index, link_mode):
        payload = self._exchange(_SET_ETH_CONFIG.pack(SET_ETH_CONFIG, 4, index, link_mode), SET_ETH_CONFIG)
        (status,) = _U16.unpack_from(payload)
        if status != 0:
            raise DeviceError(f"status {status}")
