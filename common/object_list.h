// TObjectList: an ordered list of object pointers that, when it owns its
// objects (the default), deletes them as they leave the list.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/exceptions.h"

namespace corvane {

template <typename T>
class TObjectList {
 public:
  explicit TObjectList(bool ownsObjects = true) : ownsObjects_(ownsObjects) {}
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;
  ~TObjectList() { Clear(); }

  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool owns) { ownsObjects_ = owns; }

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Raises EListError for an index outside 0 .. Count()-1.
  T* Items(int32_t index) const { return items_[CheckedIndex(index)]; }
  T* operator[](int32_t index) const { return Items(index); }

  // Appends item and returns its index. Should the list fail to grow, the
  // caller still owns item.
  int32_t Add(T* item) {
    items_.push_back(item);
    return Count() - 1;
  }
  // index may equal Count() (append).
  void Insert(int32_t index, T* item) {
    if (index < 0 || index > Count()) throw EListError::IndexOutOfBounds(index);
    // push_back and rotate rather than vector::insert, which GCC 12 flags
    // with false out-of-bounds warnings once inlined.
    items_.push_back(item);
    std::rotate(items_.begin() + index, items_.end() - 1, items_.end());
  }

  int32_t IndexOf(const T* item) const {
    const auto found = std::find(items_.begin(), items_.end(), item);
    return found == items_.end() ? -1 : static_cast<int32_t>(found - items_.begin());
  }

  // Removes (and, if owned, deletes) the entry at index.
  void Delete(int32_t index) {
    T* item = items_[CheckedIndex(index)];
    items_.erase(items_.begin() + index);
    if (ownsObjects_) delete item;
  }
  // Removes the first occurrence of item, deleting it if owned; returns the
  // index it had, or -1.
  int32_t Remove(T* item) {
    const int32_t index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
  }
  // Removes the first occurrence of item without deleting it; the caller
  // then owns it. Returns item, or nullptr when it was not listed.
  T* Extract(T* item) {
    const int32_t index = IndexOf(item);
    if (index < 0) return nullptr;
    items_.erase(items_.begin() + index);
    return item;
  }

  void Clear() {
    // Emptied before the deletes, so an object whose destructor looks at the
    // list finds it consistent.
    std::vector<T*> items = std::exchange(items_, {});
    if (!ownsObjects_) return;
    for (T* item : items) delete item;
  }

  auto begin() const { return items_.cbegin(); }
  auto end() const { return items_.cend(); }

 private:
  size_t CheckedIndex(int32_t index) const {
    if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
    return static_cast<size_t>(index);
  }

  std::vector<T*> items_;
  bool ownsObjects_;
};

}  // namespace corvane
