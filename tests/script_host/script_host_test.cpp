// The product library running real scripts: loading, the entry functions of
// every role, the module "plugin", script output, failures and restarts.
#include <algorithm>

#include "script_host_support.h"

namespace script_host_testing {
namespace {

bool Contains(const std::vector<std::string>& texts, const std::string& wanted) {
  return std::find(texts.begin(), texts.end(), wanted) != texts.end();
}

class ScriptHost : public ScriptHostTest {};

TEST_F(ScriptHost, ModuleIdentityAndBuiltInEvents) {
  ScriptInstance instance(folder_);
  EXPECT_EQ(instance.Host().Parameter("Description"), "Corvane");
  EXPECT_EQ(instance.Host().Parameter("ModuleType"), "39");
  EXPECT_EQ(instance.Host().Parameter("LogTitle"), "Corvane");
  Start(instance, "x = 1\n");
  OleVariant answer;
  EXPECT_EQ(instance.Event("GET-PY-PATH", {}, &answer), 0);
  EXPECT_EQ(TextOf(answer), RuntimeLibrary());
  EXPECT_EQ(instance.Event("GetOsType", {}, &answer), 0);
  EXPECT_EQ(TextOf(answer), windows() ? "W" : "L") << "POSIX runtimes are shared objects, not DLLs";
  EXPECT_EQ(instance.Event("CUSTOM"), -4) << "no EventData";
}

TEST_F(ScriptHost, AScriptWithoutEntryFunctionsLoads) {
  ScriptInstance instance(folder_);
  const auto loaded = Start(instance,
                            "print('module level runs once')\n"
                            "class ParseData: pass\n"
                            "class Callable:\n    def __call__(self, *a): pass\n"
                            "FilterData = Callable()\n");
  EXPECT_EQ(loaded, std::vector<std::string>{"module level runs once"});
  EXPECT_EQ(instance.Parse("abc\n"), 0);
  corvane::TPluginDataItem passed{};
  std::vector<std::string> output;
  EXPECT_EQ(instance.Packet(0x20, {{"a", Text("1")}}, &output, &passed), 0);
  EXPECT_EQ(passed.Type, instance.Host().Form() == ListForm::Native ? corvane::ditParamsList : corvane::ditListInterface)
      << "the filter passes the packet through in the host's own form";
  const uintptr_t passedList = passed.Pointer;  // a packed record: read the field, not a reference to it
  EXPECT_NE(passedList, 0u);
  EXPECT_EQ(instance.Packet(0x04, {{"a", Text("1")}}), 0);
  EXPECT_EQ(instance.Event("CUSTOM"), -4);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"Data have been processed successfully"})
      << "only the framework's line for the export packet";
}

TEST_F(ScriptHost, ParseCollectsEachClientsBytesAcrossPackets) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin\n"
        "def ParseData(params, source, fifo, results):\n"
        "    data = fifo.GetBytes()\n"
        "    end = data.find(b'\\n')\n"
        "    if end < 0: return\n"
        "    fifo.Shift(end + 1)\n"
        "    line = data[:end].decode()\n"
        "    client = int.from_bytes(source[8:12], 'little')\n"
        "    results.AddItem('line', line)\n"
        "    results.AddItem('client', client)\n"
        "    results.AddItem('param', params.ItemValueByName('PACKET-PARAM'))\n"
        "    results.AddItem('float', 1.5)\n"
        "    results.AddItem('flag', True)\n"
        "    results.AddItem('big', 1 << 40)\n"
        "    results.AddItem('none', None)\n"
        "    results.AddItem('bytes', b'raw')\n"
        "    results.AddItem('list', [1, 'two'])\n"
        "    import datetime\n"
        "    results.AddItem('when', datetime.datetime(2026, 12, 9, 10, 30))\n");
  std::vector<std::string> output;
  EXPECT_EQ(instance.Parse("hel", 1, &output), 0);
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(instance.Parse("wor", 2, &output), 0);
  EXPECT_EQ(instance.Parse("lo\nnext", 1, &output), 0);
  EXPECT_EQ(output, (std::vector<std::string>{"line=hello", "client=1", "param=p", "float=1.5", "flag=-1",
                                              "big=1099511627776", "none=<null>", "bytes=raw", "list=<vt 8204>",
                                              "when=12/9/2026 10:30:00 AM"}));
  EXPECT_EQ(instance.Parse("ld\n", 2, &output), 0);
  EXPECT_EQ(output.front(), "line=world") << "each client has its own buffer";
  EXPECT_EQ(instance.Parse("\n", 1, &output), 0);
  EXPECT_EQ(output.front(), "line=next");

  // A stream event ends a client without calling the script (client 3
  // gets no buffer of bytes); a packet for both parser and filter is a parse
  // packet only.
  HostList params(instance.Host().Form());
  TPluginCallRecord record = instance.Host().Record();
  record.Params = params.Params();
  record.RoleFlags = 0x02;
  record.ClientId = 3;
  record.InputItem = {0, 0, corvane::ditClientStream, 0x102};
  EXPECT_EQ(instance.Host().Plugin().ProcessData(&record), 0);
  EXPECT_EQ(instance.Parse("x\n", 4, &output, nullptr, 0x22), 0);
  ASSERT_FALSE(output.empty());
  EXPECT_EQ(output.front(), "line=x") << "parser and filter at once: parsed only";
  EXPECT_TRUE(instance.LogTexts().empty());
}

