// TStringList: an ordered list of 8-bit strings, each with an object slot
// that holds a pointer-sized integer (a pointer the caller manages, or a
// plain number such as a counter). Unsorted by default; a sorted list keeps
// byte order and applies its duplicates policy when adding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

enum class TDuplicates : uint8_t {
  dupIgnore,  // adding a string already in a sorted list does nothing
  dupAccept,  // sorted lists keep duplicates
  dupError,   // adding a duplicate to a sorted list raises EListError
};

class TStringList {
 public:
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }

  // Index checks raise EListError.
  const std::string& Strings(int32_t index) const;
  void SetStrings(int32_t index, std::string text);  // unsorted lists only
  intptr_t Objects(int32_t index) const;
  void SetObjects(int32_t index, intptr_t object);

  // Append (or, when sorted, insert in order) and return the index. A
  // duplicate ignored by a sorted list gives the index of the one present.
  int32_t Add(std::string text) { return AddObject(std::move(text), 0); }
  int32_t AddObject(std::string text, intptr_t object);
  void Insert(int32_t index, std::string text, intptr_t object = 0);  // unsorted lists only
  void Delete(int32_t index);
  void Clear() { entries_.clear(); }

  int32_t IndexOf(std::string_view text) const;  // -1 when absent
  // True when text is present; index is where it is, or else where a sorted
  // list would insert it (Count() for an unsorted list).
  bool Find(std::string_view text, int32_t& index) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);  // sorting keeps every entry, duplicates too
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }

 private:
  struct Entry {
    std::string Text;
    intptr_t Object;
  };

  size_t CheckedIndex(int32_t index) const;
  void RequireUnsorted() const;

  std::vector<Entry> entries_;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  bool sorted_ = false;
};

}  // namespace corvane
