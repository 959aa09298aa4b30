// Commands a module announces to its host beyond the fixed command table.
// The framework keeps and exchanges their descriptions as text; it gives the
// fields no meaning of its own (the host may use the texts as labels).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct TkivPluginCustomCmd {
  std::string Name;
  std::string FirstText;
  std::string SecondText;
  bool FirstFlag = false;
  bool SecondFlag = false;
};

// The exchanged form: one line per command, ended by CR LF, five fields
// separated by "|": name, first text, second text, first flag, second flag
// ("1" true, anything else false). A text holding "|" or a line break cannot
// be read back as one field.
class TkivPluginCustomCmdList {
 public:
  TkivPluginCustomCmd& Add(std::string name, std::string firstText, std::string secondText, bool firstFlag,
                           bool secondFlag);
  int32_t Count() const { return static_cast<int32_t>(commands_.size()); }
  const TkivPluginCustomCmd& Items(int32_t index) const { return *commands_.at(static_cast<size_t>(index)); }

  std::string GetText() const;
  // Appends the commands of a text (CR LF, CR or LF end a line); empty lines
  // and lines of fewer than five fields are skipped, fields after the fifth
  // ignored. The list is not cleared first.
  void AddFromText(std::string_view text);

 private:
  std::vector<std::unique_ptr<TkivPluginCustomCmd>> commands_;
};

}  // namespace corvane
