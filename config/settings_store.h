// TWreg: copies a fixed list of property values of an object to persistent
// storage and back. The storage is a registry key or a section of an INI
// file, chosen anew for every operation; the list of what to store is a list
// of item lines (see settings_text.h), each naming a property path and the
// name the value is stored under. A store is made for one operation by one
// thread and keeps nothing between operations.
//
// Which storage an operation uses:
// - INIFile "$CUSTOM$": the custom storage of the virtual operations below
//   (which here store nothing and find nothing);
// - a non-empty INIFile that exists, or any non-empty INIFile when saving:
//   the INI file, under a system-wide lock named after its path, read before
//   the first item and written back after the last only when something
//   changed;
// - otherwise the registry: RegistryPath below RegistryRoot when the user may
//   read and write it there (saving creates it), else below
//   SecondRegistryRoot, else nothing is read or written.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/component.h"
#include "config/settings_text.h"
#include "platform/ole_variant.h"

namespace corvane {

class TkivParamsList;

enum TRegistryRoot : uint8_t {
  rrHKEY_CLASSES_ROOT = 0,
  rrHKEY_CURRENT_USER = 1,
  rrHKEY_LOCAL_MACHINE = 2,
  rrHKEY_USERS = 3,
  rrHKEY_CURRENT_CONFIG = 4,
  rrNone = 5,
};

enum class TSettingsMode : uint8_t { None, Load, Save };

// A value as a storage keeps it: a number, a floating-point number or text.
struct TStoredValue {
  enum class Type : uint8_t { Integer, Float, Text } Kind = Type::Text;
  int64_t Integer = 0;
  double Float = 0;
  std::string Text;
};

class TWreg : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  static constexpr std::string_view CustomStorage = "$CUSTOM$";
  static constexpr std::string_view DefaultRegistryPath = "\\Software\\Company name\\App name";

  // Name: the resolved property name (for items without a property, the
  // path's last part, or the whole path with "_" for a proxy or a list);
  // Index: the item's line in Components.
  using TSetValueProc = std::function<void(TWreg& sender, const std::string& name, int32_t index,
                                           const platform::OleVariant& value)>;
  using TGetValueProc = std::function<void(TWreg& sender, const std::string& name, int32_t index,
                                           platform::OleVariant& value)>;
  // ItemType: the property's kind, none for an item without a property; for
  // such an item it selects the encoding of the stored value (text when none).
  using TBeforeProcessItemProc =
      std::function<void(TWreg& sender, const std::string& name, int32_t index, bool& isRequireProcessing,
                         bool& isVirtual, std::optional<TPropertyKind>& itemType)>;

  explicit TWreg(TComponent* owner = nullptr);

  TRegistryRoot RegistryRoot = rrHKEY_LOCAL_MACHINE;
  TRegistryRoot SecondRegistryRoot = rrHKEY_CURRENT_USER;
  std::string RegistryPath{DefaultRegistryPath};
  std::string INIFile;
  std::string INIFileSectionPrefix;
  std::vector<std::string> Components;
  TSetValueProc SetValue;
  TGetValueProc GetValue;
  TBeforeProcessItemProc BeforeProcessItem;

  // True when at least one value was found. items, when given, replace
  // Components for this one call.
  bool Load(TPersistent& root, const std::vector<std::string>* items = nullptr);
  bool Load(TkivParamsList& root, const std::vector<std::string>* items = nullptr);
  // True when at least one item was processed, and false as well when the
  // INI file could not be read or written back.
  bool Save(TPersistent& root);
  bool Save(TkivParamsList& root);

  // The root the last registry operation used; rrNone before one chose.
  TRegistryRoot RootInUse() const { return rootInUse_; }
  bool Busy() const { return busy_; }
  TSettingsMode Mode() const { return mode_; }

 protected:
  virtual void DoSetValue(const std::string& name, int32_t index, const platform::OleVariant& value);
  virtual void DoGetValue(const std::string& name, int32_t index, platform::OleVariant& value);
  // The "$CUSTOM$" storage: writes nothing and finds nothing.
  virtual void CustomWriteValue(const TSettingsItem& item, int32_t index, const TStoredValue& value);
  virtual bool CustomReadValue(const TSettingsItem& item, int32_t index, TStoredValue::Type type,
                               TStoredValue& value);
  virtual void DoBeforeProcessItem(const std::string& name, int32_t index, bool& isRequireProcessing,
                                   bool& isVirtual, std::optional<TPropertyKind>& itemType);

 private:
  struct Root;
  class Storage;
  class RegistryStorage;
  class IniStorage;
  class CustomStorageAdapter;
  friend class CustomStorageAdapter;

  bool Run(TSettingsMode mode, const Root& root, const std::vector<std::string>& items);
  bool ProcessItems(TSettingsMode mode, const Root& root, const std::vector<std::string>& items, Storage& storage);

  TRegistryRoot rootInUse_ = rrNone;
  TSettingsMode mode_ = TSettingsMode::None;
  bool busy_ = false;
};

}  // namespace corvane
