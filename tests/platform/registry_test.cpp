#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/guid.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_write_block.h"
#include "scratch_folder.h"

using namespace corvane::platform;
using corvane::platform::testing::ScopedEnvironment;
using corvane::platform::testing::ScratchFolder;
namespace cvtest = corvane::platform::testing;

namespace {

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

void writeText(const std::string& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Removes a key and everything below it.
void deleteTree(RegistryRoot root, const std::string& path) {
  if (auto key = RegistryKey::open(root, path, RegistryAccess::Read)) {
    for (const std::string& name : key->subKeyNames()) deleteTree(root, path + "\\" + name);
  }
  RegistryKey::deleteKey(root, path);
}

// Every test works below a key of its own, base(), and (where the registry is
// the POSIX file store) in a store folder of its own. On Windows the keys are
// the real registry's, below HKEY_CURRENT_USER\Software\CorvaneTests, and are
// removed afterwards.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegistryKey::create(kUser, base_)) << lastErrorCode();
    fileStore_ = std::filesystem::exists(rootFile("HKEY_CURRENT_USER.reg"));
  }

  void TearDown() override {
    for (const RegistryRoot root : {kUser, kMachine}) {
      deleteTree(root, base_);
      RegistryKey::deleteKey(root, kTestsKey);  // unless other tests still use it
    }
  }

  // A path below the test's own key.
  std::string at(const std::string& relative) const { return base_ + "\\" + relative; }

  std::string rootFile(const char* name) const { return *folder_ / name; }

  // Moves the store's files to a new folder: what the tests read afterwards
  // is parsed from the files, not remembered from the writes. The system's
  // registry has nothing to move.
  void reopenStore() {
    if (!fileStore_) return;
    auto next = std::make_unique<ScratchFolder>(cvtest::fastTempFolder());
    for (const auto& entry : std::filesystem::directory_iterator(folder_->path()))
      std::filesystem::copy(entry.path(), next->path());
    environment_.reset();
    environment_ = std::make_unique<ScopedEnvironment>("CORVANE_REGISTRY_DIR", next->path());
    folder_ = std::move(next);
  }

  static constexpr const char* kTestsKey = "Software\\CorvaneTests";
  const std::string base_ = std::string(kTestsKey) + "\\" + guidToString(createGuid());
  bool fileStore_ = false;  // the registry is the POSIX stand-in's file store
  std::unique_ptr<ScratchFolder> folder_ =
      std::make_unique<ScratchFolder>(cvtest::fastTempFolder());
  std::unique_ptr<ScopedEnvironment> environment_ =
      std::make_unique<ScopedEnvironment>("CORVANE_REGISTRY_DIR", folder_->path());
};

