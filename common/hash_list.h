// The TkivCustomHashListBase family: maps keyed by 8-bit strings or by
// pointer-sized numbers, stored in a trie of 256-way nodes.
//
// Every key is reduced to a 32-bit hash (xxHash32, seed 0). A node at level n
// picks its slot by byte n of the hash (the hash rotated right by 8n bits,
// low byte). A slot is empty, a chain of up to eight entries, or a child node
// of the next level; the ninth entry of a chain turns the slot into a child
// node and the chain's entries move there. Keys that reach a level-3 node
// have used all four bytes of their hash, so a chain there holds keys with
// identical hashes only: splitting it could never separate them, and such a
// chain simply grows instead.
//
// The lists are not thread-safe (TThreadPtrUIntObjectHashList adds a lock);
// only the entry count is changed atomically, so Count() may be read from
// any thread.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/exceptions.h"

namespace corvane {

class EkivHashListError : public Exception {
 public:
  using Exception::Exception;
};

class EkivNoSuchElementError : public EkivHashListError {
 public:
  EkivNoSuchElementError() : EkivHashListError("Value not found") {}
};

class EkivBadKeyError : public EkivHashListError {
 public:
  EkivBadKeyError() : EkivHashListError("Bad key value") {}
};

// A key as the trie stores it: its hash, whether it may be stored at all,
// and the key in its stored form (lower-cased for case-insensitive lists).
template <typename K>
struct TKeyItem {
  uint32_t Hash = 0;
  bool Valid = true;
  K Key{};
};

// xxHash32 with seed 0; an empty string hashes to 0.
uint32_t HashStringKey(std::string_view key);
// xxHash32 with seed 0 over the key's four low bytes, least significant
// first (the whole key of the 32-bit build).
uint32_t HashPtrUIntKey(uintptr_t key);

TKeyItem<std::string> MakeStringKeyItem(std::string_view key, bool caseSensitive);
TKeyItem<uintptr_t> MakePtrUIntKeyItem(uintptr_t key);

namespace hash_list_detail {

template <typename K, typename V>
struct TLinkedItem {
  TLinkedItem(TKeyItem<K> key, V value) : KeyItem(std::move(key)), Value(std::move(value)) {}
  TLinkedItem(const TLinkedItem&) = delete;
  TLinkedItem& operator=(const TLinkedItem&) = delete;
  ~TLinkedItem() {
    // Unlinks the rest of the chain one by one: a chain of identical hashes
    // has no length limit, and recursive destruction could exhaust the stack.
    std::unique_ptr<TLinkedItem> next = std::move(Next);
    while (next) next = std::move(next->Next);
  }

  TKeyItem<K> KeyItem;
  V Value;
  std::unique_ptr<TLinkedItem> Next;
};

template <typename K, typename V>
struct TTreeItem {
  struct Slot {
    std::unique_ptr<TLinkedItem<K, V>> Chain;
    std::unique_ptr<TTreeItem> Child;
  };

  explicit TTreeItem(int32_t level) : Level(level) {}

  int32_t Level;
  int32_t Filled = 0;  // slots holding a chain or a child
  std::array<Slot, 256> Slots{};
};

constexpr int32_t kMaxChainLength = 8;
// Nodes of this level hold keys whose whole hash agrees; they never split.
constexpr int32_t kLastLevel = 3;

inline uint8_t SlotIndex(uint32_t hash, int32_t level) {
  return static_cast<uint8_t>(std::rotr(hash, 8 * level));
}

}  // namespace hash_list_detail

// The trie. Derived classes say how a key becomes a key item (MakeKeyItem)
// and what happens to a value the list lets go of (ReleaseValue).
//
// A class that overrides ReleaseValue must call Clear() in its own
// destructor: by the time this destructor runs, the override is gone.
template <typename K, typename KeyView, typename V>
class TkivCustomHashListBase {
 public:
  using KeyItem = TKeyItem<K>;

