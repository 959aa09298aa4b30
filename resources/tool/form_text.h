// The readable form description the dialog and module forms are kept in:
//
//   object frmOption: TfrmOption
//     Left = 314
//     Font.Name = 'MS Sans Serif'
//     BorderIcons = [biSystemMenu, biHelp]
//     object lblExample0: TTntLabel
//       ...
//     end
//   end
//
// Values: integers, 'texts' ('' for a quote), identifiers, True and False,
// [sets], (lists), and the word itemlines, which stands for a string
// holder's encoded lines of the item list (an empty key, then each line as
// hexadecimal pairs). "//" starts a comment.
#pragma once

#include <string>
#include <vector>

#include "common/form_stream.h"

namespace corvane::tool {

TFormObject ParseFormText(const std::string& text, const std::vector<std::string>& itemLines);

}  // namespace corvane::tool