TEST_F(Registry, TypedValuesRoundTrip) {
  auto key = RegistryKey::create(kUser, "\\" + at("Corvane\\Settings"));
  ASSERT_TRUE(key);
  const uint8_t blob[] = {0, 1, 0xFF, 0x80, '\n', '"'};
  EXPECT_TRUE(key->writeString("Script file", "C:\\Scripts\\main.py"));
  EXPECT_TRUE(key->writeString("", "default"));
  EXPECT_TRUE(key->writeDword("Left", 0xDEADBEEF));
  EXPECT_TRUE(key->writeBinary("Blob", blob, sizeof blob));
  EXPECT_TRUE(key->writeBinary("Empty", nullptr, 0));
  EXPECT_TRUE(key->writeValue("Unterminated", kRegSz, "abc", 3));
  EXPECT_TRUE(key->writeValue("Embedded zero", kRegSz, "a\0b", 4));
  EXPECT_TRUE(key->writeValue("Short dword", kRegDword, "\x01\x02", 2));
  EXPECT_TRUE(key->writeValue("Multi", 7, "A\0B\0\0", 5));
  EXPECT_TRUE(key->writeValue("Expand", kRegExpandSz, "%HOME%/x", 9));
  EXPECT_TRUE(key->writeString("Awkward \"%\\=[]\n\xC3\xA9", " two  spaces, %41 \"q\"\r\n\t"));
  EXPECT_FALSE(key->writeValue("Missing data", kRegBinary, nullptr, 1));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidParameter);
  ASSERT_TRUE(RegistryKey::create(kUser, at("Odd [%] \"name\"\xC3\xA9")));
  reopenStore();

  key = RegistryKey::open(kUser, at("Corvane\\Settings"), RegistryAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->readString("Script file"), "C:\\Scripts\\main.py");
  EXPECT_EQ(key->readValue("Script file")->data, bytes({"C:\\Scripts\\main.py", 19}));
  EXPECT_EQ(key->readString(""), "default");
  EXPECT_EQ(key->readDword("Left"), 0xDEADBEEFu);
  EXPECT_EQ(key->readValue("Left")->data, (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(key->readValue("Blob")->type, kRegBinary);
  EXPECT_EQ(key->readValue("Blob")->data, std::vector<uint8_t>(blob, blob + sizeof blob));
  EXPECT_TRUE(key->readValue("Empty")->data.empty());
  EXPECT_FALSE(key->valueExists("Missing data"));
  // Text written without its terminating zero reads back whole; Wine adds
  // the zero when it reads the text back.
  const std::vector<uint8_t> unterminated = key->readValue("Unterminated")->data;
  EXPECT_TRUE(unterminated == bytes("abc") || unterminated == bytes({"abc", 4}));
  EXPECT_EQ(key->readString("Unterminated"), "abc");
  EXPECT_EQ(key->readValue("Embedded zero")->data, bytes({"a\0b", 4}));
  EXPECT_EQ(key->readString("Embedded zero"), "a");
  EXPECT_EQ(key->readValue("Short dword")->data, bytes("\x01\x02"));
  EXPECT_EQ(key->readValue("Multi")->type, 7u);
  EXPECT_EQ(key->readValue("Multi")->data, bytes({"A\0B\0\0", 5}));
  EXPECT_EQ(key->readValue("Expand")->type, kRegExpandSz);
  EXPECT_EQ(key->readString("Expand"), "%HOME%/x");
  EXPECT_EQ(key->readString("Awkward \"%\\=[]\n\xC3\xA9"), " two  spaces, %41 \"q\"\r\n\t");
  const auto base = RegistryKey::open(kUser, base_, RegistryAccess::Read);
  EXPECT_EQ(base->subKeyNames(), (std::vector<std::string>{"Corvane", "Odd [%] \"name\"\xC3\xA9"}));
}

TEST_F(Registry, TypedReadsRefuseOtherTypes) {
  auto key = RegistryKey::create(kUser, at("Types"));
  ASSERT_TRUE(key);
  key->writeString("Text", "12");
  key->writeDword("Number", 12);
  key->writeValue("Short dword", kRegDword, "\x01\x02", 2);
  EXPECT_FALSE(key->readDword("Text"));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidData);
  EXPECT_FALSE(key->readString("Number"));
  EXPECT_EQ(lastErrorCode(), kErrorInvalidData);
  EXPECT_FALSE(key->readDword("Short dword"));
  EXPECT_FALSE(key->readString("Missing"));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
  // Writing another type replaces the value.
  EXPECT_TRUE(key->writeDword("Text", 7));
  EXPECT_EQ(key->readDword("Text"), 7u);
}

TEST_F(Registry, NamesIgnoreCaseButKeepIt) {
  auto key = RegistryKey::create(kUser, at("MixedCase"));
  ASSERT_TRUE(key);
  key->writeString("Value", "first");
  key->writeString("VALUE", "second");
  ASSERT_TRUE(RegistryKey::create(kUser, at("mixedcase\\Zeta")));
  ASSERT_TRUE(RegistryKey::create(kUser, at("MIXEDCASE\\alpha")));
  reopenStore();

  key = RegistryKey::open(kUser, at("MIXEDCASE"), RegistryAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->valueNames(), std::vector<std::string>{"Value"});
  EXPECT_EQ(key->readString("vAlUe"), "second");
  EXPECT_EQ(key->subKeyNames(), (std::vector<std::string>{"alpha", "Zeta"}));
  std::string upperBase = base_;
  for (char& c : upperBase) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(RegistryKey::open(kUser, upperBase, RegistryAccess::Read)->subKeyNames(),
            std::vector<std::string>{"MixedCase"});
}