  TkivCustomHashListBase() = default;
  TkivCustomHashListBase(const TkivCustomHashListBase&) = delete;
  TkivCustomHashListBase& operator=(const TkivCustomHashListBase&) = delete;
  virtual ~TkivCustomHashListBase() = default;

  int32_t Count() const { return count_.load(std::memory_order_acquire); }

  // On (the default): reading a missing key gives an empty value. Off: it
  // raises EkivNoSuchElementError.
  bool EmptyResultOnMissing() const { return emptyResultOnMissing_; }
  void SetEmptyResultOnMissing(bool on) { emptyResultOnMissing_ = on; }

  // Stores value under key; an entry with an equal key gets the new value
  // and lets the old one go (ReleaseValue). Raises EkivBadKeyError for an
  // invalid key item; then the caller still owns value.
  void Add(KeyView key, V value) {
    KeyItem item = ValidKeyItem(key);
    if (!root_) root_ = std::make_unique<Node>(0);
    Node* node = root_.get();
    for (;;) {
      auto& slot = node->Slots[hash_list_detail::SlotIndex(item.Hash, node->Level)];
      if (slot.Child) {
        node = slot.Child.get();
        continue;
      }
      int32_t length = 0;
      for (Entry* entry = slot.Chain.get(); entry; entry = entry->Next.get(), ++length) {
        if (SameKey(entry->KeyItem, item)) {
          ReplaceValue(entry->Value, std::move(value));
          return;
        }
      }
      if (length < hash_list_detail::kMaxChainLength || node->Level == hash_list_detail::kLastLevel) {
        auto entry = std::make_unique<Entry>(std::move(item), std::move(value));
        if (!slot.Chain) ++node->Filled;
        entry->Next = std::move(slot.Chain);
        slot.Chain = std::move(entry);
        count_.fetch_add(1, std::memory_order_acq_rel);
        return;
      }
      Split(*node, slot);
      node = slot.Child.get();
    }
  }

  // False (and value untouched) for a missing key or an invalid key item.
  bool Find(KeyView key, V& value) const {
    const Entry* entry = FindEntry(MakeKeyItem(key));
    if (!entry) return false;
    value = entry->Value;
    return true;
  }

  V Get(KeyView key) const {
    const Entry* entry = FindEntry(MakeKeyItem(key));
    if (entry) return entry->Value;
    if (!emptyResultOnMissing_) throw EkivNoSuchElementError();
    return V{};
  }

  // Removes the entry and lets its value go; false when there was none.
  bool Remove(KeyView key) {
    std::unique_ptr<Entry> entry = Unlink(ValidKeyItem(key));
    if (!entry) return false;
    ReleaseValue(entry->Value);
    return true;
  }

  // Removes the entry and hands its value to the caller (who then owns an
  // object the list owned). A missing key is treated as by Get.
  V Extract(KeyView key) {
    std::unique_ptr<Entry> entry = Unlink(ValidKeyItem(key));
    if (entry) return std::move(entry->Value);
    if (!emptyResultOnMissing_) throw EkivNoSuchElementError();
    return V{};
  }

  void Clear() {
    // Detached first, so a value whose release reaches back into this list
    // finds it already empty.
    std::unique_ptr<Node> root = std::move(root_);
    count_.store(0, std::memory_order_release);
    if (root) ReleaseAll(*root);
  }

  // Calls visitor(storedKey, value) for every entry, slots 0 to 255 and
  // depth first, until it returns false. True when every entry was visited.
  // The visitor must not change the list.
  template <typename Visitor>
  bool ForEach(Visitor&& visitor) const {
    return !root_ || VisitNode(*root_, visitor);
  }

  // Diagnostics: nodes in the trie (0 before the first insertion) and the
  // number of node levels (1 while there is only the root).
  int32_t NodeCount() const { return root_ ? CountNodes(*root_) : 0; }
  int32_t Depth() const { return root_ ? NodeDepth(*root_) : 0; }

 protected:
  virtual KeyItem MakeKeyItem(KeyView key) const = 0;
  // The list lets go of a value it stored (Remove, Clear, destruction).
  virtual void ReleaseValue(V& value) {}
  // Add found an entry with an equal key.
  virtual void ReplaceValue(V& stored, V value) {
    ReleaseValue(stored);
    stored = std::move(value);
  }

