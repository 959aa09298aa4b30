#include "ui/wtransl.h"

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/ole_string.h"
#include "ui/custom_translators.h"
#include "ui/translate_text.h"

namespace corvane {
namespace {

constexpr int32_t kTagSkipAll = 9999;
constexpr int32_t kTagSkipSelf = 9998;
constexpr int32_t kTagCustom = 9997;
constexpr int32_t kTagExcludeFirst = 10000;
constexpr int32_t kTagExcludeLast = 10047;

// The property names a tag of 10000 to 10047 can exclude, by bit.
constexpr const char* kExcludable[] = {"hint", "caption", "items", "strings", "text", "pages"};

bool excludedByTag(int32_t tag, std::string_view name) {
  if (tag < kTagExcludeFirst || tag > kTagExcludeLast) return false;
  const int32_t set = tag - kTagExcludeFirst;
  for (int bit = 0; bit < 6; ++bit) {
    if ((set & (1 << bit)) != 0 && platform::sameTextAscii(name, kExcludable[bit])) return true;
  }
  return false;
}

bool propertyIsTrue(const TPersistent& object, std::string_view name) {
  const TPropertyInfo* property = object.FindProperty(name);
  if (property == nullptr || !property->Get) return false;
  const TPropertyValue value = property->Get(object);
  if (const auto* ordinal = std::get_if<int32_t>(&value)) return *ordinal != 0;
  if (const auto* text = std::get_if<std::string>(&value)) return platform::sameTextAscii(*text, "True");
  return false;
}

// The look-up key of a component's 8-bit text: the table holds its source
// texts in the ANSI code page.
std::string lookUpKey(const std::string& text, uint32_t codePage) {
  return codePage == 0 ? text : platform::wideToAnsi(platform::fontCodePageToWide(codePage, text));
}

}  // namespace

const TClassInfo& TWtransl::StaticClassInfo() {
  static const TClassInfo info{
      "TWtransl",
      &TComponent::StaticClassInfo(),
      {{"ComponentProperties", TPropertyKind::StringList, FieldGetter(&TWtransl::ComponentProperties),
        FieldSetter(&TWtransl::ComponentProperties), {}},
       {"LanguageFile", TPropertyKind::String, FieldGetter(&TWtransl::LanguageFile),
        FieldSetter(&TWtransl::LanguageFile), {}}}};
  return info;
}

TWtransl::TWtransl(TComponent* owner) : TComponent(owner), creationLocale_(platform::threadLocale()) {}

std::string TWtransl::Language() const {
  std::lock_guard guard(lock_);
  return language_;
}

void TWtransl::SetLanguage(std::string language) {
  std::lock_guard guard(lock_);
  language_ = std::move(language);
}

int32_t TWtransl::EntryCount() const {
  std::lock_guard guard(lock_);
  return static_cast<int32_t>(table_.Count());
}

TLanguageFileOptions TWtransl::FileOptions() const {
  std::lock_guard guard(lock_);
  return options_;
}

void TWtransl::AddComponentProperties(std::string_view list) {
  std::lock_guard guard(lock_);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(";|", start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view name = list.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    bool known = name.empty();
    for (const std::string& existing : ComponentProperties) known = known || platform::sameTextAscii(existing, name);
    if (!known) ComponentProperties.emplace_back(name);
    start = end + 1;
  }
}

std::vector<std::string> TWtransl::Files() const {
  std::vector<std::string> files;
  size_t start = 0;
  while (start <= LanguageFile.size()) {
    size_t end = LanguageFile.find('|', start);
    if (end == std::string::npos) end = LanguageFile.size();
    std::string file = LanguageFile.substr(start, end - start);
    if (!file.empty()) files.push_back(std::move(file));
    start = end + 1;
  }
  return files;
}

void TWtransl::Warn(const std::string& file, int line, const std::string& problem) {
  const std::string where = line > 0 ? file + ", line " + std::to_string(line) : file;
  if (!warned_.insert(where).second) return;
  if (OnWarning) OnWarning("Language file " + where + ": " + problem);
}

void TWtransl::Load(const std::string& source, const std::string& target) {
  table_.Clear();
  options_ = TLanguageFileOptions{};
  platform::setThreadLocale(creationLocale_);
  const TLngWarning warn = [this](const std::string& file, int line, const std::string& problem) {
    Warn(file, line, problem);
  };
  // Files later in the list override entries of earlier ones: the module's
  // own file comes after the host's.
  for (const std::string& file : Files()) {
    if (platform::fileExists(file)) ReadLanguageFile(file, source, target, table_, options_, warn);
  }
  lastSource_ = source;
  lastTarget_ = target;
  loadedFiles_ = LanguageFile;
  loaded_ = true;
}

std::string TWtransl::DefaultLanguage(std::vector<std::string>* languages) {
  std::lock_guard guard(lock_);
  if (languages != nullptr) languages->clear();
  for (const std::string& file : Files()) {
    if (!platform::fileExists(file)) continue;
    std::string content;
    try {
      content = platform::readFile(file);
    } catch (const std::exception&) {
      Warn(file, 0, "cannot be read");
      continue;
    }
    if (content.size() > MaxLanguageFileSize) {
      Warn(file, 0, "is too large and is not read");
      continue;
    }
    const TLanguagesSection section = ReadLanguagesSection(SplitLanguageFile(content));
    if (section.Languages.empty()) continue;
    if (languages != nullptr) *languages = section.Languages;
    return section.Default;
  }
  return {};
}

bool TWtransl::Translate(const std::string& target, TComponent* component, const std::string& source) {
  std::lock_guard guard(lock_);
  const std::string to = target.empty() ? DefaultLanguage() : target;
  if (component == nullptr) {
    language_ = to;
    return true;
  }
  const std::string from = source.empty() ? language_ : source;
  if (!loaded_ || from != lastSource_ || to != lastTarget_ || loadedFiles_ != LanguageFile) Load(from, to);
  if (OnBeforeTranslate) OnBeforeTranslate(*this, table_);
  if (table_.Count() == 0 && options_.SaveModes.empty()) return false;
  TranslateTree(*component, true);
  if (OnAfterTranslate) OnAfterTranslate(*this, table_);
  language_ = to;
  return true;
}

bool TWtransl::Translate(const std::string& target, std::string& text, const std::string& source) {
  std::lock_guard guard(lock_);
  const std::string to = target.empty() ? DefaultLanguage() : target;
  const std::string from = source.empty() ? language_ : source;
  if (!loaded_ || from != lastSource_ || to != lastTarget_ || loadedFiles_ != LanguageFile) Load(from, to);
  std::u16string translation;
  if (!TranslateWide(text, translation)) return false;
  text = platform::wideToAnsi(translation);
  return true;
}

bool TWtransl::TranslateWide(const std::string& text, std::u16string& translation) {
  std::lock_guard guard(lock_);
  std::optional<std::u16string> found = LookUpText(table_, text);
  if (!found) return false;
  translation = std::move(*found);
  return true;
}

std::string TWtransl::TranslateText(const std::string& text) {
  std::u16string translation;
  if (!TranslateWide(text, translation)) return text;
  return platform::wideToAnsi(translation);
}

void TWtransl::TranslateTree(TComponent& component, bool isRoot) {
  if (component.Tag() == kTagSkipAll) return;
  if (component.Tag() != kTagSkipSelf) TranslateComponent(component);
  if (!isRoot && !component.Name().empty() && component.Name()[0] == '_') return;  // "_x": not what it owns
  for (int32_t i = 0; i < component.ComponentCount(); ++i) {
    TComponent& owned = *component.Components(i);
    if (owned.Name().substr(0, 2) == "__") continue;
    TranslateTree(owned, false);
  }
}

void TWtransl::TranslateComponent(TComponent& component) {
  if (OnBeforeTranslateComponent) {
    bool allow = true;
    OnBeforeTranslateComponent(*this, component, table_, allow);
    if (!allow) return;
  }
  // The system reads a caption in the code page of the character set of the
  // font that draws it.
  const uint32_t codePage = ApplyFileOptions(component) ? options_.CodePage : 0;
  if (component.Tag() != kTagCustom) {
    for (const std::string& name : ComponentProperties) {
      if (excludedByTag(component.Tag(), name)) continue;
      if (const TPropertyInfo* property = component.FindProperty(name)) {
        TranslateProperty(component, *property, codePage);
      }
    }
  }
  if (OnCustomTranslate) OnCustomTranslate(*this, component, table_);
}

void TWtransl::TranslateProperty(TPersistent& object, const TPropertyInfo& property, uint32_t codePage) {
  if (property.ReadOnly() && property.Kind != TPropertyKind::Object) return;
  TPropertyValue value = property.Get(object);
  switch (property.Kind) {
    case TPropertyKind::String: {
      const std::string& text = std::get<std::string>(value);
      const std::optional<TNewText> result = TranslateString(object, &property, text, codePage);
      if (result && result->Text != text) property.Set(object, result->Text);
      break;
    }
    case TPropertyKind::Variant: {
      // A wide property takes the translation itself: its 8-bit form is only
      // for the look-up and OnPropertyTranslate.
      const auto& variant = std::get<platform::OleVariant>(value);
      if (variant.raw().vt != platform::vtBstr) break;
      const platform::Bstr bstr = variant.raw().bstrVal;
      const std::u16string old(bstr ? std::u16string_view(bstr, platform::sysStringLen(bstr)) : u"");
      std::optional<TNewText> result =
          TranslateString(object, &property, platform::wideToFontCodePage(codePage, old), codePage);
      if (!result) break;
      const std::u16string text =
          result->IsTranslation ? std::move(result->Translation) : platform::fontCodePageToWide(codePage, result->Text);
      if (text != old) property.Set(object, platform::OleVariant::fromString(text));
      break;
    }
    case TPropertyKind::StringList: {
      auto lines = std::get<std::vector<std::string>>(value);
      bool changed = false;
      for (std::string& line : lines) {
        std::optional<TNewText> result = TranslateString(object, &property, line, codePage);
        if (!result || result->Text == line) continue;
        line = std::move(result->Text);
        changed = true;
      }
      if (changed) property.Set(object, lines);
      break;
    }
    case TPropertyKind::Object: {
      TPersistent* target = std::get<TPersistent*>(value);
      if (target == nullptr) break;
      if (TCustomObjectTranslator translator = FindCustomTranslator(*target)) {
        translator(*this, *target);
      } else if (OnCustomObjectPropertyTranslate) {
        OnCustomObjectPropertyTranslate(*this, property, *target, table_);
      }
      break;
    }
    default: break;
  }
}

std::optional<TWtransl::TNewText> TWtransl::TranslateString(TPersistent& object, const TPropertyInfo* property,
                                                            const std::string& value, uint32_t codePage) {
  TNewText result;
  const bool found = TranslateWide(lookUpKey(value, codePage), result.Translation);
  const std::string translated = found ? platform::wideToFontCodePage(codePage, result.Translation) : value;
  result.Text = translated;
  if (OnPropertyTranslate) {
    bool doDefault = true;
    OnPropertyTranslate(*this, object, property, value, result.Text, found, doDefault);
    if (!doDefault) return std::nullopt;
  } else if (!found) {
    return std::nullopt;
  }
  result.IsTranslation = found && result.Text == translated;
  if (!result.IsTranslation && result.Text == value) return std::nullopt;
  return result;
}

bool TWtransl::ApplyFileOptions(TComponent& component) {
  if (options_.BiDiModeSet) {
    if (const TPropertyInfo* property = component.FindProperty("BiDiMode"); property && !property->ReadOnly()) {
      static const char* const modes[] = {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign",
                                          "bdRightToLeftReadingOnly"};
      const auto ordinal = static_cast<int32_t>(options_.BiDiMode);
      if (property->Kind == TPropertyKind::Enumeration) {
        const int32_t known = property->OrdinalOf(modes[ordinal]);
        property->Set(component, known >= 0 ? known : ordinal);
      } else if (property->Kind == TPropertyKind::Integer) {
        property->Set(component, ordinal);
      }
    }
  }
  if (!options_.CharsetSet || propertyIsTrue(component, "ParentFont")) return false;
  bool applied = false;
  for (const char* fontName : {"Font", "FocusFont"}) {
    const TPropertyInfo* fontProperty = component.FindProperty(fontName);
    if (fontProperty == nullptr || fontProperty->Kind != TPropertyKind::Object) continue;
    auto* font = std::get<TPersistent*>(fontProperty->Get(component));
    if (font == nullptr) continue;
    const TPropertyInfo* charset = font->FindProperty("Charset");
    if (charset != nullptr && !charset->ReadOnly() && charset->Kind == TPropertyKind::Integer) {
      charset->Set(*font, static_cast<int32_t>(options_.FontCharset));
      applied = true;
    }
  }
  return applied;
}

}  // namespace corvane
