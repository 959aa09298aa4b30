"""Typing stubs for the module `plugin` that Corvane gives every script.

Put this file beside your scripts (or on MYPYPATH) and an editor completes
and checks them; `mypy --strict` checks them from the command line.

A script defines any of the entry functions; Corvane calls them with the
host's objects, lent for the call only (keep values, not the objects):

    def ParseData(params: plugin.kivParamsList, source: bytes,
                  fifo: plugin.FIFOStream, results: plugin.kivParamsList) -> None
    def FilterData(params: plugin.kivParamsList, source: bytes,
                   data: plugin.kivParamsList, results: plugin.kivParamsList) -> None
    def ExportData(params: plugin.kivParamsList, source: bytes, data: plugin.kivParamsList) -> None
    def QueryData(params: plugin.kivParamsList, source: bytes, data: plugin.kivParamsList) -> None
    def EventData(params: plugin.kivParamsList, source: bytes, name: str) -> None

`source` is the 12-byte source descriptor of the packet (three 32-bit
little-endian words: host id, data source id, client id); it is also what the
`DestDs` argument of the send functions takes.
"""
import datetime
import time
from typing import Any, Iterator, List, Optional, Sequence, Tuple, Union, overload

# What a value can be on its way in: numbers, texts, booleans, None, bytes,
# dates and times, and (nested) sequences of those, which become arrays.
Value = Union[None, bool, int, float, str, bytes, datetime.datetime, datetime.date, datetime.time,
              datetime.timedelta, time.struct_time, Sequence[Any]]

# What a host value reads as: None (empty), int, float, str, bool, bytes, a
# date as the 9-tuple (year, month, day, hour, minute, second, weekday,
# day of year, -1), or a list for an array.
HostValue = Any

# A destination: None for the packet's own data source and client, or a
# 12-byte source descriptor.
Destination = Optional[bytes]

class Object:
    """The base of every wrapped host object."""

    @property
    def ClassName(self) -> str:
        """Returns the TObject.ClassName"""
    def Free(self) -> None:
        """Frees the wrapped object"""
    def InheritsFrom(self, ClassName: str) -> bool:
        """Returns True if the wrapped object inherits from the given class name"""
    def SetProps(self, **properties: Any) -> None:
        """Sets several properties in one call"""
    def ToList(self) -> List[Any]:
        """If the wrapped object supports sequences, returns them as a list"""
    def ToTuple(self) -> Tuple[Any, ...]:
        """If the wrapped object supports sequences, returns them as a tuple"""

class FIFOStream(Object):
    """A client's receive buffer: the bytes received and not yet taken."""

    @property
    def Size(self) -> int:
        """The number of bytes in the buffer"""
    def Clear(self) -> None:
        """TFifoBuffer.Clear()
        Clears the buffer"""
    def GetBytes(self) -> bytes:
        """TFifoBuffer.GetBytes()
        Returns the buffer content as bytes (the buffer keeps them)"""
    def Shift(self, Count: int) -> None:
        """TFifoBuffer.Shift()
        Deletes first N bytes from the buffer"""

class kivParamsListItem(Object):
    """One named value of a parameter list."""

    Name: str
    """The item name."""
    Value: HostValue
    """The item value."""
    LowerName: str
    """The item name in lower case."""
    DataType: int
    """The item data type (0xFF01 for a row delimiter)."""
    Quality: int
    """The item quality (2 by default)."""

class kivParamsListItemEx(kivParamsListItem):
    """An item of a list in the host's own form."""

class _Items(Sequence[kivParamsListItem]):
    """The read-only sequence of a list's items."""

    @overload
    def __getitem__(self, index: int) -> kivParamsListItem: ...
    @overload
    def __getitem__(self, index: slice) -> Sequence[kivParamsListItem]: ...
    def __len__(self) -> int: ...