 private:
  using Entry = hash_list_detail::TLinkedItem<K, V>;
  using Node = hash_list_detail::TTreeItem<K, V>;
  using Slot = typename Node::Slot;

  static bool SameKey(const KeyItem& stored, const KeyItem& probe) {
    return stored.Hash == probe.Hash && stored.Key == probe.Key;
  }

  KeyItem ValidKeyItem(KeyView key) const {
    KeyItem item = MakeKeyItem(key);
    if (!item.Valid) throw EkivBadKeyError();
    return item;
  }

  // Turns a full chain into a child node holding its entries.
  static void Split(Node& node, Slot& slot) {
    auto child = std::make_unique<Node>(node.Level + 1);
    std::unique_ptr<Entry> chain = std::move(slot.Chain);
    while (chain) {
      std::unique_ptr<Entry> next = std::move(chain->Next);
      auto& target = child->Slots[hash_list_detail::SlotIndex(chain->KeyItem.Hash, child->Level)];
      if (!target.Chain) ++child->Filled;
      chain->Next = std::move(target.Chain);
      target.Chain = std::move(chain);
      chain = std::move(next);
    }
    slot.Child = std::move(child);
  }

  const Entry* FindEntry(const KeyItem& item) const {
    if (!item.Valid) return nullptr;
    const Node* node = root_.get();
    while (node) {
      const auto& slot = node->Slots[hash_list_detail::SlotIndex(item.Hash, node->Level)];
      if (slot.Child) {
        node = slot.Child.get();
        continue;
      }
      for (const Entry* entry = slot.Chain.get(); entry; entry = entry->Next.get()) {
        if (SameKey(entry->KeyItem, item)) return entry;
      }
      return nullptr;
    }
    return nullptr;
  }

  std::unique_ptr<Entry> Unlink(const KeyItem& item) {
    if (!root_) return nullptr;
    std::unique_ptr<Entry> entry = UnlinkFrom(*root_, item);
    if (entry) count_.fetch_sub(1, std::memory_order_acq_rel);
    return entry;
  }

  // Empty slots, by a chain's last entry leaving or an emptied child node
  // being freed, lower the node's filled-slot count.
  static std::unique_ptr<Entry> UnlinkFrom(Node& node, const KeyItem& item) {
    auto& slot = node.Slots[hash_list_detail::SlotIndex(item.Hash, node.Level)];
    if (slot.Child) {
      std::unique_ptr<Entry> entry = UnlinkFrom(*slot.Child, item);
      if (entry && slot.Child->Filled == 0) {
        slot.Child.reset();
        --node.Filled;
      }
      return entry;
    }
    for (std::unique_ptr<Entry>* link = &slot.Chain; *link; link = &(*link)->Next) {
      if (!SameKey((*link)->KeyItem, item)) continue;
      std::unique_ptr<Entry> entry = std::move(*link);
      *link = std::move(entry->Next);
      if (!slot.Chain) --node.Filled;
      return entry;
    }
    return nullptr;
  }

  template <typename Visitor>
  static bool VisitNode(const Node& node, Visitor& visitor) {
    for (const auto& slot : node.Slots) {
      if (slot.Child) {
        if (!VisitNode(*slot.Child, visitor)) return false;
        continue;
      }
      for (const Entry* entry = slot.Chain.get(); entry; entry = entry->Next.get()) {
        if (!visitor(std::as_const(entry->KeyItem.Key), std::as_const(entry->Value))) return false;
      }
    }
    return true;
  }

  void ReleaseAll(Node& node) {
    for (auto& slot : node.Slots) {
      if (slot.Child) ReleaseAll(*slot.Child);
      for (Entry* entry = slot.Chain.get(); entry; entry = entry->Next.get()) ReleaseValue(entry->Value);
    }
  }

