// The product library with the real Python runtime, driven through its
// exports as a host drives it, beside the same work written as a plain
// Python function over plain objects (a dict for the parameters, bytes, a
// bytearray for the receive buffer, a list for the results) and called from C
// with pre-built arguments in the same interpreter. Pairs are named
// NAME/corvane and NAME/baseline; scripts/bench reads them from the JSON
// output and prints the ratios.
//
// The benchmarks are grouped by script, and a group switch unloads one
// instance before the next one loads (a fresh session of the interpreter
// the process shares).
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bindings/py_object.h"
#include "log/log_data_list.h"
#include "platform/dynamic_library.h"
#include "product_driver.h"
#include "script_host/script_host_support.h"

using corvane::TPluginCallRecord;
using corvane::platform::OleVariant;
using corvane::platform::testing::ScratchFolder;
using corvane::py::Handle;
using corvane::py::Object;
using corvane::py::PythonApi;
using script_host_testing::ScriptInstance;
using namespace integration;

namespace {

// The line every parse packet brings: 40 bytes with its line end.
const std::string kLine = "temperature=21.5;pressure=1013;state=ok\n";

// Each benchmark's baseline lives in the script beside the entry function
// it mirrors, so both run in the instance's session; the script hands its
// namespace to the benchmark through sys (kNamespaceLine).
const char* const kNoopScript = R"(
def ParseData(params, source, fifo, results):
    pass

def noop_baseline(params, source, buffer, results):
    pass

def bare():
    pass
)";

const char* const kWorkScript = R"(
def ParseData(params, source, fifo, results):
    data = fifo.GetBytes()
    end = data.find(b'\n')
    if end < 0:
        return
    fifo.Shift(end + 1)
    results.AddItem('Length', end)
    results.AddItem('Line', data[:end].decode('ascii'))

def parse_baseline(params, source, buffer, packet, results):
    results.clear()
    buffer += packet
    data = bytes(buffer)
    end = data.find(b'\n')
    if end < 0:
        return
    del buffer[:end + 1]
    results.append(('Length', end))
    results.append(('Line', data[:end].decode('ascii')))

def FilterData(params, source, data, results):
    for item in data:
        if item.Name == 'Value':
            results.AddItem('Value', item.Value * 2)
        else:
            results.AddItem(item.Name, item.Value)

def filter_baseline(params, source, data, results):
    results.clear()
    for name, value in data.items():
        results.append((name, value * 2 if name == 'Value' else value))

def EventData(params, source, name):
    alpha = params.ItemValueByName('Alpha')
    beta = params.ItemValueByName('Beta')
    gamma = params.ItemValueByName('Gamma')

def event_baseline(params, source, name):
    alpha = params.get('Alpha')
    beta = params.get('Beta')
    gamma = params.get('Gamma')
)";

// The interpreter lock for the calling thread, as the runtime's own
// thread-state API gives it.
class Gil {
 public:
  explicit Gil(const PythonApi& api) : api_(api), state_(api.PyGILState_Ensure()) {}
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;
  ~Gil() { api_.PyGILState_Release(state_); }

 private:
  const PythonApi& api_;
  corvane::py::PyGILState_STATE state_;
};

// Appended to every script: where the benchmark finds the baselines.
const char* const kNamespaceLine = "\nimport sys\nsys.bench_namespace = globals()\n";

// One instance running one script, and the runtime's table bound from the
// library the instance loaded (no reference of our own is held on it).
class Session {
 public:
  explicit Session(const char* script) : script_(script), instance_(folder_) {
    instance_.Configure(std::string(script) + kNamespaceLine);
    bench::LoadScript(instance_);
    const std::string runtime = script_host_testing::RuntimeLibrary();
    const std::string name = runtime.substr(runtime.find_last_of(corvane::platform::pathDelimiter()) + 1);
    corvane::platform::ModuleHandle library = corvane::platform::moduleHandleByName(name);
    if (library == nullptr) throw std::runtime_error("the runtime " + name + " is not loaded");
    if (auto missing = corvane::py::BindPythonApi(
            api_, [library](const char* symbol) { return corvane::platform::moduleSymbol(library, symbol); })) {
      throw std::runtime_error("the runtime lacks " + *missing);
    }
  }

