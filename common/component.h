// A small component model: objects that describe their class (name, parent
// class, published properties) without C++ RTTI, and components that own
// other components by name. The settings store resolves property paths
// through it ("edtFile.Text": a component owned by the root, then one of its
// properties) and reads or writes values by their kind; the translator walks
// owned components and rewrites their caption-like string properties.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/exceptions.h"
#include "platform/ole_variant.h"

namespace corvane {

class TPersistent;
class TComponent;
struct TFormValue;

enum class TPropertyKind : uint8_t {
  Integer,      // int32_t
  Int64,        // int64_t
  Float,        // double
  String,       // std::string (8-bit text)
  Enumeration,  // int32_t ordinal into the property's identifiers
  StringList,   // std::vector<std::string>, one entry per line
  Component,    // TComponent*, a reference the property does not own
  Variant,      // platform::OleVariant
  Object,       // TPersistent*, an object the property's owner keeps
};

// A property value. Which alternative a property takes and gives follows its
// kind (see TPropertyKind); std::monostate is "no value".
using TPropertyValue = std::variant<std::monostate, int32_t, int64_t, double, std::string, std::vector<std::string>,
                                    TComponent*, platform::OleVariant, TPersistent*>;

// A wrong property name, a write to a read-only property or a value of the
// wrong alternative.
class EPropertyError : public Exception {
 public:
  using Exception::Exception;
};

struct TPropertyInfo {
  using Getter = std::function<TPropertyValue(const TPersistent&)>;
  using Setter = std::function<void(TPersistent&, const TPropertyValue&)>;

  std::string Name;
  TPropertyKind Kind;
  Getter Get;
  Setter Set;                            // empty: read-only
  std::vector<std::string> Identifiers;  // Enumeration: the identifier of each ordinal

  bool ReadOnly() const { return !Set; }
  // Enumeration identifiers compare case-insensitively; -1 when unknown.
  int32_t OrdinalOf(std::string_view identifier) const;
  // Empty for an ordinal outside the identifiers.
  std::string IdentifierOf(int32_t ordinal) const;
};

// The identifiers of boolean properties.
const std::vector<std::string>& BooleanIdentifiers();

struct TClassInfo {
  std::string Name;
  const TClassInfo* Parent;  // nullptr for the root class
  std::vector<TPropertyInfo> Properties;  // this class's own, not the inherited ones

  bool InheritsFrom(const TClassInfo& other) const;
  // Looks the name up case-insensitively in this class, then its ancestors.
  const TPropertyInfo* FindProperty(std::string_view name) const;
  // Every property, the root class's first.
  std::vector<const TPropertyInfo*> AllProperties() const;
};

// Declares the class-information members of a class derived from TPersistent.
#define CV_DECLARE_CLASS_INFO                                          \
 public:                                                               \
  static const ::corvane::TClassInfo& StaticClassInfo();               \
  const ::corvane::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

// Accessors for property tables: a field of class C as a property. The field
// type decides the conversion (integers up to 32 bits, bool as an
// enumeration ordinal, float/double, std::string, std::vector<std::string>).
template <class C, class T>
TPropertyInfo::Getter FieldGetter(T C::*field) {
  return [field](const TPersistent& object) -> TPropertyValue {
    const T& value = static_cast<const C&>(object).*field;
    if constexpr (std::is_same_v<T, bool>) {
      return int32_t{value ? 1 : 0};
    } else if constexpr (std::is_floating_point_v<T>) {
      return static_cast<double>(value);
    } else if constexpr (std::is_same_v<T, int64_t>) {
      return value;
    } else if constexpr (std::is_integral_v<T>) {
      return static_cast<int32_t>(value);
    } else {
      return value;
    }
  };
}

template <class C, class T>
TPropertyInfo::Setter FieldSetter(T C::*field) {
  return [field](TPersistent& object, const TPropertyValue& value) {
    T& target = static_cast<C&>(object).*field;
    if constexpr (std::is_same_v<T, bool>) {
      target = std::get<int32_t>(value) != 0;
    } else if constexpr (std::is_floating_point_v<T>) {
      target = static_cast<T>(std::get<double>(value));
    } else if constexpr (std::is_same_v<T, int64_t>) {
      target = std::get<int64_t>(value);
    } else if constexpr (std::is_integral_v<T>) {
      target = static_cast<T>(std::get<int32_t>(value));
    } else {
      target = std::get<T>(value);
    }
  };
}

// The root of classes that describe themselves.
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  const std::string& ClassName() const { return ClassInfo().Name; }
  bool InheritsFrom(const TClassInfo& other) const { return ClassInfo().InheritsFrom(other); }

  const TPropertyInfo* FindProperty(std::string_view name) const { return ClassInfo().FindProperty(name); }
  // Throw EPropertyError for an unknown name, a read-only property (set) or
  // a value of another alternative than the kind takes (set).
  TPropertyValue GetPropertyValue(std::string_view name) const;
  void SetPropertyValue(std::string_view name, const TPropertyValue& value);

  // A value of the form stream that no published property takes (a class's
  // own streamed data); answers whether the class took it.
  virtual bool ReadStreamedProperty(std::string_view name, const TFormValue& value) { return false; }
};

// Owns the components created with it as owner; they are freed with it, in
// the order they were created. A component freed before its owner leaves the
// owner's list. Names are unique among the components of one owner
// (case-insensitively); the empty name may repeat.
class TComponent : public TPersistent {
  CV_DECLARE_CLASS_INFO

 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  // A new component of type T owned by owner; the owner frees it.
  template <class T, class... Args>
  static T& CreateOwned(TComponent& owner, Args&&... args) {
    auto component = std::make_unique<T>(&owner, std::forward<Args>(args)...);
    return *component.release();  // the constructor registered it with the owner
  }

  const std::string& Name() const { return name_; }
  // Raises EPropertyError when another component of the same owner has it.
  void SetName(std::string name);
  TComponent* Owner() const { return owner_; }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  int32_t ComponentCount() const { return static_cast<int32_t>(components_.size()); }
  TComponent* Components(int32_t index) const { return components_.at(static_cast<size_t>(index)); }
  // An owned component by name, case-insensitively; nullptr when none (and
  // for the empty name).
  TComponent* FindComponent(std::string_view name) const;
  // True while the destructor runs (owned components are being freed).
  bool Destroying() const { return destroying_; }

  // The names of the owners, outermost first, and of the component itself,
  // joined by "." (how a reference to a component is written down).
  std::string NamePath() const;

 private:
  void Remove(TComponent* component);

  TComponent* owner_;
  std::string name_;
  int32_t tag_ = 0;
  bool destroying_ = false;
  std::vector<TComponent*> components_;  // owned
};

}  // namespace corvane