TEST_F(Registry, ValuesEnumerateAndDelete) {
  auto key = RegistryKey::create(kUser, at("Order"));
  ASSERT_TRUE(key);
  for (const char* name : {"b", "a", "", "c"}) key->writeDword(name, 1);
  key->writeDword("a", 2);  // rewriting keeps the place
  // The file store keeps the writing order; the system's registry promises
  // none (Windows lists them as written, Wine by name).
  if (fileStore_) {
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"b", "a", "", "c"}));
  }
  EXPECT_EQ(sorted(key->valueNames()), (std::vector<std::string>{"", "a", "b", "c"}));
  EXPECT_TRUE(key->deleteValue("A"));
  EXPECT_FALSE(key->valueExists("a"));
  EXPECT_FALSE(key->deleteValue("a"));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
  EXPECT_EQ(sorted(key->valueNames()), (std::vector<std::string>{"", "b", "c"}));

  // Names longer than a first guess at their size enumerate whole.
  const std::string longValue(2000, 'v');
  const std::string longKey(150, 'k');  // Wine refuses paths of over 260
  EXPECT_TRUE(key->writeDword(longValue, 3));
  ASSERT_TRUE(RegistryKey::create(kUser, at("Order\\" + longKey)));
  EXPECT_EQ(sorted(key->valueNames()), (std::vector<std::string>{"", "b", "c", longValue}));
  EXPECT_EQ(key->subKeyNames(), std::vector<std::string>{longKey});
  EXPECT_EQ(key->readDword(longValue), 3u);
}

TEST_F(Registry, SixtyFourBitViewReachesTheSameUserKeys) {
  // The current user's software keys are one in both views.
  auto key = RegistryKey::create(kUser, at("View"), RegistryView::Force64);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->writeDword("x", 5));
  auto reader = RegistryKey::open(kUser, at("View"), RegistryAccess::Read, RegistryView::Force64);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->readDword("x"), 5u);
  EXPECT_EQ(RegistryKey::open(kUser, at("View"), RegistryAccess::Read)->readDword("x"), 5u);
  EXPECT_TRUE(RegistryKey::deleteKey(kUser, at("View"), RegistryView::Force64));
  EXPECT_FALSE(RegistryKey::open(kUser, at("View"), RegistryAccess::Read));
  EXPECT_FALSE(RegistryKey::deleteKey(kUser, at("View"), RegistryView::Force64));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
}

TEST_F(Registry, MissingKeysAndKeyDeletion) {
  EXPECT_FALSE(RegistryKey::open(kUser, at("Missing"), RegistryAccess::Read));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
  ASSERT_TRUE(RegistryKey::create(kUser, at("Parent\\Child")));
  EXPECT_TRUE(RegistryKey::open(kUser, "\\" + at("\\Parent\\"), RegistryAccess::Read));

  EXPECT_FALSE(RegistryKey::deleteKey(kUser, at("Parent")));
  EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);
  auto child = RegistryKey::open(kUser, at("Parent\\Child"), RegistryAccess::ReadWrite);
  ASSERT_TRUE(child);
  EXPECT_TRUE(RegistryKey::deleteKey(kUser, at("Parent\\Child")));
  EXPECT_FALSE(RegistryKey::deleteKey(kUser, at("Parent\\Child")));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
  EXPECT_TRUE(RegistryKey::deleteKey(kUser, at("Parent")));
  EXPECT_FALSE(RegistryKey::open(kUser, at("Parent"), RegistryAccess::Read));
  EXPECT_FALSE(RegistryKey::deleteKey(kUser, "\\"));  // a root is never deleted
  EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);

  // A key deleted while open answers as a deleted key, also for writes.
  EXPECT_FALSE(child->readValue("x"));
  EXPECT_EQ(lastErrorCode(), kErrorKeyDeleted);
  EXPECT_FALSE(child->writeDword("x", 1));
  EXPECT_EQ(lastErrorCode(), kErrorKeyDeleted);
  EXPECT_FALSE(RegistryKey::open(kUser, at("Parent"), RegistryAccess::Read));
}

