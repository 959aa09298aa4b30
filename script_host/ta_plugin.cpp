// TaPlugin: identity, loading and unloading, and the settings.
#include "script_host/ta_plugin.h"

#include <cstdio>
#include <cstring>
#include <zlib.h>

#include "bindings/gil.h"
#include "config/settings_proxy.h"
#include "platform/files.h"
#include "platform/os_error.h"

namespace corvane {

namespace {

// The file's lines (split at CR LF, LF or CR) joined with CR LF.
std::string readScriptText(const std::string& path) {
  const std::string content = platform::readFile(path);
  std::string text;
  text.reserve(content.size() + content.size() / 16);
  bool firstLine = true;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    const size_t lineEnd = end == std::string::npos ? content.size() : end;
    if (!firstLine) text += "\r\n";
    text.append(content, start, lineEnd - start);
    firstLine = false;
    if (end == std::string::npos) break;
    start = end + (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n' ? 2 : 1);
  }
  return text;
}

}  // namespace

std::string StripQuotes(std::string text) {
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

std::string SystemErrorText(uint32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%.8X", code);
  std::string text = buffer;
  const std::string message = platform::systemErrorMessage(code);
  if (!message.empty()) text += " - " + message;
  return text;
}

TSourceDescriptor SourceDescriptorOf(const TPluginCallRecord& record) {
  TSourceDescriptor descriptor{};
  const uint32_t fields[3] = {record.HostId, static_cast<uint32_t>(record.DataSourceId), record.ClientId};
  for (size_t i = 0; i < 3; ++i) {
    for (size_t b = 0; b < 4; ++b) descriptor[i * 4 + b] = static_cast<uint8_t>(fields[i] >> (8 * b));
  }
  return descriptor;
}

uint32_t ConfigurationHash(std::string_view runtimePath, std::string_view script) {
  // The CRC-32 started at all ones and not inverted at the end: the
  // complement of the standard CRC-32 of the joined text.
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto add = [&](std::string_view part) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
  };
  add(runtimePath);
  add("||");
  add(script);
  return ~static_cast<uint32_t>(crc);
}

const TClassInfo& TaPlugin::StaticClassInfo() {
  static const TClassInfo info{"TaPlugin", &TkivPlugin::StaticClassInfo(), {}};
  return info;
}

const char* TaPlugin::EntryFunctionName(TEntryFunction function) {
  static const char* const names[efCount] = {"FilterData", "ExportData", "ParseData", "QueryData", "EventData"};
  return names[function];
}

TaPlugin::TaPlugin(uintptr_t moduleDllHandle, const TPluginCreation* creation)
    : TkivPlugin(moduleDllHandle, creation), properties_(&TComponent::CreateOwned<TkivStrHolder>(*this)) {
  // Its tag, capacity and lines come from the module's form resource.
  properties_->SetName("Properties");
  OnCreate = [this](TkivPlugin&) { kivPluginCreate(); };
}

TaPlugin::~TaPlugin() {
  std::lock_guard lock(ScriptLock());
  StopEngine();
  TkivTimerEx::FreeTimer(clientTimer_);
  clients_.reset();
}

void TaPlugin::kivPluginCreate() {
  SetModuleVersion(5.0f);
  SetDescription("Corvane");
  SetLogTitle("Corvane");
  SetModuleType(RoleBit(mrQuery) | RoleBit(mrParser) | RoleBit(mrExport) | RoleBit(mrFilter));
  SetInfoFlag(1);
  OnLoad = [this](TkivPlugin&, TPluginCallRecord* record, int32_t& result) { kivPluginLoad(record, result); };
  OnUnload = [this](TkivPlugin&, TPluginCallRecord* record, int32_t& result) { kivPluginUnload(record, result); };
  OnLoadSettingsNow = [this](TkivPlugin&) { kivPluginLoadSettingsNow(); };
  OnSaveSettingsNow = [this](TkivPlugin&) { kivPluginSaveSettingsNow(); };
  OnShowOptionsDialog = [this](TkivPlugin&, TPluginCallRecord* record, int32_t& result) {
    kivPluginShowOptionsDialog(record, result);
  };
  OnEvent = [this](TkivPlugin&, const std::string& event, TPluginCallRecord* record, int32_t& result) {
    kivPluginEvent(event, record, result);
  };
  OnProcessData = [this](TkivPlugin&, TPluginCallRecord* record, int32_t& result) {
    kivPluginProcessData(record, result);
  };
  OnLogDrain = [this](TkivPlugin&) { FlushScriptOutput(); };
  configurationHash_ = 0;
  // The message set stays as written: it is tagged for custom translation,
  // and the module gives it no handler for that.
  TranslateComponent(texts_);
}

void TaPlugin::kivPluginLoad(TPluginCallRecord*, int32_t&) {
  std::lock_guard lock(ScriptLock());
  {
    // The script state is also read by threads the script started.
    if (engine_ && engine_->Initialized()) {
      py::TGilAcquire gil(*engine_);
      state_.Source = {};
    } else {
      state_.Source = {};
    }
  }
  if (!clients_) clients_ = std::make_unique<TCustomParserClientList>();
  if (!clientTimer_) {
    clientTimer_ = std::make_unique<TkivTimerEx>();
    clientTimer_->SetEnabled(false);
    clientTimer_->SetInterval(SweepIntervalMs);
    clientTimer_->SetReleaseWait(ReleaseWaitMs);
    clientTimer_->SetOnTimer([this](TkivTimerEx&) { Sweep(); });
  }
  if (config_ == nullptr) {
    config_ = &TDataSourceCfg::Create(*this);
    config_->Items = properties_->Strings;
    config_->OnApply = [this](TDataSourceCfg& config) { ApplySettings(config); };
  }
  config_->LoadSettings();
  StartEngine();
}

void TaPlugin::kivPluginUnload(TPluginCallRecord*, int32_t&) {
  std::lock_guard lock(ScriptLock());
  if (callDepth_ > 0) throw Exception("The script cannot be unloaded from inside one of its own calls");
  StopEngine();
  delete config_;
  config_ = nullptr;
  TkivTimerEx::FreeTimer(clientTimer_);
  clients_.reset();
}

void TaPlugin::kivPluginLoadSettingsNow() {
  std::lock_guard lock(ScriptLock());
  if (config_ != nullptr) config_->LoadSettings();
}

void TaPlugin::kivPluginSaveSettingsNow() {
  std::lock_guard lock(ScriptLock());
  if (config_ != nullptr) config_->SaveSettings();
}

void TaPlugin::kivPluginShowOptionsDialog(TPluginCallRecord*, int32_t& result) { result = 1; }

uint32_t TaPlugin::StoredConfigurationHash() const {
  std::lock_guard lock(ScriptLock());
  return configurationHash_;
}

std::string TaPlugin::DllOption() const { return config_ != nullptr ? StripQuotes(config_->edtPyDLL_Text) : std::string(); }

void TaPlugin::ApplySettings(TDataSourceCfg& config) {
  // Runs with the script lock held (load, or a settings reload).
  const std::string path = StripQuotes(config.edtFile_Text);
  if (!platform::fileExists(path)) {
    AddLog(lkError, SystemErrorText(platform::kErrorFileNotFound) + ": " + path);
    return;
  }
  std::string script;
  try {
    script = readScriptText(path);
  } catch (...) {
    AddLog(lkError, SystemErrorText(11) + ": " + path);
    return;
  }
  scriptText_ = std::move(script);
  const uint32_t hash = ConfigurationHash(StripQuotes(config.edtPyDLL_Text), scriptText_);
  if (hash == configurationHash_) return;
  if (engine_ && callDepth_ > 0) {
    // The interpreter cannot end under the script's own frames; the hash
    // stays, so the next reload restarts it.
    AddLog(lkError, "The script cannot be restarted from inside one of its own calls");
    return;
  }
  configurationHash_ = hash;
  if (engine_) {
    StopEngine();
    StartEngine();
  }
}

}  // namespace corvane
