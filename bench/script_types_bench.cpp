// The script types' per-packet operations with the real runtime, each beside
// its nearest plain-Python equivalent in the same run. Each Python benchmark
// runs a loop of kReps operations inside one call, so the figure per item is
// the operation itself; the pairs are named NAME/corvane and NAME/baseline.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bindings/native_class.h"
#include "bindings/python_module.h"
#include "bindings/wrapper.h"
#include "common/fifo_stream.h"
#include "common/params_list.h"
#include "python/python_engine.h"
#include "python/python_runtime.h"

using namespace corvane;
using py::Handle;
using py::Object;

namespace {

constexpr int kReps = 1000;

const char* const kScript[] = {
    "R = 1000",
    "def add_items(lst):",
    "    for _ in range(10):",
    "        for _ in range(100): lst.AddItem('name', 1)",
    "        lst.Clear()",
    "def append_items(l):",
    "    for _ in range(10):",
    "        for _ in range(100): l.append(('name', 1))",
    "        l.clear()",
    "def value_by_name(lst):",
    "    for _ in range(R): lst.ItemValueByName('e')",
    "def dict_get(d):",
    "    for _ in range(R): d.get('e')",
    "def iterate(lst):",
    "    for _ in range(R):",
    "        for i in lst: pass",
    "def iterate_list(l):",
    "    for _ in range(R):",
    "        for i in l: pass",
    "def take_line(fifo):",
    "    b = fifo.GetBytes()",
    "    fifo.Shift(len(b))",
    "def take_slice(buf):",
    "    b = bytes(buf)",
    "    del buf[:len(b)]",
    "def new_object(cls):",
    "    for _ in range(R): cls()",
};

class Bench {
 public:
  Bench() {
    std::vector<TPythonVersion> runtimes = GetRegisteredPythonVersions();
    if (runtimes.empty()) throw Exception("no Python runtime found");
    runtimes.front().AssignTo(engine);
    engine.InitScript.assign(std::begin(kScript), std::end(kScript));
    wrapper.SetModule(module);
    engine.AddClient(module);
    engine.AddClient(wrapper);
    engine.LoadDll();
    list = TkivParamsList::Create();
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"})
      list->AddItem(name, platform::OleVariant::fromI4(1).raw());
  }
  Object Function(const char* name) { return engine.FindFunction(name); }
  Object Eval(const char* expression) {
    const py::PythonApi& api = engine.Api();
    Object code = Object::Steal(api, api.Py_CompileString(expression, "<bench>", 258));
    py::PyObject* globals = api.PyModule_GetDict(api.PyImport_AddModule("__main__"));
    Object value = Object::Steal(api, api.PyEval_EvalCode(code.ptr(), globals, globals));
    if (!value) engine.RaiseError();
    return value;
  }
  void Call(Handle function, Handle argument) {
    const Handle arguments[] = {argument};
    engine.CallFunction(function, arguments);
  }

