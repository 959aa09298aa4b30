// The product library driven as a host drives it, for the fuzz targets that
// call its exported entry points: the library loaded by path, a scratch
// folder for the settings store, settings files and a script, parameter
// lists in either form a host hands over, packet blocks from the shared
// memory manager, and log drains. Every address handed to the library is
// one the driver owns, of the size it says: a host's pointers are trusted.
//
// No Python runtime is loaded: the settings name a runtime file that does
// not exist, so LOAD reports that there is none and packets and events are
// answered without a script. Every LOAD therefore reads one of the prepared
// settings files, under a section prefix whose section the file holds
// (without a runtime option, the module would find the system's runtime). The interpreter is fuzzed by value_conversion;
// starting and ending it for every input would make these targets slower
// than they are useful.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <link.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "host/plugin_library.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/ole_variant.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "plugin/call_record.h"

namespace corvane::fuzz {

using platform::OleVariant;

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "host driver: %s\n", what);
  std::abort();
}

// The scratch folder and what it holds, made once per process.
struct Scratch {
  std::string folder;
  std::string settings;  // a settings file naming the script and a missing runtime
  std::string other;     // a second one, the same at first; commands may write both
  Scratch() {
    char name[] = "/tmp/corvane-fuzz-host.XXXXXX";
    if (mkdtemp(name) == nullptr) Fail("no scratch folder");
    folder = name;
    // The settings store and everything the module writes stay in the folder.
    setenv("CORVANE_REGISTRY_DIR", folder.c_str(), 1);
    settings = folder + "/settings.ini";
    other = folder + "/other.ini";
    std::ofstream(folder + "/script.py", std::ios::binary) << "def ParseData(params, source, data, results):\n    pass\n";
  }
  // The settings file of a LOAD: one of the two, written afresh. A LOAD from
  // no file, a missing one, or one a settings command wrote without the
  // runtime option (after settings were read from an empty store) would
  // find the system's runtime.
  // The file holds the settings under the section of each prefix of
  // LoadPrefix, since a LOAD's section prefix picks the section it reads.
  std::string LoadFile(uint8_t choice) const {
    const std::string& file = choice % 2 == 0 ? settings : other;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const char* section : {"Common", "Fuzz.Common", "Fuzz", "Sub.Fuzz.Common"}) {
      out << "[" << section << "]\r\nScript file=\"" << folder << "/script.py\"\r\nPython DLL=" << folder
          << "/no-runtime.so\r\n";
    }
    return file;
  }
  // The INI section prefix of a LOAD: one whose section the files hold.
  static const char* LoadPrefix(uint8_t choice) {
    static const char* const prefixes[] = {"", "Fuzz", "Fuzz\\", "Fuzz/", "Sub\\Fuzz"};
    return prefixes[choice % 5];
  }
  // A settings file name the input chooses: the prepared one, the second
  // one, a missing one in the folder, or none.
  std::string IniFile(uint8_t choice) const {
    switch (choice % 4) {
      case 0: return settings;
      case 1: return other;
      case 2: return folder + "/missing/settings.ini";
      default: return {};
    }
  }
};

inline Scratch& scratch() {
  static Scratch* instance = new Scratch;
  return *instance;
}

inline host::LoadedPlugin& Product() {
  scratch();  // the store's folder is set before the library first reads it
  static host::LoadedPlugin* library = new host::LoadedPlugin(platform::executableDirectory() +
                                                              "../script_host/corvane.so");
  return *library;
}

// The driver's settings keep the system's Python runtime out of the
// process; a runtime that was loaded all the same would make every later
// input slow, and its own allocations would be reported as leaks.
inline void CheckNoRuntime() {
  const int loaded = dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        return info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "libpython") != nullptr ? 1 : 0;
      },
      nullptr);
  if (loaded != 0) Fail("the Python runtime was loaded");
}

inline uintptr_t SelfHandle() { return reinterpret_cast<uintptr_t>(platform::moduleHandleByName("")); }

inline OleVariant TextValue(const std::string& text) { return OleVariant::fromString(platform::ansiToWide(text)); }

// A value of a kind the input chooses: a text, an integer, a boolean, a
// double or empty.
inline OleVariant AnyValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 4)) {
    case 0: return TextValue(in.ConsumeRandomLengthString(48));
    case 1: return OleVariant::fromI4(in.ConsumeIntegral<int32_t>());
    case 2: return OleVariant::fromBool(in.ConsumeBool());
    case 3: return OleVariant::fromR8(in.ConsumeFloatingPoint<double>());
    default: return OleVariant();
  }
}

