"""Answers the host's events with events of its own.

- "PING" is answered by "PONG" with the ping's "Seq" and how many pings came.
- "STATUS" is answered by "STATUS-REPLY" with the events counted by name.
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
    else:
        plugin.DbgLog("event %s (%d so far)" % (name, seen[name]))
