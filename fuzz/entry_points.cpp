// The eight exported entry points of the product library driven with random
// call records: record sizes, call options, role flags, host, data source
// and client ids, instance handles (live ones, freed ones, none, made up
// ones), Params and data items of every type, and the lists behind them in
// the form of the shared layout or as interface references. Every address
// a record holds is one the target owns, of the size the record gives: a
// host's pointers are trusted, so the target gives no other. Each input
// drives up to three instances through a list of calls.
//
// Checks: the entry points that answer with a result code answer with one;
// a freed handle and a wrong record size are refused; the log drains
// whole; a packet block the library grew is handed back in the record;
// every instance can be freed at the end.
#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz/host_driver.h"
#include "platform/ascii.h"

namespace {

using namespace corvane::fuzz;
using corvane::TPluginCallRecord;
using corvane::TPluginDataItem;

// Item names the entry points and commands read, and a few others.
const char* const kNames[] = {"COMMAND",  "INI-FILE",   "LANGUAGE", "OWNER-FORM", "TEMPORARY-LOAD", "RESULT",
                              "PARAM",    "VALUE",      "ITEMS",    "EVENT-TYPE", "PACKET-PARAM",   "NAME"};
const char* const kCommands[] = {"ITEMS", "EVENTS-SUPPORT", "GET-MODULE-PARAMETER", "SET-MODULE-PARAMETER",
                                 "SET-ITEMS", "SET-STATE", "EVENT", "LOAD", "UNLOAD", "LOAD-SETTINGS-NOW"};

// What one call hands over, owned until the call has returned.
class CallData {
 public:
  explicit CallData(FuzzedDataProvider& in) : in_(in) {}
  ~CallData() {
    for (void* block : blocks_) corvane::platform::sharedFree(block);
  }

  // A list with a few random items, in the form the input chooses. A list
  // that names the command LOAD names one of the prepared settings files
  // first, and only section prefixes the file has sections for (see
  // host_driver.h).
  HostList& List() {
    lists_.push_back(std::make_unique<HostList>(in_.ConsumeBool() ? HostList::Native : HostList::Interface));
    HostList& list = *lists_.back();
    std::vector<std::pair<std::string, OleVariant>> items;
    bool load = false;
    const size_t count = in_.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < count; ++i) {
      std::string name =
          in_.ConsumeIntegralInRange<uint8_t>(0, 3) == 0 ? in_.ConsumeRandomLengthString(12) : in_.PickValueInArray(kNames);
      OleVariant value;
      if (corvane::platform::sameTextAscii(name, "COMMAND") && in_.ConsumeBool()) {
        value = TextValue(in_.PickValueInArray(kCommands));
      } else if (corvane::platform::sameTextAscii(name, "INI-FILE")) {
        value = TextValue(scratch().IniFile(in_.ConsumeIntegral<uint8_t>()));
      } else {
        value = AnyValue(in_);
      }
      if (corvane::platform::sameTextAscii(name, "COMMAND") && value.type() == corvane::platform::vtBstr &&
          corvane::platform::sameTextAscii(corvane::platform::wideToAnsi(std::u16string(value.raw().bstrVal ? value.raw().bstrVal : u"")), "LOAD"))
        load = true;
      items.emplace_back(std::move(name), std::move(value));
    }
    if (load) list.Add("INI-FILE", TextValue(scratch().LoadFile(in_.ConsumeIntegral<uint8_t>())));
    for (const auto& [name, value] : items) {
      if (load && corvane::platform::sameTextAscii(name, "INI-FILE")) continue;
      if (load && corvane::platform::sameTextAscii(name, "INI-SECTION-PREFIX")) {
        list.Add(name, TextValue(Scratch::LoadPrefix(in_.ConsumeIntegral<uint8_t>())));
        continue;
      }
      list.Add(name, value);
    }
    return list;
  }

