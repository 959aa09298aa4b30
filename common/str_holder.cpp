#include "common/str_holder.h"

#include "common/exceptions.h"
#include "common/form_stream.h"
#include "common/str_data.h"
#include "platform/ascii.h"
#include "platform/code_page.h"

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

bool TkivStrHolder::ReadStreamedProperty(std::string_view name, const TFormValue& value) {
  if (platform::sameTextAscii(name, "InternalVer") && value.IsInteger()) {
    InternalVer = value.Integer;
    return true;
  }
  if (!platform::sameTextAscii(name, "StrData") || value.Type != TFormValueType::List) return false;
  if (value.Items.empty() || !value.Items[0].IsText()) throw Exception("StrData of " + Name() + " has no key");
  const std::string key = platform::ansiToUtf8(value.Items[0].Text);
  std::vector<std::string> lines;
  lines.reserve(value.Items.size() - 1);
  for (size_t i = 1; i < value.Items.size(); ++i) {
    const TFormValue& item = value.Items[i];
    std::optional<std::string> line = item.IsText() ? DecodeStrDataLine(item.Text, key) : std::nullopt;
    if (!line) throw Exception("StrData of " + Name() + " holds a line that is not hexadecimal");
    lines.push_back(platform::utf8ToAnsi(*line));
  }
  Strings = std::move(lines);
  return true;
}

}  // namespace corvane
