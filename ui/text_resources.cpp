#include "ui/text_resources.h"

namespace corvane {

const TClassInfo& TCustomTextResources::StaticClassInfo() {
  static const TClassInfo info{"TCustomTextResources", &TComponent::StaticClassInfo(), {}};
  return info;
}

const TClassInfo& TTextResources::StaticClassInfo() {
  static const TClassInfo info{"TTextResources", &TCustomTextResources::StaticClassInfo(), {}};
  return info;
}

TCustomTextResources::TCustomTextResources(TComponent* owner) : TComponent(owner) { SetTag(ResourcesTag); }

size_t TCustomTextResources::Count() const {
  std::lock_guard guard(lock_);
  return texts_.size();
}

std::string TCustomTextResources::Text(size_t index) const {
  std::lock_guard guard(lock_);
  return index < texts_.size() ? *texts_[index] : std::string();
}

bool TCustomTextResources::TranslateTexts(const std::function<std::string(const std::string&)>& translate) {
  std::lock_guard guard(lock_);
  if (translated_) return false;
  translated_ = true;
  for (std::string* text : texts_) *text = translate(*text);
  return true;
}

void TCustomTextResources::AddText(std::string& field) {
  std::lock_guard guard(lock_);
  texts_.push_back(&field);
}

TTextResources::TTextResources(TComponent* owner) : TCustomTextResources(owner) {
  AddText(NoRuntime);
  AddText(UnableToExecute);
  AddText(Discarded);
  AddText(WrongCall);
  AddText(WrongParameter);
}

}  // namespace corvane