  // A data item of a type the input chooses, its pointer valid for it.
  TPluginDataItem Item() {
    const uint8_t type = in_.ConsumeIntegralInRange<uint8_t>(0, 11);
    TPluginDataItem item{in_.ConsumeIntegral<uint32_t>(), 0, type, 0};
    switch (type) {
      case corvane::ditParamsList:
      case corvane::ditWrappedParamsList:
      case corvane::ditListInterface: {
        // Now and then a list item that holds no list.
        if (type != corvane::ditListInterface && in_.ConsumeIntegralInRange<uint8_t>(0, 7) == 0) return item;
        HostList& list = List();
        const TPluginDataItem form = list.Item(type == corvane::ditWrappedParamsList);
        // A list item names its form by its type; the input chose the form.
        item.Type = form.Type;
        item.Pointer = form.Pointer;
        item.Size = in_.ConsumeIntegralInRange<int32_t>(-1, 4);
        const uintptr_t address = form.Pointer;  // a copy: the item's fields are unaligned
        addresses_.insert(address);
        return item;
      }
      case corvane::ditMemoryBlock: {
        const std::string bytes = in_.ConsumeRandomLengthString(64);
        item = SharedBlock(bytes);
        blocks_.insert(reinterpret_cast<void*>(item.Pointer));
        // The size given is at most the block's.
        item.Size = in_.ConsumeIntegralInRange<int32_t>(-1, static_cast<int32_t>(bytes.size()));
        return item;
      }
      case corvane::ditStatus:
      case corvane::ditLibraryRelease:
      case corvane::ditClientStream:
        // Plain values, no addresses.
        item.Pointer = in_.ConsumeBool() ? 0xFF01 : in_.ConsumeIntegral<uint32_t>();
        item.Size = in_.ConsumeIntegral<int32_t>();
        return item;
      default: {
        // No data, or a buffer of the target's of the size given.
        if (in_.ConsumeBool()) return item;
        auto& buffer = buffers_.emplace_back(std::make_unique<std::array<char, 256>>());
        buffer->fill('\0');
        const std::string text = in_.ConsumeRandomLengthString(32);
        std::memcpy(buffer->data(), text.data(), text.size());
        item.Size = in_.ConsumeIntegralInRange<int32_t>(-1, 256);
        item.Pointer = reinterpret_cast<uintptr_t>(buffer->data());
        return item;
      }
    }
  }

  // After the call: a block the library grew or moved is in the record
  // now, in place of the one given; it is freed instead.
  void TakeBack(const TPluginCallRecord& record) {
    for (const TPluginDataItem* item : {&record.InputItem, &record.OutputItem}) {
      if (item->Type != corvane::ditMemoryBlock || item->Pointer == 0) continue;
      void* block = reinterpret_cast<void*>(item->Pointer);
      if (blocks_.count(block) != 0) continue;
      // Only a block given in the input may be grown.
      if (given_ == nullptr || blocks_.count(given_) == 0)
        Fail("a record came back with a memory block it was not given");
      blocks_.erase(given_);
      given_ = nullptr;
      blocks_.insert(block);
    }
  }
  // After the call: an item that names a list names one of the host's, in
  // the form the host gave it; none of the library's own wrappers of a
  // call may reach the host.
  void CheckLists(const TPluginCallRecord& record) const {
    for (const TPluginDataItem* item : {&record.InputItem, &record.OutputItem}) {
      const bool list = item->Type == corvane::ditParamsList || item->Type == corvane::ditWrappedParamsList ||
                        item->Type == corvane::ditListInterface;
      const uintptr_t address = item->Pointer;
      if (list && address != 0 && addresses_.count(address) == 0)
        Fail("a record came back with a list that is not the host's");
    }
  }
  void NoteInput(const TPluginDataItem& item) {
    given_ = item.Type == corvane::ditMemoryBlock ? reinterpret_cast<void*>(item.Pointer) : nullptr;
  }

 private:
  FuzzedDataProvider& in_;
  std::vector<std::unique_ptr<HostList>> lists_;
  std::vector<std::unique_ptr<std::array<char, 256>>> buffers_;
  std::set<void*> blocks_;
  std::set<uintptr_t> addresses_;  // the lists and interface variables handed over
  void* given_ = nullptr;
};

struct Instances {
  std::vector<TPluginCallRecord> live;
  std::vector<uintptr_t> freed;
};

