#include "common/form_stream.h"

#include <limits>

namespace corvane {
namespace {

constexpr std::string_view kSignature = "TPF0";

class Writer {
 public:
  void Byte(uint8_t value) { out_ += static_cast<char>(value); }
  void Little(uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void ShortText(std::string_view text) {
    if (text.size() > 255) throw EFormStreamError("Name longer than 255 bytes: " + std::string(text.substr(0, 32)));
    Byte(static_cast<uint8_t>(text.size()));
    out_.append(text);
  }
  void Value(const TFormValue& value) {
    Byte(static_cast<uint8_t>(value.Type));
    switch (value.Type) {
      case TFormValueType::Int8: Little(static_cast<uint32_t>(value.Integer), 1); break;
      case TFormValueType::Int16: Little(static_cast<uint32_t>(value.Integer), 2); break;
      case TFormValueType::Int32: Little(static_cast<uint32_t>(value.Integer), 4); break;
      case TFormValueType::String:
      case TFormValueType::Ident: ShortText(value.Text); break;
      case TFormValueType::LString:
        Little(static_cast<uint32_t>(value.Text.size()), 4);
        out_.append(value.Text);
        break;
      case TFormValueType::Set:
        for (const std::string& element : value.Elements) ShortText(element);
        Byte(0);
        break;
      case TFormValueType::List:
        for (const TFormValue& item : value.Items) Value(item);
        Byte(0);
        break;
      case TFormValueType::Null:
      case TFormValueType::False:
      case TFormValueType::True: break;
    }
  }
  void Object(const TFormObject& object) {
    ShortText(object.ClassName);
    ShortText(object.Name);
    for (const TFormProperty& property : object.Properties) {
      if (property.Name.empty()) throw EFormStreamError("A property of " + object.Name + " has no name");
      ShortText(property.Name);
      Value(property.Value);
    }
    Byte(0);
    for (const TFormObject& child : object.Children) Object(child);
    Byte(0);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}

  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(in_[pos_++]);
  }
  uint32_t Little(int bytes) {
    Need(static_cast<size_t>(bytes));
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(in_[pos_++])) << (8 * i);
    return value;
  }
  std::string Bytes(size_t count) {
    Need(count);
    std::string text(in_.substr(pos_, count));
    pos_ += count;
    return text;
  }
  std::string ShortText() { return Bytes(Byte()); }
  bool AtEnd() const { return pos_ == in_.size(); }
  size_t Position() const { return pos_; }

  TFormValue Value(int depth) {
    if (depth > 64) throw EFormStreamError("Lists nested too deeply");
    TFormValue value;
    const uint8_t type = Byte();
    value.Type = static_cast<TFormValueType>(type);
    switch (value.Type) {
      case TFormValueType::Int8: value.Integer = static_cast<int8_t>(Little(1)); break;
      case TFormValueType::Int16: value.Integer = static_cast<int16_t>(Little(2)); break;
      case TFormValueType::Int32: value.Integer = static_cast<int32_t>(Little(4)); break;
      case TFormValueType::String:
      case TFormValueType::Ident: value.Text = ShortText(); break;
      case TFormValueType::LString: value.Text = Bytes(Little(4)); break;
      case TFormValueType::Set:
        for (std::string element = ShortText(); !element.empty(); element = ShortText()) {
          value.Elements.push_back(std::move(element));
        }
        break;
      case TFormValueType::List:
        while (Peek() != 0) value.Items.push_back(Value(depth + 1));
        ++pos_;
        break;
      case TFormValueType::Null:
      case TFormValueType::False:
      case TFormValueType::True: break;
      default:
        throw EFormStreamError("Unknown value type " + std::to_string(type) + " at offset " + std::to_string(pos_ - 1));
    }
    return value;
  }

  TFormObject Object(int depth) {
    if (depth > 64) throw EFormStreamError("Objects nested too deeply");
    TFormObject object;
    object.ClassName = ShortText();
    object.Name = ShortText();
    while (Peek() != 0) {
      TFormProperty property;
      property.Name = ShortText();
      property.Value = Value(0);
      object.Properties.push_back(std::move(property));
    }
    ++pos_;
    while (Peek() != 0) object.Children.push_back(Object(depth + 1));
    ++pos_;
    return object;
  }

 private:
  uint8_t Peek() {
    Need(1);
    return static_cast<uint8_t>(in_[pos_]);
  }
  void Need(size_t count) {
    if (in_.size() - pos_ < count) throw EFormStreamError("Form stream ends early at offset " + std::to_string(pos_));
  }