TEST_F(ScriptHost, FilterReplacesDiscardsAndRedirects) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin\n"
        "def FilterData(params, source, data, results):\n"
        "    action = data.ItemValueByName('action')\n"
        "    if action == 'drop': plugin.DiscardDataPacket('too noisy')\n"
        "    elif action == 'quiet': plugin.DiscardDataPacket('', True)\n"
        "    elif action == 'flag1': plugin.DiscardDataPacket('', 1)\n"
        "    elif action == 'plain': plugin.DiscardDataPacket()\n"
        "    elif action == 'redirect': plugin.RedirectData('other')\n"
        "    results.AddItem('value', data.ItemValueByName('value') * 2)\n");
  std::vector<std::string> output;
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("keep")}, {"value", OleVariant::fromI4(21)}}, &output), 0);
  EXPECT_EQ(output, std::vector<std::string>{"value=42"});
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("drop")}, {"value", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_TRUE(output.empty());
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"Data packet has been discarded: too noisy"});
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("quiet")}, {"value", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_TRUE(output.empty());
  EXPECT_TRUE(instance.LogTexts().empty()) << "a silent discard logs nothing";
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("flag1")}, {"value", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"Data packet has been discarded"}) << "1 is not a bool";
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("plain")}, {"value", OleVariant::fromI4(1)}}, &output), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"Data packet has been discarded"});
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("keep")}, {"value", OleVariant::fromI4(2)}}, &output), 0);
  EXPECT_EQ(output, std::vector<std::string>{"value=4"}) << "a discard affects only its own packet";

  SentToHost().clear();
  EXPECT_EQ(instance.Packet(0x20, {{"action", Text("redirect")}, {"value", OleVariant::fromI4(3)}}, &output), 0);
  ASSERT_EQ(SentToHost().size(), 1u);
  EXPECT_EQ(SentToHost()[0].Kind, 7);
  EXPECT_EQ(SentToHost()[0].Event, (std::vector<std::pair<std::string, std::string>>{
                                       {"EVENT-TYPE", "REDIRECT-TO-CFG"}, {"CFG", "other"}, {"action", "redirect"},
                                       {"value", "3"}}));

  // A packet without a list passes through unchanged.
  corvane::TPluginDataItem passed{};
  EXPECT_EQ(instance.Packet(0x20, {}, &output, &passed, false), 0);
  EXPECT_EQ(passed.Type, corvane::ditMemoryBlock);
}

TEST_F(ScriptHost, ExportQueryAndEventsReceiveTheirData) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin\n"
        "def ExportData(params, source, data):\n"
        "    plugin.DbgLog('export ' + str(data.ItemValueByName('v')))\n"
        "def QueryData(params, source, data):\n"
        "    plugin.DbgLog('query ' + str(len(source)))\n"
        "def EventData(params, source, name):\n"
        "    plugin.DbgLog(name + ' ' + str(params.ItemValueByName('A')) + ' ' + str(params.ItemValueByName('B')))\n");
  EXPECT_EQ(instance.Packet(0x04, {{"v", OleVariant::fromI4(5)}}), 0);
  EXPECT_EQ(instance.Packet(0x01, {{"v", OleVariant::fromI4(5)}}), 0);
  EXPECT_EQ(instance.Event("PING", {{"A", Text("x")}, {"B", OleVariant::fromI4(2)}}), 0);
  const auto log = instance.LogTexts();
  EXPECT_TRUE(Contains(log, "export 5"));
  EXPECT_TRUE(Contains(log, "query 12"));
  EXPECT_TRUE(Contains(log, "PING x 2"));
}

