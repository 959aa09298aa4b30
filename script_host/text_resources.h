// The module's own messages, by index, with their default texts. A
// translator may replace them; readers take a copy of the current text.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

class TCustomTextResources {
 public:
  explicit TCustomTextResources(std::vector<std::string> defaults) : texts_(std::move(defaults)) {}
  virtual ~TCustomTextResources() = default;

  size_t Count() const { return texts_.size(); }
  // The text at index; empty for an index outside the list.
  std::string Text(size_t index) const {
    std::lock_guard guard(lock_);
    return index < texts_.size() ? texts_[index] : std::string();
  }
  void SetText(size_t index, std::string text) {
    std::lock_guard guard(lock_);
    if (index < texts_.size()) texts_[index] = std::move(text);
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
};

// The script host's messages.
class TTextResources : public TCustomTextResources {
 public:
  TTextResources()
      : TCustomTextResources({"Unable to find python3x.dll", "Unable to execute \"%s\"", "Data packet has been discarded",
                              "Wrong function call", "Wrong parameter"}) {}
};

}  // namespace corvane
