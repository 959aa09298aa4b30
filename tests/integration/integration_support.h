// Driving a plug-in library the way a host does: loaded by path, entry
// points resolved by name, parameter lists passed as native objects of the
// shared layout or as interface references.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "host/plugin_library.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/ole_variant.h"
#include "platform/shared_memory.h"
#include "plugin/call_record.h"

namespace integration {

using corvane::TPluginCallRecord;
using corvane::platform::OleVariant;

inline bool windows() { return corvane::platform::pathDelimiter() == '\\'; }

// The framework alone (tests/corvane_framework_module), the test parser
// module (tests/corvane_test_module) and the product library
// (script_host/corvane).
inline std::string frameworkLibraryPath() {
  return corvane::platform::executableDirectory() +
         (windows() ? "corvane_framework_module.dll" : "corvane_framework_module.so");
}
inline std::string productLibraryPath() {
  const char d = corvane::platform::pathDelimiter();
  return corvane::platform::executableDirectory() + ".." + d + "script_host" + d +
         (windows() ? "corvane.dll" : "corvane.so");
}
inline std::string testModulePath() {
  return corvane::platform::executableDirectory() + (windows() ? "corvane_test_module.dll" : "corvane_test_module.so");
}

inline OleVariant Text(const std::string& value) {
  return OleVariant::fromString(corvane::platform::ansiToWide(value));
}
inline std::string TextOf(const OleVariant& value) {
  if (value.type() != corvane::platform::vtBstr || value.raw().bstrVal == nullptr) return {};
  return corvane::platform::wideToAnsi(std::u16string(value.raw().bstrVal));
}

// How a host hands a list over.
enum class ListForm { Native, Interface };
inline const char* ListFormName(ListForm form) { return form == ListForm::Native ? "native" : "interface"; }

// A parameter list as the host keeps it, and the Params or item value that
// hands it over in the chosen form.
class HostList {
 public:
  explicit HostList(ListForm form)
      : list_(corvane::TkivParamsList::Create()),
        interfaceA_(corvane::TkivParamsListWrap::NewInterfaceA(list_.get(), true)),
        interfaceW_(interfaceA_.Query<corvane::IkivParamsListW>()),
        form_(form) {}

  corvane::TkivParamsList& List() { return *list_; }
  void Add(const std::string& name, const OleVariant& value) { list_->AddItem(name, value.raw()); }
  OleVariant Value(const std::string& name) { return list_->ItemValueByName(name); }

  // For the record's Params.
  uintptr_t Params() const {
    return form_ == ListForm::Native ? reinterpret_cast<uintptr_t>(list_.get())
                                     : reinterpret_cast<uintptr_t>(interfaceA_.address());
  }
  // A data item carrying the list: type 1 (native) or 9 (interface).
  corvane::TPluginDataItem Item() const {
    if (form_ == ListForm::Native) return {0, 0, corvane::ditParamsList, reinterpret_cast<uintptr_t>(list_.get())};
    return {0, 0, corvane::ditListInterface, reinterpret_cast<uintptr_t>(interfaceW_.address())};
  }

