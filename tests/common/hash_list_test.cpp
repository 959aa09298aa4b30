#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/hash_list.h"

using namespace corvane;

namespace {

// An object that counts its destructions, to see what a list frees.
struct Tracked {
  Tracked(int value, int& destroyed) : Value(value), Destroyed(destroyed) {}
  ~Tracked() { ++Destroyed; }
  int Value;
  int& Destroyed;
};

// A list whose keys carry their own hash: "0000ab12/name" hashes to
// 0x0000ab12. A key without a '/' is an invalid key item. This lets a test
// place keys in chosen slots at every level.
class ChosenHashList : public TkivCustomHashListBaseObjects<std::string, std::string_view, Tracked> {
 public:
  using TkivCustomHashListBaseObjects::TkivCustomHashListBaseObjects;

 protected:
  TKeyItem<std::string> MakeKeyItem(std::string_view key) const override {
    TKeyItem<std::string> item;
    item.Key = std::string(key);
    const size_t slash = key.find('/');
    item.Valid = slash != std::string_view::npos;
    if (item.Valid) item.Hash = static_cast<uint32_t>(std::stoul(std::string(key.substr(0, slash)), nullptr, 16));
    return item;
  }
};

std::string KeyWithHash(uint32_t hash, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%08x/%d", hash, n);
  return text;
}

std::vector<std::string> VisitedKeys(const ChosenHashList& list) {
  std::vector<std::string> keys;
  list.ForEach([&](const std::string& key, Tracked*) {
    keys.push_back(key);
    return true;
  });
  return keys;
}

}  // namespace

TEST(HashList, NinthKeyInARootSlotMakesAChildNode) {
  int destroyed = 0;
  ChosenHashList list;
  EXPECT_EQ(list.NodeCount(), 0);
  std::vector<std::string> keys;
  for (int i = 0; i < 9; ++i) keys.push_back(KeyWithHash(0x000000ab | (i << 8), i));

  for (int i = 0; i < 8; ++i) list.Add(keys[i], new Tracked(i, destroyed));
  EXPECT_EQ(list.NodeCount(), 1);
  list.Add(keys[8], new Tracked(8, destroyed));
  EXPECT_EQ(list.NodeCount(), 2);
  EXPECT_EQ(list.Depth(), 2);
  EXPECT_EQ(list.Count(), 9);
  for (int i = 0; i < 9; ++i) {
    Tracked* found = nullptr;
    ASSERT_TRUE(list.Find(keys[i], found)) << keys[i];
    EXPECT_EQ(found->Value, i);
  }

  // The child goes only when its last entry does.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(list.Remove(keys[i]));
  EXPECT_EQ(list.NodeCount(), 2);
  EXPECT_EQ(list.Get(keys[8])->Value, 8);
  ASSERT_TRUE(list.Remove(keys[8]));
  EXPECT_EQ(list.NodeCount(), 1);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(destroyed, 9);
}

