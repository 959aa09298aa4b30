// Packets through the exported ProcessData of the test parser module: one
// line parsed per packet, the parse text appended to the packet's block and
// the values delivered into the host's list. Needs the test suites' build
// (tests/corvane_test_module beside bench/).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "common/params_list.h"
#include "common/params_list_wrap.h"
#include "host/plugin_library.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "plugin/call_record.h"

using namespace corvane;

namespace {

host::LoadedPlugin& testModule() {
  const char d = platform::pathDelimiter();
  static host::LoadedPlugin library(platform::executableDirectory() + ".." + d + "tests" + d +
                                    (d == '\\' ? "corvane_test_module.dll" : "corvane_test_module.so"));
  return library;
}

struct SharedInstance {
  TPluginCallRecord record{};
  SharedInstance() {
    record.RecordSize = CallRecordSize;
    testModule().CreatePluginInstance(&record);
  }
  ~SharedInstance() { testModule().FreePluginInstance(&record); }
};

void BM_ParsePacket(benchmark::State& state) {
  static SharedInstance instance;
  host::LoadedPlugin& lib = testModule();
  ParamsListPtr params = TkivParamsList::Create();
  ParamsListPtr output = TkivParamsList::Create();
  TPluginCallRecord record = instance.record;
  record.Params = reinterpret_cast<uintptr_t>(params.get());
  record.RoleFlags = 0x02;
  record.ClientId = static_cast<uint32_t>(state.thread_index());
  const std::string packet = "temperature=21.5;pressure=1013;state=ok\n";
  for (auto _ : state) {
    void* block = platform::sharedAlloc(packet.size());
    std::memcpy(block, packet.data(), packet.size());
    record.InputItem = {0, static_cast<int32_t>(packet.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
    record.OutputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(output.get())};
    benchmark::DoNotOptimize(lib.ProcessData(&record));
    platform::sharedFree(reinterpret_cast<void*>(record.InputItem.Pointer));
    output->Clear();
    if ((state.iterations() & 0x3FF) == 0) {
      // Keep the log queue from filling: drain it now and then.
      TPluginCallRecord drain = instance.record;
      drain.InputItem = {0, 0, 0, 0};
      lib.GetLogEx(&drain);
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParsePacket)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace
