// Scripts that fail, exit, interrupt, exhaust or break what they run in: the
// host survives every one, the log says what happened, and the instance goes
// on serving the next call where it can.
#include <algorithm>
#include <chrono>
#include <thread>

#include "script_host_support.h"

namespace script_host_testing {
namespace {

class ScriptFaults : public ScriptHostTest {};

TEST_F(ScriptFaults, AnExceptionInAnyEntryFunctionFailsOnlyThatCall) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin\n"
        "def check(what, data=None):\n"
        "    if data is not None and data.ItemValueByName('boom'): raise ValueError(what)\n"
        "def ParseData(params, source, fifo, results):\n"
        "    if fifo.GetBytes() == b'boom': fifo.Clear(); raise ValueError('parse')\n"
        "    fifo.Clear()\n"
        "    results.AddItem('ok', 1)\n"
        "def FilterData(params, source, data, results):\n"
        "    check('filter', data)\n"
        "    results.AddItem('ok', 1)\n"
        "def ExportData(params, source, data): check('export', data)\n"
        "def QueryData(params, source, data): check('query', data)\n"
        "def EventData(params, source, name):\n"
        "    if name == 'BOOM': raise ValueError('event')\n");
  std::vector<std::string> output;
  EXPECT_EQ(instance.Parse("boom", 1, &output), -3);
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(instance.LogTexts().back(), "Unable to execute \"ParseData\": ValueError: parse");
  EXPECT_EQ(instance.Parse("fine", 1, &output), 0);
  EXPECT_EQ(output, std::vector<std::string>{"ok=1"});

  const struct {
    uint8_t Role;
    const char* Function;
    const char* Message;
  } roles[] = {{0x20, "FilterData", "filter"}, {0x04, "ExportData", "export"}, {0x01, "QueryData", "query"}};
  for (const auto& role : roles) {
    SCOPED_TRACE(role.Function);
    EXPECT_EQ(instance.Packet(role.Role, {{"boom", OleVariant::fromI4(1)}}), -3);
    const std::vector<std::string> log = instance.LogTexts();
    ASSERT_FALSE(log.empty());
    // (An export's failure is followed by the framework's own line.)
    const std::string line = std::string("Unable to execute \"") + role.Function + "\": ValueError: " + role.Message;
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << Joined(log);
    EXPECT_TRUE(AnyStartsWith(log, "Traceback")) << Joined(log);
    EXPECT_EQ(instance.Packet(role.Role, {{"boom", OleVariant::fromI4(0)}}), 0);
  }
  EXPECT_EQ(instance.Event("BOOM"), -3);
  EXPECT_EQ(instance.LogTexts().back(), "Unable to execute \"EventData\": ValueError: event");
  EXPECT_EQ(instance.Event("FINE"), 0);
}

TEST_F(ScriptFaults, ExitsInterruptsAndExhaustionEndOnlyTheCall) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin, sys\n"
        "def deep(n): return deep(n + 1)\n"
        "def EventData(params, source, name):\n"
        "    if name == 'EXIT': sys.exit(3)\n"
        "    if name == 'SYSTEMEXIT': raise SystemExit\n"
        "    if name == 'INTERRUPT': raise KeyboardInterrupt\n"
        "    if name == 'RECURSION': deep(0)\n"
        "    if name == 'MEMORY': [0] * sys.maxsize\n"
        "    plugin.DbgLog('still here')\n");
  const struct {
    const char* Event;
    const char* Line;
  } faults[] = {
      {"EXIT", "Unable to execute \"EventData\": SystemExit: 3"},
      {"SYSTEMEXIT", "Unable to execute \"EventData\": SystemExit"},
      {"INTERRUPT", "Unable to execute \"EventData\": KeyboardInterrupt"},
      {"RECURSION", "Unable to execute \"EventData\": RecursionError: maximum recursion depth exceeded"},
      {"MEMORY", "Unable to execute \"EventData\": MemoryError"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.Event);
    EXPECT_EQ(instance.Event(fault.Event), -3);
    const std::vector<std::string> log = instance.LogTexts();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind(fault.Line, 0), 0u) << Joined(log);
    EXPECT_EQ(instance.Event("FINE"), 0);
    EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"still here"});
  }
}

