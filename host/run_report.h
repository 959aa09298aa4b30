// What one packet of a `corvane-host run` brought back, and its two written
// forms: a JSON Lines object and a readable table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/params_list.h"
#include "host/host_calls.h"
#include "host/log_drain.h"
#include "host/variant_json.h"

namespace corvane::host {

struct PacketReport {
  size_t Packet = 0;      // from 1
  uint32_t Client = 0;
  std::string Event;      // the event of an event run; then no client
  int32_t Result = 0;
  Json Items = Json::array();
  Json Sent = Json::array();
  Json Events = Json::array();
  Json Log = Json::array();

  void AddItems(const TkivParamsList& list);
  void AddHostCall(const HostCall& call);
  void AddLog(const std::vector<LogLine>& lines);
};

// One line of JSON: packet, client (or event), result, items, sent, events,
// log, in this order.
std::string ReportLine(const PacketReport& report);
// A line for LOAD and UNLOAD: {"command": NAME, "result": code, "log": [...]}.
std::string CommandLine(const std::string& command, int32_t result, const std::vector<LogLine>& log);

void PrintReport(std::FILE* out, const PacketReport& report);
void PrintCommand(std::FILE* out, const std::string& command, int32_t result, const std::vector<LogLine>& log);

}  // namespace corvane::host