  TPythonModule module{"plugin"};
  py::TPyDelphiWrapper wrapper;
  TkivPythonEngine engine;
  ParamsListPtr list;
};

Bench& bench() {
  static Bench* shared = new Bench();  // kept to the end of the process, with its interpreter
  return *shared;
}

void runLoop(benchmark::State& state, const char* function, Handle argument) {
  Object f = bench().Function(function);
  for (auto _ : state) bench().Call(f, argument);
  state.SetItemsProcessed(state.iterations() * kReps);
}

void BM_Wrap(benchmark::State& state, int which) {
  Bench& b = bench();
  TFIFOStream stream(64, 8, true);
  py::TWrapScope scope;
  TkivParamsListItem* item = b.list->Items(0);
  const py::TNativeObject objects[] = {py::NativeObject(b.list.get()), py::NativeObject(item),
                                       py::NativeObject(&stream)};
  py::TNativeGuard& guard = scope.GuardOf(b.list.get());
  py::TNativeGuard& fifoGuard = scope.GuardOf(&stream);
  for (auto _ : state) {
    for (int i = 0; i < kReps; ++i) {
      Object wrapped = which == 1   ? b.wrapper.WrapItem(objects[1], guard)
                       : which == 0 ? b.wrapper.Wrap(objects[0], guard)
                                    : b.wrapper.Wrap(objects[2], fifoGuard);
      benchmark::DoNotOptimize(wrapped.ptr());
    }
  }
  state.SetItemsProcessed(state.iterations() * kReps);
}

void BM_WrapBaseline(benchmark::State& state) {
  // A new instance of a small Python class made from C.
  Object cls = bench().Eval("type('P', (), {'__slots__': ('a',)})");
  const py::PythonApi& api = bench().engine.Api();
  Object empty = Object::Steal(api, api.PyTuple_New(0));
  for (auto _ : state) {
    for (int i = 0; i < kReps; ++i) {
      Object made = Object::Steal(api, api.PyObject_Call(cls.ptr(), empty.ptr(), nullptr));
      benchmark::DoNotOptimize(made.ptr());
    }
  }
  state.SetItemsProcessed(state.iterations() * kReps);
}

void BM_AddItem(benchmark::State& state) {
  ParamsListPtr list = TkivParamsList::Create();
  py::TWrapScope scope;
  Object wrapped = bench().wrapper.Wrap(py::NativeObject(list.get()), scope);
  runLoop(state, "add_items", wrapped);
}

void BM_AddItemBaseline(benchmark::State& state) { runLoop(state, "append_items", bench().Eval("[]")); }

void BM_ItemValueByName(benchmark::State& state) {
  py::TWrapScope scope;
  Object wrapped = bench().wrapper.Wrap(py::NativeObject(bench().list.get()), scope);
  runLoop(state, "value_by_name", wrapped);
}

void BM_ItemValueByNameBaseline(benchmark::State& state) {
  runLoop(state, "dict_get", bench().Eval("dict((k, 1) for k in 'abcdefghij')"));
}

void BM_Iterate10(benchmark::State& state) {
  py::TWrapScope scope;
  Object wrapped = bench().wrapper.Wrap(py::NativeObject(bench().list.get()), scope);
  runLoop(state, "iterate", wrapped);
}

void BM_Iterate10Baseline(benchmark::State& state) { runLoop(state, "iterate_list", bench().Eval("list(range(10))")); }

// One 64-byte packet arrives natively, the script takes and shifts it out.
void BM_GetBytesShift(benchmark::State& state) {
  TFIFOStream stream(16384, 64, true);
  py::TWrapScope scope;
  Object wrapped = bench().wrapper.Wrap(py::NativeObject(&stream), scope);
  Object f = bench().Function("take_line");
  const std::string packet(64, 'x');
  for (auto _ : state) {
    stream.Write(packet.data(), 64);
    bench().Call(f, wrapped);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_GetBytesShiftBaseline(benchmark::State& state) {
  Object buffer = bench().Eval("bytearray()");
  Object extend = Object::Steal(bench().engine.Api(),
                                bench().engine.Api().PyObject_GetAttrString(buffer.ptr(), "extend"));
  Object packet = bench().Eval("b'x' * 64");
  Object f = bench().Function("take_slice");
  for (auto _ : state) {
    bench().Call(extend, packet);
    bench().Call(f, buffer);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(BM_Wrap, List/corvane, 0);
BENCHMARK_CAPTURE(BM_Wrap, Item/corvane, 1);
BENCHMARK_CAPTURE(BM_Wrap, Fifo/corvane, 2);
BENCHMARK(BM_WrapBaseline)->Name("BM_Wrap/baseline");
BENCHMARK(BM_AddItem)->Name("BM_AddItem/corvane");
BENCHMARK(BM_AddItemBaseline)->Name("BM_AddItem/baseline");
BENCHMARK(BM_ItemValueByName)->Name("BM_ItemValueByName/corvane");
BENCHMARK(BM_ItemValueByNameBaseline)->Name("BM_ItemValueByName/baseline");
BENCHMARK(BM_GetBytesShift)->Name("BM_GetBytesShift/corvane");
BENCHMARK(BM_GetBytesShiftBaseline)->Name("BM_GetBytesShift/baseline");
BENCHMARK(BM_Iterate10)->Name("BM_Iterate10/corvane");
BENCHMARK(BM_Iterate10Baseline)->Name("BM_Iterate10/baseline");
