// The reference-counted binary interfaces through which parameter lists and
// their items cross the boundary between the plug-in and its host, whatever
// language the host is written in.
//
// Each interface is a COM-style table of stdcall functions that take the
// interface pointer as their first argument; slots 0 to 2 are QueryInterface,
// AddRef and Release. The structs below declare them for C++ callers: they
// hold nothing but pure virtual functions in slot order (and no virtual
// destructor, which would add slots), so GCC lays their tables out exactly as
// COM does, on Linux and on MinGW alike. Implementations need not derive from
// them: the wrappers in params_list_wrap.h build the tables by hand.
//
// Texts are zero-terminated; the A interfaces take 8-bit texts in the ANSI
// code page, the W interfaces UTF-16; a null text is the empty text. Boolean
// results and arguments are single bytes (0 false, anything else true).
// VARIANT arguments are passed by address (a null address counts as Empty).
//
// Methods returning HResult answer kHrOk, or kHrUnexpected when the operation
// failed; their last parameter receives the result. Interface and VARIANT
// results are cleared to zero before the operation runs (so they must not
// hold anything the caller still owns); integer and boolean results are
// written only on success; a null result address fails the call before
// anything is done. VARIANT results are copies that the receiver clears with
// variantClear; interface results carry one reference for the receiver.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/abi.h"
#include "platform/guid.h"
#include "platform/ole_variant.h"

namespace corvane {

using platform::HResult;

// The root of every boundary interface (IUnknown's three slots). Asked for
// Iid, an object answers the same pointer through every interface it has:
// hosts compare objects by it.
struct IUnknownBase {
  static constexpr platform::Guid Iid = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

  virtual HResult CV_STDCALL QueryInterface(const platform::Guid& iid, void** object) = 0;
  virtual uint32_t CV_STDCALL AddRef() = 0;   // answers the new count
  virtual uint32_t CV_STDCALL Release() = 0;  // answers the new count

 protected:
  ~IUnknownBase() = default;  // never deleted through an interface pointer
};

// One item of a boundary list.
struct IkivParamsListItemA : IUnknownBase {
  static constexpr platform::Guid Iid = {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}};

  // Replaces the lower-case name text the object hands out (slot 6); the
  // item's own lower-case name stays as it is.
  virtual void CV_STDCALL SetLowerNameText(const char* text) = 0;                // 3
  virtual void CV_STDCALL SetDataType(uint32_t dataType) = 0;                     // 4
  virtual void CV_STDCALL SetQuality(uint32_t quality) = 0;                       // 5, low 8 bits
  virtual const char* CV_STDCALL GetLowerNameText() = 0;                          // 6, UTF-8; null when empty
  virtual uint32_t CV_STDCALL GetDataType() = 0;                                  // 7
  virtual uint8_t CV_STDCALL GetQuality() = 0;                                    // 8
  virtual HResult CV_STDCALL SetValue(const platform::Variant* value) = 0;        // 9
  virtual HResult CV_STDCALL GetValue(platform::Variant* value) = 0;              // 10
  virtual void CV_STDCALL SetName(const char* name) = 0;                          // 11
  virtual const char* CV_STDCALL GetName() = 0;                                   // 12, null when empty
  virtual uint8_t CV_STDCALL IsRowDelimiter() = 0;                                // 13

 protected:
  ~IkivParamsListItemA() = default;
};

struct IkivParamsListItemW : IkivParamsListItemA {
  static constexpr platform::Guid Iid = {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}};

  virtual void CV_STDCALL SetNameW(const char16_t* name) = 0;                     // 14
  virtual const char16_t* CV_STDCALL GetNameW() = 0;                              // 15, null when empty
  virtual HResult CV_STDCALL SetValueW(const platform::Variant* value) = 0;       // 16
  virtual HResult CV_STDCALL GetValueW(platform::Variant* value) = 0;             // 17

 protected:
  ~IkivParamsListItemW() = default;
};

// The part both list interfaces share; it has no IID of its own.
struct IkivParamsList_ : IUnknownBase {
  virtual int32_t CV_STDCALL GetCount() = 0;                                      // 3
  virtual uint32_t CV_STDCALL GetSignature() = 0;                                 // 4
  virtual int32_t CV_STDCALL GetTag() = 0;                                        // 5
  virtual void CV_STDCALL SetTag(int32_t tag) = 0;                                // 6
  virtual void CV_STDCALL Clear() = 0;                                            // 7
  virtual void CV_STDCALL Delete(int32_t index) = 0;                              // 8
  // Answers whether a row begins at start; index and isDelimiter are
  // written only then.
  virtual uint8_t CV_STDCALL FindRow(int32_t start, int32_t* index, uint8_t* isDelimiter) = 0;  // 9
  virtual void CV_STDCALL NewRow() = 0;                                           // 10
  // wrapperObject: a list wrapper object, whose list pointer sits at byte
  // offset 16 (32-bit); for ours, TkivParamsListWrap::ObjectAddress().
  virtual void CV_STDCALL AppendRow(const void* wrapperObject) = 0;               // 11

 protected:
  ~IkivParamsList_() = default;
};

