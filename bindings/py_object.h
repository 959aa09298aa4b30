// The two handle types every piece of code that touches Python objects uses.
// A Handle borrows: it never changes the reference count, so it is what
// functions take. An Object owns one reference and always releases it, so
// it is what functions return: no raw new reference ever crosses a function
// boundary. Which one a call site has is said explicitly (Steal or Borrow).
// Both need the interpreter lock wherever they count.
#pragma once

#include <utility>

#include "bindings/python_api.h"

namespace corvane::py {

class Handle {
 public:
  Handle() = default;
  Handle(PyObject* object) : object_(object) {}  // NOLINT: borrowing is implicit by design
  PyObject* ptr() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  friend bool operator==(Handle a, Handle b) { return a.object_ == b.object_; }

 private:
  PyObject* object_ = nullptr;
};

class Object {
 public:
  Object() = default;
  // Takes over a new reference (an API result); a null result gives an
  // empty Object.
  static Object Steal(const PythonApi& api, PyObject* object) { return Object(api, object); }
  // Takes a reference of its own to a borrowed object.
  static Object Borrow(const PythonApi& api, Handle object) {
    if (object) api.Py_IncRef(object.ptr());
    return Object(api, object.ptr());
  }
  Object(const Object& other) : api_(other.api_), object_(other.object_) {
    if (object_ != nullptr) api_->Py_IncRef(object_);
  }
  Object(Object&& other) noexcept : api_(other.api_), object_(std::exchange(other.object_, nullptr)) {}
  Object& operator=(Object other) noexcept {
    std::swap(api_, other.api_);
    std::swap(object_, other.object_);
    return *this;
  }
  ~Object() { reset(); }

  PyObject* ptr() const { return object_; }
  PyObject* get() const { return object_; }
  Handle handle() const { return Handle(object_); }
  operator Handle() const { return Handle(object_); }  // NOLINT: an owner lends freely
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference over (to the runtime, or to an API that steals).
  PyObject* release() { return std::exchange(object_, nullptr); }
  void reset() {
    if (object_ != nullptr) api_->Py_DecRef(std::exchange(object_, nullptr));
  }

 private:
  Object(const PythonApi& api, PyObject* object) : api_(&api), object_(object) {}
  const PythonApi* api_ = nullptr;
  PyObject* object_ = nullptr;
};

}  // namespace corvane::py
