// The module object: creation, destruction, class information and the
// fields that need more than an accessor.
#include "plugin/plugin_module.h"

#include <zlib.h>

#include <charconv>
#include <mutex>

#include "common/form_loader.h"
#include "common/form_stream.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/interlocked.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_values.h"

namespace corvane {
namespace {

// An address inside this library, to find the library's own file.
const char libraryAnchor = 0;

}  // namespace

const TClassInfo& TkivPlugin::StaticClassInfo() {
  // The published messages, streamed from the form resource and translated.
  static const TClassInfo info{
      "TkivPlugin",
      &TComponent::StaticClassInfo(),
      {
          {"MsgNoData", TPropertyKind::String, FieldGetter(&TkivPlugin::msgNoData_),
           FieldSetter(&TkivPlugin::msgNoData_), {}},
          {"MsgWriteComplete", TPropertyKind::String, FieldGetter(&TkivPlugin::msgWriteComplete_),
           FieldSetter(&TkivPlugin::msgWriteComplete_), {}},
          {"MsgWriteCompleteError", TPropertyKind::String, FieldGetter(&TkivPlugin::msgWriteCompleteError_),
           FieldSetter(&TkivPlugin::msgWriteCompleteError_), {}},
      }};
  return info;
}

TkivPlugin::TkivPlugin(uintptr_t moduleDllHandle, const TPluginCreation* creation)
    : TComponent(nullptr), moduleDllHandle_(moduleDllHandle) {
  translator_ = std::make_unique<TWtransl>();
  translator_->OnWarning = [this](const std::string& message) { AddLog(lkWarning, message); };

  if (creation != nullptr) {
    isTemporaryLoad_ = creation->Params == nullptr;
    if (creation->Params != nullptr) {
      int32_t index = -1;
      if (platform::succeeded(creation->Params->ItemIndexByName("TEMPORARY-LOAD", 0, -1, &index)) && index >= 0) {
        platform::OleVariant value;
        if (platform::succeeded(creation->Params->ItemValueByName("TEMPORARY-LOAD", 0, -1, value.get()))) {
          if (std::optional<bool> flag = BoolOf(value.raw())) isTemporaryLoad_ = *flag;
        }
      }
    }
  }

  customCommands_ = std::make_unique<TkivPluginCustomCmdList>();
  log_ = std::make_unique<TLogDataList>(DefaultLogLines);

  const std::string file = platform::moduleFileNameOfAddress(&libraryAnchor);
  size_t cut = file.size();
  while (cut > 0 && !platform::isPathDelimiter(file[cut - 1])) --cut;
  moduleName_ = file.substr(cut);
  modulePath_ = file.substr(0, cut);
  if (!modulePath_.empty()) modulePath_.back() = platform::pathDelimiter();
  if (std::optional<platform::FileVersion> version = platform::fileVersion(file)) {
    displayFullVersion_ = std::to_string((*version)[0]) + "." + std::to_string((*version)[1]) + "." +
                          std::to_string((*version)[2]) + "." + std::to_string((*version)[3]);
  }

  msgNoData_ = DefaultMsgNoData;
  msgWriteComplete_ = DefaultMsgWriteComplete;
  msgWriteCompleteError_ = DefaultMsgWriteCompleteError;

  // Language files: the host's "plugins.lng" beside its program, then the
  // module's own file beside the library. Without the module's own file
  // nothing is translated.
  std::string ownFile = moduleName_;
  if (const size_t dot = ownFile.rfind('.'); dot != std::string::npos) ownFile.erase(dot);
  ownFile = modulePath_ + ownFile + ".lng";
  translator_->LanguageFile = platform::executableDirectory() + "plugins.lng|" + ownFile;
  translator_->SetLanguage("EN");
  currentLanguage_ = "EN";
  if (platform::fileExists(ownFile)) {
    currentLanguage_ = translator_->DefaultLanguage();
  } else {
    translator_->LanguageFile.clear();
  }
  translator_->AddComponentProperties("MsgNoData;MsgWriteComplete;MsgWriteCompleteError");
}

void TkivPlugin::LoadFormResource() {
  // The module's form is a resource named after its class, when it has one.
  const std::optional<std::string_view> resource =
      platform::findModuleResource(&libraryAnchor, platform::ansiUpper(ClassName()));
  if (resource) LoadComponentFromForm(*this, ReadFormStream(*resource));
}

void TkivPlugin::AfterConstruction() {
  LoadFormResource();
  if (!translator_->LanguageFile.empty()) TranslateModule();
  OnCreate.Raise(*this);
}

void TkivPlugin::TranslateModule() {
  if (translated_ || translator_->LanguageFile.empty()) return;
  translated_ = true;
  const std::string target = currentLanguage_.empty() ? "NONE" : currentLanguage_;
  const std::string source = translatedLanguage_.empty() ? "EN" : translatedLanguage_;
  try {
    if (translator_->Translate(target, this, source)) translatedLanguage_ = target;
  } catch (const std::exception& e) {
    ReportException(this, "TRANSL", e);
  }
}

bool TkivPlugin::TranslateComponent(TComponent& component) {
  if (translator_->LanguageFile.empty()) return false;
  try {
    return translator_->Translate(currentLanguage_.empty() ? "NONE" : currentLanguage_, &component, "EN");
  } catch (const std::exception& e) {
    ReportException(this, "TRANSL", e);
    return false;
  }
}

void TkivPlugin::ApplyHostLanguage(const std::string& language) {
  if (language.empty() || language == currentLanguage_) return;
  currentLanguage_ = language;
  translated_ = false;
  TranslateModule();
  try {
    OnLanguageChanged.Raise(*this);
  } catch (const std::exception& e) {
    ReportException(this, "TRANSL", e);
  }
}

TkivPlugin::~TkivPlugin() {
  closing_ = true;  // AddLog is a no-op from here on
  itemsText_.clear();
  parserItems_.Clear();
  dataSources_.clear();
  dataSourceLoadFor_.clear();
  translator_.reset();
  customCommands_.reset();
  customParams_.reset();
  moduleConfigList_.reset();
  log_.reset();
  // The command lock and then the owned components go with the members and
  // the base class.
}

int32_t TkivPlugin::ModuleLoadCount() const { return platform::interlockedRead(moduleLoadCount_); }

int32_t TkivPlugin::IncrementLoadCount() { return platform::interlockedIncrement(moduleLoadCount_); }

int32_t TkivPlugin::DecrementLoadCount() {
  // A compare-and-swap loop, so that an UNLOAD without a LOAD leaves 0.
  int32_t current = platform::interlockedRead(moduleLoadCount_);
  while (current > 0) {
    const int32_t seen = platform::interlockedCompareExchange(moduleLoadCount_, current - 1, current);
    if (seen == current) return current - 1;
    current = seen;
  }
  return 0;
}

TkivThreadParamsList& TkivPlugin::CustomParams() {
  std::lock_guard lock(lazyLock_);
  if (!customParams_) customParams_ = std::make_unique<TkivThreadParamsList>();
  return *customParams_;
}

TModuleConfigList& TkivPlugin::ModuleConfigList() {
  std::lock_guard lock(lazyLock_);
  if (!moduleConfigList_) moduleConfigList_ = std::make_unique<TModuleConfigList>();
  return *moduleConfigList_;
}

int32_t TModuleConfigList::FindId(uint32_t id, std::string* text) {
  if (id == 0) return -1;
  StringListReadLock lock(*this);
  const TStringList& list = lock.List();
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (static_cast<uint32_t>(list.Objects(i)) == id) {
      if (text != nullptr) *text = list.Strings(i);
      return i;
    }
  }
  return -1;
}

uint8_t TkivPlugin::ModuleEnabled() const {
  uint8_t roles = 0;
  for (uint8_t bit = 0; bit < 8; ++bit) {
    if (roleEnabled_[bit]) roles |= static_cast<uint8_t>(1u << bit);
  }
  return roles;
}

int32_t TkivPlugin::DataSourceIdFromName(std::string_view name) {
  if (name.substr(0, 3) == "COM") {
    const std::string_view digits = name.substr(3);
    int32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    return number;
  }
  const std::string lower = platform::ansiLower(name);
  // The table-driven CRC-32 started at all ones and not inverted at the end,
  // i.e. the complement of the standard CRC-32.
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(lower.data()), static_cast<uInt>(lower.size()));
  return static_cast<int32_t>(~static_cast<uint32_t>(crc) & 0x7FFFFFFFu);
}

}  // namespace corvane