// A parameter list as a host keeps it, handed over as a list object of the
// shared layout or as an interface reference.
class HostList {
 public:
  enum Form { Native, Interface };
  explicit HostList(Form form)
      : list_(TkivParamsList::Create()),
        interfaceA_(TkivParamsListWrap::NewInterfaceA(list_.get(), true)),
        interfaceW_(interfaceA_.Query<IkivParamsListW>()),
        form_(form) {}

  TkivParamsList& List() { return *list_; }
  void Add(const std::string& name, const OleVariant& value) { list_->AddItem(name, value.raw()); }
  OleVariant Value(const std::string& name) { return list_->ItemValueByName(name); }
  Form ListForm() const { return form_; }

  uintptr_t Params() const {
    return form_ == Native ? reinterpret_cast<uintptr_t>(list_.get()) : reinterpret_cast<uintptr_t>(interfaceA_.address());
  }
  // A data item carrying the list: type 1 or 8 (native) or 9 (interface).
  TPluginDataItem Item(bool wrapped = false) const {
    if (form_ == Native)
      return {0, 0, wrapped ? ditWrappedParamsList : ditParamsList, reinterpret_cast<uintptr_t>(list_.get())};
    return {0, 0, ditListInterface, reinterpret_cast<uintptr_t>(interfaceW_.address())};
  }

 private:
  ParamsListPtr list_;
  InterfaceRef<IkivParamsListA> interfaceA_;
  InterfaceRef<IkivParamsListW> interfaceW_;
  Form form_;
  // The library tells a list object from an interface variable by the
  // signature field 16 (24) bytes on: the variable sits in a larger object.
  [[maybe_unused]] uint8_t beyondReferences_[64] = {};
};

// A packet block from the shared memory manager; the library may grow it.
inline TPluginDataItem SharedBlock(const std::string& bytes) {
  void* block = platform::sharedAlloc(bytes.empty() ? 1 : bytes.size());
  if (block == nullptr) Fail("no memory for a block");
  std::memcpy(block, bytes.data(), bytes.size());
  return {0, static_cast<int32_t>(bytes.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
}

inline TPluginCallRecord FreshRecord() {
  TPluginCallRecord record;
  std::memset(&record, 0, sizeof record);
  record.RecordSize = CallRecordSize;
  return record;
}

inline bool IsResultCode(int32_t result) { return result >= -4 && result <= 0; }

// Drains the log with a buffer of the given capacity. The drain copies all
// pending text or none of it (a capacity of 0 discards it); what it copies
// is whole lines, each ending with CR LF. Returns the pending length the
// drain reported.
inline uint32_t DrainLog(host::LoadedPlugin& plugin, const TPluginCallRecord& instance, int32_t capacity) {
  std::vector<char> buffer(capacity > 0 ? static_cast<size_t>(capacity) : 1);
  TPluginCallRecord drain = instance;
  drain.InputItem = {0, capacity, 0, capacity > 0 ? reinterpret_cast<uintptr_t>(buffer.data()) : 0};
  const int32_t copied = plugin.GetLogEx(&drain);
  const auto pending = static_cast<uint32_t>(drain.OutputItem.Pointer);
  if (copied < 0 || copied > (capacity > 0 ? capacity : 0)) Fail("the log drain copied more than the buffer holds");
  if (copied > 0 && static_cast<uint32_t>(copied) != pending) Fail("the log drain copied part of the pending text");
  if (copied > 0 && (copied < 2 || buffer[static_cast<size_t>(copied) - 2] != '\r' ||
                     buffer[static_cast<size_t>(copied) - 1] != '\n'))
    Fail("the log drain copied part of a line");
  return pending;
}

// Drains until nothing is pending: a drain too small for the pending text
// reports its length, and a buffer of that length must take it.
inline void DrainAll(host::LoadedPlugin& plugin, const TPluginCallRecord& instance) {
  int32_t capacity = 4096;
  for (int i = 0; i < 4; ++i) {
    const uint32_t pending = DrainLog(plugin, instance, capacity);
    if (pending == 0) return;
    if (pending > static_cast<uint32_t>(capacity)) capacity = static_cast<int32_t>(pending) + 256;
  }
  Fail("the log did not drain");
}

}  // namespace corvane::fuzz
