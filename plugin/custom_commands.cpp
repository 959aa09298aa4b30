#include "plugin/custom_commands.h"

namespace corvane {
namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t bar; (bar = line.find('|', start)) != std::string_view::npos; start = bar + 1) {
    fields.push_back(line.substr(start, bar - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

}  // namespace

TkivPluginCustomCmd& TkivPluginCustomCmdList::Add(std::string name, std::string firstText, std::string secondText,
                                                  bool firstFlag, bool secondFlag) {
  commands_.push_back(std::make_unique<TkivPluginCustomCmd>(
      TkivPluginCustomCmd{std::move(name), std::move(firstText), std::move(secondText), firstFlag, secondFlag}));
  return *commands_.back();
}

std::string TkivPluginCustomCmdList::GetText() const {
  std::string text;
  for (const auto& command : commands_) {
    text += command->Name;
    text += '|';
    text += command->FirstText;
    text += '|';
    text += command->SecondText;
    text += command->FirstFlag ? "|1|" : "|0|";
    text += command->SecondFlag ? "1" : "0";
    text += "\r\n";
  }
  return text;
}

void TkivPluginCustomCmdList::AddFromText(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    const std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (end == std::string_view::npos) {
      pos = text.size();
    } else {
      pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    if (line.empty()) continue;
    const auto fields = splitFields(line);
    if (fields.size() < 5) continue;
    Add(std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), fields[3] == "1", fields[4] == "1");
  }
}

}  // namespace corvane
