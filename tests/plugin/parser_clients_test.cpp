// Per-client parser state: finding, taking over, creating and sweeping
// clients, alone and from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

TParserClientRef filed(TCustomParserClientList& list, uint32_t key) {
  ListReadLock lock(list);
  TParserClientRef client;
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
  TParserClientRef first = FindClient(list, packet(9, "a"), false, makeClient);
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
  TParserClientRef spare = FindClient(list, packet(0, "__UT__spare"), false, makeClient);
  ASSERT_TRUE(spare->Spare());
  EXPECT_EQ(FindClient(list, packet(4, "__UT__again"), false, makeClient), spare) << "still spare";
  EXPECT_TRUE(spare->Spare());

  TParserClientRef taken = FindClient(list, packet(4, "host:1", ditClientStream), false, makeClient);
  EXPECT_EQ(taken, spare);
  EXPECT_FALSE(taken->Spare());
  EXPECT_TRUE(taken->Stream());
  EXPECT_EQ(taken->BaseName(), "host");
  EXPECT_EQ(filed(list, 4), taken);
  EXPECT_EQ(filed(list, 0), nullptr);

  // A new client of the old key is a client of its own.
  TParserClientRef zero = FindClient(list, packet(0, "zero"), false, makeClient);
  EXPECT_NE(zero, taken);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(FindClient(list, packet(4, "host:1"), false, nullptr), taken);
}

TEST(ParserClients, SweepsPauseAndRemoveIdleClients) {
  TCustomParserClientList list;
  TParserClientRef idle = FindClient(list, packet(1, "idle"), false, makeClient);
  TParserClientRef busy = FindClient(list, packet(2, "busy"), false, makeClient);
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

// A client stamped idle for longer than the tick count has run (a stream
// that ends early in the system's uptime) is still idle for that long, not
// only for as long as the system has been up.
TEST(ParserClients, ClientsStampedIdleAreSweptWhateverTheUptime) {
  TCustomParserClientList list;
  TParserClientRef ended = FindClient(list, packet(1, "ended"), false, makeClient);
  TParserClientRef recent = FindClient(list, packet(2, "recent"), false, makeClient);
  const uint64_t beyondUptime = platform::tickCount64() + 5000;
  ended->SetIdleFor(beyondUptime);
  recent->SetIdleFor(1000);
  SweepClients(list, beyondUptime, true);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(filed(list, 2), recent);
  SweepClients(list, 60000, true);
  EXPECT_EQ(list.Count(), 1) << "idle for a second only";
}

// A call keeps its client while a sweep drops it from the list; the client
// goes when the last reference does.
TEST(ParserClients, ASweptClientLivesOnWhileACallHoldsIt) {
  TCustomParserClientList list;
  TParserClientRef held = FindClient(list, packet(1, "held"), false, makeClient);
  const std::weak_ptr<TCustomParserClient> watch = held;
  held->SetLastActivity(platform::tickCount64() - 10000);
  SweepClients(list, 5000, true);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(FindClient(list, packet(1, "held"), false, nullptr), nullptr) << "no longer found";
  {
    const auto lock = held->Lock();
    held->WriteText("still usable");
    EXPECT_EQ(held->Fifo().DataSize(), 12);
  }
  EXPECT_FALSE(watch.expired());
  held.reset();
  EXPECT_TRUE(watch.expired()) << "freed with the last reference";

  // A later packet of the same id gets a client of its own.
  TParserClientRef fresh = FindClient(list, packet(1, "held"), false, makeClient);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Fifo().DataSize(), 0);
}

// Threads that meet the same new clients create each exactly once.
TEST(ParserClients, ConcurrentFirstSightCreatesOneClient) {
  constexpr int kThreads = 4;
  constexpr uint32_t kClients = 200;
  std::atomic<int> made{0};
  const TParserClientClass counting = [&](const TPluginCallRecord& record) {
    ++made;
    return makeClient(record);
  };

  // All threads on one new id at once, many times over.
  for (uint32_t id = 1; id <= kClients; ++id) {
    TCustomParserClientList list;
    std::atomic<int> ready{0};
    std::vector<TParserClientRef> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready < kThreads) std::this_thread::yield();
        got[t] = FindClient(list, packet(id, "c"), false, counting);
      });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(list.Count(), 1);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], filed(list, id));
  }
  EXPECT_EQ(made, static_cast<int>(kClients));

  // Each thread walks the same ids; one spare among them is taken over once.
  TCustomParserClientList list;
  const TParserClientRef spare = FindClient(list, packet(0, "__UT__spare"), false, makeClient);
  made = 0;
  std::vector<std::set<TCustomParserClient*>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (uint32_t id = 1; id <= kClients; ++id) {
        seen[t].insert(FindClient(list, packet(id, "c"), false, counting).get());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(list.Count(), static_cast<int32_t>(kClients));
  EXPECT_EQ(made, static_cast<int>(kClients) - 1) << "the spare served one of them";
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
  EXPECT_EQ(seen[0].count(spare.get()), 1u);
  EXPECT_FALSE(spare->Spare());
}

TEST(ParserClients, TheClientLockIsReentrantAndExcludesOtherThreads) {
  TCustomParserClientList list;
  TParserClientRef client = FindClient(list, packet(1, "c"), false, makeClient);
  auto outer = client->Lock();
  {
    const auto inner = client->Lock();  // a host callback into the same client
    client->WriteText("x");
  }

  // The list stays free for other clients and sweeps meanwhile.
  std::thread other([&] {
    EXPECT_NE(FindClient(list, packet(2, "d"), false, makeClient), nullptr);
    SweepClients(list, 3600000, true);
  });
  other.join();
  EXPECT_EQ(list.Count(), 2);

  std::atomic<bool> entered{false};
  std::thread locker([&] {
    const auto lock = client->Lock();
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered) << "another thread waits for the holder";
  outer.unlock();
  locker.join();
  EXPECT_TRUE(entered);
}

// A spare is never changed under a call that holds it: another thread's
// take-over waits for the lock, the holder's own thread takes it over at once.
TEST(ParserClients, TakingOverASpareWaitsForItsLock) {
  TCustomParserClientList list;
  TParserClientRef spare = FindClient(list, packet(0, "__UT__spare"), false, makeClient);
  auto held = spare->Lock();

  std::atomic<bool> done{false};
  std::thread taker([&] {
    EXPECT_EQ(FindClient(list, packet(5, "real"), false, makeClient), spare);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done);
  EXPECT_TRUE(spare->Spare());
  held.unlock();
  taker.join();
  EXPECT_EQ(spare->ClientId(), 5u);

  TParserClientRef second = FindClient(list, packet(0, "__UT__second"), false, makeClient);
  ASSERT_NE(second, spare);
  const auto lock = second->Lock();
  EXPECT_EQ(FindClient(list, packet(6, "again"), false, makeClient), second) << "re-entered on the holder's thread";
  EXPECT_EQ(filed(list, 6), second);
}

}  // namespace
