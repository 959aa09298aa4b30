// One instance under load through the exports: packets from several
// threads side by side with commands and log drains. Run under the thread
// sanitizer by the linux-x64-tsan preset.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../integration/integration_support.h"

using namespace corvane;
using namespace integration;

namespace {

constexpr int kPacketThreads = 4;
constexpr int kClientsPerThread = 8;
constexpr int kPacketsPerThread = 1000;

// Every line the drains delivered, split at CR LF.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

TEST(Concurrency, PacketsCommandsAndDrainsSideBySide) {
  Instance instance(TestModule());
  ASSERT_EQ(instance.Command("LOAD"), 0);
  std::atomic<int> running{kPacketThreads};
  std::atomic<int> wrongResults{0};

  std::vector<std::thread> threads;
  for (int t = 0; t < kPacketThreads; ++t) {
    threads.emplace_back([&, t] {
      HostList params(t % 2 ? ListForm::Native : ListForm::Interface);
      TPluginCallRecord record = instance.Record();
      record.Params = params.Params();
      record.RoleFlags = 0x02;
      for (int n = 0; n < kPacketsPerThread; ++n) {
        HostList output(ListForm::Interface);
        record.ClientId = static_cast<uint32_t>(100 * (t + 1) + n % kClientsPerThread);
        std::snprintf(record.ClientName, sizeof record.ClientName, "thread%d.client", t);
        record.InputItem = SharedBlock("n=" + std::to_string(n) + "\n");
        record.OutputItem = output.Item();
        if (instance.Plugin().ProcessData(&record) != 1 || output.List().Count() != 1) ++wrongResults;
        FreeBlock(record.InputItem);
      }
      --running;
    });
  }

  // Commands serialise on the command lock while packets flow.
  std::atomic<int> commandFailures{0};
  std::thread commands([&] {
    for (int i = 0; running > 0 || i < 50; ++i) {
      HostList params(ListForm::Interface);
      params.Add("COMMAND", Text(i % 2 ? "GET-MODULE-PARAMETER" : "SET-MODULE-PARAMETER"));
      params.Add("PARAM", Text("Custom:round"));
      params.Add("VALUE", OleVariant::fromI4(i));
      TPluginCallRecord record = instance.Record();
      record.Params = params.Params();
      if (instance.Plugin().ExecutePluginCommand(&record) != 0) ++commandFailures;
    }
  });

  std::string drained;
  while (running > 0) drained += instance.DrainLog();
  for (auto& thread : threads) thread.join();
  commands.join();
  drained += instance.DrainLog();

  EXPECT_EQ(wrongResults, 0);
  EXPECT_EQ(commandFailures, 0);

  // No log line lost or doubled: each client's packets numbered 1..n once.
  std::map<std::string, int> seen;
  for (const std::string& line : lines(drained)) ++seen[line];
  const int packetsPerClient = kPacketsPerThread / kClientsPerThread;
  int packetLines = 0;
  for (int t = 0; t < kPacketThreads; ++t) {
    for (int c = 0; c < kClientsPerThread; ++c) {
      for (int n = 1; n <= packetsPerClient; ++n) {
        const std::string line = "\x03" "client " + std::to_string(100 * (t + 1) + c) + " packet " + std::to_string(n);
        EXPECT_EQ(seen[line], 1) << line;
        packetLines += seen[line];
      }
    }
  }
  EXPECT_EQ(packetLines, kPacketThreads * kPacketsPerThread);

  // No client lost or doubled.
  OleVariant answer;
  ASSERT_EQ(instance.Command("CLIENTS", {}, &answer), 0);
  std::istringstream clients(TextOf(answer));
  std::string line;
  int count = 0;
  while (std::getline(clients, line)) {
    ++count;
    EXPECT_NE(line.find(":" + std::to_string(packetsPerClient) + ":thread"), std::string::npos) << line;
  }
  EXPECT_EQ(count, kPacketThreads * kClientsPerThread);
}

// LOAD and UNLOAD pairs from several threads keep the count balanced.
TEST(Concurrency, CommandsFromSeveralThreadsSerialise) {
  Instance instance(FrameworkLibrary());
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 250; ++i) {
        for (const char* command : {"LOAD", "SET-MODULE-PARAMETER", "UNLOAD"}) {
          HostList params(ListForm::Native);
          params.Add("COMMAND", Text(command));
          params.Add("PARAM", Text("Custom:thread" + std::to_string(t)));
          params.Add("VALUE", OleVariant::fromI4(i));
          TPluginCallRecord record = instance.Record();
          record.Params = params.Params();
          if (instance.Plugin().ExecutePluginCommand(&record) != 0) ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(instance.Parameter("ModuleLoadCount"), "0");
  EXPECT_EQ(instance.Parameter("Custom:COUNT"), "4");
  EXPECT_EQ(instance.Parameter("Custom:thread3"), "249");
}

// Freeing an instance while packets arrive: calls in progress finish,
// later ones are refused, nothing is used after free.
TEST(Concurrency, FreeWhilePacketsArrive) {
  host::LoadedPlugin& lib = TestModule();
  TPluginCallRecord record = FreshRecord();
  ASSERT_EQ(lib.CreatePluginInstance(&record), 0);
  std::atomic<int> accepted{0};
  std::atomic<int> refused{0};
  std::atomic<bool> freed{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      HostList params(ListForm::Interface);
      TPluginCallRecord packet = record;
      packet.Params = params.Params();
      packet.RoleFlags = 0x02;
      packet.ClientId = static_cast<uint32_t>(t);
      for (int n = 0; n < 4000 && refused == 0; ++n) {
        packet.InputItem = SharedBlock("v=1\n");
        const int32_t result = lib.ProcessData(&packet);
        FreeBlock(packet.InputItem);
        if (result == -1) {
          EXPECT_TRUE(freed.load());
          ++refused;
        } else {
          ++accepted;
        }
      }
    });
  }
  while (accepted < 300) std::this_thread::yield();
  freed = true;
  EXPECT_EQ(lib.FreePluginInstance(&record), 0);
  for (auto& thread : threads) thread.join();
  EXPECT_GT(refused, 0);
}

}  // namespace
