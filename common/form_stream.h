// The compact form stream: "TPF0", then one object record (class name,
// object name, typed properties, a zero byte, the child records, a zero
// byte). Texts are length-prefixed 8-bit bytes; integers are little-endian
// and written in the smallest type that holds them. This file is pure C++
// (no platform code), so the build-time resource tool compiles it too.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The value types of the stream.
enum class TFormValueType : uint8_t {
  Null = 0x00,
  List = 0x01,
  Int8 = 0x02,
  Int16 = 0x03,
  Int32 = 0x04,
  String = 0x06,
  Ident = 0x07,
  False = 0x08,
  True = 0x09,
  Set = 0x0B,
  LString = 0x0C,
};

struct TFormValue {
  TFormValueType Type = TFormValueType::Null;
  int32_t Integer = 0;              // Int8, Int16, Int32
  std::string Text;                 // String, LString, Ident
  std::vector<std::string> Elements;  // Set
  std::vector<TFormValue> Items;    // List

  static TFormValue Int(int32_t value);  // the smallest integer type
  static TFormValue Str(std::string text);  // String, or LString beyond 255 bytes
  static TFormValue Identifier(std::string name);
  static TFormValue Boolean(bool value);
  static TFormValue SetOf(std::vector<std::string> elements);
  static TFormValue ListOf(std::vector<TFormValue> items);

  bool IsInteger() const;
  bool IsText() const;  // String or LString
  // How the value reads in a form description: 314, 'text', clBtnFace,
  // True, [biSystemMenu, biHelp], ('a' 'b').
  std::string Describe() const;
};

struct TFormProperty {
  std::string Name;  // dotted for nested properties ("Font.Name")
  TFormValue Value;
};

struct TFormObject {
  std::string ClassName;
  std::string Name;
  std::vector<TFormProperty> Properties;
  std::vector<TFormObject> Children;

  // The property of that name (exact), or nullptr.
  const TFormProperty* Find(std::string_view name) const;
  // The child of that name anywhere below this object, or nullptr.
  const TFormObject* FindObject(std::string_view name) const;
};

// A stream that is truncated, has another signature or an unknown value type.
class EFormStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string WriteFormStream(const TFormObject& root);
TFormObject ReadFormStream(std::string_view stream);

// The object tree as indented text: "object Name: Class", its properties as
// "Name = value", its children, "end"; two spaces per level.
std::string DescribeForm(const TFormObject& root);

}  // namespace corvane
