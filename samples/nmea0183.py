"""NMEA 0183 from a GPS receiver: GGA and RMC sentences.

The receiver's bytes arrive in pieces of any size, as a serial port delivers
them; each client's receive buffer keeps what has not made a whole sentence
yet. Every sentence with a good checksum becomes one row:

  GGA: Sentence, Time, Latitude, Longitude, FixQuality, Satellites, HDOP, Altitude
  RMC: Sentence, Time, Latitude, Longitude, Status, SpeedKnots, Course, Date

Latitude and longitude are signed decimal degrees (south and west negative).
A sentence with a bad checksum is skipped with a warning in the log; other
sentence types are skipped quietly. Empty fields give empty values.
"""
from typing import Callable, List, Optional, Union

import plugin

# A line longer than this without a line end is not NMEA: it is dropped so
# that noise on the line cannot grow the buffer without end.
MAX_SENTENCE = 128

Value = Union[int, float, str, None]


def checksum_ok(body: bytes, given: bytes) -> bool:
    """The XOR of every byte between "$" and "*" in two hex digits."""
    computed = 0
    for byte in body:
        computed ^= byte
    try:
        return computed == int(given, 16)
    except ValueError:
        return False


def number(text: str, convert: Callable[[str], Value] = float) -> Value:
    if not text:
        return None
    try:
        return convert(text)
    except ValueError:
        return None


def degrees(value: str, hemisphere: str, degree_digits: int) -> Optional[float]:
    """ddmm.mmmm (latitude) or dddmm.mmmm (longitude) to signed degrees."""
    if len(value) < degree_digits + 2 or hemisphere not in ("N", "S", "E", "W"):
        return None
    try:
        result = int(value[:degree_digits]) + float(value[degree_digits:]) / 60.0
    except ValueError:
        return None
    return round(-result if hemisphere in ("S", "W") else result, 6)


def utc_time(text: str) -> Optional[str]:
    """hhmmss or hhmmss.ss as hh:mm:ss(.ss)."""
    if len(text) < 6 or not text[:6].isdigit():
        return None
    return "%s:%s:%s%s" % (text[0:2], text[2:4], text[4:6], text[6:])


def utc_date(text: str) -> Optional[str]:
    """ddmmyy as yyyy-mm-dd (years 80 to 99 are 19xx)."""
    if len(text) != 6 or not text.isdigit():
        return None
    year = int(text[4:6])
    return "%d-%s-%s" % (1900 + year if year >= 80 else 2000 + year, text[2:4], text[0:2])


def add_gga(results: plugin.kivParamsList, fields: List[str]) -> None:
    fields += [""] * (10 - len(fields))
    results.AddItem("Sentence", "GGA")
    results.AddItem("Time", utc_time(fields[1]))
    results.AddItem("Latitude", degrees(fields[2], fields[3], 2))
    results.AddItem("Longitude", degrees(fields[4], fields[5], 3))
    results.AddItem("FixQuality", number(fields[6], int))
    results.AddItem("Satellites", number(fields[7], int))
    results.AddItem("HDOP", number(fields[8]))
    results.AddItem("Altitude", number(fields[9]))


def add_rmc(results: plugin.kivParamsList, fields: List[str]) -> None:
    fields += [""] * (10 - len(fields))
    results.AddItem("Sentence", "RMC")
    results.AddItem("Time", utc_time(fields[1]))
    results.AddItem("Latitude", degrees(fields[3], fields[4], 2))
    results.AddItem("Longitude", degrees(fields[5], fields[6], 3))
    results.AddItem("Status", fields[2] or None)
    results.AddItem("SpeedKnots", number(fields[7]))
    results.AddItem("Course", number(fields[8]))
    results.AddItem("Date", utc_date(fields[9]))


def sentence(line: bytes, results: plugin.kivParamsList) -> None:
    start = line.find(b"$")
    if start < 0:
        return
    line = line[start + 1:]
    star = line.rfind(b"*")
    if star < 0 or not checksum_ok(line[:star], line[star + 1:star + 3]):
        plugin.DbgLog("NMEA: bad checksum, sentence skipped: $%s" % line.decode("ascii", "replace"), 1)
        return
    fields = line[:star].decode("ascii", "replace").split(",")
    kind = fields[0][2:]  # after the talker ("GP", "GN", ...)
    if kind == "GGA":
        add_gga(results, fields)
    elif kind == "RMC":
        add_rmc(results, fields)
    else:
        return
    results.NewRow()


def ParseData(params: plugin.kivParamsList, source: bytes, fifo: plugin.FIFOStream,
              results: plugin.kivParamsList) -> None:
    data = fifo.GetBytes()
    taken = 0
    while True:
        end = data.find(b"\n", taken)
        if end < 0:
            break
        sentence(data[taken:end].rstrip(b"\r"), results)
        taken = end + 1
    if len(data) - taken > MAX_SENTENCE:
        plugin.DbgLog("NMEA: %d bytes without a line end dropped" % (len(data) - taken), 1)
        taken = len(data)
    if taken:
        fifo.Shift(taken)
