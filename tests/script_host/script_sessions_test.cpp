// Several instances in one process: each script runs in a session of its
// own in the one interpreter they share, restarts start a fresh session, and
// C-extension packages keep working across restarts.
#include <algorithm>
#include <fstream>
#include <map>
#include <thread>

#include "script_host_support.h"

namespace script_host_testing {
namespace {

class ScriptSessions : public ScriptHostTest {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }
  // The library-release request a host sends before it unloads the library.
  static int32_t ReleaseLibrary() {
    corvane::TPluginCallRecord release{};
    release.RecordSize = corvane::CallRecordSize;
    release.InputItem = {0, 0, corvane::ditLibraryRelease, corvane::LibraryReleaseRequest};
    return Product().FreePluginInstance(&release);
  }
};

// Each instance's script, with a helper module of one name beside both.
std::string countingScript(const std::string& name) {
  return "import plugin, threading, tally\n"
         "count = 0\n"
         "def EventData(params, source, event):\n"
         "    global count\n"
         "    count += 1\n"
         "    tally.note(event)\n"
         "    print('" + name + " print %d' % count)\n"
         "    if event == 'THREAD':\n"
         "        t = threading.Thread(target=lambda: print('" + name + " thread'))\n"
         "        t.start()\n"
         "        t.join()\n"
         "    plugin.DbgLog('" + name + " %d %d' % (count, len(tally.seen)))\n";
}

TEST_F(ScriptSessions, InstancesKeepTheirOwnStateModulesAndOutput) {
  Write("tally.py",
        "import plugin\n"
        "seen = []\n"
        "def note(event):\n"
        "    seen.append(event)\n");
  ScriptInstance first(folder_, "first"), second(folder_, "second");
  EXPECT_TRUE(Start(first, countingScript("first")).empty());
  EXPECT_TRUE(Start(second, countingScript("second")).empty()) << "a second instance gets an engine too";

  // Packets interleaved from four host threads, two per instance.
  constexpr int kPerThread = 25;
  std::vector<std::thread> threads;
  for (ScriptInstance* instance : {&first, &second, &first, &second}) {
    threads.emplace_back([instance] {
      for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(instance->Event(i % 10 == 0 ? "THREAD" : "E"), 0);
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (auto [instance, name] : {std::pair{&first, std::string("first")}, std::pair{&second, std::string("second")}}) {
    const std::vector<std::string> log = instance->LogTexts();
    int logged = 0, printed = 0, fromThreads = 0;
    for (const std::string& line : log) {
      ASSERT_EQ(line.rfind(name + " ", 0), 0u) << "another instance's line: " << line;
      if (line.find(" print ") != std::string::npos) {
        ++printed;
      } else if (line == name + " thread") {
        ++fromThreads;
      } else {
        ++logged;
        // Its own count and its own helper module's, in step.
        const int count = std::stoi(line.substr(name.size() + 1));
        EXPECT_EQ(line, name + " " + std::to_string(count) + " " + std::to_string(count));
      }
    }
    EXPECT_EQ(logged, 2 * kPerThread) << name;
    EXPECT_EQ(printed, 2 * kPerThread) << name;
    EXPECT_EQ(fromThreads, 2 * (kPerThread / 10 + 1)) << name << ": a script's thread prints to its own log";
    EXPECT_EQ(log.back(), name + " " + std::to_string(2 * kPerThread) + " " + std::to_string(2 * kPerThread));
  }
}

TEST_F(ScriptSessions, ARestartStartsAFreshNamespaceAndReloadsTheScriptsModules) {
  Write("helper.py", "import plugin\nVALUE = 1\ndef show(): plugin.DbgLog('helper %d' % VALUE)\n");
  std::filesystem::create_directories(std::filesystem::path(folder_ / "pkg"));
  Write("pkg/__init__.py", "from . import sub\n");
  Write("pkg/sub.py", "NAME = 'one'\n");
  ScriptInstance instance(folder_);
  const std::string script =
      "import json, plugin, helper, pkg\n"
      "from helper import VALUE\n"
      "json.left_by_the_old_script = True\n"
      "defined_by_the_old_script = 1\n"
      "def EventData(params, source, event):\n"
      "    helper.show()\n"
      "    plugin.DbgLog('%d %s %s' % (VALUE, pkg.sub.NAME, 'defined_by_the_old_script' in globals()))\n";
  EXPECT_TRUE(Start(instance, script).empty());
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"helper 1", "1 one True"}));

  // Edited within the same second, to the same size: only the source tells.
  Write("helper.py", "import plugin\nVALUE = 2\ndef show(): plugin.DbgLog('helper %d' % VALUE)\n");
  Write("pkg/sub.py", "NAME = 'two'\n");
  instance.Configure(
      "import json, plugin, helper, pkg\n"
      "from helper import VALUE\n"
      "def EventData(params, source, event):\n"
      "    helper.show()\n"
      "    plugin.DbgLog('%d %s %s' % (VALUE, pkg.sub.NAME, 'defined_by_the_old_script' in globals()))\n"
      "    plugin.DbgLog('library module kept: %s' % getattr(json, 'left_by_the_old_script', False))\n"
      "    plugin.DbgLog('__name__ %s, helper %s' % (__name__, helper.__name__.split('.')[-1]))\n");
  EXPECT_EQ(instance.ReloadSettings(), -2);
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"helper 2", "2 two False", "library module kept: True",
                                                           "__name__ __main__, helper helper"}));
}

