#include "common/str_holder.h"

namespace corvane {

const TClassInfo& TkivStrHolder::StaticClassInfo() {
  static const TClassInfo info{
      "TkivStrHolder",
      &TComponent::StaticClassInfo(),
      {{"Strings", TPropertyKind::StringList, FieldGetter(&TkivStrHolder::Strings),
        FieldSetter(&TkivStrHolder::Strings), {}},
       {"Capacity", TPropertyKind::Integer, FieldGetter(&TkivStrHolder::Capacity),
        FieldSetter(&TkivStrHolder::Capacity), {}}}};
  return info;
}

}  // namespace corvane
