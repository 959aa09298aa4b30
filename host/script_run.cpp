#include "host/script_run.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "common/params_list.h"
#include "host/host_calls.h"
#include "host/log_drain.h"
#include "host/run_input.h"
#include "host/run_options.h"
#include "host/run_report.h"
#include "host/text_diff.h"
#include "host/variant_json.h"
#include "platform/code_page.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace corvane::host {

namespace {

using Clock = std::chrono::steady_clock;
using Values = std::vector<std::pair<std::string, platform::OleVariant>>;

platform::OleVariant text(const std::string& value) { return platform::OleVariant::fromString(platform::ansiToWide(value)); }

constexpr uint8_t RoleBits[] = {0x02, 0x20, 0x04, 0x01, 0x00};  // parse, filter, export, query, event
constexpr int32_t DataSourceId = 1;

// The calls the host received since the last Take, from any thread.
class HostCallQueue {
 public:
  HostCallQueue() {
    SetHostCallSink([this](HostCall call) {
      std::lock_guard guard(lock_);
      calls_.push_back(std::move(call));
    });
  }
  ~HostCallQueue() { SetHostCallSink(nullptr); }
  std::vector<HostCall> Take() {
    std::lock_guard guard(lock_);
    return std::exchange(calls_, {});
  }

 private:
  std::mutex lock_;
  std::vector<HostCall> calls_;
};

// Where the lines of the run go: standard output, or kept for comparing.
class RunOutput {
 public:
  RunOutput(bool json, bool keep) : json_(json), keep_(keep) {}

  void Command(const std::string& name, int32_t result, const std::vector<LogLine>& log) {
    if (json_) {
      Line(CommandLine(name, result, log));
    } else {
      PrintCommand(stdout, name, result, log);
    }
  }
  void Packet(const PacketReport& report) {
    if (json_) {
      Line(ReportLine(report));
    } else {
      PrintReport(stdout, report);
    }
  }
  const std::vector<std::string>& Kept() const { return lines_; }

 private:
  void Line(std::string line) {
    if (keep_) {
      lines_.push_back(std::move(line));
    } else {
      std::fputs(line.c_str(), stdout);
      std::fputc('\n', stdout);
    }
  }
  bool json_;
  bool keep_;
  std::vector<std::string> lines_;
};

// "packet 1200 of 5000" on standard error, rewritten in place, once a run
// has taken a second; only when standard error is a terminal.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), shown_(platform::standardErrorIsTerminal()), start_(Clock::now()) {}
  void Update(size_t done) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    std::fprintf(stderr, "\rpacket %zu of %zu (%zu%%)   ", done, total_, total_ ? done * 100 / total_ : 100);
    written_ = true;
  }
  void Clear() {
    if (written_) std::fprintf(stderr, "\r%60s\r", "");
  }

 private:
  size_t total_;
  bool shown_;
  bool written_ = false;
  Clock::time_point start_;
  Clock::time_point last_{};
};

int32_t command(LoadedPlugin& plugin, const TPluginCallRecord& instance, const std::string& name, const Values& values,
                Json* answer = nullptr) {
  auto list = TkivParamsList::Create();
  list->AddItem("COMMAND", text(name).raw());
  for (const auto& [key, value] : values) list->AddItem(key, value.raw());
  if (answer != nullptr) list->AddItem("RESULT", platform::OleVariant::null().raw());
  TPluginCallRecord record = instance;
  record.Params = reinterpret_cast<uintptr_t>(list.get());
  const int32_t result = plugin.ExecutePluginCommand(&record);
  if (answer != nullptr) *answer = VariantToJson(list->ItemValueByName("RESULT").raw());
  return result;
}

ParamsListPtr listOf(const Values& values) {
  auto list = TkivParamsList::Create();
  for (const auto& [name, value] : values) list->AddItem(name, value.raw());
  return list;
}

// One packet through ProcessData; the items of the list the output item
// names afterwards (the host's own list, or the input passed through).
int32_t processPacket(LoadedPlugin& plugin, const TPluginCallRecord& instance, const RunOptions& options,
                      const Values& moduleParams, const InputPacket& packet, PacketReport& report) {
  ParamsListPtr params = listOf(moduleParams);
  ParamsListPtr data = listOf(packet.Values);
  ParamsListPtr output = TkivParamsList::Create();
  TPluginCallRecord record = instance;
  record.Params = reinterpret_cast<uintptr_t>(params.get());
  record.RoleFlags = RoleBits[static_cast<int>(options.role)];
  record.DataSourceId = DataSourceId;
  record.ClientId = report.Client;
  if (options.role == RunRole::Parse) {
    void* block = platform::sharedAlloc(packet.Bytes.size());
    if (block == nullptr && !packet.Bytes.empty()) throw std::bad_alloc();
    if (!packet.Bytes.empty()) std::memcpy(block, packet.Bytes.data(), packet.Bytes.size());
    record.InputItem = {0, static_cast<int32_t>(packet.Bytes.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(block)};
  } else {
    record.InputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(data.get())};
  }
  record.OutputItem = {0, 0, ditParamsList, reinterpret_cast<uintptr_t>(output.get())};
  const int32_t result = plugin.ProcessData(&record);
  if (options.role == RunRole::Parse && record.InputItem.Type == ditMemoryBlock && record.InputItem.Pointer != 0) {
    platform::sharedFree(reinterpret_cast<void*>(record.InputItem.Pointer));
  }
  if (record.OutputItem.Type == ditParamsList && record.OutputItem.Pointer != 0) {
    report.AddItems(*reinterpret_cast<const TkivParamsList*>(record.OutputItem.Pointer));
  }
  return result;
}

