// TkivStrHolder: a component that holds lines of text for its owner, such as
// the map from option fields to stored setting names a module keeps.
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
};

}  // namespace corvane
