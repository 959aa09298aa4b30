// A small component tree for the translator: labels with the usual
// caption-like properties and a font, actions without one, and language
// files written into a scratch folder.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "common/component.h"
#include "platform/scratch_folder.h"
#include "ui/wtransl.h"

namespace ui_test {

class TFont : public corvane::TPersistent {
  CV_DECLARE_CLASS_INFO

 public:
  int32_t Charset = 1;
};

class TLabel : public corvane::TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  explicit TLabel(corvane::TComponent* owner, const std::string& name = {}, const std::string& caption = {})
      : TComponent(owner), Caption(caption) {
    if (!name.empty()) SetName(name);
  }
  std::string Caption;
  std::string Hint;
  std::string Text;
  std::vector<std::string> Items;
  bool ParentFont = false;
  TFont Font;
  corvane::platform::OleVariant Value;  // a wide text, when it holds one
};

// A component with texts but no font of its own, as a menu action.
class TAction : public corvane::TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  explicit TAction(corvane::TComponent* owner, const std::string& name, const std::string& caption)
      : TComponent(owner), Caption(caption) {
    SetName(name);
  }
  std::string Caption;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// A translator over one language file with the given content, collecting
// its warnings.
struct Translator {
  corvane::platform::testing::ScratchFolder folder;
  corvane::TWtransl translator;
  std::vector<std::string> warnings;

  explicit Translator(const std::string& content, const std::string& fileName = "module.lng") {
    WriteFile(folder / fileName, content);
    translator.LanguageFile = folder / fileName;
    translator.SetLanguage("EN");
    translator.OnWarning = [this](const std::string& message) { warnings.push_back(message); };
  }
};

}  // namespace ui_test
