#include "config/settings_store.h"

#include <charconv>
#include <cstring>
#include <memory>

#include "common/params_list.h"
#include "common/params_list_item.h"
#include "config/ini_file.h"
#include "config/settings_proxy.h"
#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/os_error.h"
#include "platform/registry.h"

namespace corvane {

using platform::OleVariant;

namespace {

constexpr std::string_view kNullText = "[[Null]]";
constexpr uint32_t kRegQword = 11;
constexpr int kIniLockSpins = 4000;

const std::vector<std::string>& rootIdentifiers() {
  static const std::vector<std::string> names = {"rrHKEY_CLASSES_ROOT", "rrHKEY_CURRENT_USER",
                                                 "rrHKEY_LOCAL_MACHINE", "rrHKEY_USERS",
                                                 "rrHKEY_CURRENT_CONFIG", "rrNone"};
  return names;
}

std::string joinedLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

// Lines split at CR LF, LF or CR, as a string list takes a whole text.
std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string replaceDots(std::string_view path) {
  std::string name(path);
  for (char& c : name) {
    if (c == '.') c = '_';
  }
  return name;
}

// The decimal separator of the process's number format.
char decimalSeparator() {
  static const char separator = [] {
    try {
      const OleVariant half = OleVariant::fromR8(0.5).changedTo(platform::vtBstr);
      const std::string text = platform::wideToAnsi(half.raw().bstrVal ? half.raw().bstrVal : u"");
      if (text.size() >= 2 && (text[1] == ',' || text[1] == '.')) return text[1];
    } catch (...) {
    }
    return '.';
  }();
  return separator;
}

std::string floatText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == '.') c = decimalSeparator();
  }
  return text;
}

// Either separator is read; unreadable text gives 0.
double floatOfText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string normal(text);
  for (char& c : normal) {
    if (c == ',') c = '.';
  }
  if (!normal.empty() && normal.front() == '+') normal.erase(0, 1);
  double value = 0;
  const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  return result.ec == std::errc() && result.ptr == normal.data() + normal.size() ? value : 0;
}

// Decimal, or hexadecimal after "0x"; unreadable text gives 0.
int64_t integerOfText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return 0;
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

std::string variantText(const platform::Variant& value) {
  OleVariant text = ToStoredValue(value).changedTo(platform::vtBstr, platform::kVariantAlphaBool);
  const platform::Bstr bstr = text.raw().bstrVal;
  return platform::wideToAnsi(std::u16string_view(bstr ? bstr : u"", platform::sysStringLen(bstr)));
}

OleVariant textVariant(std::string_view text) { return OleVariant::fromString(platform::ansiToWide(text)); }

