#include "host/script_run.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "common/params_list.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "platform/ole_variant.h"
#include "platform/shared_memory.h"

namespace corvane::host {

namespace {

platform::OleVariant text(const std::string& value) { return platform::OleVariant::fromString(platform::ansiToWide(value)); }

std::string shown(const platform::Variant& value) {
  if (value.vt == platform::vtEmpty) return "<empty>";
  if (value.vt == platform::vtNull) return "<null>";
  platform::Variant converted{};
  if (platform::failed(platform::variantChangeType(&converted, &value, 0, platform::vtBstr))) {
    return "<type " + std::to_string(value.vt) + ">";
  }
  std::string result = platform::wideToAnsi(converted.bstrVal ? std::u16string_view(converted.bstrVal) : u"");
  platform::variantClear(&converted);
  return result;
}

int32_t command(LoadedPlugin& plugin, TPluginCallRecord& instance, const std::string& name,
                const std::vector<std::pair<std::string, platform::OleVariant>>& values) {
  auto list = TkivParamsList::Create();
  list->AddItem("COMMAND", text(name).raw());
  for (const auto& [key, value] : values) list->AddItem(key, value.raw());
  TPluginCallRecord record = instance;
  record.Params = reinterpret_cast<uintptr_t>(list.get());
  return plugin.ExecutePluginCommand(&record);
}

// The whole input: the named files one after another, or standard input.
std::string readInput(const std::vector<std::string>& files) {
  std::ostringstream input;
  if (files.empty()) {
    input << std::cin.rdbuf();
  } else {
    for (const std::string& file : files) input << platform::readFile(file);
  }
  return input.str();
}

}  // namespace

int RunScript(LoadedPlugin& plugin, TPluginCallRecord& instance, const std::vector<std::string>& arguments,
              const std::function<void()>& printLog) {
  std::string script;
  std::string runtime;
  std::vector<std::string> inputs;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--python" && i + 1 < arguments.size()) {
      runtime = arguments[++i];
    } else if (script.empty()) {
      script = arguments[i];
    } else {
      inputs.push_back(arguments[i]);
    }
  }
  if (script.empty()) {
    std::fprintf(stderr, "usage: corvane-host run SCRIPT [INPUT...] [--python PATH]\n");
    return 1;
  }
  // The settings the options dialog would have stored, in a file of their own.
  const std::string settings =
      platform::tempDirectory() + "corvane-run-" + platform::guidToString(platform::createGuid()).substr(1, 36) + ".ini";
  platform::writeFileAtomic(settings, "[Common]\r\nScript file=" + script + "\r\nPython DLL=" + runtime + "\r\n");
  const auto self = reinterpret_cast<uintptr_t>(platform::moduleHandleByName(""));
  const int32_t loaded = command(plugin, instance, "LOAD",
                                 {{"INI-FILE", text(settings)}, {"HANDLE", platform::OleVariant::fromI8(static_cast<int64_t>(self))}});
  platform::deleteFile(settings);
  std::printf("LOAD -> %d\n", loaded);
  printLog();
  if (loaded != 0) return 2;

  const std::string input = readInput(inputs);
  int packet = 0;
  int failures = 0;
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find('\n', start);
    end = end == std::string::npos ? input.size() : end + 1;
    const std::string bytes = input.substr(start, end - start);
    start = end;

    auto params = TkivParamsList::Create();
    auto output = TkivParamsList::Create();
    TPluginCallRecord record = instance;
    record.Params = reinterpret_cast<uintptr_t>(params.get());
    record.RoleFlags = 0x02;
    record.ClientId = 1;
    void* block = platform::sharedAlloc(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    record.InputItem = {0, static_cast<int32_t>(bytes.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
    record.OutputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(output.get())};
    const int32_t result = plugin.ProcessData(&record);
    if (result < 0) ++failures;
    std::printf("packet %d -> %d\n", ++packet, result);
    for (int32_t i = 0; i < output->Count(); ++i) {
      const TkivParamsListItem* item = output->Items(i);
      std::printf("  %s = %s\n", item->Name().str().c_str(), shown(item->ValueRef()).c_str());
    }
    if (record.InputItem.Pointer != 0) platform::sharedFree(reinterpret_cast<void*>(record.InputItem.Pointer));
    printLog();
  }
  std::printf("UNLOAD -> %d\n", command(plugin, instance, "UNLOAD", {}));
  printLog();
  return failures == 0 ? 0 : 2;
}

}  // namespace corvane::host