TEST_F(ScriptSessions, ALibraryModuleThatImportsPluginReachesTheInstanceRunningIt) {
  // A module on the search path, not beside either script: loaded once and
  // shared, its plugin reaches whichever instance's code calls it.
  const corvane::platform::testing::ScratchFolder library;
  std::ofstream(library / "shared_library.py", std::ios::binary)
      << "import plugin\n"
         "def log(text):\n"
         "    plugin.DbgLog(text)\n";
  const std::string script = "import sys\nsys.path.insert(0, r'" + library.path() +
                             "')\nimport shared_library, plugin\n"
                             "def EventData(params, source, name):\n"
                             "    shared_library.log(name)\n";
  ScriptInstance first(folder_, "first"), second(folder_, "second");
  EXPECT_TRUE(Start(first, script).empty());
  EXPECT_TRUE(Start(second, script).empty());
  EXPECT_EQ(first.Event("FIRST"), 0);
  EXPECT_EQ(second.Event("SECOND"), 0);
  EXPECT_EQ(first.LogTexts(), std::vector<std::string>{"FIRST"});
  EXPECT_EQ(second.LogTexts(), std::vector<std::string>{"SECOND"});
  EXPECT_EQ(first.Unload(), 0);
  EXPECT_EQ(second.Unload(), 0);
}

TEST_F(ScriptSessions, TwoScriptsHelperModulesOfOneNameNeverMeet) {
  const corvane::platform::testing::ScratchFolder other;
  std::ofstream(other / "helper.py", std::ios::binary) << "WHO = 'other folder'\n";
  Write("helper.py", "WHO = 'this folder'\n");
  ScriptInstance here(folder_, "here");
  ScriptInstance there(other, "there");
  const std::string script = "import helper, plugin\ndef EventData(p, s, n): plugin.DbgLog(helper.WHO)\n";
  EXPECT_TRUE(Start(here, script).empty());
  EXPECT_TRUE(Start(there, script).empty());
  EXPECT_EQ(here.Event("E"), 0);
  EXPECT_EQ(there.Event("E"), 0);
  EXPECT_EQ(here.LogTexts(), std::vector<std::string>{"this folder"});
  EXPECT_EQ(there.LogTexts(), std::vector<std::string>{"other folder"});
}

TEST_F(ScriptSessions, ObjectsALibraryModuleKeepsOutliveTheirSessionSafely) {
  ScriptInstance keeper(folder_, "keeper");
  EXPECT_TRUE(Start(keeper,
                    "import json, plugin\n"
                    "def EventData(params, source, name):\n"
                    "    json.kept_by_a_script = (plugin, plugin.DbgLog, params, plugin.CreateVarParam(1))\n")
                  .empty());
  EXPECT_EQ(keeper.Event("KEEP"), 0);
  keeper.Configure("import plugin\ndef EventData(params, source, name): plugin.DbgLog('restarted')\n");
  EXPECT_EQ(keeper.ReloadSettings(), -2);
  EXPECT_EQ(keeper.Event("E"), 0);
  EXPECT_EQ(keeper.LogTexts(), std::vector<std::string>{"restarted"});

  // Another session uses what the old one left: errors, never freed memory.
  ScriptInstance user(folder_, "user");
  EXPECT_TRUE(Start(user,
                    "import json, plugin\n"
                    "def EventData(params, source, name):\n"
                    "    module, log, params, holder = json.kept_by_a_script\n"
                    "    uses = (lambda: log('late'), lambda: module.DbgLog('late'), lambda: len(params))\n"
                    "    for number, use in enumerate(uses):\n"
                    "        try:\n"
                    "            use()\n"
                    "        except Exception as error:\n"
                    "            plugin.DbgLog('%d %s' % (number, type(error).__name__))\n"
                    "    plugin.DbgLog('holder %r' % holder.Value)\n"
                    "    del json.kept_by_a_script\n")
                  .empty());
  EXPECT_EQ(user.Event("E"), 0);
  EXPECT_EQ(user.LogTexts(), (std::vector<std::string>{"0 RuntimeError", "1 RuntimeError", "2 ReferenceError", "holder 1"}));
  EXPECT_EQ(keeper.Event("E"), 0);
  EXPECT_EQ(keeper.LogTexts(), std::vector<std::string>{"restarted"});
}