// A key the user may not write, as the local-machine root is for a normal
// user on Windows: the settings store finds out by opening it for writing.
TEST_F(Registry, BlockedKeyRefusesWritesButReads) {
  const std::string path = at("Corvane");
  auto machine = RegistryKey::create(kMachine, path);
  if (!machine && lastErrorCode() == kErrorAccessDenied)
    GTEST_SKIP() << "this user may not write the local-machine root at all";
  ASSERT_TRUE(machine);
  machine->writeString("Where", "machine");
  auto reader = RegistryKey::open(kMachine, path, RegistryAccess::Read);
  ASSERT_TRUE(reader);
  auto user = RegistryKey::create(kUser, path);
  ASSERT_TRUE(user);
  {
    auto block = RegistryWriteBlock::apply(kMachine, path);
    ASSERT_TRUE(block) << lastErrorCode();

    EXPECT_FALSE(RegistryKey::open(kMachine, path, RegistryAccess::ReadWrite));
    EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);
    EXPECT_FALSE(RegistryKey::create(kMachine, path));
    EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);
    if (fileStore_) {
      // Windows refuses it as well; Wine ignores a denied DELETE.
      EXPECT_FALSE(RegistryKey::deleteKey(kMachine, path));
      EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);
    }
    EXPECT_FALSE(reader->writeString("Where", "changed"));
    EXPECT_EQ(lastErrorCode(), kErrorAccessDenied);

    auto later = RegistryKey::open(kMachine, path, RegistryAccess::Read);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->readString("Where"), "machine");
    EXPECT_EQ(reader->readString("Where"), "machine");
    EXPECT_TRUE(user->writeString("Where", "user"));
    EXPECT_TRUE(RegistryKey::open(kUser, path, RegistryAccess::ReadWrite));
  }
  // Lifted with the block.
  EXPECT_TRUE(RegistryKey::open(kMachine, path, RegistryAccess::ReadWrite));
  EXPECT_TRUE(RegistryKey::deleteKey(kMachine, path));
  EXPECT_FALSE(RegistryWriteBlock::apply(kMachine, path));
  EXPECT_EQ(lastErrorCode(), kErrorFileNotFound);
}

TEST_F(Registry, ReadsItsFileFormatAndSkipsDamagedLines) {
  if (!fileStore_) GTEST_SKIP() << "the registry is the system's, not a file store";
  writeText(rootFile("HKEY_CURRENT_USER.reg"),
            "corvane-registry 1\n"
            "\"Orphan\"=sz:\"no key\"\n"
            "[Software\\Corvane]\r\n"
            "@=sz:\"default\"\n"
            "\"Left\"=dword:0000002A\n"
            "\"Bad dword\"=dword:2A\n"
            "\"Bad hex\"=binary:0G\n"
            "\"Odd hex\"=binary:123\n"
            "\"Bad escape\"=sz:\"%4\"\n"
            "garbage \x01\xFF\n"
            "\"Unknown kind\"=text:\"x\"\n"
            "[Broken\\\\Path]\n"
            "\"Lost\"=sz:\"section broken\"\n"
            "[Software\\Corvane]\n"
            "\"Text\"=sz:\"a%25b%22c\xC3\xA9\"\n"
            "\"Other\"=hex(1234):00FF\n"
            "\"Cut\"=sz:\"abc");
  auto key = RegistryKey::open(kUser, "Software\\Corvane", RegistryAccess::ReadWrite);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"", "Left", "Text", "Other"}));
  EXPECT_EQ(key->readString(""), "default");
  EXPECT_EQ(key->readDword("Left"), 42u);
  EXPECT_EQ(key->readString("Text"), "a%b\"c\xC3\xA9");
  EXPECT_EQ(key->readValue("Other")->type, 1234u);
  EXPECT_EQ(key->readValue("Other")->data, bytes({"\x00\xFF", 2}));
  EXPECT_EQ(RegistryKey::open(kUser, "", RegistryAccess::Read)->subKeyNames(),
            std::vector<std::string>{"Software"});

  // The first write keeps the damaged file aside and writes a clean one,
  // which later writes no longer take for damaged.
  const std::string damaged = readText(rootFile("HKEY_CURRENT_USER.reg"));
  EXPECT_TRUE(key->writeDword("Left", 43));
  EXPECT_EQ(readText(rootFile("HKEY_CURRENT_USER.reg.corrupt")), damaged);
  std::filesystem::remove(rootFile("HKEY_CURRENT_USER.reg.corrupt"));
  EXPECT_TRUE(key->writeDword("Left", 44));
  EXPECT_FALSE(std::filesystem::exists(rootFile("HKEY_CURRENT_USER.reg.corrupt")));
  reopenStore();
  key = RegistryKey::open(kUser, "Software\\Corvane", RegistryAccess::Read);
  EXPECT_EQ(key->readDword("Left"), 44u);
  EXPECT_EQ(key->readString("Text"), "a%b\"c\xC3\xA9");
}