std::string summary(size_t packets, const std::map<int32_t, size_t>& results, Clock::duration elapsed) {
  std::string line = std::to_string(packets) + (packets == 1 ? " packet" : " packets");
  if (!results.empty()) {
    line += ", results";
    for (const auto& [code, count] : results) line += " " + std::to_string(code) + ": " + std::to_string(count) + ",";
    line.pop_back();
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s", std::chrono::duration<double>(elapsed).count());
  return line + "; " + seconds;
}

int compareWithExpected(const RunOptions& options, const std::string& expectedText,
                        const std::vector<std::string>& lines) {
  const std::string diff = UnifiedDiff(SplitLines(expectedText), lines, options.expect, "actual output");
  if (diff.empty()) {
    std::fprintf(stderr, "corvane-host run: output matches %s\n", options.expect.c_str());
    return 0;
  }
  std::fputs(diff.c_str(), stdout);
  std::fprintf(stderr, "corvane-host run: output differs from %s\n", options.expect.c_str());
  return 1;
}

}  // namespace

int RunScript(LoadedPlugin& plugin, TPluginCallRecord& instance, const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      std::fputs(RunUsage, stdout);
      return 0;
    }
  }
  RunOptions options;
  std::vector<InputPacket> packets;
  std::string expectedText;
  Values moduleParams;
  try {
    options = ParseRunOptions(arguments);
    if (!platform::fileExists(options.script)) throw RunError(options.script + ": no such script");
    options.script = std::filesystem::absolute(options.script).string();
    if (!options.expect.empty()) {
      if (!platform::fileExists(options.expect)) throw RunError(options.expect + ": no such file");
      expectedText = platform::readFile(options.expect);
    }
    for (const auto& [name, value] : options.params) moduleParams.emplace_back(name, CommandLineValue(value));
    packets = ReadInput(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "corvane-host run: %s\n%s", error.what(), RunUsage);
    return 2;
  }
  const bool keep = !options.expect.empty();
  RunOutput output(options.json || keep, keep);
  HostCallQueue hostCalls;
  const auto drainLog = [&] {
    platform::pumpMessages();
    return DrainLog(plugin, instance);
  };

  // The settings the options dialog would have stored, in a file of their own.
  const std::string settings =
      platform::tempDirectory() + "corvane-run-" + platform::guidToString(platform::createGuid()).substr(1, 36) + ".ini";
  platform::writeFileAtomic(settings, "[Common]\r\nScript file=\"" + options.script + "\"\r\nPython DLL=" +
                                          options.python + "\r\n");
  const auto self = reinterpret_cast<uintptr_t>(platform::moduleHandleByName(""));
  const int32_t loaded = command(plugin, instance, "LOAD",
                                 {{"INI-FILE", text(settings)}, {"HANDLE", platform::OleVariant::fromI8(static_cast<int64_t>(self))}});
  platform::deleteFile(settings);
  output.Command("LOAD", loaded, drainLog());
  hostCalls.Take();
  if (loaded != 0) {
    std::fprintf(stderr, "corvane-host run: LOAD failed with %d\n", loaded);
    return 2;
  }

  const Clock::time_point start = Clock::now();
  Progress progress(packets.size());
  std::map<int32_t, size_t> results;
  for (size_t i = 0; i < packets.size(); ++i) {
    PacketReport report;
    report.Packet = i + 1;
    report.Client = options.client + static_cast<uint32_t>(i % options.clients);
    if (options.role == RunRole::Event) {
      report.Event = packets[i].EventName;
      Values values = {{"EVENT-TYPE", text(packets[i].EventName)}};
      for (const auto& [name, value] : moduleParams) values.emplace_back(name, value);
      for (const auto& [name, value] : packets[i].Values) values.emplace_back(name, value);
      report.Result = command(plugin, instance, "EVENT", values);
    } else {
      report.Result = processPacket(plugin, instance, options, moduleParams, packets[i], report);
    }
    for (const HostCall& call : hostCalls.Take()) report.AddHostCall(call);
    report.AddLog(drainLog());
    ++results[report.Result];
    output.Packet(report);
    progress.Update(i + 1);
  }
  progress.Clear();
  const Clock::duration elapsed = Clock::now() - start;
  const int32_t unloaded = command(plugin, instance, "UNLOAD", {});
  output.Command("UNLOAD", unloaded, drainLog());
  std::fflush(stdout);
  std::fprintf(stderr, "corvane-host run: %s\n", summary(packets.size(), results, elapsed).c_str());
  return keep ? compareWithExpected(options, expectedText, output.Kept()) : 0;
}

}  // namespace corvane::host
