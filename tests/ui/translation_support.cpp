#include "translation_support.h"

namespace ui_test {

using corvane::FieldGetter;
using corvane::FieldSetter;
using corvane::TClassInfo;
using corvane::TPropertyKind;

const TClassInfo& TFont::StaticClassInfo() {
  static const TClassInfo info{
      "TFont", &TPersistent::StaticClassInfo(),
      {{"Charset", TPropertyKind::Integer, FieldGetter(&TFont::Charset), FieldSetter(&TFont::Charset), {}}}};
  return info;
}

const TClassInfo& TLabel::StaticClassInfo() {
  static const TClassInfo info{
      "TLabel",
      &TComponent::StaticClassInfo(),
      {{"Caption", TPropertyKind::String, FieldGetter(&TLabel::Caption), FieldSetter(&TLabel::Caption), {}},
       {"Hint", TPropertyKind::String, FieldGetter(&TLabel::Hint), FieldSetter(&TLabel::Hint), {}},
       {"Text", TPropertyKind::String, FieldGetter(&TLabel::Text), FieldSetter(&TLabel::Text), {}},
       {"Items", TPropertyKind::StringList, FieldGetter(&TLabel::Items), FieldSetter(&TLabel::Items), {}},
       {"ParentFont", TPropertyKind::Enumeration, FieldGetter(&TLabel::ParentFont), FieldSetter(&TLabel::ParentFont),
        corvane::BooleanIdentifiers()},
       {"Font", TPropertyKind::Object,
        [](const corvane::TPersistent& o) -> corvane::TPropertyValue {
          return static_cast<corvane::TPersistent*>(&const_cast<TLabel&>(static_cast<const TLabel&>(o)).Font);
        },
        {}, {}},
       {"Value", TPropertyKind::Variant, FieldGetter(&TLabel::Value), FieldSetter(&TLabel::Value), {}}}};
  return info;
}

const TClassInfo& TAction::StaticClassInfo() {
  static const TClassInfo info{
      "TAction", &TComponent::StaticClassInfo(),
      {{"Caption", TPropertyKind::String, FieldGetter(&TAction::Caption), FieldSetter(&TAction::Caption), {}}}};
  return info;
}

}  // namespace ui_test
