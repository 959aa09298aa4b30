// corvane-host: a stand-alone host for the plug-in library. It loads the
// library, creates an instance, prints its module information, runs the
// commands given on the command line, and prints the instance's log and
// whatever the instance sends back through DataLogger_SendDataEx.
//
//   corvane-host [--library PATH] [COMMAND[,NAME=VALUE...]]...
//   corvane-host [--library PATH] run SCRIPT [INPUT...] [options]
//   corvane-host [--library PATH] dialog
//
// Example: corvane-host LOAD GET-MODULE-PARAMETER,PARAM=ModulePath UNLOAD
// The second form is the script bench: it runs a script over recorded input
// and prints what the script delivered for each packet (see RunUsage). The
// third prints the options dialog the instance hands to a host.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/params_list.h"
#include "host/log_drain.h"
#include "host/plugin_library.h"
#include "host/dialog_view.h"
#include "host/run_options.h"
#include "host/script_run.h"
#include "platform/abi.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "plugin/call_record.h"

using namespace corvane;

namespace {

constexpr uint32_t kHostId = 1;
constexpr uint32_t kLogPending = 0x0711;

host::LoadedPlugin* plugin = nullptr;
TPluginCallRecord* instance = nullptr;

void printLog() {
  for (const host::LogLine& line : host::DrainLog(*plugin, *instance)) {
    std::printf("log %s: %s\n", host::LogKindName(line.Kind), line.Text.c_str());
  }
}

intptr_t hostWindowProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kLogPending && plugin != nullptr && instance != nullptr) {
    printLog();
    return 0;
  }
  return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

std::string describe(const platform::Variant& value) {
  platform::Variant converted{};
  if (platform::failed(platform::variantChangeType(&converted, &value, platform::kVariantAlphaBool, platform::vtBstr))) {
    return "<type " + std::to_string(value.vt) + ">";
  }
  std::string text = platform::wideToAnsi(converted.bstrVal ? std::u16string_view(converted.bstrVal) : u"");
  platform::variantClear(&converted);
  return text;
}

void printModuleInformation() {
  uint32_t size = 0;
  plugin->GetModuleInfo(instance, nullptr, &size);
  std::vector<uint64_t> storage(size / 8 + 2);
  auto* info = reinterpret_cast<ModuleInfoRecord*>(storage.data());
  info->BufferSize = size;
  if (!plugin->GetModuleInfo(instance, info, &size)) {
    std::printf("module information: unavailable\n");
    return;
  }
  const auto textAt = [](uintptr_t address, uint32_t length) {
    return address ? std::string(reinterpret_cast<const char*>(address), length) : std::string();
  };
  std::printf("module: %s\n", textAt(info->DescriptionAddress, info->DescriptionLength).c_str());
  std::printf("version: %g (interface %u)\n", static_cast<double>(info->ModuleVersion), info->InterfaceVersion & 0xFFFF);
  std::printf("roles: 0x%02X, options: 0x%X, info flag: %u\n", info->Flags & 0xFF, (info->Flags >> 16) & 7,
              info->InfoFlag);
  const std::string commands = textAt(info->CommandsAddress, info->CommandsLength);
  if (!commands.empty()) std::printf("custom commands:\n%s", commands.c_str());
}

int runCommand(const std::string& argument, platform::WindowHandle window) {
  auto list = TkivParamsList::Create();
  size_t comma = argument.find(',');
  const std::string command = argument.substr(0, comma);
  list->AddItem("COMMAND", platform::OleVariant::fromString(platform::ansiToWide(command)).raw());
  list->AddItem("MSG-PROC-HANDLE", platform::OleVariant::fromI8(static_cast<int64_t>(reinterpret_cast<uintptr_t>(window))).raw());
  if (command == "LOAD") {
    const auto self = reinterpret_cast<uintptr_t>(platform::moduleHandleByName(""));
    list->AddItem("HANDLE", platform::OleVariant::fromI8(static_cast<int64_t>(self)).raw());
  }
  while (comma != std::string::npos) {
    const size_t next = argument.find(',', comma + 1);
    const std::string pair = argument.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
    const size_t equals = pair.find('=');
    list->AddItem(pair.substr(0, equals),
                  platform::OleVariant::fromString(platform::ansiToWide(equals == std::string::npos ? "" : pair.substr(equals + 1))).raw());
    comma = next;
  }
  if (list->ItemIndexByName("RESULT") < 0) list->AddItem("RESULT", platform::OleVariant::null().raw());
  instance->Params = reinterpret_cast<uintptr_t>(list.get());
  const int32_t result = plugin->ExecutePluginCommand(instance);
  instance->Params = 0;
  std::printf("%s -> %d, RESULT = %s\n", command.c_str(), result, describe(list->ItemValueByName("RESULT").raw()).c_str());
  platform::pumpMessages();
  return result;
}

std::string defaultLibrary() {
  const bool windows = platform::pathDelimiter() == '\\';
  return platform::executableDirectory() + ".." + platform::pathDelimiter() + "script_host" + platform::pathDelimiter() +
         (windows ? "corvane.dll" : "corvane.so");
}

}  // namespace

int main(int argc, char** argv) {
  std::string libraryPath = defaultLibrary();
  std::vector<std::string> commands;
  bool runMode = false;
  bool dialogMode = false;
  for (int i = 1; i < argc; ++i) {
    if (runMode) {
      commands.emplace_back(argv[i]);
    } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      libraryPath = argv[++i];
    } else if (std::strcmp(argv[i], "run") == 0 && commands.empty()) {
      runMode = true;
    } else if (std::strcmp(argv[i], "dialog") == 0 && commands.empty()) {
      dialogMode = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: corvane-host [--library PATH] [COMMAND[,NAME=VALUE...]]...\n"
                  "       corvane-host [--library PATH] run SCRIPT [INPUT...] [options]\n"
                  "       corvane-host [--library PATH] dialog\n\n%s",
                  host::RunUsage);
      return 0;
    } else {
      commands.emplace_back(argv[i]);
    }
  }
  try {
    host::LoadedPlugin loaded(libraryPath);
    plugin = &loaded;
    if (!runMode) std::printf("library: %s\n", libraryPath.c_str());
    TPluginCallRecord record;
    std::memset(&record, 0, sizeof record);
    record.RecordSize = CallRecordSize;
    record.HostId = kHostId;
    if (loaded.CreatePluginInstance(&record) != 0) {
      std::fprintf(stderr, "corvane-host: the library refused to create an instance\n");
      return 1;
    }
    instance = &record;
    platform::WindowHandle window = platform::createMessageWindow(&hostWindowProcedure, nullptr);
    if (!runMode) printModuleInformation();
    int failures = 0;
    int runResult = 0;
    if (dialogMode) {
      runResult = host::ShowDialog(loaded, record);
    } else if (runMode) {
      runResult = host::RunScript(loaded, record, commands);
    } else {
      for (const auto& command : commands) failures += runCommand(command, window) < -2 ? 1 : 0;
    }
    platform::pumpMessages();
    if (!runMode) printLog();
    loaded.FreePluginInstance(&record);
    instance = nullptr;
    platform::destroyWindow(window);
    plugin = nullptr;
    if (runMode || dialogMode) return runResult;
    return failures == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvane-host: %s\n", e.what());
    return 1;
  }
}
