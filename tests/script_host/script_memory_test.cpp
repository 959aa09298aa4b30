// A parse packet through the exports while the allocators a host shares with
// the plug-in refuse: each allocation of the packet's way (the copies of the
// host's lists, the script's result items, the delivery) is refused in turn.
// Every refusal fails the packet with a line in the log, the host's list and
// block stay as they were, and the next packet is served as usual.
#include "platform/allocation_faults.h"
#include "script_host_support.h"
#include "support/allocation_fault_sweep.h"

namespace script_host_testing {
namespace {

class ScriptMemory : public ScriptHostTest {};

TEST_F(ScriptMemory, ARefusedAllocationFailsOnlyThatPacketAndKeepsTheHostsData) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin\n"
        "def EventData(params, source, name): plugin.DbgLog('queued')\n"
        "def ParseData(params, source, fifo, results):\n"
        "    data = fifo.GetBytes()\n"
        "    end = data.find(b'\\n')\n"
        "    if end < 0: return\n"
        "    fifo.Shift(end + 1)\n"
        "    results.AddItem('Number', int(data[:end]))\n"
        "    results.AddItem('Text', 'line ' + data[:end].decode())\n"
        "    results.AddItem('Params', params.ItemValueByName('PACKET-PARAM'))\n");
  const std::vector<std::string> expected = {"earlier=kept", "Number=42", "Text=line 42", "Params=p"};

  struct Packet {
    std::unique_ptr<HostList> params;
    std::unique_ptr<HostList> results;
    corvane::TPluginCallRecord record;
    ~Packet() { FreeBlock(record.InputItem); }
  };
  // A fresh client each time: what a refused packet left in a client's
  // buffer is the script's business, not this test's.
  uint32_t client = 100;
  for (const auto allocator : {corvane::platform::Allocator::SharedMemory, corvane::platform::Allocator::OleStrings}) {
    uint32_t failures = 0;
    const uint32_t allocations = corvane::test_support::ForEachRefusal(
        allocator,
        [&] {
          auto packet = std::make_unique<Packet>();
          packet->params = std::make_unique<HostList>(instance.Host().Form());
          packet->params->Add("PACKET-PARAM", Text("p"));
          packet->results = std::make_unique<HostList>(instance.Host().Form());
          packet->results->Add("earlier", Text("kept"));
          packet->record = instance.Host().Record();
          packet->record.Params = packet->params->Params();
          packet->record.RoleFlags = 0x02;
          packet->record.ClientId = ++client;
          packet->record.InputItem = SharedBlock("42\n");
          packet->record.OutputItem = packet->results->Item();
          EXPECT_EQ(instance.Event("NOTE"), 0);  // a line waiting in the log
          return packet;
        },
        [&](std::unique_ptr<Packet>& packet) {
          if (instance.Host().Plugin().ProcessData(&packet->record) != 0) throw std::runtime_error("failed");
        },
        [&](std::unique_ptr<Packet>& packet, const corvane::test_support::RefusalRun& run) {
          SCOPED_TRACE("allocation " + std::to_string(run.Refused) + " refused");
          const std::vector<LogLine> log = instance.Log();
          const std::vector<std::string> delivered = ListTexts(packet->results->List());
          // What was logged before the refusal is still there.
          ASSERT_FALSE(log.empty());
          EXPECT_EQ(log.front(), (LogLine{2, "queued"}));
          if (!run.Threw) {
            EXPECT_EQ(delivered, expected);
            EXPECT_EQ(uint32_t(packet->record.OutputItem.Count), 1);
            return;
          }
          ++failures;
          EXPECT_TRUE(run.WasRefused);
          EXPECT_EQ(delivered, std::vector<std::string>{"earlier=kept"});
          EXPECT_EQ(uint32_t(packet->record.OutputItem.Count), 0);
          EXPECT_EQ(BlockText(packet->record.InputItem), "42\n");
          ASSERT_GE(log.size(), 2u) << "a failed packet says why";
          EXPECT_EQ(log.back().Kind, 0);
          EXPECT_TRUE(log.back().Text.starts_with("Unable to execute \"ParseData\": ")) << log.back();
        });
    EXPECT_GT(failures, 0u);
    EXPECT_GT(allocations, 0u);
  }
  std::vector<std::string> output;
  EXPECT_EQ(instance.Parse("7\n", 1, &output), 0);
  EXPECT_EQ(output, (std::vector<std::string>{"Number=7", "Text=line 7", "Params=p"}));
}

}  // namespace
}  // namespace script_host_testing
