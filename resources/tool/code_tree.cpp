#include "code_tree.h"

#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

namespace corvane::tool {
namespace {

struct Element {
  std::string name;
  std::string text;
  int line = 0;
  int column = 0;
  std::vector<std::unique_ptr<Element>> children;
};

// Elements that carry their identifier, literal or operator as "text".
const std::set<std::string>& textElements() {
  static const std::set<std::string> names{"ident", "type", "name", "node", "op", "string", "number"};
  return names;
}

const std::set<std::string>& knownElements() {
  static const std::set<std::string> names{"program", "var",      "ident",    "type",       "name",     "procedure",
                                           "parameters", "compoundstmt", "assignstmt", "callstmt", "ifstmt",
                                           "thenstmt", "elsestmt", "trystmt",  "exceptstmt", "expr",     "dsgn",
                                           "node",     "op",       "string",   "number",     "set",      "types"};
  return names;
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string position(int line, int column) { return std::to_string(line) + ":" + std::to_string(column); }

// The position of the last construct inside an element.
const Element& lastPart(const Element& element) {
  const Element* last = &element;
  while (!last->children.empty()) last = last->children.back().get();
  return *last;
}

void write(const Element& element, std::string& out) {
  out += "<" + element.name;
  if (!element.text.empty() || textElements().count(element.name) != 0) out += " text=\"" + escape(element.text) + "\"";
  if (element.name != "program" && element.name != "types") {
    out += " pos=\"" + position(element.line, element.column) + "\"";
  }
  if (element.name == "expr") {
    const Element& last = lastPart(element);
    out += " pos1=\"" + position(last.line, last.column + static_cast<int>(last.text.size())) + "\"";
  }
  if (element.children.empty()) {
    out += "/>";
    return;
  }
  out += ">";
  for (const auto& child : element.children) write(*child, out);
  out += "</" + element.name + ">";
}

}  // namespace

std::string CodeTreeToXml(const std::string& tree) {
  std::unique_ptr<Element> root;
  std::vector<std::pair<int, Element*>> open;  // indent, element
  int lineNumber = 0;
  size_t start = 0;
  while (start <= tree.size()) {
    size_t end = tree.find('\n', start);
    if (end == std::string::npos) end = tree.size();
    std::string line = tree.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t indentEnd = line.find_first_not_of(' ');
    if (indentEnd == std::string::npos || line[indentEnd] == '#') continue;
    const int indent = static_cast<int>(indentEnd);
    const size_t nameEnd = line.find(' ', indentEnd);
    auto element = std::make_unique<Element>();
    element->name = line.substr(indentEnd, nameEnd == std::string::npos ? std::string::npos : nameEnd - indentEnd);
    element->text = nameEnd == std::string::npos ? std::string() : line.substr(nameEnd + 1);
    element->line = lineNumber;
    element->column = indent + 1;
    const std::string where = "code tree line " + std::to_string(lineNumber);
    if (knownElements().count(element->name) == 0) throw std::runtime_error(where + ": unknown element " + element->name);
    if (element->name == "dsgn" && !element->text.empty()) {
      // The dotted shorthand: one node per part.
      const std::string dotted = element->text;
      element->text.clear();
      int column = element->column + 5;
      size_t partStart = 0;
      while (partStart <= dotted.size()) {
        size_t dot = dotted.find('.', partStart);
        if (dot == std::string::npos) dot = dotted.size();
        auto node = std::make_unique<Element>();
        node->name = "node";
        node->text = dotted.substr(partStart, dot - partStart);
        node->line = lineNumber;
        node->column = column;
        column += static_cast<int>(node->text.size()) + 1;
        element->children.push_back(std::move(node));
        partStart = dot + 1;
      }
    } else if (!element->text.empty() && textElements().count(element->name) == 0) {
      throw std::runtime_error(where + ": " + element->name + " takes no text");
    }
    while (!open.empty() && open.back().first >= indent) open.pop_back();
    Element* raw = element.get();
    if (open.empty()) {
      if (root) throw std::runtime_error(where + ": a second root element");
      root = std::move(element);
    } else {
      if (indent != open.back().first + 2) throw std::runtime_error(where + ": indent by two spaces per level");
      open.back().second->children.push_back(std::move(element));
    }
    open.emplace_back(indent, raw);
  }
  if (!root || root->name != "program") throw std::runtime_error("the code tree must start with program");
  std::string xml = "<?xml version=\"1.0\"?>";
  write(*root, xml);
  return xml;
}

}  // namespace corvane::tool
