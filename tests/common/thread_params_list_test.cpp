#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/thread_params_list.h"

using namespace corvane;

TEST(ThreadParamsList, WritersAndReadersShareOneList) {
  TkivThreadParamsList shared;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        TkivParamsList* list = shared.LockWrite();
        list->AddItem("t" + std::to_string(t) + "_" + std::to_string(i), platform::OleVariant::fromI4(i).raw());
        shared.UnlockWrite();
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      TkivParamsList* list = shared.LockRead();
      const int32_t count = list->Count();
      for (int32_t k = 0; k < count; ++k) ASSERT_NE(list->Items(k), nullptr);
      shared.UnlockRead();
    }
  });
  for (auto& thread : threads) thread.join();
  TkivParamsList* list = shared.LockRead();
  EXPECT_EQ(list->Count(), 900);
  EXPECT_EQ(list->ItemValueByName("T2_299").raw().lVal, 299);
  shared.UnlockRead();
}
