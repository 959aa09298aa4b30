#include "ui/languages_list.h"

#include "platform/code_page.h"

namespace corvane {

void TWtranslLanguagesList::Add(const std::string& source, std::u16string translation) {
  const std::string lower = platform::ansiLower(source);
  if (lower != source) lower_[lower] = translation;
  exact_[source] = std::move(translation);
}

void TWtranslLanguagesList::Clear() {
  exact_.clear();
  lower_.clear();
}

const std::u16string* TWtranslLanguagesList::FindExact(const std::string& source) const {
  const auto found = exact_.find(source);
  return found == exact_.end() ? nullptr : &found->second;
}

const std::u16string* TWtranslLanguagesList::FindLower(const std::string& lowerSource) const {
  const auto found = lower_.find(lowerSource);
  return found == lower_.end() ? nullptr : &found->second;
}

}  // namespace corvane
