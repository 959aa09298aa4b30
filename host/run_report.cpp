#include "host/run_report.h"

#include "platform/code_page.h"

namespace corvane::host {

namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += ' ';
    const auto byte = static_cast<unsigned char>(bytes[i]);
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

Json logJson(const std::vector<LogLine>& lines) {
  Json log = Json::array();
  for (const LogLine& line : lines) log.push_back({{"kind", LogKindName(line.Kind)}, {"text", platform::ansiToUtf8(line.Text)}});
  return log;
}

// JSON text of a value for the table, strings without quotes.
std::string shown(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

void printLog(std::FILE* out, const Json& log) {
  for (const Json& line : log) {
    std::fprintf(out, "  log %s: %s\n", line["kind"].get<std::string>().c_str(), line["text"].get<std::string>().c_str());
  }
}

}  // namespace

void PacketReport::AddItems(const TkivParamsList& list) {
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TkivParamsListItem* item = list.Items(i);
    Items.push_back({{"name", platform::ansiToUtf8(item->Name().str())},
                     {"value", VariantToJson(item->ValueRef())},
                     {"type", item->ValueRef().vt},
                     {"quality", item->Quality()}});
  }
}

void PacketReport::AddHostCall(const HostCall& call) {
  if (call.Kind == 7) {
    Events.push_back({{"event", call.Event}, {"data_source", call.DataSourceId}, {"client", call.ClientId},
                      {"params", call.Params}});
    return;
  }
  Json sent = {{"data_source", call.DataSourceId}, {"client", call.ClientId}};
  if (call.Kind == 0x82) {
    sent["text"] = platform::ansiToUtf8(call.Bytes);
  } else {
    sent["bytes"] = hex(call.Bytes);
  }
  Sent.push_back(std::move(sent));
}

void PacketReport::AddLog(const std::vector<LogLine>& lines) {
  for (Json& line : logJson(lines)) Log.push_back(std::move(line));
}

std::string ReportLine(const PacketReport& report) {
  Json line = {{"packet", report.Packet}};
  if (report.Event.empty()) {
    line["client"] = report.Client;
  } else {
    line["event"] = report.Event;
  }
  line["result"] = report.Result;
  line["items"] = report.Items;
  line["sent"] = report.Sent;
  line["events"] = report.Events;
  line["log"] = report.Log;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string CommandLine(const std::string& command, int32_t result, const std::vector<LogLine>& log) {
  const Json line = {{"command", command}, {"result", result}, {"log", logJson(log)}};
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintReport(std::FILE* out, const PacketReport& report) {
  if (report.Event.empty()) {
    std::fprintf(out, "packet %zu, client %u -> %d\n", report.Packet, report.Client, report.Result);
  } else {
    std::fprintf(out, "packet %zu, event %s -> %d\n", report.Packet, report.Event.c_str(), report.Result);
  }
  for (const Json& item : report.Items) {
    const std::string name = item["name"].get<std::string>();
    if (name == "$NEW_ROW$") {
      std::fprintf(out, "  --- row ---\n");
      continue;
    }
    std::fprintf(out, "  %-20s %-24s (type %d, quality %d)\n", name.c_str(), shown(item["value"]).c_str(),
                 item["type"].get<int>(), item["quality"].get<int>());
  }
  for (const Json& sent : report.Sent) {
    const bool text = sent.contains("text");
    std::fprintf(out, "  sent to data source %d, client %u: %s %s\n", sent["data_source"].get<int>(),
                 sent["client"].get<unsigned>(), text ? "text" : "bytes",
                 (text ? sent["text"] : sent["bytes"]).get<std::string>().c_str());
  }
  for (const Json& event : report.Events) {
    std::fprintf(out, "  event %s to data source %d, client %u: %s\n", event["event"].get<std::string>().c_str(),
                 event["data_source"].get<int>(), event["client"].get<unsigned>(),
                 event["params"].dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
  }
  printLog(out, report.Log);
}

void PrintCommand(std::FILE* out, const std::string& command, int32_t result, const std::vector<LogLine>& log) {
  std::fprintf(out, "%s -> %d\n", command.c_str(), result);
  printLog(out, logJson(log));
}

}  // namespace corvane::host
