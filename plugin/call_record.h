// The packed records of the exported entry points, exactly as hosts lay them
// out. On 32-bit targets every field has its fixed size; on 64-bit targets
// only the fields that hold an address widen to 8 bytes (InstanceHandle,
// Params, each item's Pointer and the module-information text addresses), so
// the record is 118 bytes there and RecordSize must say so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

// Kinds of TPluginDataItem::Pointer.
enum TPluginDataItemType : uint8_t {
  ditNone = 0,
  ditParamsList = 1,        // address of a list object of the shared layout
  ditHostBuffer = 2,        // answer: a block written into the host's buffer
  ditMemoryBlock = 4,       // address of a block of Size bytes (shared memory manager)
  ditStatus = 5,            // answer: a status code as a plain value
  ditLibraryRelease = 6,    // with value 0xFF01 in FreePluginInstance
  ditClientStream = 7,      // packet data that belongs to a client stream
  ditWrappedParamsList = 8, // a list object of the shared layout, always wrapped
  ditListInterface = 9,     // address of a variable holding an IkivParamsListW reference
};

inline constexpr uint32_t LibraryReleaseRequest = 0xFF01;

#pragma pack(push, 1)

struct TPluginDataItem {
  uint32_t Count;  // auxiliary count; number of parse results in ProcessData's OutputItem
  int32_t Size;    // size of the data, or capacity of the buffer at Pointer
  uint8_t Type;    // TPluginDataItemType
  uintptr_t Pointer;
};

struct TPluginCallRecord {
  uint32_t RecordSize;
  uint8_t CallOptions;  // bit 0x40: Params arrived as an interface reference (during a call)
  uintptr_t InstanceHandle;
  uint32_t HostId;
  int32_t DataSourceId;
  uint32_t ClientId;
  uint8_t RoleFlags;
  uintptr_t Params;
  TPluginDataItem InputItem;
  TPluginDataItem OutputItem;
  char ClientName[50];
};

// The header of GetModuleInfo's answer; texts A and B follow it.
struct ModuleInfoRecord {
  uint32_t BufferSize;
  uint32_t Flags;             // bits 0..7 ModuleType, 16..18 ModuleOptions bits 0..2
  uint32_t InterfaceVersion;  // low 16 bits 4
  float ModuleVersion;
  uint8_t InfoFlag;
  uint32_t DescriptionLength;
  uintptr_t DescriptionAddress;
  uint32_t CommandsLength;
  uintptr_t CommandsAddress;
};

#pragma pack(pop)

// The header of GetOptionsDialog's answer; form, extra text and code follow.
struct OptionsDialogBlock {
  uint32_t FormOffset;
  uint32_t FormLength;
  uint32_t ExtraOffset;
  uint32_t ExtraLength;
  uint32_t CodeOffset;
  uint32_t CodeLength;
};

inline constexpr uint8_t CallOptionParamsIsInterface = 0x40;

// The record's client name: the bytes up to the first zero, at most 50.
inline std::string ClientNameOf(const TPluginCallRecord& record) {
  const char* name = record.ClientName;
  size_t length = 0;
  while (length < sizeof record.ClientName && name[length] != '\0') ++length;
  return std::string(name, length);
}

#if defined(__i386__) || defined(_M_IX86)
inline constexpr uint32_t CallRecordSize = 102;
static_assert(sizeof(TPluginDataItem) == 13);
static_assert(offsetof(TPluginDataItem, Count) == 0);
static_assert(offsetof(TPluginDataItem, Size) == 4);
static_assert(offsetof(TPluginDataItem, Type) == 8);
static_assert(offsetof(TPluginDataItem, Pointer) == 9);
static_assert(offsetof(TPluginCallRecord, RecordSize) == 0);
static_assert(offsetof(TPluginCallRecord, CallOptions) == 4);
static_assert(offsetof(TPluginCallRecord, InstanceHandle) == 5);
static_assert(offsetof(TPluginCallRecord, HostId) == 9);
static_assert(offsetof(TPluginCallRecord, DataSourceId) == 13);
static_assert(offsetof(TPluginCallRecord, ClientId) == 17);
static_assert(offsetof(TPluginCallRecord, RoleFlags) == 21);
static_assert(offsetof(TPluginCallRecord, Params) == 22);
static_assert(offsetof(TPluginCallRecord, InputItem) == 26);
static_assert(offsetof(TPluginCallRecord, OutputItem) == 39);
static_assert(offsetof(TPluginCallRecord, ClientName) == 52);
static_assert(sizeof(ModuleInfoRecord) == 33);
static_assert(offsetof(ModuleInfoRecord, ModuleVersion) == 12);
static_assert(offsetof(ModuleInfoRecord, InfoFlag) == 16);
static_assert(offsetof(ModuleInfoRecord, DescriptionLength) == 17);
static_assert(offsetof(ModuleInfoRecord, DescriptionAddress) == 21);
static_assert(offsetof(ModuleInfoRecord, CommandsLength) == 25);
static_assert(offsetof(ModuleInfoRecord, CommandsAddress) == 29);
#else
inline constexpr uint32_t CallRecordSize = 118;
static_assert(sizeof(TPluginDataItem) == 17);
static_assert(offsetof(TPluginDataItem, Pointer) == 9);
static_assert(offsetof(TPluginCallRecord, InstanceHandle) == 5);
static_assert(offsetof(TPluginCallRecord, HostId) == 13);
static_assert(offsetof(TPluginCallRecord, DataSourceId) == 17);
static_assert(offsetof(TPluginCallRecord, ClientId) == 21);
static_assert(offsetof(TPluginCallRecord, RoleFlags) == 25);
static_assert(offsetof(TPluginCallRecord, Params) == 26);
static_assert(offsetof(TPluginCallRecord, InputItem) == 34);
static_assert(offsetof(TPluginCallRecord, OutputItem) == 51);
static_assert(offsetof(TPluginCallRecord, ClientName) == 68);
static_assert(sizeof(ModuleInfoRecord) == 41);
static_assert(offsetof(ModuleInfoRecord, DescriptionAddress) == 21);
static_assert(offsetof(ModuleInfoRecord, CommandsLength) == 29);
static_assert(offsetof(ModuleInfoRecord, CommandsAddress) == 33);
#endif
static_assert(sizeof(TPluginCallRecord) == CallRecordSize);
static_assert(sizeof(OptionsDialogBlock) == 24);

}  // namespace corvane
