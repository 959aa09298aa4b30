// The module object: creation, destruction, class information and the
// fields that need more than an accessor.
#include "plugin/plugin_module.h"

#include <zlib.h>

#include <charconv>
#include <mutex>

#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/interlocked.h"
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
  // The translator is created here once the translation component exists.

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

  // Language set-up: the language file list and the module's own language
  // come from the translator; until it is created the module stays in
  // English. The names are kept for it all the same.
  currentLanguage_ = "EN";
  translatorPropertyNames_ = {"CAPTION",   "HINT",          "TEXT", "TITLE", "CAPTIONS", "MsgNoData",
                              "MsgWriteComplete", "MsgWriteCompleteError"};
}

void TkivPlugin::AfterConstruction() {
  // The form resource (owned components, streamed properties) and the first
  // translation run here once the resource reader and the translator exist.
  OnCreate.Raise(*this);
}

TkivPlugin::~TkivPlugin() {
  closing_ = true;  // AddLog is a no-op from here on
  itemsText_.clear();
  parserItems_.Clear();
  dataSources_.clear();
  dataSourceLoadFor_.clear();
  // The translator goes here.
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