 private:
  corvane::ParamsListPtr list_;
  corvane::InterfaceRef<corvane::IkivParamsListA> interfaceA_;
  corvane::InterfaceRef<corvane::IkivParamsListW> interfaceW_;
  ListForm form_;
  // The library tells a native list from an interface variable by reading
  // a list's signature field at the address it is given; a host's variable
  // sits inside larger objects, as it does here.
  uint8_t beyondReferences_[64] = {};
};

// A block of the shared memory manager, as a host hands packet data over.
inline corvane::TPluginDataItem SharedBlock(const std::string& bytes) {
  void* block = corvane::platform::sharedAlloc(bytes.size());
  std::memcpy(block, bytes.data(), bytes.size());
  return {0, static_cast<int32_t>(bytes.size()), corvane::ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
}
inline std::string BlockText(const corvane::TPluginDataItem& item) {
  if (item.Pointer == 0 || item.Size <= 0) return {};
  return std::string(reinterpret_cast<const char*>(item.Pointer), static_cast<size_t>(item.Size));
}
inline void FreeBlock(corvane::TPluginDataItem& item) {
  if (item.Type == corvane::ditMemoryBlock && item.Pointer != 0) {
    corvane::platform::sharedFree(reinterpret_cast<void*>(item.Pointer));
  }
  item = {};
}

inline TPluginCallRecord FreshRecord() {
  TPluginCallRecord record;
  std::memset(&record, 0, sizeof record);
  record.RecordSize = corvane::CallRecordSize;
  return record;
}

// One instance, created on construction and freed on destruction.
class Instance {
 public:
  explicit Instance(corvane::host::LoadedPlugin& plugin, ListForm form = ListForm::Interface)
      : plugin_(plugin), form_(form), record_(FreshRecord()) {
    EXPECT_EQ(plugin_.CreatePluginInstance(&record_), 0);
  }
  ~Instance() {
    if (record_.InstanceHandle != 0) plugin_.FreePluginInstance(&record_);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  TPluginCallRecord& Record() { return record_; }
  corvane::host::LoadedPlugin& Plugin() { return plugin_; }
  ListForm Form() const { return form_; }

  // Runs a command with the given values; *answer receives "RESULT".
  int32_t Command(const std::string& command, const std::vector<std::pair<std::string, OleVariant>>& values = {},
                  OleVariant* answer = nullptr) {
    HostList params(form_);
    params.Add("COMMAND", Text(command));
    for (const auto& [name, value] : values) params.Add(name, value);
    // A record of its own, so that other threads may use the instance's
    // record meanwhile.
    TPluginCallRecord record = record_;
    record.Params = params.Params();
    const int32_t result = plugin_.ExecutePluginCommand(&record);
    if (answer != nullptr) *answer = params.Value("RESULT");
    return result;
  }
  std::string Parameter(const std::string& name) {
    OleVariant answer;
    EXPECT_EQ(Command("GET-MODULE-PARAMETER", {{"PARAM", Text(name)}}, &answer), 0) << name;
    OleVariant text;
    if (!answer.isEmpty()) text = answer.changedTo(corvane::platform::vtBstr);
    return TextOf(text);
  }
  bool SetParameter(const std::string& name, const OleVariant& value) {
    OleVariant answer;
    Command("SET-MODULE-PARAMETER", {{"PARAM", Text(name)}, {"VALUE", value}}, &answer);
    return answer.type() == corvane::platform::vtBool && answer.raw().boolVal != 0;
  }

  // All pending log lines (the capacity must hold them).
  std::string DrainLog(int32_t capacity = 1 << 20) {
    std::vector<char> buffer(static_cast<size_t>(capacity > 0 ? capacity : 1));
    TPluginCallRecord drain = record_;
    drain.InputItem = {0, capacity, 0, reinterpret_cast<uintptr_t>(buffer.data())};
    const int32_t copied = plugin_.GetLogEx(&drain);
    lastLogLength_ = static_cast<int32_t>(drain.OutputItem.Pointer);
    return std::string(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
  }
  // The pending length the last drain reported.
  int32_t LastLogLength() const { return lastLogLength_; }

 private:
  corvane::host::LoadedPlugin& plugin_;
  ListForm form_;
  TPluginCallRecord record_;
  int32_t lastLogLength_ = 0;
};

// The libraries stay loaded for the whole suite, as a host keeps them.
inline corvane::host::LoadedPlugin& FrameworkLibrary() {
  static corvane::host::LoadedPlugin library(frameworkLibraryPath());
  return library;
}
inline corvane::host::LoadedPlugin& TestModule() {
  static corvane::host::LoadedPlugin library(testModulePath());
  return library;
}

}  // namespace integration
