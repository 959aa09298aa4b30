// TWtransl: translates the texts of a component tree (captions, hints,
// texts and whatever ComponentProperties names) from one language into
// another, by the language files named in LanguageFile.
//
// Tags the translator honours: 9999 skips a component and all it owns;
// 9998 skips the component but visits what it owns; 9997 hands the
// component to OnCustomTranslate instead of translating its properties;
// 10000 to 10047 name, as a set in tag - 10000, properties to leave alone
// (1 hint, 2 caption, 4 items, 8 strings, 16 text, 32 pages). Owned
// components named "__..." are skipped; "_..." are translated, but not what
// they own.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/component.h"
#include "ui/language_file.h"
#include "ui/languages_list.h"

namespace corvane {

class TWtransl;

using TCustomTranslateNotify = std::function<void(TWtransl& sender, TComponent& comp, TWtranslLanguagesList& lng)>;
using TTranslateNotify = std::function<void(TWtransl& sender, TWtranslLanguagesList& lng)>;
using TCustomObjectPropertyTranslateNotify =
    std::function<void(TWtransl& sender, const TPropertyInfo& prop, TPersistent& obj, TWtranslLanguagesList& lng)>;
using TBeforeTranslateComponentNotify =
    std::function<void(TWtransl& sender, TComponent& comp, TWtranslLanguagesList& lng, bool& allow)>;
// oldValue and newValue are 8-bit text as the property holds it: in the code
// page of the files' Charset= (FileOptions().CodePage) for a component whose
// font took that character set, else in the process's ANSI code page.
using TPropertyTranslateNotify =
    std::function<void(TWtransl& sender, TPersistent& obj, const TPropertyInfo* pi, const std::string& oldValue,
                       std::string& newValue, bool found, bool& doDefault)>;

class TWtransl : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  explicit TWtransl(TComponent* owner = nullptr);

  // Published.
  std::vector<std::string> ComponentProperties{"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"};
  std::string LanguageFile = "app.lng";  // paths separated by "|"
  TCustomTranslateNotify OnCustomTranslate;
  TTranslateNotify OnBeforeTranslate;
  TTranslateNotify OnAfterTranslate;
  TCustomObjectPropertyTranslateNotify OnCustomObjectPropertyTranslate;
  TBeforeTranslateComponentNotify OnBeforeTranslateComponent;
  TPropertyTranslateNotify OnPropertyTranslate;

  // A problem in a language file: (file, line or 0, problem). Each file
  // and line is reported once in the translator's life.
  std::function<void(const std::string& message)> OnWarning;

  // Translates component (and what it owns) from source (empty: the current
  // language) into target (empty: the files' default language). With no
  // component it only makes target the current language. Answers whether
  // anything was done.
  bool Translate(const std::string& target, TComponent* component, const std::string& source = {});
  // The same for one text, in place.
  bool Translate(const std::string& target, std::string& text, const std::string& source = {});
  // The text's translation in the loaded table, or the text unchanged.
  std::string TranslateText(const std::string& text);
  // The same in wide text; false without a hit.
  bool TranslateWide(const std::string& text, std::u16string& translation);
  // "Default" of the first language file that lists a language; the
  // languages listed there as "code,name" lines when asked for.
  std::string DefaultLanguage(std::vector<std::string>* languages = nullptr);

  std::string Language() const;
  void SetLanguage(std::string language);
  int32_t EntryCount() const;
  TLanguageFileOptions FileOptions() const;
  // Adds names (";" or "|" separated) to ComponentProperties, skipping
  // those it has (case-insensitively).
  void AddComponentProperties(std::string_view list);

 private:
  // A property's new text.
  struct TNewText {
    std::string Text;            // 8-bit, in the component's code page
    std::u16string Translation;  // the table's translation, when there is one
    bool IsTranslation = false;  // Text is Translation, unchanged by OnPropertyTranslate
  };

  std::vector<std::string> Files() const;
  void Load(const std::string& source, const std::string& target);
  void TranslateTree(TComponent& component, bool isRoot);
  void TranslateComponent(TComponent& component);
  // codePage: the one the component's 8-bit texts are in (0: the ANSI code page).
  void TranslateProperty(TPersistent& object, const TPropertyInfo& property, uint32_t codePage);
  std::optional<TNewText> TranslateString(TPersistent& object, const TPropertyInfo* property, const std::string& value,
                                          uint32_t codePage);
  // Answers whether a font of the component took the files' character set.
  bool ApplyFileOptions(TComponent& component);
  void Warn(const std::string& file, int line, const std::string& problem);

  mutable std::recursive_mutex lock_;  // one translation run at a time
  std::string language_;
  std::string lastSource_;
  std::string lastTarget_;
  std::string loadedFiles_;
  bool loaded_ = false;
  TWtranslLanguagesList table_;
  TLanguageFileOptions options_;
  uint32_t creationLocale_;
  std::set<std::string> warned_;
};

}  // namespace corvane
