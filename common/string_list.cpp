#include "common/string_list.h"

#include <algorithm>

#include "common/exceptions.h"

namespace corvane {

size_t TStringList::CheckedIndex(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  return static_cast<size_t>(index);
}

void TStringList::RequireUnsorted() const {
  if (sorted_) throw EListError("Operation not allowed on sorted list");
}

const std::string& TStringList::Strings(int32_t index) const { return entries_[CheckedIndex(index)].Text; }

void TStringList::SetStrings(int32_t index, std::string text) {
  RequireUnsorted();
  entries_[CheckedIndex(index)].Text = std::move(text);
}

intptr_t TStringList::Objects(int32_t index) const { return entries_[CheckedIndex(index)].Object; }

void TStringList::SetObjects(int32_t index, intptr_t object) { entries_[CheckedIndex(index)].Object = object; }

int32_t TStringList::AddObject(std::string text, intptr_t object) {
  if (!sorted_) {
    entries_.push_back({std::move(text), object});
    return Count() - 1;
  }
  int32_t index = 0;
  if (Find(text, index)) {
    if (duplicates_ == TDuplicates::dupIgnore) return index;
    if (duplicates_ == TDuplicates::dupError) throw EListError("String list does not allow duplicates");
  }
  entries_.insert(entries_.begin() + index, Entry{std::move(text), object});
  return index;
}

void TStringList::Insert(int32_t index, std::string text, intptr_t object) {
  RequireUnsorted();
  if (index != Count()) CheckedIndex(index);
  entries_.insert(entries_.begin() + index, Entry{std::move(text), object});
}

void TStringList::Delete(int32_t index) { entries_.erase(entries_.begin() + CheckedIndex(index)); }

int32_t TStringList::IndexOf(std::string_view text) const {
  if (sorted_) {
    int32_t index = 0;
    return Find(text, index) ? index : -1;
  }
  const auto found = std::find_if(entries_.begin(), entries_.end(), [text](const Entry& e) { return e.Text == text; });
  return found == entries_.end() ? -1 : static_cast<int32_t>(found - entries_.begin());
}

bool TStringList::Find(std::string_view text, int32_t& index) const {
  if (!sorted_) {
    index = IndexOf(text);
    if (index >= 0) return true;
    index = Count();
    return false;
  }
  const auto position = std::lower_bound(entries_.begin(), entries_.end(), text,
                                         [](const Entry& e, std::string_view t) { return e.Text < t; });
  index = static_cast<int32_t>(position - entries_.begin());
  return position != entries_.end() && position->Text == text;
}

void TStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.Text < b.Text; });
  }
  sorted_ = sorted;
}

}  // namespace corvane
