#include "script_host_support.h"

#include <algorithm>
#include <mutex>

#include "common/params_list_interfaces.h"
#include "platform/code_page.h"

namespace script_host_testing {

namespace {
std::mutex sentLock;

std::string variantText(const corvane::platform::Variant& value) {
  if (value.vt == corvane::platform::vtEmpty) return "<empty>";
  if (value.vt == corvane::platform::vtNull) return "<null>";
  try {
    return TextOf(OleVariant::copyOf(value).changedTo(corvane::platform::vtBstr));
  } catch (const std::exception&) {
    return "<vt " + std::to_string(value.vt) + ">";
  }
}
}  // namespace

std::vector<Sent>& SentToHost() {
  static std::vector<Sent> sent;
  return sent;
}
std::function<void(const Sent&)> OnHostCall;

std::vector<LogLine> ParseLog(const std::string& drained) {
  std::vector<LogLine> lines;
  size_t start = 0;
  for (size_t end; (end = drained.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = drained.substr(start, end - start);
    if (line.empty()) continue;
    const int kind = (static_cast<unsigned char>(line[0]) & 0x7F) - 1;
    std::string text = line.substr(1);
    if (text.rfind("Corvane. ", 0) == 0) text = text.substr(9);
    lines.push_back({kind, text});
  }
  return lines;
}

std::vector<std::string> ListTexts(corvane::TkivParamsList& list) {
  std::vector<std::string> texts;
  for (int32_t i = 0; i < list.Count(); ++i) {
    corvane::TkivParamsListItem* item = list.Items(i);
    texts.push_back(item->Name().str() + "=" + variantText(item->ValueRef()));
  }
  return texts;
}

ScriptInstance::ScriptInstance(const corvane::platform::testing::ScratchFolder& folder, const std::string& name)
    : instance_(Product()), scriptPath_(folder / (name + ".py")), settingsPath_(folder / (name + ".ini")) {}

ScriptInstance::~ScriptInstance() {
  if (loaded_) Unload();
}

void ScriptInstance::Configure(const std::string& script, const std::string* runtime) {
  std::ofstream(scriptPath_, std::ios::binary) << script;
  std::ofstream(settingsPath_, std::ios::binary)
      << "[Common]\r\nScript file=\"" << scriptPath_ << "\"\r\nPython DLL=" << (runtime ? *runtime : RuntimeLibrary())
      << "\r\n";
}

int32_t ScriptInstance::Load() {
  const auto self = reinterpret_cast<uintptr_t>(corvane::platform::moduleHandleByName(""));
  loaded_ = true;
  return instance_.Command("LOAD", {{"INI-FILE", Text(settingsPath_)}, {"HANDLE", OleVariant::fromI8(static_cast<int64_t>(self))}});
}

int32_t ScriptInstance::ReloadSettings() {
  return instance_.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Text(settingsPath_)}, {"NO-SAVE", OleVariant::fromI4(1)}});
}

std::vector<std::string> ScriptInstance::LogTexts() {
  std::vector<std::string> texts;
  for (const LogLine& line : Log()) texts.push_back(line.Text);
  return texts;
}

int32_t ScriptInstance::Parse(const std::string& bytes, uint32_t clientId, std::vector<std::string>* output,
                              std::string* parseText, uint8_t roles) {
  HostList params(instance_.Form());
  params.Add("PACKET-PARAM", Text("p"));
  HostList results(instance_.Form());
  TPluginCallRecord record = instance_.Record();
  record.Params = params.Params();
  record.RoleFlags = roles;
  record.DataSourceId = 7;
  record.ClientId = clientId;
  record.InputItem = SharedBlock(bytes);
  record.OutputItem = results.Item();
  const int32_t result = instance_.Plugin().ProcessData(&record);
  if (parseText != nullptr) *parseText = BlockText(record.InputItem);
  FreeBlock(record.InputItem);
  if (output != nullptr) *output = ListTexts(results.List());
  return result;
}

int32_t ScriptInstance::Packet(uint8_t roles, const std::vector<std::pair<std::string, OleVariant>>& data,
                               std::vector<std::string>* output, corvane::TPluginDataItem* outputItem, bool withData) {
  HostList params(instance_.Form());
  HostList input(instance_.Form());
  for (const auto& [name, value] : data) input.Add(name, value);
  HostList results(instance_.Form());
  TPluginCallRecord record = instance_.Record();
  record.Params = params.Params();
  record.RoleFlags = roles;
  record.DataSourceId = 7;
  record.ClientId = 1;
  record.InputItem = withData ? input.Item() : SharedBlock("raw");
  record.OutputItem = results.Item();
  const int32_t result = instance_.Plugin().ProcessData(&record);
  if (!withData) FreeBlock(record.InputItem);
  if (output != nullptr) *output = ListTexts(results.List());
  if (outputItem != nullptr) *outputItem = record.OutputItem;
  return result;
}

int32_t ScriptInstance::Event(const std::string& name, const std::vector<std::pair<std::string, OleVariant>>& params,
                              OleVariant* answer) {
  std::vector<std::pair<std::string, OleVariant>> values = {{"EVENT-TYPE", Text(name)}};
  values.insert(values.end(), params.begin(), params.end());
  return instance_.Command("EVENT", values, answer);
}

bool AnyStartsWith(const std::vector<std::string>& texts, const std::string& prefix) {
  return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
}

}  // namespace script_host_testing

using script_host_testing::Sent;

// Exported from the suite's executable, as a host exports it.
extern "C" CV_EXPORT int32_t CV_STDCALL DataLogger_SendDataEx(uint32_t hostId, int32_t dataSourceId,
                                                              uint32_t clientId, int32_t, int32_t kind, void* data,
                                                              int32_t count) {
  Sent sent{hostId, dataSourceId, clientId, kind, {}, {}};
  if (kind == 7 && data != nullptr) {
    auto* list = static_cast<corvane::IkivParamsListA*>(data);
    for (int32_t i = 0; i < list->GetCount(); ++i) {
      corvane::IkivParamsListItemA* item = nullptr;
      if (corvane::platform::failed(list->GetItem(i, &item)) || item == nullptr) continue;
      corvane::platform::Variant value{};
      item->GetValue(&value);
      const char* name = item->GetName();
      sent.Event.emplace_back(name ? name : "", script_host_testing::variantText(value));
      corvane::platform::variantClear(&value);
      item->Release();
    }
  } else if (data != nullptr && count > 0) {
    sent.Bytes.assign(static_cast<const char*>(data), static_cast<size_t>(count));
  }
  {
    std::lock_guard guard(script_host_testing::sentLock);
    script_host_testing::SentToHost().push_back(sent);
  }
  if (script_host_testing::OnHostCall) script_host_testing::OnHostCall(sent);
  return 0;
}