TEST(HashList, SplitsCascadeWhileKeysShareFurtherBytes) {
  int destroyed = 0;
  ChosenHashList list;
  // Nine keys agreeing in bytes 0 and 1: the level-1 child at once needs a
  // level-2 child of its own. A tenth key elsewhere in the root is untouched.
  std::vector<std::string> keys;
  for (int i = 0; i < 9; ++i) keys.push_back(KeyWithHash(0x00003344 | (i << 16), i));
  for (int i = 0; i < 9; ++i) list.Add(keys[i], new Tracked(i, destroyed));
  list.Add(KeyWithHash(0x45, 99), new Tracked(99, destroyed));
  EXPECT_EQ(list.NodeCount(), 3);
  EXPECT_EQ(list.Depth(), 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(list.Get(keys[i])->Value, i);

  for (int i = 0; i < 9; ++i) ASSERT_TRUE(list.Remove(keys[i]));
  EXPECT_EQ(list.NodeCount(), 1);
  EXPECT_EQ(list.Get(KeyWithHash(0x45, 99))->Value, 99);
  EXPECT_FALSE(list.Remove(keys[0]));
}

TEST(HashList, KeysWithIdenticalHashesStayFindable) {
  int destroyed = 0;
  ChosenHashList list;
  constexpr int kKeys = 40;
  for (int i = 0; i < kKeys; ++i) list.Add(KeyWithHash(0x12345678, i), new Tracked(i, destroyed));
  // Differs from the others only in the last byte used.
  list.Add(KeyWithHash(0x13345678, 1000), new Tracked(1000, destroyed));
  EXPECT_EQ(list.Count(), kKeys + 1);
  EXPECT_EQ(list.Depth(), 4);
  EXPECT_EQ(list.NodeCount(), 4);
  for (int i = 0; i < kKeys; ++i) EXPECT_EQ(list.Get(KeyWithHash(0x12345678, i))->Value, i);
  EXPECT_EQ(list.Get(KeyWithHash(0x13345678, 1000))->Value, 1000);

  // Replacing inside the long chain, then removing from its middle.
  list.Add(KeyWithHash(0x12345678, 20), new Tracked(-20, destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(list.Count(), kKeys + 1);
  for (int i = 0; i < kKeys; i += 2) ASSERT_TRUE(list.Remove(KeyWithHash(0x12345678, i)));
  for (int i = 1; i < kKeys; i += 2) EXPECT_EQ(list.Get(KeyWithHash(0x12345678, i))->Value, i);
  for (int i = 1; i < kKeys; i += 2) ASSERT_TRUE(list.Remove(KeyWithHash(0x12345678, i)));
  ASSERT_TRUE(list.Remove(KeyWithHash(0x13345678, 1000)));
  EXPECT_EQ(list.NodeCount(), 1);
  EXPECT_EQ(destroyed, kKeys + 2);
}

TEST(HashList, MissingKeys) {
  int destroyed = 0;
  ChosenHashList list;
  const std::string key = KeyWithHash(7, 1);
  EXPECT_EQ(list.Get(key), nullptr);
  Tracked* found = reinterpret_cast<Tracked*>(&destroyed);
  EXPECT_FALSE(list.Find(key, found));
  EXPECT_EQ(found, reinterpret_cast<Tracked*>(&destroyed));
  EXPECT_EQ(list.Extract(key), nullptr);
  EXPECT_FALSE(list.Remove(key));

  list.Add(KeyWithHash(7, 2), new Tracked(2, destroyed));  // same slot, other key
  list.SetEmptyResultOnMissing(false);
  try {
    list.Get(key);
    FAIL() << "Get of a missing key must raise";
  } catch (const EkivNoSuchElementError& error) {
    EXPECT_STREQ(error.what(), "Value not found");
  }
  EXPECT_THROW(list.Extract(key), EkivNoSuchElementError);
  EXPECT_FALSE(list.Find(key, found));
  EXPECT_FALSE(list.Remove(key));
  EXPECT_EQ(list.Get(KeyWithHash(7, 2))->Value, 2);
}

TEST(HashList, InvalidKeyItems) {
  int destroyed = 0;
  ChosenHashList list;
  auto* value = new Tracked(1, destroyed);
  try {
    list.Add("no-hash", value);
    FAIL() << "an invalid key must not be added";
  } catch (const EkivBadKeyError& error) {
    EXPECT_STREQ(error.what(), "Bad key value");
  }
  EXPECT_EQ(destroyed, 0);  // still the caller's
  delete value;
  EXPECT_THROW(list.Remove("no-hash"), EkivBadKeyError);
  EXPECT_THROW(list.Remove("no-hash"), EkivHashListError);
  Tracked* found = nullptr;
  EXPECT_FALSE(list.Find("no-hash", found));
  EXPECT_EQ(list.Get("no-hash"), nullptr);
  EXPECT_EQ(list.Count(), 0);
}

TEST(HashList, OwnedValuesAreFreedWhenTheListLetsGo) {
  int destroyed = 0;
  const std::string a = KeyWithHash(1, 1), b = KeyWithHash(2, 2), c = KeyWithHash(3, 3);
  {
    ChosenHashList list;
    list.Add(a, new Tracked(1, destroyed));
    list.Add(a, new Tracked(2, destroyed));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(a)->Value, 2);

    // Adding the object the key already holds keeps it alive.
    Tracked* same = list.Get(a);
    list.Add(a, same);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Get(a)->Value, 2);

    list.Add(b, new Tracked(3, destroyed));
    Tracked* extracted = list.Extract(b);
    ASSERT_NE(extracted, nullptr);
    EXPECT_EQ(extracted->Value, 3);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.Count(), 1);
    delete extracted;
    EXPECT_EQ(destroyed, 2);

    EXPECT_TRUE(list.Remove(a));
    EXPECT_EQ(destroyed, 3);

    list.Add(a, new Tracked(4, destroyed));
    list.Add(b, new Tracked(5, destroyed));
    list.Clear();
    EXPECT_EQ(destroyed, 5);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.NodeCount(), 0);
    list.Add(c, new Tracked(6, destroyed));
  }
  EXPECT_EQ(destroyed, 6);  // the destructor freed the last one

  Tracked kept(7, destroyed);
  Tracked other(8, destroyed);
  {
    ChosenHashList list(false);
    list.Add(a, &kept);
    list.Add(a, &other);
    list.Add(b, &kept);
    EXPECT_TRUE(list.Remove(b));
  }
  EXPECT_EQ(destroyed, 6);
}

