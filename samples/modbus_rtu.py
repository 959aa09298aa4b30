"""Modbus RTU on a serial line, as a sniffer between master and slaves sees it.

RTU frames carry no length and their end is a pause on the line, which the
bytes delivered here no longer show; so a frame is found by its content: the
function code gives the candidate lengths (a request and a response differ)
and the CRC-16 decides. Frames may be split across packets and several may
arrive in one; bytes that make no frame are skipped with a warning.

One row per frame: Slave, Function, Kind ("request", "response" or
"exception"), then by function
  3, 4 (read registers): request Start, Count; response one item per
        register, named after its address when the request was seen
  6 (write one register): Register, Value
  16 (write registers): Start, Count, and in the request one item per register
  exceptions: ExceptionCode and Exception (its meaning)
"""
import struct
from typing import Dict, List, Optional, Tuple

import plugin

EXCEPTIONS = {
    1: "Illegal function",
    2: "Illegal data address",
    3: "Illegal data value",
    4: "Server device failure",
    5: "Acknowledge",
    6: "Server device busy",
    8: "Memory parity error",
    10: "Gateway path unavailable",
    11: "Gateway target device failed to respond",
}

READS = (3, 4)
WRITE_ONE = 6
WRITE_MANY = 16


def crc16(frame: bytes) -> int:
    """CRC-16/Modbus: polynomial 0xA001 (reflected), start 0xFFFF."""
    crc = 0xFFFF
    for byte in frame:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def crc_ok(frame: bytes) -> bool:
    return len(frame) >= 4 and crc16(frame[:-2]) == struct.unpack("<H", frame[-2:])[0]


class Line:
    """What one client (one serial line) has seen: the open requests and the
    bytes skipped since the last frame."""

    def __init__(self) -> None:
        self.requests: Dict[Tuple[int, int], int] = {}  # (slave, function) -> start register
        self.skipped = 0


lines: Dict[bytes, Line] = {}


def candidates(data: bytes) -> Optional[List[Tuple[int, str]]]:
    """The lengths a frame at the start of data may have, with its kind; None
    when the function code makes no frame. A length may exceed the data."""
    if len(data) < 3:
        return []
    function = data[1]
    if function & 0x80:
        return [(5, "exception")]
    if function in READS:
        return [(8, "request"), (5 + data[2], "response")]
    if function == WRITE_ONE:
        return [(8, "write")]
    if function == WRITE_MANY:
        if len(data) < 7:
            return [(8, "response")]
        return [(8, "response"), (9 + data[6], "request")]
    return None


def add_frame(line: Line, frame: bytes, kind: str, results: plugin.kivParamsList) -> None:
    slave, function = frame[0], frame[1]
    key = (slave, function & 0x7F)
    if kind == "write":
        # A write of one register is answered by its echo.
        kind = "response" if key in line.requests else "request"
    results.AddItem("Slave", slave)
    results.AddItem("Function", function & 0x7F)
    results.AddItem("Kind", kind)
    if kind == "exception":
        code = frame[2]
        results.AddItem("ExceptionCode", code)
        results.AddItem("Exception", EXCEPTIONS.get(code, "Unknown exception"))
        line.requests.pop(key, None)
    elif function in READS and kind == "request":
        start, count = struct.unpack(">HH", frame[2:6])
        results.AddItem("Start", start)
        results.AddItem("Count", count)
        line.requests[key] = start
    elif function in READS:
        start = line.requests.pop(key, None)
        values = struct.unpack(">%dH" % (frame[2] // 2), frame[3:3 + frame[2] // 2 * 2])
        for index, value in enumerate(values):
            name = "Register %d" % (start + index) if start is not None else "Value %d" % index
            results.AddItem(name, value)
    elif function == WRITE_ONE:
        register, value = struct.unpack(">HH", frame[2:6])
        results.AddItem("Register", register)
        results.AddItem("Value", value)
        if kind == "request":
            line.requests[key] = register
        else:
            line.requests.pop(key, None)
    else:  # WRITE_MANY
        start, count = struct.unpack(">HH", frame[2:6])
        results.AddItem("Start", start)
        results.AddItem("Count", count)
        if kind == "request":
            values = struct.unpack(">%dH" % (frame[6] // 2), frame[7:7 + frame[6] // 2 * 2])
            for index, value in enumerate(values):
                results.AddItem("Register %d" % (start + index), value)
            line.requests[key] = start
        else:
            line.requests.pop(key, None)
    results.NewRow()


def next_frame(data: bytes) -> Tuple[int, Optional[str]]:
    """(length, kind) of the frame at the start of data; (0, None) when more
    bytes are needed; (-1, None) when no frame starts here."""
    lengths = candidates(data)
    if lengths is None:
        return -1, None
    if not lengths:
        return 0, None
    waiting = False
    for length, kind in lengths:
        if length > len(data):
            waiting = True
        elif crc_ok(data[:length]):
            return length, kind
    return (0, None) if waiting else (-1, None)


def ParseData(params: plugin.kivParamsList, source: bytes, fifo: plugin.FIFOStream,
              results: plugin.kivParamsList) -> None:
    line = lines.setdefault(source, Line())
    data = fifo.GetBytes()
    taken = 0
    while taken < len(data):
        length, kind = next_frame(data[taken:])
        if length == 0:
            break
        if length < 0:
            line.skipped += 1
            taken += 1
            continue
        if line.skipped:
            plugin.DbgLog("Modbus: %d bytes that make no frame skipped" % line.skipped, 1)
            line.skipped = 0
        assert kind is not None
        add_frame(line, data[taken:taken + length], kind, results)
        taken += length
    if taken:
        fifo.Shift(taken)
