#include "form_text.h"

#include <cctype>
#include <stdexcept>

#include "common/str_data.h"

namespace corvane::tool {
namespace {

struct Token {
  enum Kind { Word, Number, Text, Symbol, End } kind = End;
  std::string text;
  int line = 0;
};

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) { Advance(); }

  const Token& Peek() const { return current_; }
  Token Take() {
    Token token = current_;
    Advance();
    return token;
  }
  [[noreturn]] void Fail(const std::string& message) const {
    throw std::runtime_error("line " + std::to_string(current_.line) + ": " + message);
  }
  Token Expect(Token::Kind kind, const std::string& what) {
    if (current_.kind != kind) Fail("expected " + what + ", found '" + current_.text + "'");
    return Take();
  }
  void ExpectSymbol(char symbol) {
    if (current_.kind != Token::Symbol || current_.text[0] != symbol) Fail(std::string("expected '") + symbol + "'");
    Advance();
  }
  bool AtSymbol(char symbol) const { return current_.kind == Token::Symbol && current_.text[0] == symbol; }

 private:
  void Advance() {
    SkipSpace();
    current_ = Token{};
    current_.line = line_;
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      current_.kind = Token::Word;
      while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' ||
                                     text_[pos_] == '.')) {
        current_.text += text_[pos_++];
      }
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
      current_.kind = Token::Number;
      current_.text += text_[pos_++];
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) current_.text += text_[pos_++];
    } else if (c == '\'') {
      current_.kind = Token::Text;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n') throw std::runtime_error("line " + std::to_string(line_) + ": unterminated text");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            current_.text += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        current_.text += text_[pos_++];
      }
    } else {
      current_.kind = Token::Symbol;
      current_.text = std::string(1, c);
      ++pos_;
    }
  }
  void SkipSpace() {
    while (pos_ < text_.size()) {
      if (text_[pos_] == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  Token current_;
};

class Parser {
 public:
  Parser(const std::string& text, const std::vector<std::string>& itemLines) : lexer_(text), itemLines_(itemLines) {}

  TFormObject Root() {
    TFormObject root = Object();
    if (lexer_.Peek().kind != Token::End) lexer_.Fail("text after the last 'end'");
    return root;
  }

 private:
  TFormObject Object() {
    const Token keyword = lexer_.Expect(Token::Word, "'object'");
    if (keyword.text != "object") lexer_.Fail("expected 'object'");
    TFormObject object;
    object.Name = lexer_.Expect(Token::Word, "an object name").text;
    lexer_.ExpectSymbol(':');
    object.ClassName = lexer_.Expect(Token::Word, "a class name").text;
    for (;;) {
      const Token& next = lexer_.Peek();
      if (next.kind == Token::Word && next.text == "end") {
        lexer_.Take();
        return object;
      }
      if (next.kind == Token::Word && next.text == "object") {
        object.Children.push_back(Object());
        continue;
      }
      TFormProperty property;
      property.Name = lexer_.Expect(Token::Word, "a property name").text;
      lexer_.ExpectSymbol('=');
      property.Value = Value();
      object.Properties.push_back(std::move(property));
    }
  }

  TFormValue Value() {
    const Token token = lexer_.Take();
    switch (token.kind) {
      case Token::Number: {
        const long long value = std::stoll(token.text);
        if (value < INT32_MIN || value > INT32_MAX) lexer_.Fail("integer out of range: " + token.text);
        return TFormValue::Int(static_cast<int32_t>(value));
      }
      case Token::Text: return TFormValue::Str(token.text);
      case Token::Word:
        if (token.text == "True") return TFormValue::Boolean(true);
        if (token.text == "False") return TFormValue::Boolean(false);
        if (token.text == "itemlines") return ItemLines();
        return TFormValue::Identifier(token.text);
      case Token::Symbol:
        if (token.text == "[") return Set();
        if (token.text == "(") return List();
        break;
      case Token::End: break;
    }
    lexer_.Fail("expected a value, found '" + token.text + "'");
  }

  TFormValue Set() {
    std::vector<std::string> elements;
    while (!lexer_.AtSymbol(']')) {
      if (!elements.empty()) lexer_.ExpectSymbol(',');
      elements.push_back(lexer_.Expect(Token::Word, "a set element").text);
    }
    lexer_.Take();
    return TFormValue::SetOf(std::move(elements));
  }

  TFormValue List() {
    std::vector<TFormValue> items;
    while (!lexer_.AtSymbol(')')) items.push_back(Value());
    lexer_.Take();
    return TFormValue::ListOf(std::move(items));
  }

  TFormValue ItemLines() {
    std::vector<TFormValue> items{TFormValue::Str("")};
    for (const std::string& line : itemLines_) items.push_back(TFormValue::Str(EncodeStrDataLine(line, "")));
    return TFormValue::ListOf(std::move(items));
  }

  Lexer lexer_;
  const std::vector<std::string>& itemLines_;
};

}  // namespace

TFormObject ParseFormText(const std::string& text, const std::vector<std::string>& itemLines) {
  return Parser(text, itemLines).Root();
}

}  // namespace corvane::tool
