// Scripts that start threads: unloading and restarting never hang and never
// crash the host, whatever the threads do. (Runs after the other script host
// tests: one case leaves an interpreter running for a while.)
#include <chrono>
#include <fstream>
#include <thread>

#include "script_host_support.h"

namespace script_host_testing {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class ScriptThreads : public ScriptHostTest {};

TEST_F(ScriptThreads, ThreadsThatLoopOrSleepStopWithTheEngine) {
  ScriptInstance instance(folder_);
  instance.Configure(
      "import plugin, threading, time\n"
      "def work():\n"
      "    while True:\n"
      "        plugin.DbgLog('tick')\n"
      "        time.sleep(0.01)\n"
      "threading.Thread(target=work).start()\n"
      "threading.Thread(target=work, daemon=True).start()\n"
      "threading.Timer(60, work).start()\n"
      "def EventData(params, source, name):\n"
      "    plugin.DbgLog('event')\n");
  ASSERT_EQ(instance.Load(), 0);
  EXPECT_EQ(instance.Event("E"), 0);

  // A restart (changed script) and an unload each end the threads in time.
  auto start = Clock::now();
  instance.Configure("import plugin\ndef EventData(params, source, name):\n    plugin.DbgLog('restarted')\n");
  EXPECT_EQ(instance.ReloadSettings(), -2);
  EXPECT_LT(secondsSince(start), 15.0) << "the restart waited for the script's threads";
  EXPECT_EQ(instance.Event("E"), 0);
  std::vector<LogLine> log = instance.Log();
  EXPECT_EQ(log.back(), (LogLine{2, "restarted"}));
  for (const LogLine& line : log) EXPECT_NE(line.Kind, 1) << line.Text;  // no warning: every thread stopped

  instance.Configure(
      "import threading, time\n"
      "threading.Thread(target=lambda: time.sleep(0.5)).start()\n");
  EXPECT_EQ(instance.ReloadSettings(), -2);
  start = Clock::now();
  EXPECT_EQ(instance.Unload(), 0);
  EXPECT_LT(secondsSince(start), 15.0);
  for (const LogLine& line : instance.Log()) EXPECT_NE(line.Kind, 1) << line.Text;
}

TEST_F(ScriptThreads, HostThreadsKeepTheirPythonThreadBetweenCalls) {
  ScriptInstance instance(folder_);
  instance.Configure(
      "import plugin, threading\n"
      "local = threading.local()\n"
      "def EventData(params, source, name):\n"
      "    local.count = getattr(local, 'count', 0) + 1\n"
      "    plugin.DbgLog('%s %d' % (name, local.count))\n");
  ASSERT_EQ(instance.Load(), 0);
  auto events = [&](const std::string& name, int count) {
    for (int i = 0; i < count; ++i) EXPECT_EQ(instance.Event(name), 0);
  };
  std::thread(events, "A", 3).join();
  events("M", 1);
  std::thread(events, "B", 2).join();
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"A 1", "A 2", "A 3", "M 1", "B 1", "B 2"}));

  // Many short-lived host threads, more than are kept: every call arrives,
  // and the engine still restarts and unloads from a host thread.
  std::vector<std::thread> threads;
  for (int i = 0; i < 100; ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < 2; ++k) EXPECT_EQ(instance.Event("T" + std::to_string(i) + "." + std::to_string(k)), 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(instance.LogTexts().size(), 200u);
  instance.Configure("import plugin\ndef EventData(params, source, name):\n    plugin.DbgLog('restarted')\n");
  std::thread([&] { EXPECT_EQ(instance.ReloadSettings(), -2); }).join();
  std::thread(events, "A", 1).join();
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"restarted"});
  std::thread([&] { EXPECT_EQ(instance.Unload(), 0); }).join();
}

