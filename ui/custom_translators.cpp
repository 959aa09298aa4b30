#include "ui/custom_translators.h"

#include <map>
#include <mutex>

#include "platform/code_page.h"
#include "ui/wtransl.h"

namespace corvane {
namespace {

bool translateWideLines(TWtransl& translator, TPersistent& object) {
  bool changed = false;
  for (std::u16string& line : static_cast<TWideStringList&>(object).Lines) {
    std::u16string translated;
    if (translator.TranslateWide(platform::wideToAnsi(line), translated) && translated != line) {
      line = std::move(translated);
      changed = true;
    }
  }
  return changed;
}

struct Registry {
  std::mutex lock;
  std::map<const TClassInfo*, TCustomObjectTranslator> translators{
      {&TWideStringList::StaticClassInfo(), &translateWideLines}};
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

const TClassInfo& TWideStringList::StaticClassInfo() {
  static const TClassInfo info{"TWideStringList", &TPersistent::StaticClassInfo(), {}};
  return info;
}

void RegisterCustomTranslator(const TClassInfo& classInfo, TCustomObjectTranslator translator) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  r.translators[&classInfo] = std::move(translator);
}

void UnregisterCustomTranslator(const TClassInfo& classInfo) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  r.translators.erase(&classInfo);
}

TCustomObjectTranslator FindCustomTranslator(const TPersistent& object) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  for (const TClassInfo* info = &object.ClassInfo(); info != nullptr; info = info->Parent) {
    const auto found = r.translators.find(info);
    if (found != r.translators.end()) return found->second;
  }
  return {};
}

}  // namespace corvane