TEST_F(ScriptHost, PluginFunctionsReachTheHost) {
  ScriptInstance instance(folder_);
  const auto log = Start(instance,
                         "import plugin\n"
                         "print('redirect at start:', plugin.RedirectData('x'))\n"
                         "def _try(f):\n"
                         "    try:\n"
                         "        f()\n"
                         "        return 'ok'\n"
                         "    except ValueError as e:\n"
                         "        return str(e)\n"
                         "def EventData(params, source, name):\n"
                         "    if name == 'SEND':\n"
                         "        plugin.SendData(None, b'')\n"
                         "        plugin.SendData(None, 'h\\u00e9')\n"
                         "        plugin.SendString(source, b'text')\n"
                         "        plugin.SendByte(None, 0x1FF)\n"
                         "        plugin.SendDataToDataSource('COM3', b'c')\n"
                         "        plugin.SendDataToDataSource('com3', b'c')\n"
                         "        plugin.SendEventEx('my-event', ['A', 1, 'B'])\n"
                         "        plugin.SendEventEx('glob', ['EVENT-GLOBAL', True])\n"
                         "    elif name == 'ERRORS':\n"
                         "        plugin.DbgLog(_try(lambda: plugin.SendData(b'abc', b'x')))\n"
                         "        plugin.DbgLog(_try(lambda: plugin.SendEventEx('e', ('A', 1))))\n"
                         "        plugin.DbgLog(_try(lambda: plugin.SendData(1)))\n"
                         "        plugin.DbgLog(_try(lambda: plugin.DbgLog()))\n"
                         "        plugin.DbgLog('as error', 0)\n"
                         "        plugin.DbgLog('out of range', 7)\n"
                         "        plugin.DbgLog('title ' + plugin.GetModuleParameter('LogTitle'))\n"
                         "        try:\n"
                         "            plugin.GetModuleParameter()\n"
                         "        except TypeError as e:\n"
                         "            plugin.DbgLog('parser: ' + type(e).__name__)\n");
  EXPECT_EQ(log, std::vector<std::string>{"redirect at start: None"});
  EXPECT_TRUE(SentToHost().empty());

  TPluginCallRecord& record = instance.Host().Record();
  record.DataSourceId = 5;
  record.ClientId = 6;
  EXPECT_EQ(instance.Event("SEND"), 0);
  const std::vector<Sent> sent = SentToHost();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[0].Kind, 0x81);
  EXPECT_EQ(sent[0].Bytes, "h\xc3\xa9") << "a str is sent as UTF-8; empty data sends nothing";
  EXPECT_EQ(sent[0].DataSourceId, 5);
  EXPECT_EQ(sent[0].ClientId, 6u);
  EXPECT_EQ(sent[1].Kind, 0x82);
  EXPECT_EQ(sent[1].Bytes, "text");
  EXPECT_EQ(sent[2].Bytes, "\xff");
  EXPECT_EQ(sent[3].DataSourceId, 3);
  EXPECT_EQ(sent[3].HostId, 0u);
  EXPECT_NE(sent[4].DataSourceId, 3) << "a lower-case name is hashed";
  EXPECT_GE(sent[4].DataSourceId, 0);
  EXPECT_EQ(sent[5].Kind, 7);
  EXPECT_EQ(sent[5].Event, (std::vector<std::pair<std::string, std::string>>{{"EVENT-TYPE", "MY-EVENT"}, {"A", "1"}}));
  EXPECT_EQ(sent[6].Event.front(), (std::pair<std::string, std::string>{"EVENT-GLOBAL", "-1"}));

  EXPECT_EQ(instance.Event("ERRORS"), 0);
  const auto lines = instance.Log();
  const std::vector<LogLine> expected = {
      {2, "SendData: Wrong parameter 1"}, {2, "SendEventEx: Wrong parameter 2"}, {2, "SendData: Wrong function call"},
      {2, "DbgLog: Wrong function call"}, {0, "as error"},                       {2, "out of range"},
      {2, "title Corvane"},               {2, "parser: TypeError"}};
  EXPECT_EQ(lines, expected);
}

