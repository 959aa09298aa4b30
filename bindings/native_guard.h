// How a script object learns that the native object it refers to is gone.
//
// Every Python object that points into native memory (wrappers, container
// and iterator objects) embeds a TGuardLink and is linked, while it lives,
// into the TNativeGuard of the native object it came from. The owner of the
// native object revokes the guard before the object goes: every linked
// script object is then marked dead and unlinked, and any later use of it
// raises ReferenceError instead of touching freed memory. A guard also knows
// the items of a guarded list: deleting an item, or clearing the list,
// revokes just the script objects of those items.
//
// Checking is one pointer test per access; linking and unlinking are a few
// pointer stores. Everything here runs with the interpreter lock held, which
// is what serialises it.
#pragma once

#include <memory>
#include <vector>

namespace corvane::py {

class TNativeGuard;

struct TGuardLink {
  TNativeGuard* Guard = nullptr;  // null: the native object is gone, or was never bound
  TGuardLink* Prev = nullptr;
  TGuardLink* Next = nullptr;
  const void* Item = nullptr;  // the guarded list's item this object stands for; null: the object itself
  bool Alive() const { return Guard != nullptr; }
};

class TNativeGuard {
 public:
  explicit TNativeGuard(const void* native) : native_(native) { head_.Prev = head_.Next = &head_; }
  TNativeGuard(const TNativeGuard&) = delete;
  TNativeGuard& operator=(const TNativeGuard&) = delete;
  ~TNativeGuard() { RevokeAll(); }

  const void* Native() const { return native_; }
  void Link(TGuardLink& link, const void* item = nullptr);
  static void Unlink(TGuardLink& link);

  // One item of the guarded list is gone.
  void RevokeItem(const void* item);
  // Every item of the guarded list is gone; the list stays.
  void RevokeItems();
  // The guarded object itself is gone.
  void RevokeAll();

 private:
  template <class Predicate>
  void Revoke(Predicate dies);

  const void* native_;
  TGuardLink head_;  // sentinel of the circular list of links
};

// The native objects lent to scripts for a while (one entry-function call):
// one guard per object, all revoked when the scope ends. End it with the
// interpreter lock held and before the objects themselves are freed.
class TWrapScope {
 public:
  TWrapScope() = default;
  TWrapScope(const TWrapScope&) = delete;
  TWrapScope& operator=(const TWrapScope&) = delete;
  ~TWrapScope() { End(); }

  TNativeGuard& GuardOf(const void* native);
  // The object is about to be freed before the scope ends.
  void Forget(const void* native);
  void End() { guards_.clear(); }

 private:
  std::vector<std::unique_ptr<TNativeGuard>> guards_;  // few per call
};

}  // namespace corvane::py