TEST(HashList, ForEachVisitsSlotsInOrderDepthFirst) {
  int destroyed = 0;
  ChosenHashList list;
  list.Add(KeyWithHash(0x05, 1), new Tracked(1, destroyed));
  list.Add(KeyWithHash(0x02, 2), new Tracked(2, destroyed));
  list.Add(KeyWithHash(0x05, 3), new Tracked(3, destroyed));  // chain: newest first
  // Nine keys in slot 3 form a child; within it, slots by the second byte.
  for (int i = 8; i >= 0; --i) list.Add(KeyWithHash(0x03 | (i << 8), 10 + i), new Tracked(10 + i, destroyed));

  std::vector<std::string> expected = {KeyWithHash(0x02, 2)};
  for (int i = 0; i < 9; ++i) expected.push_back(KeyWithHash(0x03 | (i << 8), 10 + i));
  expected.push_back(KeyWithHash(0x05, 3));
  expected.push_back(KeyWithHash(0x05, 1));
  EXPECT_EQ(VisitedKeys(list), expected);

  int visits = 0;
  EXPECT_FALSE(list.ForEach([&](const std::string&, Tracked*) { return ++visits < 3; }));
  EXPECT_EQ(visits, 3);
  EXPECT_TRUE(list.ForEach([](const std::string&, Tracked*) { return true; }));
  ChosenHashList empty;
  EXPECT_TRUE(empty.ForEach([](const std::string&, Tracked*) { return false; }));
}

TEST(HashList, KeyHashes) {
  // xxHash32 with seed 0 of the key bytes; the empty key is 0, not the
  // hash of zero bytes.
  EXPECT_EQ(HashStringKey("abc"), 0x32D153FFu);
  EXPECT_EQ(HashStringKey(""), 0u);
  EXPECT_EQ(MakeStringKeyItem("MiXed", false).Hash, HashStringKey("mixed"));
  EXPECT_EQ(MakeStringKeyItem("MiXed", false).Key, "mixed");
  EXPECT_EQ(MakeStringKeyItem("MiXed", true).Hash, HashStringKey("MiXed"));

  // xxHash32 of the bytes 78 56 34 12 (the key's little-endian form) and
  // of four zero bytes, as the reference library computes them.
  EXPECT_EQ(HashPtrUIntKey(0x12345678u), 0xF08A22B0u);
  EXPECT_EQ(HashPtrUIntKey(0), 0x08D6D969u);
  if constexpr (sizeof(uintptr_t) == 8) {
    // Only the low four bytes are hashed, but the whole key is compared.
    const auto high = static_cast<uintptr_t>(uint64_t{1} << 32);
    EXPECT_EQ(HashPtrUIntKey(high | 0x12345678u), HashPtrUIntKey(0x12345678u));
    int destroyed = 0;
    TkivPtrUIntObjectHashList<Tracked> list;
    list.Add(0x12345678u, new Tracked(1, destroyed));
    list.Add(high | 0x12345678u, new Tracked(2, destroyed));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0x12345678u)->Value, 1);
    EXPECT_EQ(list.Get(high | 0x12345678u)->Value, 2);
  }
}

