"""A filter between a data source and its store: readings of a sensor network,
one packet per reading with the items Sensor, Value and Unit.

- Readings of sensors whose name starts with "TEST" are dropped, silently.
- Readings the sensor marks as invalid (Value missing or not a number) are
  dropped with the reason in the log.
- Temperatures in Fahrenheit are rewritten to Celsius (one decimal).
- Readings above the alarm limit, the module parameter "AlarmLimit" (default
  50.0), also go to the host configuration "Alarms".
Every other item passes unchanged, in its place.
"""
from typing import Optional

import plugin

DEFAULT_LIMIT = 50.0


def number(value: object) -> Optional[float]:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    return float(value)


def alarm_limit(params: plugin.kivParamsList) -> float:
    item = params.ItemByName("AlarmLimit")
    limit = number(item.Value) if item is not None else None
    return DEFAULT_LIMIT if limit is None else limit


def FilterData(params: plugin.kivParamsList, source: bytes, data: plugin.kivParamsList,
               results: plugin.kivParamsList) -> None:
    sensor = data.ItemByName("Sensor")
    name = str(sensor.Value) if sensor is not None else ""
    if name.startswith("TEST"):
        plugin.DiscardDataPacket("test sensor", True)
        return
    value_item = data.ItemByName("Value")
    value = number(value_item.Value) if value_item is not None else None
    if value is None:
        plugin.DiscardDataPacket("%s sent no valid value" % (name or "a sensor"))
        return
    unit_item = data.ItemByName("Unit")
    fahrenheit = unit_item is not None and unit_item.Value == "F"
    if fahrenheit:
        value = round((value - 32.0) * 5.0 / 9.0, 1)
    for item in data:
        if fahrenheit and item.Name == "Value":
            results.AddItem("Value", value)
        elif fahrenheit and item.Name == "Unit":
            results.AddItem("Unit", "C")
        else:
            results.AddItem(item.Name, item.Value)
    if value > alarm_limit(params):
        plugin.RedirectData("Alarms")
