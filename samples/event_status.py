"""Answers the host's events with events of its own.

- "PING" is answered by "PONG" with the ping's "Seq" and how many pings came.
- "STATUS" is answered by "STATUS-REPLY" with the events counted by name.
- "ECHO" sends its "Text" back to the host as text, and as bytes with a
  length byte in front.
- Any other event is counted and logged.
"""
from collections import Counter

import plugin

seen: "Counter[str]" = Counter()


def EventData(params: plugin.kivParamsList, source: bytes, name: str) -> None:
    seen[name] += 1
    if name == "PING":
        seq = params.ItemByName("Seq")
        plugin.SendEventEx("PONG", ["Seq", seq.Value if seq is not None else None, "Pings", seen["PING"]])
    elif name == "STATUS":
        counts = []
        for event, count in sorted(seen.items()):
            counts += [event, count]
        plugin.SendEventEx("STATUS-REPLY", counts)
    elif name == "ECHO":
        text = str(params.ItemValueByNameDef("Text", ""))
        plugin.SendString(None, text)
        plugin.SendData(None, bytes([len(text) & 0xFF]) + text.encode("utf-8"))
    else:
        plugin.DbgLog("event %s (%d so far)" % (name, seen[name]))