  std::string_view in_;
  size_t pos_ = 0;
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

void describe(const TFormObject& object, int depth, std::string& out) {
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + "object " + object.Name + ": " + object.ClassName + "\n";
  for (const TFormProperty& property : object.Properties) {
    out += indent + "  " + property.Name + " = " + property.Value.Describe() + "\n";
  }
  for (const TFormObject& child : object.Children) describe(child, depth + 1, out);
  out += indent + "end\n";
}

}  // namespace

TFormValue TFormValue::Int(int32_t value) {
  TFormValue v;
  v.Integer = value;
  if (value >= std::numeric_limits<int8_t>::min() && value <= std::numeric_limits<int8_t>::max()) {
    v.Type = TFormValueType::Int8;
  } else if (value >= std::numeric_limits<int16_t>::min() && value <= std::numeric_limits<int16_t>::max()) {
    v.Type = TFormValueType::Int16;
  } else {
    v.Type = TFormValueType::Int32;
  }
  return v;
}

TFormValue TFormValue::Str(std::string text) {
  TFormValue v;
  v.Type = text.size() > 255 ? TFormValueType::LString : TFormValueType::String;
  v.Text = std::move(text);
  return v;
}

TFormValue TFormValue::Identifier(std::string name) {
  TFormValue v;
  v.Type = TFormValueType::Ident;
  v.Text = std::move(name);
  return v;
}

TFormValue TFormValue::Boolean(bool value) {
  TFormValue v;
  v.Type = value ? TFormValueType::True : TFormValueType::False;
  return v;
}

TFormValue TFormValue::SetOf(std::vector<std::string> elements) {
  TFormValue v;
  v.Type = TFormValueType::Set;
  v.Elements = std::move(elements);
  return v;
}

TFormValue TFormValue::ListOf(std::vector<TFormValue> items) {
  TFormValue v;
  v.Type = TFormValueType::List;
  v.Items = std::move(items);
  return v;
}

bool TFormValue::IsInteger() const {
  return Type == TFormValueType::Int8 || Type == TFormValueType::Int16 || Type == TFormValueType::Int32;
}

bool TFormValue::IsText() const { return Type == TFormValueType::String || Type == TFormValueType::LString; }

std::string TFormValue::Describe() const {
  switch (Type) {
    case TFormValueType::Int8:
    case TFormValueType::Int16:
    case TFormValueType::Int32: return std::to_string(Integer);
    case TFormValueType::String:
    case TFormValueType::LString: return quoted(Text);
    case TFormValueType::Ident: return Text;
    case TFormValueType::False: return "False";
    case TFormValueType::True: return "True";
    case TFormValueType::Null: return "nil";
    case TFormValueType::Set: {
      std::string out = "[";
      for (size_t i = 0; i < Elements.size(); ++i) out += (i ? ", " : "") + Elements[i];
      return out + "]";
    }
    case TFormValueType::List: {
      std::string out = "(";
      for (size_t i = 0; i < Items.size(); ++i) out += (i ? " " : "") + Items[i].Describe();
      return out + ")";
    }
  }
  return "?";
}

const TFormProperty* TFormObject::Find(std::string_view name) const {
  for (const TFormProperty& property : Properties) {
    if (property.Name == name) return &property;
  }
  return nullptr;
}

const TFormObject* TFormObject::FindObject(std::string_view name) const {
  for (const TFormObject& child : Children) {
    if (child.Name == name) return &child;
    if (const TFormObject* found = child.FindObject(name)) return found;
  }
  return nullptr;
}

std::string WriteFormStream(const TFormObject& root) {
  Writer writer;
  for (char c : kSignature) writer.Byte(static_cast<uint8_t>(c));
  writer.Object(root);
  return writer.Take();
}

TFormObject ReadFormStream(std::string_view stream) {
  if (stream.substr(0, kSignature.size()) != kSignature) throw EFormStreamError("Not a form stream (no TPF0 signature)");
  Reader reader(stream.substr(kSignature.size()));
  TFormObject root = reader.Object(0);
  if (!reader.AtEnd()) throw EFormStreamError("Bytes after the form's end at offset " + std::to_string(reader.Position()));
  return root;
}

std::string DescribeForm(const TFormObject& root) {
  std::string out;
  describe(root, 0, out);
  return out;
}

}  // namespace corvane