// The handle a call names: a live instance, a freed one, none or any value.
// Handles are the instances' addresses, so a freed one may come back as a
// new instance's: whether a handle is live is looked up, not assumed.
uintptr_t chooseHandle(FuzzedDataProvider& in, const Instances& instances, bool& live) {
  const uint8_t choice = in.ConsumeIntegralInRange<uint8_t>(0, 7);
  uintptr_t handle = 0;
  if (choice < 5 && !instances.live.empty())
    handle = instances.live[choice % instances.live.size()].InstanceHandle;
  else if (choice == 5 && !instances.freed.empty())
    handle = instances.freed[in.ConsumeIntegral<uint8_t>() % instances.freed.size()];
  else if (choice != 6)
    handle = in.ConsumeIntegral<uintptr_t>();
  live = false;
  for (const TPluginCallRecord& instance : instances.live) live = live || (handle != 0 && instance.InstanceHandle == handle);
  return handle;
}

void call(corvane::host::LoadedPlugin& plugin, Instances& instances, FuzzedDataProvider& in) {
  CallData data(in);
  TPluginCallRecord record = FreshRecord();
  bool live = false;
  record.InstanceHandle = chooseHandle(in, instances, live);
  const bool rightSize = in.ConsumeIntegralInRange<uint8_t>(0, 7) != 0;
  if (!rightSize) record.RecordSize = in.ConsumeIntegral<uint32_t>();
  const bool sizeOk = record.RecordSize == corvane::CallRecordSize;
  record.CallOptions = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint8_t>();
  record.HostId = in.ConsumeIntegral<uint32_t>();
  record.DataSourceId = in.ConsumeIntegralInRange<int32_t>(-2, 4);
  record.ClientId = in.ConsumeIntegralInRange<uint32_t>(0, 4);
  record.RoleFlags = in.ConsumeIntegral<uint8_t>();
  const bool withParams = in.ConsumeIntegralInRange<uint8_t>(0, 5) != 0;
  if (withParams) record.Params = data.List().Params();
  record.InputItem = data.Item();
  record.OutputItem = data.Item();
  const std::string name = in.ConsumeRandomLengthString(60);
  std::memcpy(record.ClientName, name.data(), std::min(name.size(), sizeof record.ClientName - 1));
  data.NoteInput(record.InputItem);
  const uintptr_t params = record.Params;
  const uint8_t options = record.CallOptions;

  const uint8_t entry = in.ConsumeIntegralInRange<uint8_t>(0, 6);
  switch (entry) {
    case 0: {
      const int32_t result = plugin.ExecutePluginCommand(&record);
      if (!IsResultCode(result)) Fail("ExecutePluginCommand answered with no result code");
      if ((!live || !sizeOk || !withParams) && result != -1) Fail("ExecutePluginCommand took a call it must refuse");
      break;
    }
    case 1: {
      const int32_t result = plugin.ProcessData(&record);
      if (result < -4) Fail("ProcessData answered with no result code");
      if ((!live || !sizeOk || !withParams) && result != -1) Fail("ProcessData took a call it must refuse");
      break;
    }
    case 2: {
      // The log with a buffer of the target's, of the capacity given.
      const int32_t capacity = in.ConsumeIntegralInRange<int32_t>(-2, 1024);
      std::vector<char> buffer(capacity > 0 ? static_cast<size_t>(capacity) : 1);
      record.InputItem = {0, capacity, 0, in.ConsumeBool() ? reinterpret_cast<uintptr_t>(buffer.data()) : 0};
      data.NoteInput(record.InputItem);
      const int32_t copied = plugin.GetLogEx(&record);
      if (copied < 0 || copied > std::max(capacity, 0) || (copied > 0 && record.InputItem.Pointer == 0))
        Fail("GetLogEx copied more than the buffer holds");
      if (!live && copied != 0) Fail("GetLogEx drained the log of no instance");
      break;
    }
    case 3: {
      uint32_t size = 0;
      plugin.GetModuleInfo(&record, nullptr, &size);
      const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(4, 512);
      std::vector<uint8_t> buffer(capacity);
      const uint32_t stated = in.ConsumeBool() ? capacity : in.ConsumeIntegralInRange<uint32_t>(0, capacity);
      std::memcpy(buffer.data(), &stated, sizeof stated);
      uint32_t again = 0;
      const uint8_t done = plugin.GetModuleInfo(&record, buffer.data(), &again);
      if (again != size) Fail("GetModuleInfo changed its size");
      if (!live && (size != 0 || done != 0)) Fail("GetModuleInfo answered for no instance");
      if (live && (done != 0) != (stated >= size)) Fail("GetModuleInfo did not fill a buffer large enough");
      break;
    }
    case 4: {
      const int32_t capacity = in.ConsumeIntegralInRange<int32_t>(-1, 8192);
      std::vector<char> buffer(static_cast<size_t>(std::max(capacity, 0)) + 1, '\0');
      const std::string form = in.ConsumeBool() ? std::string() : in.ConsumeRandomLengthString(16);
      std::memcpy(buffer.data(), form.data(), std::min(form.size(), buffer.size() - 1));
      record.InputItem = {0, capacity, 0, in.ConsumeBool() ? reinterpret_cast<uintptr_t>(buffer.data()) : 0};
      data.NoteInput(record.InputItem);
      plugin.GetOptionsDialog(&record);
      if (record.OutputItem.Type == corvane::ditHostBuffer &&
          record.OutputItem.Pointer > static_cast<uintptr_t>(std::max(capacity, 0)))
        Fail("GetOptionsDialog wrote beyond the buffer");
      if (record.OutputItem.Type != corvane::ditHostBuffer && record.OutputItem.Type != corvane::ditStatus)
        Fail("GetOptionsDialog answered with neither a block nor a status");
      break;
    }
    case 5:
      plugin.ShowOptionsDialog(&record);
      if (record.OutputItem.Type != corvane::ditStatus) Fail("ShowOptionsDialog answered with no status");
      break;
    default: {
      // A freeing call, or the library-release request.
      const int32_t result = plugin.FreePluginInstance(&record);
      const bool release = record.InputItem.Type == corvane::ditLibraryRelease &&
                           static_cast<uint32_t>(record.InputItem.Pointer) == 0xFF01;
      if (!release) {
        if (result != (live ? 0 : -1)) Fail("FreePluginInstance answered wrongly");
        if (live) {
          for (auto it = instances.live.begin(); it != instances.live.end(); ++it) {
            const uintptr_t handle = it->InstanceHandle;  // a copy: the record's fields are unaligned
            if (handle == record.InstanceHandle) {
              instances.freed.push_back(handle);
              instances.live.erase(it);
              break;
            }
          }
        }
      } else if (result != 0) {
        Fail("the library-release request failed");
      }
      break;
    }
  }
  data.TakeBack(record);
  data.CheckLists(record);
  if (record.Params != params) Fail("a record came back with other Params");
  if (record.CallOptions != options) Fail("a record came back with other call options");
}

