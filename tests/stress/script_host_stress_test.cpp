// The product library under load with a real script: host threads deliver
// packets and events to two instances while the script's SendData comes
// back into the host, which at once calls ProcessData and a command on the
// same instance from inside its callback; meanwhile a thread restarts,
// unloads and loads the instances, and another drains the logs. Nothing may
// deadlock, and no log line of a script call that ran may be lost or
// doubled. The linux-x64-tsan preset runs it under the thread sanitizer.
#include <atomic>
#include <cstdio>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "../script_host/script_host_support.h"

namespace script_host_testing {
namespace {

using corvane::platform::testing::ScratchFolder;

constexpr int kPacketThreads = 4;
constexpr int kPacketsPerThread = 150;
constexpr int kRestarts = 9;  // at least: three unloads and loads, six restarts

const char* const kScript =
    "import plugin\n"
    "def ParseData(params, source, fifo, results):\n"
    "    data = fifo.GetBytes()\n"
    "    end = data.find(b'\\n')\n"
    "    while end >= 0:\n"
    "        line = data[:end].decode()\n"
    "        fifo.Shift(end + 1)\n"
    "        data = data[end + 1:]\n"
    "        plugin.DbgLog('parsed ' + line)\n"
    "        results.AddItem('line', line)\n"
    "        if line.startswith('reenter'):\n"
    "            plugin.SendData(source, line.encode())\n"
    "        end = data.find(b'\\n')\n"
    "def EventData(params, source, name):\n"
    "    plugin.DbgLog('event ' + params.ItemValueByName('TAG'))\n"
    "    plugin.SendString(source, b'event')\n";

thread_local bool insideCallback = false;

struct Shared {
  std::mutex lock;
  std::set<std::string> ran;  // log lines of the calls whose results came back
  void Ran(const std::string& line) {
    std::lock_guard guard(lock);
    EXPECT_TRUE(ran.insert(line).second) << line;
  }
};

// A parse packet of one line; true when the script ran for it.
bool parseLine(Instance& instance, const std::string& line, uint32_t clientId) {
  HostList params(ListForm::Interface);
  HostList results(ListForm::Interface);
  TPluginCallRecord record = instance.Record();
  record.Params = params.Params();
  record.RoleFlags = 0x02;
  record.ClientId = clientId;
  record.InputItem = SharedBlock(line + "\n");
  record.OutputItem = results.Item();
  const int32_t result = instance.Plugin().ProcessData(&record);
  FreeBlock(record.InputItem);
  // 0, or refused while the instance is unloaded (-1) or has no engine (-4).
  EXPECT_TRUE(result == 0 || result == -1 || result == -4) << result;
  return results.List().Count() == 1;
}

TEST(ScriptHostStress, PacketsEventsReentryAndRestartsSideBySide) {
  CORVANE_REQUIRE_PYTHON();
  ScratchFolder folder;
  ScriptInstance first(folder, "first");
  ScriptInstance second(folder, "second");
  first.Host().Record().HostId = 1;
  second.Host().Record().HostId = 2;
  first.Configure(kScript);
  second.Configure(kScript);
  ASSERT_EQ(first.Load(), 0);
  ASSERT_EQ(second.Load(), 0);  // its engine cannot start beside the first one's
  ScriptInstance* byHost[3] = {nullptr, &first, &second};
  Shared shared;
  std::atomic<int> reentered{0};

  // The host answers a "reenter" send by delivering another packet and a
  // command to the same instance, from inside the callback.
  OnHostCall = [&](const Sent& sent) {
    if (insideCallback || sent.Kind != 0x81 || sent.Bytes.rfind("reenter", 0) != 0) return;
    if (sent.HostId < 1 || sent.HostId > 2) return;
    insideCallback = true;
    Instance& instance = byHost[sent.HostId]->Host();
    const std::string line = "inner " + sent.Bytes;
    if (parseLine(instance, line, 999)) shared.Ran(std::to_string(sent.HostId) + " parsed " + line);
    HostList params(ListForm::Interface);
    params.Add("COMMAND", Text("GET-MODULE-PARAMETER"));
    params.Add("PARAM", Text("LogTitle"));
    TPluginCallRecord record = instance.Record();
    record.Params = params.Params();
    EXPECT_EQ(instance.Plugin().ExecutePluginCommand(&record), 0);
    ++reentered;
    insideCallback = false;
  };

  std::atomic<int> running{kPacketThreads};
  std::atomic<int> restartCount{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kPacketThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kPacketsPerThread || restartCount < kRestarts; ++n) {
        const int host = 1 + (n + t) % 2;
        Instance& instance = byHost[host]->Host();
        const std::string tag = "t" + std::to_string(t) + "n" + std::to_string(n);
        const std::string line = (n % 5 == 0 ? "reenter " : "line ") + tag;
        if (parseLine(instance, line, static_cast<uint32_t>(10 * t + n % 3))) {
          shared.Ran(std::to_string(host) + " parsed " + line);
        }
        if (n % 7 == 0) {
          HostList params(ListForm::Interface);
          params.Add("COMMAND", Text("EVENT"));
          params.Add("EVENT-TYPE", Text("TICK"));
          params.Add("TAG", Text(tag));
          TPluginCallRecord record = instance.Record();
          record.Params = params.Params();
          const int32_t result = instance.Plugin().ExecutePluginCommand(&record);
          EXPECT_TRUE(result == 0 || result == -4) << result;
          if (result == 0) shared.Ran(std::to_string(host) + " event " + tag);
        }
      }
      --running;
    });
  }

  // Restarts (a changed script), and an unload and load of each instance.
  std::thread restarts([&] {
    for (int i = 0; running > 0; ++i, ++restartCount) {
      ScriptInstance& instance = i % 2 ? second : first;
      if (i % 3 == 0) {
        EXPECT_EQ(instance.Unload(), 0);
        EXPECT_EQ(instance.Load(), 0);
      } else {
        instance.Configure(std::string(kScript) + "# version " + std::to_string(i) + "\n");
        EXPECT_EQ(instance.ReloadSettings(), -2);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  std::map<int, std::string> drained;
  while (running > 0) {
    drained[1] += first.Host().DrainLog();
    drained[2] += second.Host().DrainLog();
  }
  for (auto& thread : threads) thread.join();
  restarts.join();
  drained[1] += first.Host().DrainLog();
  drained[2] += second.Host().DrainLog();
  OnHostCall = nullptr;

  std::map<std::string, int> logged;
  for (int host : {1, 2}) {
    for (const LogLine& line : ParseLog(drained[host])) {
      if (line.Text.rfind("parsed ", 0) == 0 || line.Text.rfind("event ", 0) == 0) {
        ++logged[std::to_string(host) + " " + line.Text];
      }
    }
  }
  std::printf("%zu script calls ran, %d re-entries, %d restarts\n", shared.ran.size(), reentered.load(), restartCount.load());
  EXPECT_GT(shared.ran.size(), 0u);
  EXPECT_GT(reentered.load(), 0);
  for (const std::string& line : shared.ran) EXPECT_EQ(logged[line], 1) << line;
  for (const auto& [line, count] : logged) EXPECT_EQ(count, 1) << line;
}

}  // namespace
}  // namespace script_host_testing
