// The dialog's event code, kept as an indented tree of its syntax: one
// element per line, two spaces deeper for each child, the element's text
// after its name:
//
//   assignstmt
//     dsgn sTmp
//     expr
//       string 'dll'
//
// "dsgn a.b" is short for a dsgn whose first children are the nodes a and
// b. Lines starting with "#" are comments. ToXml writes the tree as one line
// of XML: every element but program and types gets "pos" (the tree line and
// column of its construct), expr also "pos1" (where its last part is).
#pragma once

#include <string>

namespace corvane::tool {

std::string CodeTreeToXml(const std::string& tree);

}  // namespace corvane::tool
