// The objects that implement the boundary interfaces over native parameter
// lists and items.
//
// Both are plain records whose interface pointers are the addresses of their
// table fields, as a C implementation of COM builds them: that fixes the
// field order completely, which matters because hosts read the list pointer
// of a list wrapper object directly (AppendRow, and CopyFrom/CopyRangeFrom of
// the W interface, take a wrapper object and use the list at its byte offset
// 16 on 32-bit targets).
//
// No interface method lets an exception out to its caller. Methods that
// answer an HResult turn failures into kHrUnexpected; the others (the
// list's Delete, Clear, NewRow, AppendRow and the item's setters) have no way
// to report one, so they leave the object as the failed operation left it,
// write the failure to the debugger output and answer 0 / false / null.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/params_list.h"
#include "common/params_list_interfaces.h"

namespace corvane {

// The class reference at the start of a wrapper object.
struct TkivParamsListWrapClass {
  const char* ClassName;
};

// Implements IkivParamsListA and IkivParamsListW over one list.
//
// Two ways of use:
// - Handed out right after construction (NewInterfaceA / NewInterfaceW):
//   ordinary reference counting; the last Release destroys the wrapper, and
//   with it the list unless NotOwned.
// - Kept by its creator (Create, then GetInterface): the wrapper holds a
//   reference to itself, so no outside Release destroys it; the creator calls
//   Destroy when the call that used it is over. Destroy frees the list unless
//   NotOwned. References still held elsewhere at that point are a fault of
//   whoever holds them: a message box says so, the list is gone, and the
//   wrapper record itself stays until the last of them is released, answering
//   every later call as a failure (kHrUnexpected, 0, nothing) instead of
//   touching freed memory.
//
// Reference counts change with interlocked operations, so references may be
// taken and dropped on any thread; the list itself is used by one thread at a
// time.
class TkivParamsListWrap {
 public:
  static const TkivParamsListWrapClass Class;

  // A wrapper that owns a new, empty list (NotOwned false), with no
  // references yet. Throws std::bad_alloc.
  static TkivParamsListWrap* Create();
  // A wrapper of list; NotOwned = notOwned. A null list gets a new list of
  // the wrapper's own (NotOwned false).
  static TkivParamsListWrap* Create(TkivParamsList* list, bool notOwned);

  // A new wrapper handed out with one reference for the caller.
  static InterfaceRef<IkivParamsListA> NewInterfaceA(TkivParamsList* list, bool notOwned);
  static InterfaceRef<IkivParamsListW> NewInterfaceW(TkivParamsList* list, bool notOwned);

  // The wrapper's IkivParamsListA pointer. The first call makes the wrapper
  // hold a reference to itself until Destroy; the caller gets no reference
  // of its own (the pointer stays valid until Destroy).
  IkivParamsListA* GetInterface();
  // Explicit destruction by the creator (see above). The pointer is invalid
  // afterwards.
  void Destroy() noexcept;

  // The interface pointers, without adding a reference.
  IkivParamsListA* InterfaceA() { return reinterpret_cast<IkivParamsListA*>(&tableA_); }
  IkivParamsListW* InterfaceW() { return reinterpret_cast<IkivParamsListW*>(&tableW_); }
  // What a host passes where an interface method takes a list wrapper object.
  const void* ObjectAddress() const { return this; }

  // The wrapped list; null once Destroy has let it go.
  TkivParamsList* List() const { return list_; }
  // The list behind an interface pointer (either side) when the object is a
  // list wrapper of this library; null for any other object, and for a
  // wrapper that has let go of its list.
  static TkivParamsList* ListBehind(const void* interfacePointer);
  bool NotOwned() const { return notOwned_ != 0; }
  int32_t RefCount() const;

  // Wrapper records alive in this process (diagnostics and tests).
  static int32_t LiveCount();

 private:
  friend struct ParamsListWrapSlots;
  friend struct ParamsListWrapLayout;

  TkivParamsListWrap(TkivParamsList* list, bool notOwned);
  ~TkivParamsListWrap() = default;
  TkivParamsListWrap(const TkivParamsListWrap&) = delete;
  TkivParamsListWrap& operator=(const TkivParamsListWrap&) = delete;

  // Frees the list unless it is not ours; the wrapper has no list afterwards.
  void LetGoOfList() noexcept;
  // Frees the record.
  void FreeRecord() noexcept;

  // The field order is the one hosts rely on; see params_list_wrap.cpp for
  // the offsets checked at compile time. The class reference is there for
  // hosts that read the record's layout; this code never reads it.
  [[maybe_unused]] const TkivParamsListWrapClass* classRef_ = &Class;
  IkivParamsListA* selfRef_ = nullptr;    // the reference GetInterface keeps
  IkivParamsListA* handedOut_ = nullptr;  // what GetInterface answered
  uint8_t notOwned_ = 0;
  TkivParamsList* list_ = nullptr;
  int32_t refCount_ = 0;
  const void* tableW_;
  const void* tableA_;
};

// Destroys a wrapper its creator kept (Destroy).
struct ParamsListWrapDeleter {
  void operator()(TkivParamsListWrap* wrapper) const {
    if (wrapper != nullptr) wrapper->Destroy();
  }
};
using ParamsListWrapPtr = std::unique_ptr<TkivParamsListWrap, ParamsListWrapDeleter>;

// Implements IkivParamsListItemA and IkivParamsListItemW (one table serves
// both) over one item it does not own. A new wrapper is made for every item
// handed out; it destroys itself when its count drops to 0 and never frees
// the item, so it must not outlive the item.
//
// The wrapper keeps three copies of the item's name, renewed whenever the
// name is set through it: UTF-16, 8-bit, and the lower-case name text (the
// 8-bit name with A to Z lowered, widened by the ANSI code page and encoded
// as UTF-8). Text pointers it answers stay valid while it lives and its name
// is not set again.
// The text an item wrapper hands out as the lower-case name of an item of
// the given name: A to Z lowered (every other byte kept), widened by the
// ANSI code page, as UTF-8.
std::string ItemWrapperLowerNameText(std::string_view name);

class TkivParamsListItemWrap {
 public:
  static const TkivParamsListWrapClass Class;

  // A wrapper of item handed out with one reference for the caller.
  // Throws std::bad_alloc.
  static InterfaceRef<IkivParamsListItemW> NewInterface(TkivParamsListItem* item);

  static int32_t LiveCount();

 private:
  friend struct ParamsListItemWrapSlots;

  explicit TkivParamsListItemWrap(TkivParamsListItem* item);
  TkivParamsListItemWrap(const TkivParamsListItemWrap&) = delete;
  TkivParamsListItemWrap& operator=(const TkivParamsListItemWrap&) = delete;
  ~TkivParamsListItemWrap();

  void TakeNames();

  // For hosts that read the record's layout, like the list wrapper's.
  [[maybe_unused]] const TkivParamsListWrapClass* classRef_ = &Class;
  std::u16string nameW_;
  std::string nameA_;
  std::string lowerNameText_;
  TkivParamsListItem* item_;
  int32_t refCount_ = 0;
  const void* table_;
};

}  // namespace corvane
