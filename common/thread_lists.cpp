#include "common/thread_lists.h"

#include <stdexcept>

#include "common/exceptions.h"

namespace corvane {

namespace {
constexpr std::string_view kUnit = "Public\\Common\\kivThreadLists";
}

TStringList& TThreadStringList::LockList() {
  lock_.beginWrite();
  return list_;
}

void TThreadStringList::UnlockList() {
  Assert(lock_.isWriter(), "UnlockList without the write lock", kUnit, __LINE__);
  lock_.endWrite();
}

const TStringList& TThreadStringList::LockListRead() {
  lock_.beginRead();
  return list_;
}

void TThreadStringList::UnlockListRead() {
  try {
    lock_.endRead();
  } catch (const std::logic_error&) {
    Assert(false, "UnlockListRead without a read lock", kUnit, __LINE__);
  }
}

void TThreadStringList::Clear() {
  LockList().Clear();
  UnlockList();
}

void TThreadStringList::SetDuplicates(TDuplicates duplicates) {
  LockList().SetDuplicates(duplicates);
  UnlockList();
}

int32_t TThreadStringList::Count() {
  const int32_t count = LockListRead().Count();
  UnlockListRead();
  return count;
}

}  // namespace corvane