class kivParamsList(Object):
    """An ordered list of named values: the module parameters, a packet's
    data, or the results a script delivers. Rows are runs of items ended by
    a "$NEW_ROW$" delimiter item. The list itself is also a read-only
    sequence of its items."""

    @property
    def Count(self) -> int:
        """Indicates the number of items in the list."""
    @property
    def Items(self) -> _Items:
        """Lists the items maintained by the list."""
    def Clear(self) -> None:
        """TkivParamsList.Clear()
        Clears the list"""
    def Delete(self, Index: int) -> None:
        """TkivParamsList.Delete()
        Deletes single item in the list"""
    def CopyFrom(self, Source: "kivParamsList") -> None:
        """TkivParamsList.CopyFrom()
        Copies one or more items from the source list"""
    def ItemByName(self, Name: str, Start: int = 0, End: int = -1) -> Optional[kivParamsListItem]:
        """TkivParamsList.ItemByName()
        Returns an item by a name (None when there is none; End -2 searches
        the row that starts at Start)"""
    def ItemIndexByName(self, Name: str, Start: int = 0, End: int = -1) -> int:
        """TkivParamsList.ItemIndexByName()
        Returns an item index by a name (-1 when there is none)"""
    def ItemValueByName(self, Name: str, Start: int = 0, End: int = -1) -> HostValue:
        """TkivParamsList.ItemValueByName()
        Returns an item value by a name (None when there is none)"""
    def ItemValueByNameDef(self, Name: str, Default: Value, Start: int = 0, End: int = -1) -> HostValue:
        """TkivParamsList.ItemValueByNameDef()
        Returns an item value by a name. Returns a default value if the item does not exist"""
    def InsertItem(self, Index: int, Name: str, Value: Value) -> Optional[kivParamsListItem]:
        """TkivParamsList.InsertItem()
        Inserts an item to the specified position in the list"""
    def SetItem(self, Name: str, Value: Value, Create: int = 0) -> Optional[kivParamsListItem]:
        """TkivParamsList.SetItem()
        Sets the item value (Create non-zero: adds the item when it is absent)"""
    def AddItem(self, Name: str, Value: Value) -> Optional[kivParamsListItem]:
        """TkivParamsList.AddItem()
        Adds an item to the list (None for a blank name)"""
    def AddItemCopy(self, Source: Optional[kivParamsListItem]) -> Optional[kivParamsListItem]:
        """TkivParamsList.AddItemCopy()
        Adds a copy of the supplied item"""
    def FindRow(self, Start: int, Index: "VarParam", IsDelimiter: "VarParam") -> bool:
        """TkivParamsList.FindRow()
        Find a virtual row delimiter in the list (from Start; Index receives
        the index found, IsDelimiter whether it is a delimiter)"""
    def NewRow(self) -> None:
        """TkivParamsList.NewRow()
        Adds the end-of-row item"""
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> kivParamsListItem: ...
    def __iter__(self) -> Iterator[kivParamsListItem]: ...

class kivParamsListEx(kivParamsList):
    """A list in the host's own form."""

class VarParam:
    """A holder for one value, for operations that hand results back through
    their arguments (FindRow)."""

    Value: Any
    """Provides access to the Value associated with the Var parameter"""
    value: Any
    """Provides access to the Value associated with the Var parameter"""

def CreateVarParam() -> VarParam:
    """Creates a new instance of type VarParam"""

def GetModuleParameter(ParameterName: str) -> HostValue:
    """GetModuleParameter(String ParameterName)

    A parameter of the module (for example "ModulePath"), as the host's
    GET-MODULE-PARAMETER command answers it."""

def DiscardDataPacket(Reason: str = "", Silent: bool = False) -> None:
    """DiscardDataPacket(String Reason = '; Boolean Silent = False)

    In FilterData: the packet goes no further. The log says so with the
    reason unless Silent is true."""

def DbgLog(Msg: str, LogLevel: int = 2) -> None:
    """DbgLog(String Msg; Integer LogLevel = 0)

    A line in the host's log: LogLevel 0 an error, 1 a warning, 2 (the
    default) information. What the script printed before comes first."""

def SendData(DestDs: Destination, Data: bytes) -> None:
    """SendData(Object DestDs; Bytes Data)

    Sends bytes to a data source of the host (None: the packet's own)."""

def SendString(DestDs: Destination, Data: Union[str, bytes]) -> None:
    """SendString(Object DestDs; String Data)

    Sends a text to a data source of the host (None: the packet's own)."""

def SendByte(DestDs: Destination, Byte: int) -> None:
    """SendByte(Object DestDs; Integer Byte)

    Sends one byte (the low 8 bits) to a data source of the host."""

def SendDataToDataSource(DestDs: str, Data: bytes) -> None:
    """SendDataToDataSource(String DestDs; Bytes Data)

    Sends bytes to the data source of the host configuration with that name."""

def SendEvent(EventId: str) -> None:
    """SendEvent(String EventId)

    Raises a host event without parameters."""

def SendEventEx(EventId: str, EventArgs: List[Any]) -> None:
    """SendEventEx(String EventId, List EventArgs)

    Raises a host event whose parameters are the pairs of EventArgs:
    [name1, value1, name2, value2, ...]."""

def RedirectData(TargetConfig: str) -> None:
    """RedirectData(String TargetConfig)

    In FilterData: sends a copy of the packet to another host configuration."""
