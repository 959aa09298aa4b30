#include "common/form_loader.h"

namespace corvane {
namespace {

TPropertyValue convert(const TPropertyInfo& property, const TFormValue& value, const std::string& where) {
  switch (property.Kind) {
    case TPropertyKind::Integer:
      if (value.IsInteger()) return value.Integer;
      break;
    case TPropertyKind::Int64:
      if (value.IsInteger()) return static_cast<int64_t>(value.Integer);
      break;
    case TPropertyKind::Float:
      if (value.IsInteger()) return static_cast<double>(value.Integer);
      break;
    case TPropertyKind::String:
      if (value.IsText() || value.Type == TFormValueType::Ident) return value.Text;
      break;
    case TPropertyKind::Enumeration: {
      std::string identifier = value.Text;
      if (value.Type == TFormValueType::True) identifier = "True";
      if (value.Type == TFormValueType::False) identifier = "False";
      if (value.IsInteger()) return value.Integer;
      const int32_t ordinal = property.OrdinalOf(identifier);
      if (ordinal >= 0) return ordinal;
      break;
    }
    case TPropertyKind::StringList:
      if (value.Type == TFormValueType::List) {
        std::vector<std::string> lines;
        for (const TFormValue& item : value.Items) {
          if (!item.IsText()) throw EPropertyError(where + ": a line that is no text");
          lines.push_back(item.Text);
        }
        return lines;
      }
      break;
    default: break;
  }
  throw EPropertyError(where + ": a " + value.Describe() + " does not fit this property");
}

void applyProperty(TPersistent& object, const TFormProperty& streamed, const std::string& owner) {
  const std::string where = owner + "." + streamed.Name;
  TPersistent* target = &object;
  std::string_view name = streamed.Name;
  // Reach through object properties for a dotted name.
  for (size_t dot; (dot = name.find('.')) != std::string_view::npos; name.remove_prefix(dot + 1)) {
    const TPropertyInfo* holder = target->FindProperty(name.substr(0, dot));
    if (holder == nullptr || holder->Kind != TPropertyKind::Object) {
      if (target->ReadStreamedProperty(streamed.Name, streamed.Value)) return;
      throw EPropertyError(where + ": no such object property");
    }
    target = std::get<TPersistent*>(holder->Get(*target));
    if (target == nullptr) throw EPropertyError(where + ": the object is not there");
  }
  if (const TPropertyInfo* property = target->FindProperty(name); property != nullptr && !property->ReadOnly()) {
    property->Set(*target, convert(*property, streamed.Value, where));
    return;
  }
  if (target->ReadStreamedProperty(name, streamed.Value)) return;
  throw EPropertyError(where + ": no such property");
}

void applyObject(TComponent& root, TComponent& component, const TFormObject& form) {
  for (const TFormProperty& property : form.Properties) applyProperty(component, property, form.Name);
  for (const TFormObject& child : form.Children) {
    TComponent* owned = root.FindComponent(child.Name);
    if (owned == nullptr) throw EPropertyError("The form names " + child.Name + ", which " + root.Name() + " does not own");
    bool ofThatClass = false;
    for (const TClassInfo* info = &owned->ClassInfo(); info != nullptr; info = info->Parent) {
      ofThatClass = ofThatClass || info->Name == child.ClassName;
    }
    if (!ofThatClass) {
      throw EPropertyError("The form's " + child.Name + " is a " + child.ClassName);
    }
    applyObject(root, *owned, child);
  }
}

}  // namespace

void LoadComponentFromForm(TComponent& root, const TFormObject& form) { applyObject(root, root, form); }

}  // namespace corvane