TEST_F(ScriptSessions, AnotherRuntimeLibraryGetsOneClearLine) {
  ScriptInstance first(folder_, "first");
  EXPECT_TRUE(Start(first, "import plugin\ndef EventData(p, s, n): plugin.DbgLog('first')\n").empty());
  const corvane::platform::testing::ScratchFolder otherFolder;
  const std::string other = otherFolder / "libpython3.99.so";
  ScriptInstance second(folder_, "second");
  second.Configure("import plugin\ndef EventData(p, s, n): plugin.DbgLog('second')\n", &other);
  std::ofstream(other) << "not a library";
  EXPECT_EQ(second.Load(), 0);
  const std::vector<std::string> log = second.LogTexts();
  ASSERT_EQ(log.size(), 1u) << Joined(log);
  EXPECT_EQ(log[0], "The Python runtime \"" + RuntimeLibrary() + "\" already runs in this process; \"" + other +
                        "\" cannot run beside it");
  EXPECT_EQ(second.Event("E"), -4) << "no engine";
  EXPECT_EQ(first.Event("E"), 0);
  EXPECT_EQ(first.LogTexts(), std::vector<std::string>{"first"});
}

// numpy is a C extension: it cannot be imported into a restarted
// interpreter, so the interpreter must outlive every restart.
class NumpySessions : public ScriptSessions {
 protected:
  void SetUp() override {
    ScriptSessions::SetUp();
    if (sizeof(void*) == 4) GTEST_SKIP() << "Debian has no 32-bit numpy beside the 64-bit Python";
  }
};

std::string numpyScript(int version) {
  return "import numpy, plugin\n"
         "def EventData(params, source, event):\n"
         "    plugin.DbgLog('sum %d' % int(numpy.arange(10).sum()))\n"
         "# version " + std::to_string(version) + "\n";
}

TEST_F(NumpySessions, ANumpyScriptComputesAfterEveryRestart) {
  ScriptInstance instance(folder_);
  ASSERT_EQ(Start(instance, numpyScript(0)), std::vector<std::string>{}) << "numpy is installed by scripts/setup";
  for (int restart = 1; restart <= 10; ++restart) {
    instance.Configure(numpyScript(restart));
    EXPECT_EQ(instance.ReloadSettings(), -2);
    EXPECT_EQ(instance.Event("E"), 0);
    EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"sum 45"}) << "restart " << restart;
  }
}

TEST_F(NumpySessions, TwoNumpyInstancesRestartSideBySide) {
  ScriptInstance first(folder_, "first"), second(folder_, "second");
  ASSERT_TRUE(Start(first, numpyScript(0)).empty());
  ASSERT_TRUE(Start(second, numpyScript(0)).empty());
  for (int restart = 1; restart <= 10; ++restart) {
    ScriptInstance& restarted = restart % 2 ? first : second;
    restarted.Configure(numpyScript(restart));
    EXPECT_EQ(restarted.ReloadSettings(), -2);
    std::thread other([&] { EXPECT_EQ((restart % 2 ? second : first).Event("E"), 0); });
    EXPECT_EQ(restarted.Event("E"), 0);
    other.join();
    EXPECT_EQ(first.LogTexts(), std::vector<std::string>{"sum 45"}) << "restart " << restart;
    EXPECT_EQ(second.LogTexts(), std::vector<std::string>{"sum 45"}) << "restart " << restart;
  }
}

TEST_F(ScriptSessions, UnloadingEveryInstanceAndLoadingAgainWorks) {
  const std::string script = "import plugin\nstarted = 'new'\ndef EventData(p, s, n): plugin.DbgLog(started)\n";
  for (int round = 0; round < 3; ++round) {
    {
      ScriptInstance first(folder_, "first"), second(folder_, "second");
      EXPECT_TRUE(Start(first, script).empty());
      EXPECT_TRUE(Start(second, script).empty());
      EXPECT_EQ(first.Event("E"), 0);
      EXPECT_EQ(second.Event("E"), 0);
      EXPECT_EQ(first.LogTexts(), std::vector<std::string>{"new"});
      EXPECT_EQ(second.LogTexts(), std::vector<std::string>{"new"});
      EXPECT_EQ(first.Unload(), 0);
      EXPECT_EQ(second.Unload(), 0);
    }
    // The second round keeps the interpreter; the third starts after the
    // library's release ended it (so this runs after the numpy cases: numpy
    // cannot be imported again into a new interpreter).
    if (round == 1) {
      EXPECT_EQ(ReleaseLibrary(), 0);
    }
  }
}

}  // namespace
}  // namespace script_host_testing