  const char* Script() const { return script_; }
  Instance& Host() { return instance_.Host(); }
  const PythonApi& Api() const { return api_; }

  // The caller holds the interpreter lock for these.
  Handle Namespace() {
    Handle names = api_.PySys_GetObject("bench_namespace");
    if (!names) throw std::runtime_error("the script did not run to its end");
    return names;
  }
  Object Function(const char* name) {
    Object function = Object::Borrow(api_, api_.PyDict_GetItemString(Namespace().ptr(), name));
    if (!function) throw std::runtime_error(std::string("the script has no ") + name);
    return function;
  }
  Object Eval(const char* expression) {
    constexpr int kEvalInput = 258;  // the runtime's start symbol for one expression
    Object code = Object::Steal(api_, api_.Py_CompileString(expression, "<bench>", kEvalInput));
    Handle globals = Namespace();
    Object value = code ? Object::Steal(api_, api_.PyEval_EvalCode(code.ptr(), globals.ptr(), globals.ptr())) : Object();
    if (!value) {
      api_.PyErr_Clear();
      throw std::runtime_error(std::string("cannot evaluate ") + expression);
    }
    return value;
  }
  Object Tuple(std::initializer_list<Handle> items) {
    Object tuple = Object::Steal(api_, api_.PyTuple_New(static_cast<corvane::py::Py_ssize_t>(items.size())));
    corvane::py::Py_ssize_t i = 0;
    for (Handle item : items) api_.PyTuple_SetItem(tuple.ptr(), i++, Object::Borrow(api_, item).release());
    return tuple;
  }

  // The pending log, thrown away (the queue keeps a bounded number of lines).
  void DrainLog() {
    TPluginCallRecord drain = Host().Record();
    drain.InputItem = {0, 0, 0, 0};
    Host().Plugin().GetLogEx(&drain);
  }

 private:
  const char* script_;
  ScratchFolder folder_;
  ScriptInstance instance_;
  PythonApi api_;
};

std::mutex sessionLock;
std::condition_variable sessionChanged;
std::unique_ptr<Session> current;
const char* failedScript = nullptr;  // the last script that could not be loaded, and why
std::string failedBecause;

// Ends a benchmark that cannot run with the error's text. The loop still
// runs (without iterations) so that every thread of the benchmark passes
// its start and stop.
void Skip(benchmark::State& state, const std::string& error) {
  state.SkipWithError(error.c_str());
  for (auto _ : state) {
  }
}

// The session running the script, loading it (after unloading another
// script's) when needed; nullptr when it cannot (the benchmark is then
// skipped). Only a benchmark's first thread, the main thread, loads: the
// others wait for it, so the instance is always loaded as a host loads it,
// from one thread, while packets may come from others.
Session* Use(benchmark::State& state, const char* script) {
  std::string failure;
  {
    std::unique_lock guard(sessionLock);
    auto ready = [&] { return current && current->Script() == script; };
    if (state.thread_index() != 0) {
      sessionChanged.wait(guard, [&] { return ready() || failedScript == script; });
      if (ready()) return current.get();
      failure = failedBecause;
    } else {
      try {
        if (!ready()) {
          current.reset();
          current = std::make_unique<Session>(script);
        }
        failedScript = nullptr;
        sessionChanged.notify_all();
        return current.get();
      } catch (const std::exception& error) {
        failedScript = script;
        failedBecause = failure = error.what();
        sessionChanged.notify_all();
      }
    }
  }
  Skip(state, failure);  // outside the lock: the other threads must reach the start as well
  return nullptr;
}

void EndSession() {
  std::lock_guard guard(sessionLock);
  current.reset();
}

// ---- Parse packets through ProcessData ----

