#include "host/plugin_library.h"

#include <stdexcept>

namespace corvane::host {

LoadedPlugin::LoadedPlugin(const std::string& path)
    : library_(path),
      CreatePluginInstance(reinterpret_cast<RecordCall>(Entry("CreatePluginInstance"))),
      FreePluginInstance(reinterpret_cast<RecordCall>(Entry("FreePluginInstance"))),
      GetModuleInfo(reinterpret_cast<ModuleInfoCall>(Entry("GetModuleInfo"))),
      GetLogEx(reinterpret_cast<RecordCall>(Entry("GetLogEx"))),
      GetOptionsDialog(reinterpret_cast<RecordProcedure>(Entry("GetOptionsDialog"))),
      ShowOptionsDialog(reinterpret_cast<RecordProcedure>(Entry("ShowOptionsDialog"))),
      ExecutePluginCommand(reinterpret_cast<RecordCall>(Entry("ExecutePluginCommand"))),
      ProcessData(reinterpret_cast<RecordCall>(Entry("ProcessData"))) {}

void* LoadedPlugin::Entry(const char* name) const {
  void* entry = library_.symbol(name);
  if (entry == nullptr) throw std::runtime_error(std::string("the library has no entry point ") + name);
  return entry;
}

}  // namespace corvane::host
