// Per-client parser state: finding, taking over, creating and sweeping
// clients, alone and from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "plugin/parser_clients.h"
#include "plugin_test_support.h"

using namespace corvane;

namespace {

TPluginCallRecord packet(uint32_t clientId, const char* name, uint8_t type = ditMemoryBlock) {
  TPluginCallRecord record = test_support::FreshRecord();
  record.ClientId = clientId;
  std::memcpy(record.ClientName, name, std::min(std::strlen(name), sizeof record.ClientName));
  record.InputItem.Type = type;
  return record;
}

const TParserClientClass makeClient = [](const TPluginCallRecord& record) {
  return std::make_unique<TCustomParserClient>(nullptr, record);
};

TCustomParserClient* filed(TCustomParserClientList& list, uint32_t key) {
  ListReadLock lock(list);
  TCustomParserClient* client = nullptr;
  lock.List().Find(key, client);
  return client;
}

TEST(ParserClients, NamesAndInitialState) {
  TCustomParserClient client(nullptr, packet(3, "10.0.0.5:502", ditClientStream));
  EXPECT_EQ(client.ClientName(), "10.0.0.5:502");
  EXPECT_EQ(client.BaseName(), "10.0.0.5");
  EXPECT_TRUE(client.Stream());
  EXPECT_FALSE(client.Spare());
  EXPECT_FALSE(client.GetFirstState());
  EXPECT_TRUE(client.SecondState());
  EXPECT_EQ(client.Fifo().Capacity(), DefaultClientFifoCapacity);
  EXPECT_EQ(TCustomParserClient(nullptr, packet(3, "plain")).BaseName(), "");
  EXPECT_TRUE(TCustomParserClient(nullptr, packet(3, "__UT__x")).Spare());

  // A name fills the record's 50 bytes without a terminator.
  TPluginCallRecord full = packet(4, "");
  std::memset(full.ClientName, 'n', sizeof full.ClientName);
  EXPECT_EQ(TCustomParserClient(nullptr, full).ClientName(), std::string(50, 'n'));

  int32_t result = 0;
  client.Handle(result);
  EXPECT_EQ(result, -2);
}

TEST(ParserClients, WritesRefreshTheActivityUnlessPaused) {
  TCustomParserClient client(nullptr, packet(1, "c"));
  client.SetLastActivity(5);
  client.WriteText("abc");
  EXPECT_GT(client.LastActivity(), 5u);
  EXPECT_EQ(client.Fifo().DataSize(), 3);
  client.SetPaused(true);
  client.SetLastActivity(5);
  client.WriteBytes("de", 2);
  EXPECT_EQ(client.LastActivity(), 5u);
  client.Reset();
  EXPECT_GT(client.LastActivity(), 5u) << "a reset refreshes even a paused client";
  client.ClearFifo();
  EXPECT_EQ(client.Fifo().DataSize(), 0);
}

TEST(ParserClients, FindOnlyActiveSkipsPausedClients) {
  TCustomParserClientList list;
  TCustomParserClient* first = FindClient(list, packet(9, "a"), false, makeClient);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(FindClient(list, packet(9, "a"), false, nullptr), first);
  first->SetPaused(true);
  EXPECT_EQ(FindClient(list, packet(9, "a"), true, nullptr), nullptr);
  EXPECT_EQ(FindClient(list, packet(9, "a"), false, nullptr), first);
  EXPECT_EQ(FindClient(list, packet(10, "b"), false, nullptr), nullptr) << "no class, no client";
  EXPECT_EQ(list.Count(), 1);
}

TEST(ParserClients, TakenOverSparesAreRefiledUnderTheirNewId) {
  TCustomParserClientList list;
  TCustomParserClient* spare = FindClient(list, packet(0, "__UT__spare"), false, makeClient);
  ASSERT_TRUE(spare->Spare());
  EXPECT_EQ(FindClient(list, packet(4, "__UT__again"), false, makeClient), spare) << "still spare";
  EXPECT_TRUE(spare->Spare());

  TCustomParserClient* taken = FindClient(list, packet(4, "host:1", ditClientStream), false, makeClient);
  EXPECT_EQ(taken, spare);
  EXPECT_FALSE(taken->Spare());
  EXPECT_TRUE(taken->Stream());
  EXPECT_EQ(taken->BaseName(), "host");
  EXPECT_EQ(filed(list, 4), taken);
  EXPECT_EQ(filed(list, 0), nullptr);

  // A new client of the old key is a client of its own.
  TCustomParserClient* zero = FindClient(list, packet(0, "zero"), false, makeClient);
  EXPECT_NE(zero, taken);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(FindClient(list, packet(4, "host:1"), false, nullptr), taken);
}

TEST(ParserClients, SweepsPauseAndRemoveIdleClients) {
  TCustomParserClientList list;
  TCustomParserClient* idle = FindClient(list, packet(1, "idle"), false, makeClient);
  TCustomParserClient* busy = FindClient(list, packet(2, "busy"), false, makeClient);
  idle->SetLastActivity(platform::tickCount64() - 10000);
  SweepClients(list, 5000, false);
  EXPECT_TRUE(idle->Paused());
  EXPECT_FALSE(busy->Paused());
  EXPECT_EQ(list.Count(), 2) << "marked, not removed";
  SweepClients(list, 5000, true);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(filed(list, 2), busy);
  SweepClients(list, 0, true);
  EXPECT_EQ(list.Count(), 0);
}

// Threads that meet the same new clients create each exactly once.
TEST(ParserClients, ConcurrentFirstSightCreatesOneClient) {
  TCustomParserClientList list;
  constexpr int kThreads = 4;
  constexpr uint32_t kClients = 200;
  std::vector<std::set<TCustomParserClient*>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (uint32_t id = 1; id <= kClients; ++id) seen[t].insert(FindClient(list, packet(id, "c"), false, makeClient));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(list.Count(), static_cast<int32_t>(kClients));
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
}

}  // namespace