struct IkivParamsListA : IkivParamsList_ {
  static constexpr platform::Guid Iid = {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}};

  virtual HResult CV_STDCALL GetItem(int32_t index, IkivParamsListItemA** item) = 0;  // 12
  // source: a list object of the shared layout.
  virtual HResult CV_STDCALL CopyFrom(const void* source, uint8_t* copied) = 0;        // 13
  virtual HResult CV_STDCALL CopyRangeFrom(const void* source, int32_t start, int32_t end,
                                           uint8_t* copied) = 0;                       // 14
  virtual HResult CV_STDCALL ItemByName(const char* name, int32_t start, int32_t end,
                                        IkivParamsListItemA** item) = 0;               // 15
  virtual HResult CV_STDCALL ItemIndexByName(const char* name, int32_t start, int32_t end,
                                             int32_t* index) = 0;                      // 16
  virtual HResult CV_STDCALL ItemValueByName(const char* name, int32_t start, int32_t end,
                                             platform::Variant* value) = 0;            // 17
  virtual HResult CV_STDCALL ItemValueByNameDef(const char* name, const platform::Variant* defaultValue,
                                                int32_t start, int32_t end,
                                                platform::Variant* value) = 0;         // 18
  virtual HResult CV_STDCALL AddItem(const char* name, const platform::Variant* value,
                                     IkivParamsListItemA** item) = 0;                  // 19
  virtual HResult CV_STDCALL InsertItem(int32_t index, const char* name, const platform::Variant* value,
                                        IkivParamsListItemA** item) = 0;               // 20
  virtual HResult CV_STDCALL SetItem(const char* name, const platform::Variant* value, uint8_t create,
                                     IkivParamsListItemA** item) = 0;                  // 21
  virtual HResult CV_STDCALL AddItemCopy(IkivParamsListItemA* source, IkivParamsListItemA** item) = 0;  // 22

 protected:
  ~IkivParamsListA() = default;
};

struct IkivParamsListW : IkivParamsList_ {
  static constexpr platform::Guid Iid = {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB2}};

  virtual HResult CV_STDCALL GetItem(int32_t index, IkivParamsListItemW** item) = 0;  // 12
  // source: a list wrapper object, as for AppendRow.
  virtual HResult CV_STDCALL CopyFrom(const void* wrapperObject, uint8_t* copied) = 0;  // 13
  virtual HResult CV_STDCALL CopyRangeFrom(const void* wrapperObject, int32_t start, int32_t end,
                                           uint8_t* copied) = 0;                       // 14
  virtual HResult CV_STDCALL ItemByName(const char16_t* name, int32_t start, int32_t end,
                                        IkivParamsListItemW** item) = 0;               // 15
  virtual HResult CV_STDCALL ItemIndexByName(const char16_t* name, int32_t start, int32_t end,
                                             int32_t* index) = 0;                      // 16
  virtual HResult CV_STDCALL ItemValueByName(const char16_t* name, int32_t start, int32_t end,
                                             platform::Variant* value) = 0;            // 17
  virtual HResult CV_STDCALL ItemValueByNameDef(const char16_t* name, const platform::Variant* defaultValue,
                                                int32_t start, int32_t end,
                                                platform::Variant* value) = 0;         // 18
  virtual HResult CV_STDCALL AddItem(const char16_t* name, const platform::Variant* value,
                                     IkivParamsListItemW** item) = 0;                  // 19
  virtual HResult CV_STDCALL InsertItem(int32_t index, const char16_t* name, const platform::Variant* value,
                                        IkivParamsListItemW** item) = 0;               // 20
  virtual HResult CV_STDCALL SetItem(const char16_t* name, const platform::Variant* value, uint8_t create,
                                     IkivParamsListItemW** item) = 0;                  // 21
  virtual HResult CV_STDCALL AddItemCopy(IkivParamsListItemW* source, IkivParamsListItemW** item) = 0;  // 22

 protected:
  ~IkivParamsListW() = default;
};

// Raises Exception naming the operation and the code when hr reports a
// failure: a foreign object's failure becomes one of ours.
void CheckBoundaryResult(HResult hr, std::string_view operation);

// Owner of one reference to a boundary interface: releases it when done.
// Adopt takes over a reference the caller already has (an out parameter, a
// fresh object); Borrow adds one of its own.
template <class T>
class InterfaceRef {
 public:
  InterfaceRef() = default;
  static InterfaceRef Adopt(T* object) noexcept {
    InterfaceRef ref;
    ref.object_ = object;
    return ref;
  }
  static InterfaceRef Borrow(T* object) noexcept {
    if (object != nullptr) object->AddRef();
    return Adopt(object);
  }

  InterfaceRef(const InterfaceRef& other) noexcept : object_(other.object_) {
    if (object_ != nullptr) object_->AddRef();
  }
  InterfaceRef(InterfaceRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  InterfaceRef& operator=(InterfaceRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~InterfaceRef() { reset(); }

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller.
  T* release() noexcept { return std::exchange(object_, nullptr); }
  void reset() noexcept {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }
  // The address of the variable holding the reference, for records that
  // pass a reference by the address of its variable.
  T* const* address() const noexcept { return &object_; }
  // Drops the current reference and answers the slot for an out parameter.
  T** put() noexcept {
    reset();
    return &object_;
  }

  // Another interface of the same object by its IID (T::Iid of the target);
  // empty when the object does not offer it.
  template <class U>
  InterfaceRef<U> Query() const {
    void* other = nullptr;
    if (object_ == nullptr || platform::failed(object_->QueryInterface(U::Iid, &other))) return {};
    return InterfaceRef<U>::Adopt(static_cast<U*>(other));
  }

 private:
  T* object_ = nullptr;
};

}  // namespace corvane