// A host thread that ends leaves its kept thread state in the interpreter.
// The bound on kept states holds for the process, not per instance: loading
// more instances (or restarting one) while host threads come and go must not
// let them pile up.
TEST_F(ScriptThreads, KeptThreadStatesAreBoundedForTheWholeProcess) {
  // The markers live in sys, which every session shares; each is held by
  // a threading.local() value, which lives as long as its thread state.
  const std::string script =
      "import sys, threading, weakref, plugin\n"
      "if not hasattr(sys, 'kept_markers'):\n"
      "    sys.kept_markers = weakref.WeakSet()\n"
      "    sys.kept_local = threading.local()\n"
      "    sys.kept_marker_type = type('Marker', (), {})\n"
      "def EventData(params, source, name):\n"
      "    if name == 'count':\n"
      "        plugin.DbgLog(str(len(sys.kept_markers)))\n"
      "    elif not hasattr(sys.kept_local, 'marker'):\n"
      "        sys.kept_local.marker = sys.kept_marker_type()\n"
      "        sys.kept_markers.add(sys.kept_local.marker)\n";
  std::vector<std::unique_ptr<ScriptInstance>> instances;
  for (int round = 0; round < 3; ++round) {
    instances.push_back(std::make_unique<ScriptInstance>(folder_, "kept" + std::to_string(round)));
    ScriptInstance& instance = *instances.back();
    instance.Configure(script);
    ASSERT_EQ(instance.Load(), 0);
    for (int i = 0; i < 40; ++i) std::thread([&] { EXPECT_EQ(instance.Event("mark"), 0); }).join();
  }
  EXPECT_EQ(instances.back()->Event("count"), 0);
  const std::vector<std::string> texts = instances.back()->LogTexts();
  ASSERT_EQ(texts.size(), 1u);
  // At most the kept states, and this thread's own.
  EXPECT_LE(std::stoi(texts.front()), corvane::TPythonInterface::kMaxKeptThreadStates + 1);
  for (auto& instance : instances) EXPECT_EQ(instance->Unload(), 0);
}

TEST_F(ScriptThreads, ThreadsThatCannotStopLeaveTheRuntimeLoadedAndSaySo) {
  const std::string flag = folder_ / "release";
  {
    ScriptInstance instance(folder_, "blocked");
    // One thread blocks where a stop request cannot reach it; another
    // refuses to stop until the flag file appears, then releases the first.
    instance.Configure(
        "import os, threading, time, plugin\n"
        "event = threading.Event()\n"
        "def blocked():\n"
        "    event.wait()\n"
        "def releaser():\n"
        "    while True:\n"
        "        try:\n"
        "            while not os.path.exists(" + std::string("r'") + flag + "'):\n"
        "                time.sleep(0.02)\n"
        "            event.set()\n"
        "            return\n"
        "        except SystemExit:\n"
        "            pass\n"
        "threading.Thread(target=blocked).start()\n"
        "threading.Thread(target=releaser, daemon=True).start()\n");
    ASSERT_EQ(instance.Load(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(instance.Unload(), 0);
    EXPECT_LT(secondsSince(start), 15.0);
    const std::vector<LogLine> log = instance.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (LogLine{1, "2 script threads did not stop; the Python runtime stays loaded"}));
  }
  {
    // While they run, another script runs beside them in a session of its own.
    ScriptInstance next(folder_, "next");
    next.Configure("import plugin\ndef EventData(params, source, name):\n    plugin.DbgLog('next')\n");
    ASSERT_EQ(next.Load(), 0);
    EXPECT_EQ(next.Event("E"), 0);
    EXPECT_EQ(next.LogTexts(), std::vector<std::string>{"next"});
  }
  std::ofstream(flag) << "go";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    // Once they have ended, scripts still start and run.
    ScriptInstance later(folder_, "later");
    later.Configure("import plugin\ndef EventData(params, source, name):\n    plugin.DbgLog('later')\n");
    ASSERT_EQ(later.Load(), 0);
    EXPECT_EQ(later.Event("E"), 0);
    EXPECT_EQ(later.LogTexts(), std::vector<std::string>{"later"});
  }
}

}  // namespace
}  // namespace script_host_testing
