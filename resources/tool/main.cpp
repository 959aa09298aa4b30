// corvane-resource-tool: turns the readable sources of the module's forms
// and of the options dialog into the resources the library carries. It runs
// on the build machine during the build.
//
//   corvane-resource-tool form DESCRIPTION ITEMS OUTPUT
//       the form description as a form stream ("itemlines" in it takes the
//       lines of ITEMS)
//   corvane-resource-tool code TREE FORMNAME ITEMS OUTPUT
//       the code resource: the event code tree as one line of XML, the form
//       name and the item list, separated by CR LF CR LF "<=======>" CR LF
//       CR LF, as one gzip member
//   corvane-resource-tool text TEXT OUTPUT
//       the bytes of TEXT, nothing else
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "code_tree.h"
#include "common/code_resource.h"
#include "form_text.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The item list file: one line per item; "#" starts a comment line, and a
// line in single quotes stands for what is between them (so that a line of
// one space survives editors).
std::vector<std::string> readItemLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.size() >= 2 && line.front() == '\'' && line.back() == '\'') line = line.substr(1, line.size() - 2);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 4 && args[0] == "form") {
      const corvane::TFormObject form = corvane::tool::ParseFormText(readFile(args[1]), readItemLines(args[2]));
      writeFile(args[3], corvane::WriteFormStream(form));
    } else if (args.size() == 5 && args[0] == "code") {
      const std::string separator = "\r\n\r\n<=======>\r\n\r\n";
      std::string text = corvane::tool::CodeTreeToXml(readFile(args[1])) + separator + args[2] + separator;
      for (const std::string& line : readItemLines(args[3])) text += line + "\r\n";
      writeFile(args[4], corvane::GzipMember(text));
    } else if (args.size() == 3 && args[0] == "text") {
      writeFile(args[2], args[1]);
    } else {
      std::cerr << "usage: corvane-resource-tool form DESCRIPTION ITEMS OUTPUT\n"
                   "       corvane-resource-tool code TREE FORMNAME ITEMS OUTPUT\n"
                   "       corvane-resource-tool text TEXT OUTPUT\n";
      return 2;
    }
  } catch (const std::exception& e) {
    std::cerr << "corvane-resource-tool: " << (args.size() > 1 ? args[1] + ": " : "") << e.what() << "\n";
    return 1;
  }
  return 0;
}
