// What the plug-in sends to the host through DataLogger_SendDataEx, which
// the host program exports: data, text and events for its data sources.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/variant_json.h"

namespace corvane::host {

struct HostCall {
  uint32_t HostId = 0;
  int32_t DataSourceId = 0;
  uint32_t ClientId = 0;
  int32_t Kind = 0;     // 7 an event, 0x81 bytes, 0x82 text
  std::string Bytes;    // bytes and text
  std::string Event;    // an event's EVENT-TYPE
  Json Params = Json::object();  // an event's other items, name to value
};

// Every call goes to the sink (from whichever thread the plug-in calls on;
// the sink runs under a lock, one call at a time). Without a sink the call
// is printed.
void SetHostCallSink(std::function<void(HostCall)> sink);

}  // namespace corvane::host