TEST_F(ScriptFaults, AnExitAtTheTopEndsTheStartNotTheHost) {
  ScriptInstance exiting(folder_, "exiting");
  const std::vector<std::string> log = Start(exiting, "import sys\nsys.exit('bye')\ndef EventData(p, s, n): pass\n");
  EXPECT_TRUE(AnyStartsWith(log, "SystemExit: bye")) << Joined(log);
  EXPECT_EQ(exiting.Event("E"), -4) << "the script ended before it defined EventData";
}

TEST_F(ScriptFaults, ScriptsThatBreakTheirSurroundingsRecoverOnRestart) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin, sys\n"
        "class NoWrite: pass\n"
        "def EventData(params, source, name):\n"
        "    if name == 'UNPLUG': del plugin.DbgLog\n"
        "    if name == 'REPLACE': plugin.DbgLog = 42\n"
        "    if name == 'NOSTDOUT': sys.stdout = NoWrite()\n"
        "    if name == 'NONESTDOUT': sys.stdout = None\n"
        "    if name == 'PRINT': print('printed')\n"
        "    if name == 'LOG': plugin.DbgLog('logged')\n");
  EXPECT_EQ(instance.Event("UNPLUG"), 0);
  EXPECT_EQ(instance.Event("LOG"), -3);
  EXPECT_TRUE(AnyStartsWith({instance.LogTexts().back()}, "Unable to execute \"EventData\": AttributeError"));
  EXPECT_EQ(instance.Event("REPLACE"), 0);
  EXPECT_EQ(instance.Event("LOG"), -3);
  EXPECT_TRUE(AnyStartsWith({instance.LogTexts().back()}, "Unable to execute \"EventData\": TypeError"));
  EXPECT_EQ(instance.Event("NOSTDOUT"), 0);
  EXPECT_EQ(instance.Event("PRINT"), -3);
  EXPECT_TRUE(AnyStartsWith({instance.LogTexts().back()}, "Unable to execute \"EventData\": AttributeError"));
  EXPECT_EQ(instance.Event("NONESTDOUT"), 0);
  EXPECT_EQ(instance.Event("PRINT"), 0) << "print to None prints nothing";
  EXPECT_TRUE(instance.LogTexts().empty());

  // A changed script starts in a fresh session with everything in place.
  instance.Configure(
      "import plugin\n"
      "def EventData(params, source, name):\n"
      "    print('printed')\n"
      "    plugin.DbgLog('logged')\n");
  EXPECT_EQ(instance.ReloadSettings(), -2);
  instance.LogTexts();
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"printed", "logged"}));
}