TStoredValue::Type encodingOf(std::optional<TPropertyKind> kind) {
  if (kind == TPropertyKind::Integer || kind == TPropertyKind::Int64) return TStoredValue::Type::Integer;
  if (kind == TPropertyKind::Float) return TStoredValue::Type::Float;
  return TStoredValue::Type::Text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Storages

class TWreg::Storage {
 public:
  virtual ~Storage() = default;
  // Prepares for one item; false skips it.
  virtual bool Begin(const TSettingsItem& item, int32_t index) = 0;
  // nullopt when the value does not exist; throws when it exists in a form
  // the type cannot take.
  virtual std::optional<TStoredValue> Read(TStoredValue::Type type) = 0;
  virtual void Write(const TStoredValue& value) = 0;
  virtual void Delete() = 0;
  // Whether a value that cannot be read or assigned is deleted.
  virtual bool DeletesBadValues() const { return false; }
};

class TWreg::RegistryStorage : public Storage {
 public:
  RegistryStorage(TSettingsMode mode, platform::RegistryRoot root, std::string path)
      : mode_(mode), root_(root), path_(std::move(path)) {}

  bool Begin(const TSettingsItem& item, int32_t) override {
    name_ = item.ValueName;
    const std::string path = SettingsRegistryKey(path_, item);
    key_ = mode_ == TSettingsMode::Save ? platform::RegistryKey::create(root_, path)
                                        : platform::RegistryKey::open(root_, path, platform::RegistryAccess::ReadWrite);
    return key_.has_value();
  }

  std::optional<TStoredValue> Read(TStoredValue::Type type) override {
    std::optional<platform::RegistryValue> raw = key_->readValue(name_);
    if (!raw) return std::nullopt;
    const std::vector<uint8_t>& data = raw->data;
    TStoredValue value;
    value.Kind = type;
    switch (type) {
      case TStoredValue::Type::Integer:
        if (raw->type == platform::kRegDword && data.size() == 4) {
          int32_t number;
          std::memcpy(&number, data.data(), 4);
          value.Integer = number;
        } else if (raw->type == kRegQword && data.size() == 8) {
          std::memcpy(&value.Integer, data.data(), 8);
        } else {
          throw Exception("Registry value " + name_ + " is not a number");
        }
        return value;
      case TStoredValue::Type::Float:
        if (raw->type != platform::kRegBinary || data.size() != 8) {
          throw Exception("Registry value " + name_ + " is not a floating-point number");
        }
        std::memcpy(&value.Float, data.data(), 8);
        return value;
      case TStoredValue::Type::Text:
        if (raw->type == platform::kRegDword && data.size() == 4) {
          int32_t number;
          std::memcpy(&number, data.data(), 4);
          value.Text = std::to_string(number);
        } else if (raw->type == platform::kRegBinary) {
          if (data.size() != 8) throw Exception("Registry value " + name_ + " is not a floating-point number");
          double number;
          std::memcpy(&number, data.data(), 8);
          value.Text = floatText(number);
        } else {
          const auto* text = reinterpret_cast<const char*>(data.data());
          value.Text.assign(text, strnlen(text, data.size()));
        }
        return value;
    }
    return std::nullopt;
  }

  void Write(const TStoredValue& value) override {
    bool written = false;
    switch (value.Kind) {
      case TStoredValue::Type::Integer:
        if (value.Integer >= INT32_MIN && value.Integer <= INT32_MAX) {
          written = key_->writeDword(name_, static_cast<uint32_t>(static_cast<int32_t>(value.Integer)));
        } else {
          // A 64-bit value that a DWORD would cut keeps all its bits.
          written = key_->writeValue(name_, kRegQword, &value.Integer, 8);
        }
        break;
      case TStoredValue::Type::Float: written = key_->writeBinary(name_, &value.Float, 8); break;
      case TStoredValue::Type::Text: written = key_->writeString(name_, value.Text); break;
    }
    if (!written) throw platform::OsError("RegSetValueEx", name_, platform::lastErrorCode());
  }

  void Delete() override { key_->deleteValue(name_); }
  bool DeletesBadValues() const override { return true; }

 private:
  TSettingsMode mode_;
  platform::RegistryRoot root_;
  std::string path_;
  std::string name_;
  std::optional<platform::RegistryKey> key_;
};

class TWreg::IniStorage : public Storage {
 public:
  IniStorage(TIniFile& file, std::string prefix) : file_(file), prefix_(std::move(prefix)) {}

  bool Begin(const TSettingsItem& item, int32_t) override {
    section_ = SettingsIniSection(prefix_, item);
    key_ = item.ValueName;
    return true;
  }

  std::optional<TStoredValue> Read(TStoredValue::Type type) override {
    std::optional<std::string> text = file_.Read(section_, key_);
    if (!text) return std::nullopt;
    TStoredValue value;
    value.Kind = type;
    if (type == TStoredValue::Type::Integer) {
      value.Integer = integerOfText(*text);
    } else if (type == TStoredValue::Type::Float) {
      value.Float = floatOfText(*text);
    } else {
      value.Text = std::move(*text);
    }
    return value;
  }

  void Write(const TStoredValue& value) override {
    switch (value.Kind) {
      case TStoredValue::Type::Integer: file_.Write(section_, key_, std::to_string(value.Integer)); break;
      case TStoredValue::Type::Float: file_.Write(section_, key_, floatText(value.Float)); break;
      case TStoredValue::Type::Text: file_.Write(section_, key_, value.Text); break;
    }
  }

  void Delete() override { file_.Delete(section_, key_); }

 private:
  TIniFile& file_;
  std::string prefix_;
  std::string section_;
  std::string key_;
};

class TWreg::CustomStorageAdapter : public Storage {
 public:
  explicit CustomStorageAdapter(TWreg& owner) : owner_(owner) {}

  bool Begin(const TSettingsItem& item, int32_t index) override {
    item_ = item;
    index_ = index;
    return true;
  }
  std::optional<TStoredValue> Read(TStoredValue::Type type) override {
    TStoredValue value;
    value.Kind = type;
    if (!owner_.CustomReadValue(item_, index_, type, value)) return std::nullopt;
    return value;
  }
  void Write(const TStoredValue& value) override { owner_.CustomWriteValue(item_, index_, value); }
  void Delete() override { owner_.CustomWriteValue(item_, index_, TStoredValue{}); }

 private:
  TWreg& owner_;
  TSettingsItem item_;
  int32_t index_ = 0;
};

// ---------------------------------------------------------------------------
// Property paths

struct TWreg::Root {
  TPersistent* Object = nullptr;
  TkivParamsList* List = nullptr;
};

namespace {

struct Target {
  TPersistent* Object = nullptr;          // the object holding the property
  const TPropertyInfo* Property = nullptr;
  TkivParamsList* List = nullptr;         // a list item instead of a property
  std::string Name;
  std::optional<TPropertyKind> Kind;
  bool Found() const { return Property != nullptr || List != nullptr; }
};

TComponent* asComponent(TPersistent* object) {
  return object != nullptr && object->InheritsFrom(TComponent::StaticClassInfo()) ? static_cast<TComponent*>(object)
                                                                                  : nullptr;
}

std::vector<std::string> splitDots(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t dot = path.find('.', start);
    parts.emplace_back(path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

Target resolve(TPersistent* root, TkivParamsList* list, const std::string& path, TSettingsMode mode) {
  Target target;
  if (list != nullptr) {
    // Loading adds the items it finds; saving stores the items present.
    target.Name = replaceDots(path);
    if (mode == TSettingsMode::Load || list->ItemByName(target.Name) != nullptr) {
      target.List = list;
      target.Kind = TPropertyKind::Variant;
    }
    return target;
  }
  if (root->InheritsFrom(TProxyCodeCustomObject::StaticClassInfo())) {
    target.Name = replaceDots(path);
    if ((target.Property = root->FindProperty(target.Name)) != nullptr) {
      target.Object = root;
      target.Name = target.Property->Name;
      target.Kind = target.Property->Kind;
    }
    return target;
  }
  const std::vector<std::string> parts = splitDots(path);
  target.Name = parts.back();
  TPersistent* object = root;
  size_t first = 0;
  if (parts.size() > 1) {
    if (TComponent* component = asComponent(root); component != nullptr && component->ComponentCount() > 0) {
      object = component->FindComponent(parts[0]);
      first = 1;
    }
  }
  for (size_t i = first; object != nullptr && i + 1 < parts.size(); ++i) {
    const TPropertyInfo* step = object->FindProperty(parts[i]);
    if (step == nullptr) return target;
    const TPropertyValue value = step->Get(*object);
    if (step->Kind == TPropertyKind::Object) {
      object = std::get<TPersistent*>(value);
    } else if (step->Kind == TPropertyKind::Component) {
      object = std::get<TComponent*>(value);
    } else {
      return target;
    }
  }
  if (object == nullptr) return target;
  if ((target.Property = object->FindProperty(parts.back())) != nullptr) {
    target.Object = object;
    target.Name = target.Property->Name;
    target.Kind = target.Property->Kind;
  }
  return target;
}

// The component a stored reference names: first from the outermost owner
// of root (the written form), else segment by segment among root's own
// components. nullptr when none.
TComponent* findReferenced(TPersistent* root, std::string_view text) {
  const std::vector<std::string> parts = splitDots(text);
  TComponent* top = asComponent(root);
  if (top == nullptr) return nullptr;
  const TComponent* base = top;
  while (top->Owner() != nullptr) top = top->Owner();
  auto walk = [&](TComponent* from, size_t first) -> TComponent* {
    for (size_t i = first; from != nullptr && i < parts.size(); ++i) from = from->FindComponent(parts[i]);
    return from;
  };
  if (!parts.empty() && !top->Name().empty() && platform::sameTextAscii(top->Name(), parts[0])) {
    if (TComponent* found = walk(top, 1)) return found;
  }
  return walk(const_cast<TComponent*>(base), 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// The store

const TClassInfo& TWreg::StaticClassInfo() {
  auto rootProperty = [](const char* name, TRegistryRoot TWreg::*field) {
    return TPropertyInfo{name, TPropertyKind::Enumeration,
                         [field](const TPersistent& object) -> TPropertyValue {
                           return int32_t{static_cast<const TWreg&>(object).*field};
                         },
                         [field](TPersistent& object, const TPropertyValue& value) {
                           const int32_t ordinal = std::get<int32_t>(value);
                           if (ordinal < 0 || ordinal > rrNone) throw EPropertyError("Registry root out of range");
                           static_cast<TWreg&>(object).*field = static_cast<TRegistryRoot>(ordinal);
                         },
                         rootIdentifiers()};
  };
  static const TClassInfo info{
      "TWreg",
      &TComponent::StaticClassInfo(),
      {
          rootProperty("RegistryRoot", &TWreg::RegistryRoot),
          rootProperty("SecondRegistryRoot", &TWreg::SecondRegistryRoot),
          {"RegistryPath", TPropertyKind::String, FieldGetter(&TWreg::RegistryPath),
           FieldSetter(&TWreg::RegistryPath), {}},
          {"INIFile", TPropertyKind::String, FieldGetter(&TWreg::INIFile), FieldSetter(&TWreg::INIFile), {}},
          {"INIFileSectionPrefix", TPropertyKind::String, FieldGetter(&TWreg::INIFileSectionPrefix),
           FieldSetter(&TWreg::INIFileSectionPrefix), {}},
          {"Components", TPropertyKind::StringList, FieldGetter(&TWreg::Components),
           FieldSetter(&TWreg::Components), {}},
      }};
  return info;
}

TWreg::TWreg(TComponent* owner) : TComponent(owner) {}

bool TWreg::Load(TPersistent& root, const std::vector<std::string>* items) {
  return Run(TSettingsMode::Load, Root{&root, nullptr}, items != nullptr ? *items : Components);
}

bool TWreg::Load(TkivParamsList& root, const std::vector<std::string>* items) {
  return Run(TSettingsMode::Load, Root{nullptr, &root}, items != nullptr ? *items : Components);
}

bool TWreg::Save(TPersistent& root) { return Run(TSettingsMode::Save, Root{&root, nullptr}, Components); }

bool TWreg::Save(TkivParamsList& root) { return Run(TSettingsMode::Save, Root{nullptr, &root}, Components); }

void TWreg::DoSetValue(const std::string& name, int32_t index, const OleVariant& value) {
  if (SetValue) SetValue(*this, name, index, value);
}

void TWreg::DoGetValue(const std::string& name, int32_t index, OleVariant& value) {
  if (GetValue) GetValue(*this, name, index, value);
}

void TWreg::CustomWriteValue(const TSettingsItem&, int32_t, const TStoredValue&) {}

bool TWreg::CustomReadValue(const TSettingsItem&, int32_t, TStoredValue::Type, TStoredValue&) { return false; }

void TWreg::DoBeforeProcessItem(const std::string& name, int32_t index, bool& isRequireProcessing, bool& isVirtual,
                                std::optional<TPropertyKind>& itemType) {
  if (BeforeProcessItem) BeforeProcessItem(*this, name, index, isRequireProcessing, isVirtual, itemType);
}

bool TWreg::Run(TSettingsMode mode, const Root& root, const std::vector<std::string>& items) {
  struct BusyMark {
    TWreg& store;
    explicit BusyMark(TWreg& s, TSettingsMode mode) : store(s) {
      store.busy_ = true;
      store.mode_ = mode;
    }
    ~BusyMark() {
      store.busy_ = false;
      store.mode_ = TSettingsMode::None;
    }
  } busy(*this, mode);

  try {
    if (INIFile == CustomStorage) {
      CustomStorageAdapter storage(*this);
      return ProcessItems(mode, root, items, storage);
    }

    if (!INIFile.empty() && (mode == TSettingsMode::Save || platform::fileExists(INIFile))) {
      platform::NamedLock lock(platform::lockNameFor(INIFile));
      lock.acquire(kIniLockSpins);
      // A file that exists but cannot be read is never overwritten: that
      // would lose everything else it holds.
      TIniFile file(platform::fileExists(INIFile) ? platform::readFile(INIFile) : std::string());
      IniStorage storage(file, INIFileSectionPrefix);
      const bool result = ProcessItems(mode, root, items, storage);
      if (file.Modified()) platform::writeFileAtomic(INIFile, file.Text());
      return result;
    }

    rootInUse_ = rrNone;
    // An empty path would put the values straight into the root key.
    std::string_view path = RegistryPath;
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    if (path.empty() || RegistryRoot == rrNone) return false;
    for (const TRegistryRoot candidate : {RegistryRoot, SecondRegistryRoot}) {
      if (candidate == rrNone) break;
      const auto platformRoot = static_cast<platform::RegistryRoot>(candidate);
      const bool usable =
          mode == TSettingsMode::Save
              ? platform::RegistryKey::create(platformRoot, RegistryPath).has_value()
              : platform::RegistryKey::open(platformRoot, RegistryPath, platform::RegistryAccess::ReadWrite).has_value();
      if (usable) {
        rootInUse_ = candidate;
        break;
      }
    }
    if (rootInUse_ == rrNone) return false;
    RegistryStorage storage(mode, static_cast<platform::RegistryRoot>(rootInUse_), RegistryPath);
    return ProcessItems(mode, root, items, storage);
  } catch (...) {
    // The lock, the file and the keys are released on the way out; the
    // caller learns only that nothing (or not everything) was done.
    return false;
  }
}

bool TWreg::ProcessItems(TSettingsMode mode, const Root& root, const std::vector<std::string>& items,
                         Storage& storage) {
  bool result = false;
  for (size_t line = 0; line < items.size(); ++line) {
    const auto index = static_cast<int32_t>(line);
    const std::optional<TSettingsItem> item = ParseSettingsItem(items[line]);
    if (!item) continue;
    bool deleteOnFailure = false;  // a stored value was met, or was being written
    try {
      if (!storage.Begin(*item, index)) continue;
      Target target = resolve(root.Object, root.List, item->PropertyPath, mode);
      bool require = target.Found();
      bool isVirtual = !target.Found();
      std::optional<TPropertyKind> kind = target.Kind;
      DoBeforeProcessItem(target.Name, index, require, isVirtual, kind);
      if (!require) continue;
      if (!target.Found()) isVirtual = true;
      if (target.Kind == TPropertyKind::Object && !isVirtual) continue;  // nothing to store
      const std::optional<TPropertyKind> valueKind = isVirtual ? kind : target.Kind;

      if (mode == TSettingsMode::Load) {
        // Reading raises only for a value that exists in a form the
        // property cannot take.
        deleteOnFailure = true;
        std::optional<TStoredValue> stored = storage.Read(encodingOf(valueKind));
        if (!stored) continue;
        result = true;
        if (isVirtual) {
          OleVariant value;
          switch (stored->Kind) {
            case TStoredValue::Type::Integer:
              value = valueKind == TPropertyKind::Int64 ? OleVariant::fromI8(stored->Integer)
                                                        : OleVariant::fromI4(static_cast<int32_t>(stored->Integer));
              break;
            case TStoredValue::Type::Float: value = OleVariant::fromR8(stored->Float); break;
            case TStoredValue::Type::Text: value = textVariant(UnescapeSettingsText(stored->Text)); break;
          }
          DoSetValue(target.Name, index, value);
        } else if (target.List != nullptr) {
          target.List->SetItem(target.Name, textVariant(UnescapeSettingsText(stored->Text)).raw(), true);
        } else {
          TPersistent& object = *target.Object;
          const std::string& name = target.Property->Name;
          switch (*target.Kind) {
            case TPropertyKind::Integer:
              object.SetPropertyValue(name, static_cast<int32_t>(stored->Integer));
              break;
            case TPropertyKind::Int64: object.SetPropertyValue(name, stored->Integer); break;
            case TPropertyKind::Float: object.SetPropertyValue(name, stored->Float); break;
            case TPropertyKind::String: object.SetPropertyValue(name, UnescapeSettingsText(stored->Text)); break;
            case TPropertyKind::Variant:
              object.SetPropertyValue(name, textVariant(UnescapeSettingsText(stored->Text)));
              break;
            case TPropertyKind::Enumeration: {
              if (stored->Text.empty()) break;
              const int32_t ordinal = target.Property->OrdinalOf(stored->Text);
              if (ordinal < 0) throw EPropertyError(stored->Text + " is no value of " + name);
              object.SetPropertyValue(name, ordinal);
              break;
            }
            case TPropertyKind::StringList:
              object.SetPropertyValue(name, stored->Text == kNullText
                                                ? std::vector<std::string>()
                                                : splitLines(UnescapeSettingsText(stored->Text)));
              break;
            case TPropertyKind::Component: {
              if (stored->Text == kNullText) {
                object.SetPropertyValue(name, static_cast<TComponent*>(nullptr));
              } else if (!stored->Text.empty()) {
                if (TComponent* found = findReferenced(root.Object, stored->Text)) object.SetPropertyValue(name, found);
              }
              break;
            }
            case TPropertyKind::Object: break;
          }
        }
        continue;
      }

      // Save.
      result = true;
      std::optional<TStoredValue> value;  // none: delete the stored value
      auto text = [](std::string content) {
        std::optional<TStoredValue> v;
        if (!content.empty()) v = TStoredValue{TStoredValue::Type::Text, 0, 0, std::move(content)};
        return v;
      };
      if (isVirtual) {
        OleVariant got;
        DoGetValue(target.Name, index, got);
        const uint16_t type = got.type();
        if (type == platform::vtEmpty || type == platform::vtNull) {
        } else if (encodingOf(valueKind) == TStoredValue::Type::Integer ||
                   (!valueKind && (type == platform::vtI4 || type == platform::vtI2 || type == platform::vtI1 ||
                                   type == platform::vtUI1 || type == platform::vtUI2 || type == platform::vtUI4 ||
                                   type == platform::vtI8 || type == platform::vtInt))) {
          value = TStoredValue{TStoredValue::Type::Integer, got.changedTo(platform::vtI8).raw().llVal, 0, {}};
        } else if (encodingOf(valueKind) == TStoredValue::Type::Float ||
                   (!valueKind && (type == platform::vtR8 || type == platform::vtR4))) {
          value = TStoredValue{TStoredValue::Type::Float, 0, got.changedTo(platform::vtR8).raw().dblVal, {}};
        } else {
          value = text(EscapeSettingsText(variantText(got.raw())));
        }
      } else if (target.List != nullptr) {
        const OleVariant got = target.List->ItemValueByName(target.Name);
        if (!got.isEmpty() && !got.isNull()) value = text(EscapeSettingsText(variantText(got.raw())));
      } else {
        const TPropertyValue got = target.Property->Get(*target.Object);
        switch (*target.Kind) {
          case TPropertyKind::Integer:
            value = TStoredValue{TStoredValue::Type::Integer, std::get<int32_t>(got), 0, {}};
            break;
          case TPropertyKind::Int64:
            value = TStoredValue{TStoredValue::Type::Integer, std::get<int64_t>(got), 0, {}};
            break;
          case TPropertyKind::Float: value = TStoredValue{TStoredValue::Type::Float, 0, std::get<double>(got), {}}; break;
          case TPropertyKind::String: value = text(EscapeSettingsText(std::get<std::string>(got))); break;
          case TPropertyKind::Variant: {
            const OleVariant& variant = std::get<OleVariant>(got);
            if (!variant.isEmpty() && !variant.isNull()) value = text(EscapeSettingsText(variantText(variant.raw())));
            break;
          }
          case TPropertyKind::Enumeration:
            value = text(target.Property->IdentifierOf(std::get<int32_t>(got)));
            break;
          case TPropertyKind::StringList:
            value = text(EscapeSettingsText(joinedLines(std::get<std::vector<std::string>>(got))));
            break;
          case TPropertyKind::Component:
            if (TComponent* component = std::get<TComponent*>(got)) value = text(component->NamePath());
            break;
          case TPropertyKind::Object: break;
        }
      }
      if (!value) {
        storage.Delete();
        continue;
      }
      deleteOnFailure = true;  // a failed write leaves no half-written value behind
      storage.Write(*value);
    } catch (...) {
      if (deleteOnFailure && storage.DeletesBadValues()) {
        try {
          storage.Delete();
        } catch (...) {
        }
      }
    }
  }
  return result;
}

}  // namespace corvane