  static int32_t CountNodes(const Node& node) {
    int32_t count = 1;
    for (const auto& slot : node.Slots) {
      if (slot.Child) count += CountNodes(*slot.Child);
    }
    return count;
  }

  static int32_t NodeDepth(const Node& node) {
    int32_t deepest = 0;
    for (const auto& slot : node.Slots) {
      if (slot.Child) deepest = std::max(deepest, NodeDepth(*slot.Child));
    }
    return deepest + 1;
  }

  std::unique_ptr<Node> root_;  // made on the first insertion
  std::atomic<int32_t> count_{0};
  bool emptyResultOnMissing_ = true;
};

// Values are object pointers, deleted when the list lets go of them if the
// list owns its objects (the default).
template <typename K, typename KeyView, typename T>
class TkivCustomHashListBaseObjects : public TkivCustomHashListBase<K, KeyView, T*> {
 public:
  explicit TkivCustomHashListBaseObjects(bool ownsObjects = true) : ownsObjects_(ownsObjects) {}
  ~TkivCustomHashListBaseObjects() override { this->Clear(); }

  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool owns) { ownsObjects_ = owns; }

 protected:
  void ReleaseValue(T*& value) override {
    if (ownsObjects_) delete value;
    value = nullptr;
  }
  // Adding the object a key already holds must not delete it.
  void ReplaceValue(T*& stored, T* value) override {
    if (stored != value) ReleaseValue(stored);
    stored = value;
  }

 private:
  bool ownsObjects_;
};

// Objects keyed by 8-bit strings. A case-insensitive list stores, hashes and
// compares the locale lower-case form of each key, and hands that form to
// ForEach.
template <typename T>
class TkivStringHashListBase : public TkivCustomHashListBaseObjects<std::string, std::string_view, T> {
 public:
  explicit TkivStringHashListBase(bool ownsObjects = true, bool caseSensitive = true)
      : TkivCustomHashListBaseObjects<std::string, std::string_view, T>(ownsObjects),
        caseSensitive_(caseSensitive) {}

  bool CaseSensitive() const { return caseSensitive_; }
  // Only while the list is empty: stored keys were hashed under the old rule.
  void SetCaseSensitive(bool caseSensitive) {
    Assert(this->Count() == 0 || caseSensitive == caseSensitive_,
           "Case sensitivity of a non-empty hash list changed", "Public\\Common\\kivHashList", __LINE__);
    caseSensitive_ = caseSensitive;
  }

 protected:
  TKeyItem<std::string> MakeKeyItem(std::string_view key) const override {
    return MakeStringKeyItem(key, caseSensitive_);
  }

 private:
  bool caseSensitive_;
};

// Wide strings keyed by 8-bit strings. The strings are held as objects the
// list always owns; the interface deals in values.
class TkivStringWideStringHashList : public TkivStringHashListBase<std::u16string> {
  using Base = TkivStringHashListBase<std::u16string>;

 public:
  explicit TkivStringWideStringHashList(bool caseSensitive = true) : Base(true, caseSensitive) {}

  void Add(std::string_view key, std::u16string value);
  bool Find(std::string_view key, std::u16string& value) const;
  std::u16string Get(std::string_view key) const;
  std::u16string Extract(std::string_view key);

  // visitor(const std::string& storedKey, const std::u16string& value) -> bool
  template <typename Visitor>
  bool ForEach(Visitor&& visitor) const {
    return Base::ForEach([&visitor](const std::string& key, std::u16string* const& value) {
      return visitor(key, *value);
    });
  }

 private:
  using Base::SetOwnsObjects;
};

// Objects keyed by pointer-sized unsigned numbers.
template <typename T>
class TkivPtrUIntObjectHashList : public TkivCustomHashListBaseObjects<uintptr_t, uintptr_t, T> {
 public:
  using TkivCustomHashListBaseObjects<uintptr_t, uintptr_t, T>::TkivCustomHashListBaseObjects;

 protected:
  TKeyItem<uintptr_t> MakeKeyItem(uintptr_t key) const override { return MakePtrUIntKeyItem(key); }
};

}  // namespace corvane