TEST_F(ScriptHost, FailuresBecomeClearLogLines) {
  {
    ScriptInstance broken(folder_, "broken");
    const auto log = Start(broken, "a = 1\nb = (1 +* 2)\n");
    EXPECT_TRUE(AnyStartsWith(log, "SyntaxError: invalid syntax (line 2")) << "the start's failure as an error line";
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& t) { return t.find("b = (1 +* 2)") != std::string::npos; }))
        << "and the traceback";
    EXPECT_EQ(broken.Parse("x\n"), 0) << "running, without entry functions";
    EXPECT_EQ(broken.Event("E"), -4);
  }
  {
    ScriptInstance raising(folder_, "raising");
    Start(raising,
          "kept = []\n"
          "def ParseData(params, source, fifo, results):\n"
          "    if kept:\n"
          "        kept[0].Size\n"
          "    kept.append(fifo)\n"
          "    results.AddItem('n', 1)\n"
          "def EventData(params, source, name):\n"
          "    1 / 0\n");
    std::vector<std::string> output;
    EXPECT_EQ(raising.Parse("a", 1, &output), 0);
    EXPECT_EQ(raising.Parse("b", 1, &output), -3) << "an object kept from an earlier call is dead";
    EXPECT_TRUE(output.empty()) << "nothing is delivered for a failed packet";
    auto log = raising.LogTexts();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("Unable to execute \"ParseData\": ReferenceError", 0), 0u) << log.back();
    EXPECT_EQ(log.front().rfind("Traceback", 0), 0u) << "the traceback comes first, in the same drain";
    EXPECT_EQ(raising.Event("E"), -3);
    log = raising.LogTexts();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Unable to execute \"EventData\": ZeroDivisionError: division by zero");
    EXPECT_TRUE(AnyStartsWith(log, "Traceback"));
  }
  {
    ScriptInstance missing(folder_, "missing");
    missing.Configure("x = 1\n");
    std::remove(missing.ScriptPath().c_str());
    EXPECT_EQ(missing.Load(), 0);
    const auto log = missing.LogTexts();
    EXPECT_TRUE(AnyStartsWith(log, "0x00000002")) << (log.empty() ? "" : log.front());
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& t) {
      return t.size() > missing.ScriptPath().size() && t.substr(t.size() - missing.ScriptPath().size()) == missing.ScriptPath();
    }));
  }
  {
    ScriptInstance bare(folder_, "bare");
    const std::string bareName = "python39.dll";
    bare.Configure("x = 1\n", &bareName);
    EXPECT_EQ(bare.Load(), 0);
    EXPECT_EQ(bare.LogTexts(), std::vector<std::string>{"Unable to find python3x.dll"});
    EXPECT_EQ(bare.Parse("x\n"), -4) << "no engine";
    OleVariant answer;
    EXPECT_EQ(bare.Event("GET-PY-PATH", {}, &answer), 0);
    EXPECT_EQ(TextOf(answer), "python39.dll");
  }
}

TEST_F(ScriptHost, RestartsOnlyWhenScriptOrRuntimeChange) {
  ScriptInstance instance(folder_);
  const std::string script =
      "import plugin\n"
      "calls = 0\n"
      "def EventData(params, source, name):\n"
      "    global calls\n"
      "    calls += 1\n"
      "    plugin.DbgLog('calls %d' % calls)\n";
  Start(instance, script);
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.ReloadSettings(), -2);
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"calls 1", "calls 2"})) << "the same settings keep the script";

  instance.Configure(script + "# changed\n");
  EXPECT_EQ(instance.ReloadSettings(), -2);
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"calls 1"}) << "a changed script starts from the top";

  // The same library named another way changes only the runtime path.
  const std::string runtime = RuntimeLibrary();
  const size_t cut = runtime.find_last_of(corvane::platform::pathDelimiter());
  const std::string other = runtime.substr(0, cut) + corvane::platform::pathDelimiter() + "." + runtime.substr(cut);
  instance.Configure(script + "# changed\n", &other);
  EXPECT_EQ(instance.ReloadSettings(), -2);
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), std::vector<std::string>{"calls 1"});
}

TEST_F(ScriptHost, PrintedLinesAreInTheNextDrainInOrder) {
  ScriptInstance instance(folder_);
  Start(instance,
        "import plugin, sys\n"
        "def EventData(params, source, name):\n"
        "    print('first')\n"
        "    plugin.DbgLog('second')\n"
        "    sys.stderr.write('third\\n')\n"
        "    print('a\\r\\nb')\n"
        "    print('')\n");
  EXPECT_EQ(instance.Event("E"), 0);
  EXPECT_EQ(instance.LogTexts(), (std::vector<std::string>{"first", "second", "third", "a", "b"}));
}

}  // namespace
}  // namespace script_host_testing
