// TkivStrHolder: a component that holds lines of text for its owner, such as
// the map from option fields to stored setting names a module keeps. Its
// lines are streamed in the module's form resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/component.h"

namespace corvane {

class TkivStrHolder : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  using TComponent::TComponent;

  std::vector<std::string> Strings;
  int32_t Capacity = 0;  // lines reserved when the holder is filled
  int32_t InternalVer = 0;  // the streamed format's version

  // "InternalVer" and "StrData" (a key text, then each line as hexadecimal
  // pairs of its UTF-8 bytes, combined with the key's bytes).
  bool ReadStreamedProperty(std::string_view name, const TFormValue& value) override;
};

}  // namespace corvane