// A host's parse packets of one line (kLine unless given) for one client.
class ParsePackets {
 public:
  ParsePackets(Session& session, uint32_t clientId, std::string line = kLine)
      : packets_(session.Host(), clientId), line_(std::move(line)) {}
  int32_t Send() { return packets_.Send(line_); }

 private:
  bench::ParsePackets packets_;
  std::string line_;
};

// One packet per iteration, from the calling thread's own client.
void RunParsePackets(benchmark::State& state, const char* script, const std::string& line = kLine) {
  Session* const running = Use(state, script);
  if (running == nullptr) return;
  ParsePackets packets(*running, static_cast<uint32_t>(state.thread_index()) + 1, line);
  for (auto _ : state) {
    if (packets.Send() != 0) {
      state.SkipWithError("ProcessData failed");
      break;
    }
    if ((state.iterations() & 0x3FF) == 0) running->DrainLog();
  }
  state.SetItemsProcessed(state.iterations());
}

// The same packets from one host thread that did not load the instance
// (the benchmark's thread only waits): what a packet costs a thread the
// instance has not seen before, apart from any contention.
constexpr int kOtherThreadBatch = 1000;

void BM_ParseFromOtherThread(benchmark::State& state) {
  Session* const running = Use(state, kWorkScript);
  if (running == nullptr) return;
  for (auto _ : state) {
    double seconds = 0;
    bool failed = false;
    std::thread host([&] {
      ParsePackets packets(*running, 1);
      const auto begin = std::chrono::steady_clock::now();
      for (int i = 0; i < kOtherThreadBatch && !failed; ++i) failed = packets.Send() != 0;
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    });
    host.join();
    running->DrainLog();
    if (failed) {
      state.SkipWithError("ProcessData failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * kOtherThreadBatch);
}

// Calls a baseline function of the session's script with pre-built
// arguments, holding the interpreter lock for the whole loop.
template <class MakeArguments>
void RunBaseline(benchmark::State& state, const char* script, const char* function, MakeArguments makeArguments) {
  Session* const running = Use(state, script);
  if (running == nullptr) return;
  Session& session = *running;
  const PythonApi& api = session.Api();
  Gil gil(api);
  Object f;
  Object arguments;
  try {
    f = session.Function(function);
    arguments = makeArguments(session);
  } catch (const std::exception& error) {
    Skip(state, error.what());
    return;
  }
  for (auto _ : state) {
    Object result = Object::Steal(api, api.PyObject_Call(f.ptr(), arguments.ptr(), nullptr));
    if (!result) {
      api.PyErr_Clear();
      state.SkipWithError("the baseline function failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

Object Source(Session& s) { return s.Eval("bytes([1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0])"); }

// ---- Noop: the dispatch alone ----

void BM_Noop(benchmark::State& state) { RunParsePackets(state, kNoopScript); }

void BM_NoopBaseline(benchmark::State& state) {
  RunBaseline(state, kNoopScript, "noop_baseline", [](Session& s) {
    return s.Tuple({s.Eval("{'PACKET-PARAM': 'p'}"), Source(s), s.Eval("bytearray()"), s.Eval("[]")});
  });
}

void BM_NoopBareCall(benchmark::State& state) {
  RunBaseline(state, kNoopScript, "bare", [](Session& s) { return s.Tuple({}); });
}

// ---- Parse: a line arrives, is taken out and gives two results ----

void BM_Parse(benchmark::State& state) { RunParsePackets(state, kWorkScript); }

void BM_ParseBaseline(benchmark::State& state) {
  RunBaseline(state, kWorkScript, "parse_baseline", [](Session& s) {
    return s.Tuple({s.Eval("{'PACKET-PARAM': 'p'}"), Source(s), s.Eval("bytearray()"),
                    s.Eval("b'temperature=21.5;pressure=1013;state=ok\\n'"), s.Eval("[]")});
  });
}

// ---- For the chart: Parse with lines of other sizes ----

// A line of size bytes: kLine's fields repeated, then its line end.
std::string LineOfSize(int64_t size) {
  const std::string fields = kLine.substr(0, kLine.size() - 1) + ";";
  std::string line;
  while (static_cast<int64_t>(line.size()) < size - 1) line += fields;
  line.resize(static_cast<size_t>(size - 1));
  return line + "\n";
}

void BM_ParseSize(benchmark::State& state) { RunParsePackets(state, kWorkScript, LineOfSize(state.range(0))); }

void BM_ParseSizeBaseline(benchmark::State& state) {
  const std::string line = LineOfSize(state.range(0));
  RunBaseline(state, kWorkScript, "parse_baseline", [&](Session& s) {
    const PythonApi& api = s.Api();
    Object packet = Object::Steal(
        api, api.PyBytes_FromStringAndSize(line.data(), static_cast<corvane::py::Py_ssize_t>(line.size())));
    return s.Tuple({s.Eval("{'PACKET-PARAM': 'p'}"), Source(s), s.Eval("bytearray()"), packet, s.Eval("[]")});
  });
}

// ---- Filter: five items in, one of them changed on the way out ----

void BM_Filter(benchmark::State& state) {
  Session* const running = Use(state, kWorkScript);
  if (running == nullptr) return;
  Session& session = *running;
  HostList params(ListForm::Native);
  params.Add("PACKET-PARAM", Text("p"));
  HostList data(ListForm::Native);
  data.Add("Sensor", Text("T1"));
  data.Add("Value", OleVariant::fromR8(21.5));
  data.Add("Unit", Text("degC"));
  data.Add("Seq", OleVariant::fromI4(42));
  data.Add("Ok", OleVariant::fromBool(true));
  HostList output(ListForm::Native);
  TPluginCallRecord record = session.Host().Record();
  record.Params = params.Params();
  record.RoleFlags = 0x20;
  record.DataSourceId = 7;
  record.ClientId = 1;
  for (auto _ : state) {
    record.InputItem = data.Item();
    record.OutputItem = output.Item();
    const int32_t result = session.Host().Plugin().ProcessData(&record);
    output.List().Clear();
    if (result != 0) {
      state.SkipWithError("ProcessData failed");
      break;
    }
    if ((state.iterations() & 0x3FF) == 0) session.DrainLog();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FilterBaseline(benchmark::State& state) {
  RunBaseline(state, kWorkScript, "filter_baseline", [](Session& s) {
    return s.Tuple({s.Eval("{'PACKET-PARAM': 'p'}"), Source(s),
                    s.Eval("{'Sensor': 'T1', 'Value': 21.5, 'Unit': 'degC', 'Seq': 42, 'Ok': True}"), s.Eval("[]")});
  });
}

// ---- Event: an EVENT command whose three parameters the script reads ----

void BM_Event(benchmark::State& state) {
  Session* const running = Use(state, kWorkScript);
  if (running == nullptr) return;
  Session& session = *running;
  HostList params(ListForm::Native);
  params.Add("COMMAND", Text("EVENT"));
  params.Add("EVENT-TYPE", Text("Tick"));
  params.Add("Alpha", OleVariant::fromI4(1));
  params.Add("Beta", Text("two"));
  params.Add("Gamma", OleVariant::fromR8(3.5));
  TPluginCallRecord record = session.Host().Record();
  record.Params = params.Params();
  for (auto _ : state) {
    const int32_t result = session.Host().Plugin().ExecutePluginCommand(&record);
    if (result != 0) {
      state.SkipWithError("the EVENT command failed");
      break;
    }
    if ((state.iterations() & 0x3FF) == 0) session.DrainLog();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_EventBaseline(benchmark::State& state) {
  RunBaseline(state, kWorkScript, "event_baseline", [](Session& s) {
    return s.Tuple(
        {s.Eval("{'COMMAND': 'EVENT', 'EVENT-TYPE': 'Tick', 'Alpha': 1, 'Beta': 'two', 'Gamma': 3.5}"), Source(s),
         s.Eval("'Tick'")});
  });
}

// ---- Start: LOAD to the first script call ----

void BM_Start(benchmark::State& state) {
  EndSession();  // the instance of this benchmark is the only one
  for (auto _ : state) {
    state.PauseTiming();
    {
      ScratchFolder folder;
      auto instance = std::make_unique<ScriptInstance>(folder);
      instance->Configure(kWorkScript);
      state.ResumeTiming();
      const int32_t loaded = instance->Load();
      const int32_t parsed = instance->Parse(kLine);
      state.PauseTiming();
      if (loaded != 0 || parsed != 0) state.SkipWithError("LOAD or the first packet failed");
      instance.reset();  // UNLOAD and free, outside the measurement
    }
    state.ResumeTiming();
  }
}

// ---- The log: lines added as AddLog adds them, drained as GetLogEx drains ----

constexpr int kLogLines = 1000;

std::vector<std::string> LogTexts() {
  std::vector<std::string> texts;
  for (int i = 0; i < kLogLines; ++i) texts.push_back("sentence " + std::to_string(i) + " parsed, checksum ok");
  return texts;
}

void BM_LogDrain(benchmark::State& state) {
  const std::vector<std::string> texts = LogTexts();
  corvane::TLogDataList log;
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    for (const std::string& text : texts) log.Add(corvane::EncodeLogLine(corvane::lkInformation, "Corvane", text, false));
    uint32_t length = 0;
    benchmark::DoNotOptimize(log.Drain(buffer.data(), static_cast<int32_t>(buffer.size()), length));
  }
  state.SetItemsProcessed(state.iterations() * kLogLines);
}

// The same lines into a locked vector of strings and out as one CR LF text.
void BM_LogDrainBaseline(benchmark::State& state) {
  const std::vector<std::string> texts = LogTexts();
  std::mutex lock;
  std::vector<std::string> lines;
  std::string drained;
  for (auto _ : state) {
    for (const std::string& text : texts) {
      std::string line = "\x03" "Corvane. " + text;
      std::lock_guard guard(lock);
      lines.push_back(std::move(line));
    }
    std::lock_guard guard(lock);
    drained.clear();
    for (const std::string& line : lines) drained.append(line).append("\r\n");
    lines.clear();
    benchmark::DoNotOptimize(drained.data());
  }
  state.SetItemsProcessed(state.iterations() * kLogLines);
}

}  // namespace

// Grouped by script: every switch of script starts a new session.
BENCHMARK(BM_NoopBareCall)->Name("NoopBareCall");
BENCHMARK(BM_Noop)->Name("Noop/corvane");
BENCHMARK(BM_NoopBaseline)->Name("Noop/baseline");
BENCHMARK(BM_Parse)->Name("Parse/corvane");
BENCHMARK(BM_ParseBaseline)->Name("Parse/baseline");
BENCHMARK(BM_Filter)->Name("Filter/corvane");
BENCHMARK(BM_FilterBaseline)->Name("Filter/baseline");
BENCHMARK(BM_Event)->Name("Event/corvane");
BENCHMARK(BM_EventBaseline)->Name("Event/baseline");
// Four host threads on one instance, one client each, against one thread.
BENCHMARK(BM_Parse)->Name("Threads4/corvane")->Threads(4)->UseRealTime();
BENCHMARK(BM_Parse)->Name("Threads4/baseline")->Threads(1)->UseRealTime();
// For the chart of packet rates (bench/plot_packet_rates.py): line sizes,
// and host threads on one instance.
BENCHMARK(BM_ParseSize)->Name("ParseSize/corvane")->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_ParseSizeBaseline)->Name("ParseSize/baseline")->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_Parse)->Name("ParseThreads/corvane")->ThreadRange(1, 8)->UseRealTime();
BENCHMARK(BM_ParseFromOtherThread)->Name("ParseFromOtherThread")->UseManualTime();
BENCHMARK(BM_Start)->Name("Start/corvane")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogDrain)->Name("LogDrain/corvane");
BENCHMARK(BM_LogDrainBaseline)->Name("LogDrain/baseline");

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  EndSession();  // UNLOAD before the process ends, as a host does
  benchmark::Shutdown();
  return 0;
}
