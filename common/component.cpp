#include "common/component.h"

#include <algorithm>

#include "platform/ascii.h"

namespace corvane {
namespace {

const char* alternativeName(size_t index) {
  static const char* const names[] = {"no value", "int32", "int64", "float",     "string",
                                      "string list", "component", "variant", "object"};
  return index < std::size(names) ? names[index] : "?";
}

// The alternative of TPropertyValue a kind takes.
size_t alternativeOf(TPropertyKind kind) {
  switch (kind) {
    case TPropertyKind::Integer:
    case TPropertyKind::Enumeration: return 1;
    case TPropertyKind::Int64: return 2;
    case TPropertyKind::Float: return 3;
    case TPropertyKind::String: return 4;
    case TPropertyKind::StringList: return 5;
    case TPropertyKind::Component: return 6;
    case TPropertyKind::Variant: return 7;
    case TPropertyKind::Object: return 8;
  }
  return 0;
}

}  // namespace

int32_t TPropertyInfo::OrdinalOf(std::string_view identifier) const {
  for (size_t i = 0; i < Identifiers.size(); ++i) {
    if (platform::sameTextAscii(Identifiers[i], identifier)) return static_cast<int32_t>(i);
  }
  return -1;
}

std::string TPropertyInfo::IdentifierOf(int32_t ordinal) const {
  if (ordinal < 0 || static_cast<size_t>(ordinal) >= Identifiers.size()) return {};
  return Identifiers[static_cast<size_t>(ordinal)];
}

const std::vector<std::string>& BooleanIdentifiers() {
  static const std::vector<std::string> identifiers = {"False", "True"};
  return identifiers;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* info = this; info != nullptr; info = info->Parent) {
    if (info == &other) return true;
  }
  return false;
}

const TPropertyInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TClassInfo* info = this; info != nullptr; info = info->Parent) {
    for (const TPropertyInfo& property : info->Properties) {
      if (platform::sameTextAscii(property.Name, name)) return &property;
    }
  }
  return nullptr;
}

std::vector<const TPropertyInfo*> TClassInfo::AllProperties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* info = this; info != nullptr; info = info->Parent) chain.push_back(info);
  std::vector<const TPropertyInfo*> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const TPropertyInfo& property : (*it)->Properties) result.push_back(&property);
  }
  return result;
}

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo info{"TPersistent", nullptr, {}};
  return info;
}

TPropertyValue TPersistent::GetPropertyValue(std::string_view name) const {
  const TPropertyInfo* property = FindProperty(name);
  if (property == nullptr) throw EPropertyError(ClassName() + " has no property " + std::string(name));
  return property->Get(*this);
}

void TPersistent::SetPropertyValue(std::string_view name, const TPropertyValue& value) {
  const TPropertyInfo* property = FindProperty(name);
  if (property == nullptr) throw EPropertyError(ClassName() + " has no property " + std::string(name));
  if (property->ReadOnly()) throw EPropertyError("Property " + property->Name + " is read-only");
  const size_t wanted = alternativeOf(property->Kind);
  if (value.index() != wanted) {
    throw EPropertyError("Property " + property->Name + " takes a " + alternativeName(wanted) + " value, not a " +
                         alternativeName(value.index()) + " value");
  }
  property->Set(*this, value);
}

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info{
      "TComponent",
      &TPersistent::StaticClassInfo(),
      {
          {"Name", TPropertyKind::String, FieldGetter(&TComponent::name_),
           [](TPersistent& object, const TPropertyValue& value) {
             static_cast<TComponent&>(object).SetName(std::get<std::string>(value));
           },
           {}},
          {"Tag", TPropertyKind::Integer, FieldGetter(&TComponent::tag_), FieldSetter(&TComponent::tag_), {}},
      }};
  return info;
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Each owned component leaves this list as it is freed, so the first entry
  // is always the oldest one left.
  while (!components_.empty()) {
    TComponent* first = components_.front();
    first->owner_ = nullptr;
    components_.erase(components_.begin());
    delete first;
  }
  if (owner_ != nullptr) owner_->Remove(this);
}

void TComponent::SetName(std::string name) {
  if (owner_ != nullptr && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this) {
      throw EPropertyError("A component named " + name + " already exists");
    }
  }
  name_ = std::move(name);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : components_) {
    if (platform::sameTextAscii(component->name_, name)) return component;
  }
  return nullptr;
}

std::string TComponent::NamePath() const {
  std::string path = name_;
  for (const TComponent* owner = owner_; owner != nullptr; owner = owner->owner_) {
    path = owner->name_ + "." + path;
  }
  return path;
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
}

}  // namespace corvane
