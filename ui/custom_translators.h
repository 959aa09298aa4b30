// Translators for object-valued properties, by the object's class: a
// process-wide registry that the translator asks before it raises its
// OnCustomObjectPropertyTranslate event. One is registered from the start,
// for TWideStringList, which translates each line like a text.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/component.h"

namespace corvane {

class TWtransl;

// Lines of wide text as a published object (a list property's value).
class TWideStringList : public TPersistent {
  CV_DECLARE_CLASS_INFO

 public:
  std::vector<std::u16string> Lines;
};

// Translates the object in place; answers whether it did anything.
using TCustomObjectTranslator = std::function<bool(TWtransl& translator, TPersistent& object)>;

// Registers (or replaces) the translator for objects of this class and the
// classes derived from it.
void RegisterCustomTranslator(const TClassInfo& classInfo, TCustomObjectTranslator translator);
void UnregisterCustomTranslator(const TClassInfo& classInfo);
// The translator of the nearest registered class of the object; empty when
// none.
TCustomObjectTranslator FindCustomTranslator(const TPersistent& object);

}  // namespace corvane
