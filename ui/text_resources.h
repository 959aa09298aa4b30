// Message sets: components that hold references to string fields and
// translate them once. Tagged 9997, so a translator walking the tree hands
// them to its OnCustomTranslate handler instead of looking for properties.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/component.h"

namespace corvane {

class TCustomTextResources : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  static constexpr int32_t ResourcesTag = 9997;
  explicit TCustomTextResources(TComponent* owner = nullptr);

  size_t Count() const;
  // A copy of the text at index; empty for an index outside the list.
  std::string Text(size_t index) const;
  // On the first call only, replaces each referenced string by what
  // translate gives for it. Answers whether it ran.
  bool TranslateTexts(const std::function<std::string(const std::string&)>& translate);

 protected:
  // Registers a field of the derived class; it must live as long as this.
  void AddText(std::string& field);

 private:
  mutable std::mutex lock_;
  std::vector<std::string*> texts_;
  bool translated_ = false;
};

// The script host's messages, in this order.
class TTextResources : public TCustomTextResources {
  CV_DECLARE_CLASS_INFO

 public:
  explicit TTextResources(TComponent* owner = nullptr);

  std::string NoRuntime = "Unable to find python3x.dll";
  std::string UnableToExecute = "Unable to execute \"%s\"";
  std::string Discarded = "Data packet has been discarded";
  std::string WrongCall = "Wrong function call";
  std::string WrongParameter = "Wrong parameter";
};

}  // namespace corvane
