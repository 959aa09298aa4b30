// The host's view of a loaded plug-in library: its eight entry points,
// resolved by name.
#pragma once

#include <string>

#include "platform/abi.h"
#include "platform/dynamic_library.h"
#include "plugin/call_record.h"

namespace corvane::host {

class LoadedPlugin {
  // First, so that it is loaded before the entry points are resolved.
  platform::DynamicLibrary library_;

 public:
  explicit LoadedPlugin(const std::string& path);

  using RecordCall = int32_t(CV_STDCALL*)(TPluginCallRecord*);
  using RecordProcedure = void(CV_STDCALL*)(TPluginCallRecord*);
  using ModuleInfoCall = uint8_t(CV_STDCALL*)(TPluginCallRecord*, void*, uint32_t*);

  RecordCall CreatePluginInstance;
  RecordCall FreePluginInstance;
  ModuleInfoCall GetModuleInfo;
  RecordCall GetLogEx;
  RecordProcedure GetOptionsDialog;
  RecordProcedure ShowOptionsDialog;
  RecordCall ExecutePluginCommand;
  RecordCall ProcessData;

 private:
  void* Entry(const char* name) const;
};

}  // namespace corvane::host