TEST_F(ScriptFaults, ObjectsAndThreadsThatOutliveTheirCallAreHarmless) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin, threading, time\n"
        "kept = []\n"
        "def late():\n"
        "    time.sleep(0.05)\n"
        "    plugin.DiscardDataPacket('late')\n"
        "    print('redirect:', plugin.RedirectData('elsewhere'))\n"
        "    for obj in kept:\n"
        "        try:\n"
        "            len(obj)\n"
        "        except ReferenceError as e:\n"
        "            pass\n"
        "    plugin.DbgLog('late done')\n"
        "def quits():\n"
        "    raise SystemExit\n"
        "def FilterData(params, source, data, results):\n"
        "    kept.extend([params, data, results])\n"
        "    results.AddItem('v', data.ItemValueByName('v'))\n"
        "def EventData(params, source, name):\n"
        "    kept.append(params)\n"
        "    if name == 'LATE': threading.Thread(target=late).start()\n"
        "    if name == 'QUIT': threading.Thread(target=quits).start()\n");
  std::vector<std::string> output;
  EXPECT_EQ(instance.Packet(0x20, {{"v", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_EQ(instance.Event("QUIT"), 0);
  EXPECT_EQ(instance.Event("LATE"), 0);
  // The thread acts while no call runs.
  std::vector<std::string> log;
  for (int i = 0; i < 200 && std::find(log.begin(), log.end(), "late done") == log.end(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    for (std::string& line : instance.LogTexts()) log.push_back(std::move(line));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"redirect: None", "late done"}))
      << "outside a call there is no packet to discard or redirect";
  for (const Sent& sent : SentToHost()) {
    for (const auto& [name, value] : sent.Event) EXPECT_NE(value, "REDIRECT-TO-CFG") << name << "=" << value;
  }
  // A discard asked for between calls does not reach the next packet.
  EXPECT_EQ(instance.Packet(0x20, {{"v", OleVariant::fromI4(2)}}, &output), 0);
  EXPECT_EQ(output, std::vector<std::string>{"v=2"});
  EXPECT_EQ(instance.Unload(), 0);
}

TEST_F(ScriptFaults, GeneratorAndCoroutineEntryFunctionsAreRefusedAtTheStart) {
  ScriptInstance instance(folder_);
  const std::vector<std::string> log = Start(instance,
                                             "import plugin\n"
                                             "def ParseData(params, source, fifo, results):\n"
                                             "    yield 1\n"
                                             "async def EventData(params, source, name):\n"
                                             "    plugin.DbgLog('never')\n"
                                             "def FilterData(params, source, data, results):\n"
                                             "    results.AddItem('v', 1)\n");
  EXPECT_EQ(log, (std::vector<std::string>{
                     "\"ParseData\" is a generator function: calling it would not run its body, so it is not used",
                     "\"EventData\" is a coroutine function: calling it would not run its body, so it is not used"}));
  EXPECT_EQ(instance.Event("E"), -4) << "as if there were no EventData";
  std::vector<std::string> output;
  EXPECT_EQ(instance.Parse("abc", 1, &output), 0);
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(instance.Packet(0x20, {{"x", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_EQ(output, std::vector<std::string>{"v=1"}) << "the other entry functions work";
  EXPECT_TRUE(instance.LogTexts().empty()) << "no warning about a coroutine never awaited";
}

TEST_F(ScriptFaults, OutputFloodsAndInputStayBounded) {
  ScriptInstance instance(folder_);
  const std::vector<std::string> started = Start(instance,
        "import os, plugin, sys\n"
        // Standard input becomes a pipe nobody writes to: reading the
        // process's own input would wait for ever.
        "r, w = os.pipe()\n"
        "saved = os.dup(0)\n"
        "os.dup2(r, 0)\n"
        "try:\n"
        "    input('name? ')\n"
        "except EOFError:\n"
        "    plugin.DbgLog('no input at the start')\n"
        "finally:\n"
        "    os.dup2(saved, 0)\n"
        "    for fd in (saved, r, w): os.close(fd)\n"
        "def EventData(params, source, name):\n"
        "    if name == 'FLOOD':\n"
        "        for i in range(20000): print('line', i)\n"
        "    if name == 'LONG':\n"
        "        sys.stdout.write('x' * 20000000)\n"
        "        print()\n"
        "    if name == 'READ':\n"
        "        plugin.DbgLog('read: %r' % sys.stdin.readline())\n");
  EXPECT_NE(std::find(started.begin(), started.end(), "no input at the start"), started.end())
      << "input() at the top ends at once instead of waiting for the host's console\n"
      << Joined(started);
  EXPECT_EQ(instance.Event("READ"), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"read: ''"});
  EXPECT_EQ(instance.Event("FLOOD"), 0);
  std::vector<std::string> log = instance.LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_LE(log.size(), 2000u) << "the queue and the log keep only the newest lines";
  EXPECT_EQ(log.back(), "line 19999");
  EXPECT_EQ(instance.Event("LONG"), 0);
  log = instance.LogTexts();
  ASSERT_FALSE(log.empty());
  size_t longest = 0;
  for (const std::string& line : log) longest = std::max(longest, line.size());
  EXPECT_LT(longest, 1000000u) << "a line without end is cut";
  EXPECT_EQ(instance.Event("READ"), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"read: ''"});
}

}  // namespace
}  // namespace script_host_testing
