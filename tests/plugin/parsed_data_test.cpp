// Parse results delivered into a record's input block and output list.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/params_list.h"
#include "platform/shared_memory.h"
#include "plugin/call_context.h"
#include "plugin/parsed_data.h"
#include "plugin/plugin_values.h"
#include "plugin_test_support.h"
#include "support/allocation_fault_sweep.h"

using namespace corvane;

namespace {

// A record inside its call: the output list wrapped by a CallContext.
struct Delivery {
  ParamsListPtr output = TkivParamsList::Create();
  TPluginCallRecord record = test_support::FreshRecord();
  CallContext context;

  explicit Delivery(const std::string& block) {
    if (!block.empty()) {
      void* data = platform::sharedAlloc(block.size());
      std::memcpy(data, block.data(), block.size());
      record.InputItem = {0, static_cast<int32_t>(block.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(data)};
    }
    record.OutputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(output.get())};
    context.Enter(record);
  }
  ~Delivery() {
    if (record.InputItem.Type == ditMemoryBlock) platform::sharedFree(reinterpret_cast<void*>(record.InputItem.Pointer));
  }
  void Deliver(const std::string& text, bool append, const char* name = nullptr) {
    TParsedDataList list;
    list.Text() = text;
    if (name != nullptr) list.Values().AddItem(name, TextValue(text).raw());
    DeliverParsedData(record, list, append);
  }
  std::string Block() const {
    return std::string(reinterpret_cast<const char*>(record.InputItem.Pointer), static_cast<size_t>(record.InputItem.Size));
  }
};

TEST(ParsedData, TheSeparatorGoesOnlyBetweenTexts) {
  Delivery delivery("AB");
  delivery.Deliver("0123456789", true);
  EXPECT_EQ(delivery.Block(), "AB0123456789") << "a block of 8 bytes or fewer gets no separator";
  delivery.Deliver("second", true);
  EXPECT_EQ(delivery.Block(), "AB0123456789<{[::]}>second");
  EXPECT_EQ(delivery.record.OutputItem.Count, 2);

  Delivery ending("payload.<{[::]}>");
  ending.Deliver("text", true);
  EXPECT_EQ(ending.Block(), "payload.<{[::]}>text") << "a block ending in the separator gets none";

  Delivery exact("12345678");
  exact.Deliver("text", true);
  EXPECT_EQ(exact.Block(), "12345678text");
}

TEST(ParsedData, ReplacingAndAllocatingBlocks) {
  Delivery replace("a long packet of data");
  replace.Deliver("short", false);
  EXPECT_EQ(replace.Block(), "short");

  Delivery none("");
  none.Deliver("fresh", true);
  EXPECT_EQ(none.record.InputItem.Type, ditMemoryBlock);
  EXPECT_EQ(none.Block(), "fresh");

  // An empty text leaves the block alone but still counts a delivery.
  Delivery empty("data");
  empty.Deliver("", true);
  EXPECT_EQ(empty.Block(), "data");
  EXPECT_EQ(empty.record.OutputItem.Count, 1);
}

TEST(ParsedData, ValuesFollowOrReplaceTheOutputList) {
  Delivery delivery("x");
  delivery.output->AddItem("earlier", TextValue("kept").raw());
  delivery.Deliver("one", true, "first");
  delivery.Deliver("two", true, "second");
  ASSERT_EQ(delivery.output->Count(), 3);
  EXPECT_EQ(delivery.output->Items(2)->Name(), "second");
  delivery.Deliver("three", false, "third");
  ASSERT_EQ(delivery.output->Count(), 1);
  EXPECT_EQ(delivery.output->Items(0)->Name(), "third");
}

// Every allocation of a delivery refused in turn: the host keeps its block,
// its list and its count exactly, or gets the whole delivery.
TEST(ParsedData, ADeliveryThatRunsOutOfMemoryLeavesTheHostsDataAsItWas) {
  struct State {
    std::unique_ptr<Delivery> delivery;
    TParsedDataList results;
  };
  for (const bool append : {true, false}) {
    for (const char* block : {"", "earlier text"}) {
      for (platform::Allocator allocator : {platform::Allocator::SharedMemory, platform::Allocator::OleStrings}) {
        SCOPED_TRACE(std::string(append ? "appending" : "replacing") + ", block \"" + block + "\"");
        test_support::ForEachRefusal(
            allocator,
            [&] {
              State state{std::make_unique<Delivery>(block), {}};
              state.delivery->output->AddItem("earlier", TextValue("kept").raw());
              state.delivery->record.OutputItem.Count = 1;
              state.results.Text() = "parsed text";
              state.results.Values().AddItem("Number", platform::OleVariant::fromI4(12).raw());
              state.results.Values().AddItem("Text", TextValue("twelve").raw());
              return state;
            },
            [&](State& state) { DeliverParsedData(state.delivery->record, state.results, append); },
            [&](State& state, const test_support::RefusalRun& run) {
              const Delivery& delivery = *state.delivery;
              if (run.WasRefused) {
                EXPECT_TRUE(run.Threw) << "allocation " << run.Refused << " was refused without a word";
                EXPECT_EQ(delivery.record.OutputItem.Count, 1);
                ASSERT_EQ(delivery.output->Count(), 1) << "allocation " << run.Refused;
                EXPECT_EQ(delivery.output->Items(0)->Name(), "earlier");
                if (*block == 0) {
                  EXPECT_EQ(delivery.record.InputItem.Type, 0) << "no block is left behind";
                } else {
                  EXPECT_EQ(delivery.Block(), block);
                }
                return;
              }
              EXPECT_FALSE(run.Threw) << run.What;
              EXPECT_EQ(delivery.record.OutputItem.Count, 2);
              EXPECT_EQ(delivery.output->Count(), append ? 3 : 2);
              EXPECT_EQ(delivery.output->Last()->Name(), "Text");
              EXPECT_EQ(delivery.Block(), append && *block != 0 ? std::string(block) + "<{[::]}>parsed text"
                                                                : std::string("parsed text"));
            });
      }
    }
  }
}

TEST(ParsedData, NothingHappensWithoutAnOutputList) {
  Delivery delivery("data");
  delivery.record.OutputItem = {};
  delivery.Deliver("text", true, "value");
  EXPECT_EQ(delivery.Block(), "data");
  EXPECT_EQ(delivery.record.OutputItem.Count, 0);
}

}  // namespace