TEST_F(Registry, DamageNeverReachesLinesBeforeIt) {
  if (!fileStore_) GTEST_SKIP() << "the registry is the system's, not a file store";
  auto key = RegistryKey::create(kUser, "Software\\Damage");
  for (int i = 0; i < 20; ++i) key->writeString("V" + std::to_string(i), std::string(i, 'x'));
  const std::string good = readText(rootFile("HKEY_CURRENT_USER.reg"));
  std::mt19937 random(12345);
  for (int round = 0; round < 200; ++round) {
    std::string damaged = good;
    const size_t from = random() % damaged.size();
    if (round % 2 == 0) {
      damaged.resize(from);  // a cut-off file
    } else {
      // Control characters and high bytes, which cannot turn one name into
      // another.
      for (int i = 0; i < 8; ++i) {
        const auto byte = random() % 2 ? random() & 0x1F : 0x80 | (random() & 0x7F);
        damaged[from + random() % (damaged.size() - from)] = static_cast<char>(byte);
      }
    }
    writeText(rootFile("HKEY_CURRENT_USER.reg"), damaged);

    // Every value whose line ends before the damage reads back unchanged.
    const auto reader = RegistryKey::open(kUser, "Software\\Damage", RegistryAccess::Read);
    for (int i = 0; i < 20; ++i) {
      const std::string name = "V" + std::to_string(i);
      const size_t line = good.find("\"" + name + "\"=");
      if (good.find('\n', line) >= from) break;
      ASSERT_TRUE(reader) << "round " << round;
      EXPECT_EQ(reader->readString(name), std::string(i, 'x')) << "round " << round;
    }
    if (reader) reader->valueNames();
  }
}

TEST_F(Registry, ThreadsWritingOneKeyLoseNothing) {
  const std::string path = at("Threads");
  ASSERT_TRUE(RegistryKey::create(kUser, path));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &path] {
      auto key = RegistryKey::open(kUser, path, RegistryAccess::ReadWrite);
      for (int i = 0; i < 25; ++i) key->writeDword("T" + std::to_string(t) + "_" + std::to_string(i), i);
    });
  }
  for (auto& thread : threads) thread.join();
  reopenStore();
  EXPECT_EQ(RegistryKey::open(kUser, path, RegistryAccess::Read)->valueNames().size(), 100u);
}

TEST_F(Registry, TwoProcessesWritingOneKeyLoseNothing) {
  const std::string gate = *folder_ / "go";
  const std::string writer = cvtest::helperPath("registry_writer");
  constexpr int kCount = 200;
  const std::string path = at("Corvane\\Concurrency");
  ChildProcess first(writer, {path, "A", std::to_string(kCount), gate});
  ChildProcess second(writer, {path, "B", std::to_string(kCount), gate});
  writeText(gate, "");
  EXPECT_EQ(first.wait(60000), 0);
  EXPECT_EQ(second.wait(60000), 0);

  reopenStore();
  auto key = RegistryKey::open(kUser, path, RegistryAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->valueNames().size(), 2u * kCount + 1);
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < kCount; ++i) {
      const std::string name = prefix + std::to_string(i);
      ASSERT_EQ(key->readString(name), "value of " + name);
    }
  }
  const std::optional<std::string> last = key->readString("Last");
  const std::string lastIndex = std::to_string(kCount - 1);
  EXPECT_TRUE(last == "A" + lastIndex || last == "B" + lastIndex) << last.value_or("<missing>");
  // The file parsed without a damaged line: a write does not set one aside.
  EXPECT_TRUE(RegistryKey::create(kUser, at("Check"))->writeDword("x", 1));
  EXPECT_FALSE(std::filesystem::exists(rootFile("HKEY_CURRENT_USER.reg.corrupt")));
}

}  // namespace
