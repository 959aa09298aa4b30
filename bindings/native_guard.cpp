// Guards of native objects lent to scripts.
#include "bindings/native_guard.h"

#include <algorithm>

namespace corvane::py {

void TNativeGuard::Link(TGuardLink& link, const void* item) {
  link.Guard = this;
  link.Item = item;
  link.Prev = head_.Prev;
  link.Next = &head_;
  head_.Prev->Next = &link;
  head_.Prev = &link;
}

void TNativeGuard::Unlink(TGuardLink& link) {
  if (link.Guard == nullptr) return;
  link.Prev->Next = link.Next;
  link.Next->Prev = link.Prev;
  link.Guard = nullptr;
  link.Prev = link.Next = nullptr;
}

template <class Predicate>
void TNativeGuard::Revoke(Predicate dies) {
  for (TGuardLink* link = head_.Next; link != &head_;) {
    TGuardLink* next = link->Next;
    if (dies(*link)) Unlink(*link);
    link = next;
  }
}

void TNativeGuard::RevokeItem(const void* item) {
  Revoke([item](const TGuardLink& link) { return link.Item == item; });
}

void TNativeGuard::RevokeItems() {
  Revoke([](const TGuardLink& link) { return link.Item != nullptr; });
}

void TNativeGuard::RevokeAll() {
  Revoke([](const TGuardLink&) { return true; });
}

TNativeGuard& TWrapScope::GuardOf(const void* native) {
  for (const auto& guard : guards_) {
    if (guard->Native() == native) return *guard;
  }
  return *guards_.emplace_back(std::make_unique<TNativeGuard>(native));
}

void TWrapScope::Forget(const void* native) {
  std::erase_if(guards_, [native](const auto& guard) { return guard->Native() == native; });
}

}  // namespace corvane::py