TEST(HashList, StringKeysAndCaseSensitivity) {
  int destroyed = 0;
  TkivStringHashListBase<Tracked> sensitive;
  EXPECT_TRUE(sensitive.CaseSensitive());
  sensitive.Add("Key", new Tracked(1, destroyed));
  sensitive.Add("KEY", new Tracked(2, destroyed));
  sensitive.Add("", new Tracked(3, destroyed));
  EXPECT_EQ(sensitive.Count(), 3);
  EXPECT_EQ(sensitive.Get("Key")->Value, 1);
  EXPECT_EQ(sensitive.Get("KEY")->Value, 2);
  EXPECT_EQ(sensitive.Get("")->Value, 3);
  EXPECT_EQ(sensitive.Get("key"), nullptr);
  EXPECT_THROW(sensitive.SetCaseSensitive(false), EAssertionFailed);

  TkivStringHashListBase<Tracked> insensitive(true, false);
  insensitive.Add("Key", new Tracked(1, destroyed));
  insensitive.Add("KEY", new Tracked(2, destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(insensitive.Count(), 1);
  EXPECT_EQ(insensitive.Get("kEy")->Value, 2);
  std::vector<std::string> keys;
  insensitive.ForEach([&](const std::string& key, Tracked*) {
    keys.push_back(key);
    return true;
  });
  EXPECT_EQ(keys, std::vector<std::string>{"key"});
  EXPECT_TRUE(insensitive.Remove("KEY"));
  EXPECT_EQ(insensitive.Count(), 0);
  insensitive.SetCaseSensitive(true);  // allowed while empty
  insensitive.Add("A", new Tracked(4, destroyed));
  EXPECT_EQ(insensitive.Get("a"), nullptr);
}

TEST(HashList, WideStringValues) {
  TkivStringWideStringHashList list(false);
  list.Add("Name", u"first");
  list.Add("NAME", u"second");
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Get("name"), u"second");
  std::u16string value = u"untouched";
  EXPECT_FALSE(list.Find("other", value));
  EXPECT_EQ(value, u"untouched");
  EXPECT_TRUE(list.Find("nAme", value));
  EXPECT_EQ(value, u"second");
  EXPECT_EQ(list.Get("other"), u"");

  list.Add("other", std::u16string(u"\u00e9t\u00e9"));
  std::vector<std::pair<std::string, std::u16string>> seen;
  list.ForEach([&](const std::string& key, const std::u16string& text) {
    seen.emplace_back(key, text);
    return true;
  });
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(list.Extract("OTHER"), u"\u00e9t\u00e9");
  EXPECT_EQ(list.Count(), 1);

  list.SetEmptyResultOnMissing(false);
  EXPECT_THROW(list.Get("other"), EkivNoSuchElementError);
  EXPECT_THROW(list.Extract("other"), EkivNoSuchElementError);
}

namespace {

// Mirrors every operation on a list and a std::unordered_map and reports
// the first disagreement.
template <typename List, typename Key>
void RunDifferential(List& list, const std::vector<Key>& keyPool, int operations, unsigned seed) {
  int destroyed = 0;
  int created = 0;
  std::unordered_map<Key, int> reference;
  std::mt19937 random(seed);
  std::uniform_int_distribution<size_t> pickKey(0, keyPool.size() - 1);
  std::uniform_int_distribution<int> pickOperation(0, 9);

  for (int step = 0; step < operations; ++step) {
    const Key& key = keyPool[pickKey(random)];
    const auto expected = reference.find(key);
    const bool present = expected != reference.end();
    switch (pickOperation(random)) {
      case 0: case 1: case 2: case 3: {
        list.Add(key, new Tracked(step, destroyed));
        ++created;
        reference[key] = step;
        break;
      }
      case 4: case 5: {
        ASSERT_EQ(list.Remove(key), present) << "step " << step;
        reference.erase(key);
        break;
      }
      case 6: {
        Tracked* value = list.Extract(key);
        ASSERT_EQ(value != nullptr, present) << "step " << step;
        if (value) {
          ASSERT_EQ(value->Value, expected->second) << "step " << step;
          delete value;
        }
        reference.erase(key);
        break;
      }
      default: {
        Tracked* value = nullptr;
        ASSERT_EQ(list.Find(key, value), present) << "step " << step;
        if (present) {
          ASSERT_EQ(value->Value, expected->second) << "step " << step;
        }
        ASSERT_EQ(list.Get(key), value) << "step " << step;
        break;
      }
    }
    ASSERT_EQ(list.Count(), static_cast<int32_t>(reference.size())) << "step " << step;
  }

  std::unordered_map<Key, int> visited;
  list.ForEach([&](const auto& key, Tracked* value) {
    visited.emplace(key, value->Value);
    return true;
  });
  EXPECT_EQ(visited, reference);
  EXPECT_EQ(created - destroyed, static_cast<int>(reference.size()));

  // Removing everything frees every child node again.
  for (const auto& [key, value] : reference) ASSERT_TRUE(list.Remove(key));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.NodeCount(), 1);
  EXPECT_EQ(destroyed, created);
}

}  // namespace

TEST(HashList, AgreesWithUnorderedMapOnNumberKeys) {
  // 6000 keys over 256 root slots: plenty of splits, and removals that
  // empty child nodes again.
  std::vector<uintptr_t> keys;
  for (uintptr_t i = 0; i < 6000; ++i) keys.push_back(i * 2654435761u);
  TkivPtrUIntObjectHashList<Tracked> list;
  RunDifferential(list, keys, 20000, 12345);
}

TEST(HashList, AgreesWithUnorderedMapWhenHashesCrowd) {
  // Hashes from a tiny space that differ in each of the four bytes, many of
  // them identical: deep nodes, long level-3 chains, and their removal.
  std::vector<std::string> keys;
  const uint32_t byteValues[] = {0x00, 0x01, 0x80};
  for (int i = 0; i < 800; ++i) {
    uint32_t hash = 0;
    for (int b = 0; b < 4; ++b) hash |= byteValues[(i / (b + 1) + b) % 3] << (8 * b);
    keys.push_back(KeyWithHash(hash, i));
  }
  ChosenHashList list;
  RunDifferential(list, keys, 6000, 777);
}
