// TWtranslLanguagesList: the translations of one language pair, by source
// text. One table is keyed by the exact source text; the other by its lower
// case, filled only where that differs, so a case-blind look-up is the
// last resort.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class TWtranslLanguagesList {
 public:
  // A later entry for the same source text replaces the earlier one.
  void Add(const std::string& source, std::u16string translation);
  void Clear();
  size_t Count() const { return exact_.size(); }

  const std::u16string* FindExact(const std::string& source) const;
  const std::u16string* FindLower(const std::string& lowerSource) const;

 private:
  std::map<std::string, std::u16string, std::less<>> exact_;
  std::map<std::string, std::u16string, std::less<>> lower_;
};

}  // namespace corvane
