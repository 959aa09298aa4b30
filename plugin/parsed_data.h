// Parse results and their way back to the host: the values a parser found
// (a parameter list plus the raw parse text) are delivered into the call's
// output list and input block.
#pragma once

#include <string>
#include <string_view>

#include "common/params_list.h"
#include "plugin/call_record.h"

namespace corvane {

// Placed between parse texts appended to one data block.
inline constexpr std::string_view ParsedDataSeparator = "<{[::]}>";

class TParsedDataList {
 public:
  TParsedDataList() : values_(TkivParamsList::Create()) {}

  TkivParamsList& Values() { return *values_; }
  const TkivParamsList& Values() const { return *values_; }
  std::string& Text() { return text_; }
  const std::string& Text() const { return text_; }

  void Clear() {
    values_->Clear();
    text_.clear();
  }

 private:
  ParamsListPtr values_;
  std::string text_;
};

// Hands a parse result to the host during a call (inside its CallContext):
// the raw text goes into the input block, replacing it or appended to it
// (after ParsedDataSeparator when the block is longer than the separator and
// does not already end in it); a missing block is allocated. The output
// list's Count grows by one, and the values replace (append false) or
// follow (append true) those of the output list. Nothing happens when the
// call has no output list. Blocks come from the shared memory manager. A
// delivery that fails (an allocation refused) raises and leaves the block,
// the output list and its Count as they were.
void DeliverParsedData(TPluginCallRecord& record, const TParsedDataList& list, bool append);

}  // namespace corvane
