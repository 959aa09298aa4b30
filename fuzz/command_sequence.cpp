// Sequences of commands on one instance of the product library, with
// packets, log drains and the other entry points between them. Each input
// is read as a list of steps; a step is a command (LOAD, UNLOAD, SET-ITEMS,
// SET-STATE, ITEMS, EVENTS-SUPPORT, the module parameter and settings
// commands, EVENT, or a name of the input's own) with parameters of names
// the commands read and values the input chooses, or a packet, a log drain,
// a module information or options dialog request.
//
// Every command must answer with a result code, the log must drain at the
// end, and the instance must be freed, after which its handle is refused.
// Settings files the commands read or write lie in a scratch folder; the
// host handle is this executable or none, as a host gives it.
#include <string>
#include <vector>

#include "fuzz/host_driver.h"
#include "platform/ascii.h"

namespace {

using namespace corvane::fuzz;
using corvane::TPluginCallRecord;

const char* const kCommands[] = {"LOAD",        "UNLOAD",         "SET-ITEMS",         "SET-STATE",
                                 "ITEMS",       "EVENTS-SUPPORT", "GET-MODULE-PARAMETER", "SET-MODULE-PARAMETER",
                                 "SAVE-SETTINGS-NOW", "LOAD-SETTINGS-NOW", "EVENT"};

// Names of parameters the commands read.
const char* const kNames[] = {"INI-FILE",  "REGISTRY-PATH", "INI-SECTION-PREFIX", "LANGUAGE",  "MSG-PROC-HANDLE",
                              "OWNER-FORM", "HANDLE",       "APPLICATION-NAME",   "CONFIG-ID", "ITEMS",
                              "DATA-SOURCES-IN-CFG", "DATA-SOURCE-LOAD", "RESULT", "PARAM", "VALUE",
                              "NO-SAVE",   "EVENT-TYPE",    "TEMPORARY-LOAD"};

// Module parameters worth naming (the input may name others).
const char* const kParameters[] = {"ModuleLoadCount", "Description", "LogTitle", "ModuleVersion", "INIFile",
                                   "ModuleRegistryPath", "DisplayFullVersion", "ModuleType", "Items"};

// Parser item lines for SET-ITEMS.
const char* const kItems[] = {"Value1;0;1\r\nValue2;2;5\r\n", "", "A\nB\nC", ";;;\r\n", "Item;x;y;z\r\n"};

OleVariant parameterValue(FuzzedDataProvider& in, const std::string& name) {
  const Scratch& files = scratch();
  if (name == "INI-FILE") return TextValue(files.IniFile(in.ConsumeIntegral<uint8_t>()));
  // The host handle is the host's own module or none: a host's handles are
  // trusted, so the driver gives no other.
  if (name == "HANDLE") return OleVariant::fromI8(in.ConsumeBool() ? static_cast<int64_t>(SelfHandle()) : 0);
  if (name == "APPLICATION-NAME")
    return TextValue(in.ConsumeBool() ? corvane::platform::executablePath() : in.ConsumeRandomLengthString(24));
  if (name == "PARAM" && in.ConsumeBool()) return TextValue(in.PickValueInArray(kParameters));
  if (name == "ITEMS" && in.ConsumeBool()) return TextValue(in.PickValueInArray(kItems));
  if (name == "DATA-SOURCES-IN-CFG" && in.ConsumeBool())
    return TextValue("1;First;a\r\n" + in.ConsumeRandomLengthString(32) + "\r\n2;Second\r\n");
  return AnyValue(in);
}

int32_t command(corvane::host::LoadedPlugin& plugin, TPluginCallRecord& instance, FuzzedDataProvider& in) {
  const std::string name = in.ConsumeIntegralInRange<uint8_t>(0, 5) == 0 ? in.ConsumeRandomLengthString(16)
                                                                          : in.PickValueInArray(kCommands);
  HostList params(in.ConsumeBool() ? HostList::Native : HostList::Interface);
  if (name.empty() || in.ConsumeIntegralInRange<uint8_t>(0, 15) != 0) params.Add("COMMAND", TextValue(name));
  const bool load = name == "LOAD";
  if (load) params.Add("INI-FILE", TextValue(scratch().LoadFile(in.ConsumeIntegral<uint8_t>())));
  const size_t count = in.ConsumeIntegralInRange<size_t>(0, 6);
  for (size_t i = 0; i < count; ++i) {
    const std::string parameter = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0 ? in.ConsumeRandomLengthString(12)
                                                                                : in.PickValueInArray(kNames);
    if (load && corvane::platform::sameTextAscii(parameter, "INI-FILE")) continue;
    if (load && corvane::platform::sameTextAscii(parameter, "INI-SECTION-PREFIX")) {
      params.Add(parameter, TextValue(Scratch::LoadPrefix(in.ConsumeIntegral<uint8_t>())));
      continue;
    }
    params.Add(parameter, parameterValue(in, parameter));
  }
  TPluginCallRecord record = instance;
  record.Params = params.Params();
  record.RoleFlags = in.ConsumeIntegral<uint8_t>();
  record.DataSourceId = in.ConsumeIntegralInRange<int32_t>(-1, 3);
  record.ClientId = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  const int32_t result = plugin.ExecutePluginCommand(&record);
  if (!IsResultCode(result)) Fail("a command answered with no result code");
  if (record.InstanceHandle != instance.InstanceHandle) Fail("a command changed the instance handle");
  return result;
}

void packet(corvane::host::LoadedPlugin& plugin, const TPluginCallRecord& instance, FuzzedDataProvider& in) {
  HostList params(in.ConsumeBool() ? HostList::Native : HostList::Interface);
  params.Add("PACKET-PARAM", TextValue("p"));
  HostList input(params.ListForm());
  HostList output(params.ListForm());
  TPluginCallRecord record = instance;
  record.Params = params.Params();
  const uint8_t roles[] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x00};
  record.RoleFlags = in.ConsumeBool() ? in.PickValueInArray(roles) : in.ConsumeIntegral<uint8_t>();
  record.DataSourceId = in.ConsumeIntegralInRange<int32_t>(-1, 3);
  record.ClientId = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  void* block = nullptr;
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 3)) {
    case 0:
      record.InputItem = SharedBlock(in.ConsumeRandomLengthString(64));
      block = reinterpret_cast<void*>(record.InputItem.Pointer);
      break;
    case 1: {
      const size_t items = in.ConsumeIntegralInRange<size_t>(0, 3);
      for (size_t i = 0; i < items; ++i) input.Add(in.ConsumeRandomLengthString(8), AnyValue(in));
      record.InputItem = input.Item(in.ConsumeBool());
      break;
    }
    case 2:
      record.InputItem = {0, 0, corvane::ditClientStream, in.ConsumeIntegral<uint32_t>()};
      break;
    default:
      break;  // no data
  }
  record.OutputItem = output.Item();
  const int32_t result = plugin.ProcessData(&record);
  if (result < -4) Fail("a packet answered with no result code");
  if (block != nullptr) {
    // The library may have grown the block: the record holds it now.
    if (record.InputItem.Type != corvane::ditMemoryBlock || record.InputItem.Pointer == 0)
      Fail("a packet block was lost");
    corvane::platform::sharedFree(reinterpret_cast<void*>(record.InputItem.Pointer));
  }
}

void moduleInfo(corvane::host::LoadedPlugin& plugin, const TPluginCallRecord& instance, FuzzedDataProvider& in) {
  uint32_t size = 0;
  TPluginCallRecord record = instance;
  plugin.GetModuleInfo(&record, nullptr, &size);
  if (size < sizeof(corvane::ModuleInfoRecord)) Fail("the module information is smaller than its header");
  const uint32_t capacity = in.ConsumeBool() ? size : in.ConsumeIntegralInRange<uint32_t>(4, size + 8);
  std::vector<uint8_t> buffer(capacity);
  std::memcpy(buffer.data(), &capacity, sizeof capacity);
  uint32_t again = 0;
  const uint8_t done = plugin.GetModuleInfo(&record, buffer.data(), &again);
  if (again != size) Fail("the module information changed its size");
  if ((done != 0) != (capacity >= size)) Fail("the module information did not fit a buffer large enough");
}

void optionsDialog(corvane::host::LoadedPlugin& plugin, const TPluginCallRecord& instance, FuzzedDataProvider& in) {
  TPluginCallRecord record = instance;
  const int32_t capacity = in.ConsumeIntegralInRange<int32_t>(0, 8192);
  std::vector<char> buffer(static_cast<size_t>(capacity) + 1, '\0');
  const std::string form = in.ConsumeBool() ? std::string() : in.ConsumeRandomLengthString(16);
  std::memcpy(buffer.data(), form.data(), std::min(form.size(), buffer.size() - 1));
  record.InputItem = {0, capacity, 0, reinterpret_cast<uintptr_t>(buffer.data())};
  plugin.GetOptionsDialog(&record);
  if (record.OutputItem.Type == corvane::ditHostBuffer && record.OutputItem.Pointer > static_cast<uintptr_t>(capacity))
    Fail("the options dialog wrote beyond the buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvane::host::LoadedPlugin& plugin = Product();
  FuzzedDataProvider in(data, size);
  TPluginCallRecord instance = FreshRecord();
  instance.HostId = in.ConsumeIntegral<uint32_t>();
  if (plugin.CreatePluginInstance(&instance) != 0 || instance.InstanceHandle == 0) Fail("no instance");
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    switch (in.ConsumeIntegralInRange<uint8_t>(0, 7)) {
      case 0:
      case 1:
      case 2: command(plugin, instance, in); break;
      case 3:
      case 4: packet(plugin, instance, in); break;
      case 5: DrainLog(plugin, instance, in.ConsumeIntegralInRange<int32_t>(-4, 512)); break;
      case 6: moduleInfo(plugin, instance, in); break;
      default: optionsDialog(plugin, instance, in); break;
    }
  }
  DrainAll(plugin, instance);
  TPluginCallRecord freeing = instance;
  if (plugin.FreePluginInstance(&freeing) != 0) Fail("the instance could not be freed");
  TPluginCallRecord stale = instance;
  if (plugin.FreePluginInstance(&stale) != -1) Fail("a freed instance's handle was not refused");
  stale = instance;
  HostList params(HostList::Native);
  params.Add("COMMAND", TextValue("ITEMS"));
  stale.Params = params.Params();
  if (plugin.ExecutePluginCommand(&stale) != -1) Fail("a command on a freed instance was not refused");
  CheckNoRuntime();
  return 0;
}
