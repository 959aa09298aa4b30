# A sample parser: each client sends lines of "name=value" pairs separated
# by ";". Every complete line becomes one row of values; numbers stay numbers.
from typing import Union

import plugin

lines_seen = 0


def _value(text: str) -> Union[int, float, str]:
    try:
        return int(text)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        return text


def ParseData(params: plugin.kivParamsList, source: bytes, fifo: plugin.FIFOStream,
              results: plugin.kivParamsList) -> None:
    global lines_seen
    data = fifo.GetBytes()
    while True:
        end = data.find(b"\n")
        if end < 0:
            return
        line = data[:end].decode("utf-8", "replace").strip()
        fifo.Shift(end + 1)
        data = data[end + 1:]
        if not line:
            continue
        lines_seen += 1
        for pair in line.split(";"):
            name, _, value = pair.partition("=")
            if name.strip():
                results.AddItem(name.strip(), _value(value.strip()))
        results.NewRow()
        print("line %d: %s" % (lines_seen, line))


def EventData(params: plugin.kivParamsList, source: bytes, name: str) -> None:
    plugin.DbgLog("event %s after %d lines" % (name, lines_seen))