void create(corvane::host::LoadedPlugin& plugin, Instances& instances, FuzzedDataProvider& in) {
  CallData data(in);
  TPluginCallRecord record = FreshRecord();
  record.HostId = in.ConsumeIntegral<uint32_t>();
  if (in.ConsumeBool()) record.Params = data.List().Params();
  const bool taken = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0;
  if (taken) record.InstanceHandle = in.ConsumeIntegralInRange<uintptr_t>(1, UINTPTR_MAX);
  const int32_t result = plugin.CreatePluginInstance(&record);
  if (taken) {
    if (result != -1) Fail("CreatePluginInstance took a record that names an instance");
    return;
  }
  if (result != 0 || record.InstanceHandle == 0) Fail("CreatePluginInstance failed");
  instances.live.push_back(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvane::host::LoadedPlugin& plugin = Product();
  FuzzedDataProvider in(data, size);
  Instances instances;
  for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
    if (instances.live.size() < 3 && in.ConsumeIntegralInRange<uint8_t>(0, 5) == 0)
      create(plugin, instances, in);
    else
      call(plugin, instances, in);
  }
  for (const TPluginCallRecord& instance : instances.live) {
    DrainAll(plugin, instance);
    TPluginCallRecord freeing = instance;
    if (plugin.FreePluginInstance(&freeing) != 0) Fail("an instance could not be freed");
  }
  CheckNoRuntime();
  return 0;
}
