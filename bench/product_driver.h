// The product library driven through its exports for the programs of
// bench/: an instance LOADed with a script (with the script host suite's
// helpers), and parse packets sent as a host sends them, with the host's
// lists built once.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "script_host/script_host_support.h"

namespace bench {

using namespace integration;

// LOAD of a configured instance; throws with the error line when the script
// did not start. The log lines of the start are drained either way.
inline void LoadScript(script_host_testing::ScriptInstance& instance) {
  if (instance.Load() != 0) throw std::runtime_error("LOAD failed");
  for (const auto& line : instance.Log()) {
    if (line.Kind == 0) throw std::runtime_error("the script failed to load: " + line.Text);
  }
}

// Parse packets from one client at a time (the client may change between
// packets). What a packet delivered stays in Output() until the next one.
class ParsePackets {
 public:
  explicit ParsePackets(Instance& host, uint32_t clientId = 1) : host_(host), record_(host.Record()) {
    params_.Add("PACKET-PARAM", Text("p"));
    record_.Params = params_.Params();
    record_.RoleFlags = 0x02;
    record_.DataSourceId = 7;
    record_.ClientId = clientId;
  }
  ParsePackets(const ParsePackets&) = delete;
  ParsePackets& operator=(const ParsePackets&) = delete;

  void SetClient(uint32_t clientId) { record_.ClientId = clientId; }

  // One packet of bytes; its result code.
  int32_t Send(const std::string& bytes) {
    output_.List().Clear();
    record_.InputItem = SharedBlock(bytes);
    record_.OutputItem = output_.Item();
    const int32_t result = host_.Plugin().ProcessData(&record_);
    FreeBlock(record_.InputItem);  // the plug-in may have grown it: free what the record holds now
    return result;
  }

  // The item that tells the module the client's stream has ended.
  int32_t SendStreamEnd(int32_t streamEndValue) {
    output_.List().Clear();
    record_.InputItem = {0, 0, corvane::ditClientStream, static_cast<uintptr_t>(streamEndValue)};
    record_.OutputItem = output_.Item();
    return host_.Plugin().ProcessData(&record_);
  }

  corvane::TkivParamsList& Output() { return output_.List(); }

 private:
  Instance& host_;
  HostList params_{ListForm::Native};
  HostList output_{ListForm::Native};
  TPluginCallRecord record_;
};

}  // namespace bench
