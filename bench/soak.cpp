// Long runs of the product library through its exports, with the real
// Python runtime: a data-logging host keeps an instance for months, so
// memory and open files must stay flat however often it restarts the
// script and however many clients come and go.
//
//   soak restart [cycles]             LOAD / UNLOAD cycles (1000), each with
//                                     packets, an event and an engine restart
//                                     by changed settings
//   soak packets [packets] [clients]  parse packets (10 million) from clients
//                                     (1000 in all) that come, end their
//                                     streams and go, then the wait for the
//                                     client sweep
//
// Each mode prints a table of resident memory and open descriptors after a
// warm-up, at intervals and at the end, checks what came back on the way
// (every line delivered once and in order, every log line drained) and ends
// with exit code 1 when a check failed. Run by hand; scripts/soak runs both.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/message_window.h"
#include "platform/process.h"
#include "product_driver.h"
#include "script_host/script_host_support.h"
#include "script_host/ta_plugin.h"

using corvane::TaPlugin;
using corvane::platform::testing::ScratchFolder;
using script_host_testing::ListTexts;
using script_host_testing::LogLine;
using script_host_testing::ScriptInstance;

namespace {

using Clock = std::chrono::steady_clock;

// Failed checks: counted, the first few printed.
class Checks {
 public:
  void Fail(const std::string& what) {
    if (++failures_ <= kShown) std::fprintf(stderr, "check failed: %s\n", what.c_str());
  }
  uint64_t Failures() const { return failures_; }

 private:
  static constexpr uint64_t kShown = 20;
  uint64_t failures_ = 0;
};

// One row of the table: the process's resident memory and open descriptors
// after some amount of work.
struct Sample {
  uint64_t Work;
  uint64_t Resident;
  int32_t Descriptors;
  Clock::time_point At;
};

Sample Measure(uint64_t work) {
  return {work, corvane::platform::residentMemoryBytes(), corvane::platform::openHandleCount(), Clock::now()};
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }
double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

void PrintHeader(const char* work, const char* rate) {
  std::printf("%-12s %12s %12s %6s %10s %12s\n", "", work, "VmRSS MiB", "fds", "seconds", rate);
}

void PrintRow(const char* label, const Sample& sample, const Sample& previous, const Sample& start) {
  const double interval = Seconds(previous.At, sample.At);
  const double rate = interval > 0 ? static_cast<double>(sample.Work - previous.Work) / interval : 0;
  std::printf("%-12s %12llu %12.1f %6d %10.1f %12.0f\n", label, static_cast<unsigned long long>(sample.Work),
              MiB(static_cast<double>(sample.Resident)), sample.Descriptors, Seconds(start.At, sample.At), rate);
  std::fflush(stdout);
}

// Growth between two samples, per `per` units of work.
void PrintGrowth(const Sample& warm, const Sample& end, uint64_t per, const char* unit, const char* span) {
  const double work = static_cast<double>(end.Work - warm.Work);
  if (work <= 0) return;
  const double resident = (static_cast<double>(end.Resident) - static_cast<double>(warm.Resident)) / work * per;
  const double descriptors = (end.Descriptors - warm.Descriptors) / work * per;
  std::printf("growth per %llu %s %s: %+.1f KiB resident, %+.2f descriptors\n", static_cast<unsigned long long>(per),
              unit, span, resident / 1024.0, descriptors);
}

// ---- restart: LOAD, work, a restart by changed settings, UNLOAD ----

// A script that pulls in a few standard modules, so each start imports
// them into a fresh interpreter; VERSION tells the starts apart.
std::string RestartScript(uint64_t version) {
  return R"(import datetime
import json
import struct

import plugin

VERSION = )" + std::to_string(version) +
         R"(
STARTED = datetime.datetime.now()

def ParseData(params, source, fifo, results):
    line, found, _ = fifo.GetBytes().partition(b'\n')
    if not found:
        return
    fifo.Shift(len(line) + 1)
    record = json.loads(line)
    (seq,) = struct.unpack('<I', struct.pack('<I', record['seq']))
    results.AddItem('Seq', seq)
    results.AddItem('Version', VERSION)

def EventData(params, source, name):
    plugin.DbgLog('%s at version %d, %s after the start' % (name, VERSION, datetime.datetime.now() - STARTED))
)";
}

void CheckPacket(bench::ParsePackets& packets, uint64_t seq, uint64_t version, Checks& checks) {
  const std::string sent = "{\"seq\": " + std::to_string(seq) + "}\n";
  if (packets.Send(sent) != 0) return checks.Fail("ProcessData failed at version " + std::to_string(version));
  const std::vector<std::string> expected = {"Seq=" + std::to_string(seq), "Version=" + std::to_string(version)};
  if (ListTexts(packets.Output()) != expected) {
    checks.Fail("packet " + std::to_string(seq) + " at version " + std::to_string(version) + " delivered something else");
  }
}

void OneRestartCycle(ScriptInstance& instance, bench::ParsePackets& packets, uint64_t cycle, Checks& checks) {
  const uint64_t version = 2 * cycle;
  instance.Configure(RestartScript(version));
  try {
    bench::LoadScript(instance);
  } catch (const std::exception& error) {
    return checks.Fail("cycle " + std::to_string(cycle) + ": " + error.what());
  }
  for (uint64_t seq = 0; seq < 3; ++seq) CheckPacket(packets, seq, version, checks);
  if (instance.Event("Tick") != 0) checks.Fail("the event failed in cycle " + std::to_string(cycle));

  // A changed script and a re-read of the settings restart the engine (the
  // command's result says only that no handler answered it: the packet
  // after it shows whether the new script runs).
  instance.Configure(RestartScript(version + 1));
  instance.ReloadSettings();
  CheckPacket(packets, 3, version + 1, checks);
  if (instance.Unload() != 0) checks.Fail("UNLOAD failed in cycle " + std::to_string(cycle));

  const std::string tick = "Tick at version " + std::to_string(version) + ", ";
  int ticks = 0;
  for (const LogLine& line : instance.Log()) {
    if (line.Kind == 0) checks.Fail("cycle " + std::to_string(cycle) + " logged an error: " + line.Text);
    if (line.Text.starts_with(tick)) ++ticks;
  }
  if (ticks != 1) checks.Fail("cycle " + std::to_string(cycle) + " logged " + std::to_string(ticks) + " event lines");
}

int RunRestarts(uint64_t cycles) {
  ScratchFolder folder;
  ScriptInstance instance(folder);
  bench::ParsePackets packets(instance.Host());
  Checks checks;
  const uint64_t warmUp = std::max<uint64_t>(1, std::min<uint64_t>(20, cycles / 20));
  const uint64_t interval = std::max<uint64_t>(1, cycles / 10);

  std::printf("restart soak: %llu cycles of LOAD, 4 packets, an event, a restart by changed settings, UNLOAD\n",
              static_cast<unsigned long long>(cycles));
  PrintHeader("cycles", "cycles/s");
  const Sample start = Measure(0);
  PrintRow("start", start, start, start);
  Sample previous = start;
  Sample warm = start;
  for (uint64_t cycle = 0; cycle < cycles; ++cycle) {
    OneRestartCycle(instance, packets, cycle, checks);
    corvane::platform::pumpMessages();
    const uint64_t done = cycle + 1;
    if (done == warmUp || done % interval == 0 || done == cycles) {
      const Sample now = Measure(done);
      PrintRow(done == warmUp ? "warm-up" : (done == cycles ? "end" : ""), now, previous, start);
      if (done == warmUp) warm = now;
      previous = now;
    }
  }
  PrintGrowth(warm, previous, 100, "cycles", "after the warm-up");
  std::printf("checks failed: %llu\n", static_cast<unsigned long long>(checks.Failures()));
  return checks.Failures() == 0 ? 0 : 1;
}

// ---- packets: many clients, each a stream of lines that ends ----

// Every complete line in the client's buffer becomes one 'Line' item; one
// log line every 10000 calls shows whether the log is drained completely.
const char* const kPacketScript = R"(import plugin

calls = 0

def ParseData(params, source, fifo, results):
    global calls
    calls += 1
    if calls % 10000 == 0:
        plugin.DbgLog('soak-mark %d' % calls)
    data = fifo.GetBytes()
    start = 0
    end = data.find(b'\n')
    while end >= 0:
        results.AddItem('Line', data[start:end].decode('ascii'))
        start = end + 1
        end = data.find(b'\n', start)
    if start:
        fifo.Shift(start)
)";

constexpr uint64_t kMarkEvery = 10000;
// Every fifth line goes in two packets, the second on the client's next
// turn, so lines also wait in the module's buffers between packets.
constexpr uint64_t kSplitEvery = 5;
constexpr size_t kSplitAt = 12;
constexpr int kProbes = 10;

// One of the clients sending at a time; when its stream ends, a client of
// a new id takes its place.
struct Client {
  uint32_t Id = 0;
  uint64_t Quota = 0;  // lines before its stream ends
  uint64_t Sent = 0;
  uint64_t Delivered = 0;
  std::string Rest;      // the second part of a split line, sent next turn
  std::string Awaited;   // the line the next packet completes
};

bool SameText(const corvane::platform::Variant& value, const std::string& text) {
  if (value.vt != corvane::platform::vtBstr || value.bstrVal == nullptr) return false;
  const char16_t* chars = value.bstrVal;
  for (char c : text) {
    if (*chars++ != static_cast<unsigned char>(c)) return false;
  }
  return *chars == 0;
}

class PacketSoak {
 public:
  PacketSoak(uint64_t packets, uint64_t clients) : packets_(packets), clients_(clients) {}

  int Run() {
    ScratchFolder folder;
    ScriptInstance instance(folder);
    instance.Configure(kPacketScript);
    try {
      bench::LoadScript(instance);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s\n", error.what());
      return 1;
    }
    instance_ = &instance;
    bench::ParsePackets packets(instance.Host());
    sender_ = &packets;

    // Two rounds of half the packets each, the sweep's wait between them:
    // the first one is the warm-up (its ended clients wait for the sweep,
    // and freed memory is reused afterwards), the second one must end where
    // the first one ended.
    concurrent_ = std::max<uint64_t>(1, clients_ / 10);
    const uint64_t packetsPerLine = kSplitEvery + 1;  // per kSplitEvery lines
    lifetime_ = std::max<uint64_t>(1, packets_ * kSplitEvery / (packetsPerLine * clients_));
    std::printf("packet soak: %llu parse packets in two rounds, %llu clients at a time, %llu lines each\n",
                static_cast<unsigned long long>(packets_), static_cast<unsigned long long>(concurrent_),
                static_cast<unsigned long long>(lifetime_));
    PrintHeader("packets", "packets/s");
    start_ = Measure(0);
    previous_ = start_;
    PrintRow("start", start_, previous_, start_);
    const Sample first = Round("round 1", packets_ - packets_ / 2);
    WaitForSweep();
    const Sample second = Round("round 2", packets_ / 2);
    PrintGrowth(first, second, 1000000, "packets", "from the end of round 1 to the end of round 2");
    std::printf("clients: %llu, all ended; lines sent %llu, delivered %llu\n", static_cast<unsigned long long>(ended_),
                static_cast<unsigned long long>(linesSent_), static_cast<unsigned long long>(linesDelivered_));

    Service();
    const uint64_t expectedMarks = sent_ / kMarkEvery;
    std::printf("log: %llu mark lines drained of %llu, %llu other lines\n", static_cast<unsigned long long>(marks_),
                static_cast<unsigned long long>(expectedMarks), static_cast<unsigned long long>(otherLines_));
    if (marks_ != expectedMarks) checks_.Fail("log mark lines lost");
    std::printf("checks failed: %llu\n", static_cast<unsigned long long>(checks_.Failures()));
    return checks_.Failures() == 0 ? 0 : 1;
  }

 private:
  // Packets from clients that come and go; a tenth of the clients send at a
  // time, and the first ones end early, in steps, so that clients end and
  // start evenly. Every client has ended when it returns.
  Sample Round(const char* name, uint64_t count) {
    std::vector<Client> sending(concurrent_);
    for (uint64_t i = 0; i < concurrent_; ++i) {
      Start(sending[i], std::max<uint64_t>(1, lifetime_ * (i + 1) / concurrent_));
    }
    const uint64_t end = sent_ + count;
    const uint64_t interval = std::max<uint64_t>(1, packets_ / 20);
    uint64_t turn = 0;
    while (sent_ < end) {
      Client& client = sending[turn++ % concurrent_];
      if (client.Rest.empty() && client.Sent == client.Quota) {
        End(client);
        Start(client, lifetime_);
      }
      SendNext(client);
      if (sent_ % 1000 == 0) Service();
      if (sent_ % interval == 0 && sent_ != end) Row("");
    }
    for (Client& client : sending) {
      if (!client.Rest.empty()) SendNext(client);
      End(client);
    }
    Service();
    return Row(name);
  }

  Sample Row(const char* label) {
    const Sample now = Measure(sent_);
    PrintRow(label, now, previous_, start_);
    previous_ = now;
    return now;
  }

  void Start(Client& client, uint64_t quota) {
    client = Client{};
    client.Id = nextId_++;
    client.Quota = quota;
  }

  void SendNext(Client& client) {
    std::string packet;
    if (!client.Rest.empty()) {
      packet = std::move(client.Rest);
      client.Rest.clear();
    } else {
      const std::string line = "client=" + std::to_string(client.Id) + ";seq=" + std::to_string(client.Sent) +
                               ";temperature=21.5;state=ok";
      ++client.Sent;
      ++linesSent_;
      packet = line + "\n";
      if (client.Sent % kSplitEvery == 0) {
        client.Rest = packet.substr(kSplitAt);
        packet.resize(kSplitAt);
      }
      client.Awaited = line;
    }
    sender_->SetClient(client.Id);
    if (sender_->Send(packet) != 0) checks_.Fail("ProcessData failed for client " + std::to_string(client.Id));
    ++sent_;
    CheckDelivered(client, client.Rest.empty());
  }

  // A packet that completes a line delivers exactly that line; a first part
  // delivers nothing.
  void CheckDelivered(Client& client, bool completesLine) {
    corvane::TkivParamsList& output = sender_->Output();
    const int32_t count = output.Count();
    if (count != (completesLine ? 1 : 0)) {
      checks_.Fail("client " + std::to_string(client.Id) + " delivered " + std::to_string(count) + " items for one packet");
    }
    for (int32_t i = 0; i < count; ++i) {
      corvane::TkivParamsListItem* item = output.Items(i);
      if (item->Name().str() != "Line" || !SameText(item->ValueRef(), client.Awaited)) {
        checks_.Fail("client " + std::to_string(client.Id) + " delivered another line than " + client.Awaited);
      }
      ++client.Delivered;
      ++linesDelivered_;
    }
  }

  void End(Client& client) {
    sender_->SetClient(client.Id);
    if (sender_->SendStreamEnd(TaPlugin::StreamEndValue) != 0) {
      checks_.Fail("the stream end failed for client " + std::to_string(client.Id));
    }
    if (client.Delivered != client.Sent) {
      checks_.Fail("client " + std::to_string(client.Id) + ": " + std::to_string(client.Sent) + " lines sent, " +
                   std::to_string(client.Delivered) + " delivered");
    }
    ++ended_;
  }

  // The loading thread's messages (the sweep timer) and the log.
  void Service() {
    corvane::platform::pumpMessages();
    for (const LogLine& line : instance_->Log()) {
      if (line.Text == "soak-mark " + std::to_string((marks_ + 1) * kMarkEvery)) {
        ++marks_;
        continue;
      }
      ++otherLines_;
      checks_.Fail("an unexpected log line: " + line.Text);
    }
  }

  // Clients whose stream ended are removed by the sweep a fixed time later.
  // Probe clients leave the first part of a line in the module's buffer and
  // end; once the sweep has removed them, the rest of the line arrives
  // alone, at fresh clients.
  void WaitForSweep() {
    std::vector<uint32_t> probes;
    for (int i = 0; i < kProbes; ++i) {
      probes.push_back(nextId_++);
      sender_->SetClient(probes.back());
      if (sender_->Send("probe-") != 0 || sender_->SendStreamEnd(TaPlugin::StreamEndValue) != 0) {
        checks_.Fail("a probe client failed");
      }
      ++sent_;
    }
    const auto delay = std::chrono::milliseconds(TaPlugin::ClientIdleMs - TaPlugin::StreamEndShortening +
                                                 3 * TaPlugin::SweepIntervalMs);
    std::printf("waiting %.0f s for the sweep, pumping messages\n", std::chrono::duration<double>(delay).count());
    std::fflush(stdout);
    const Clock::time_point ended = Clock::now();
    while (Clock::now() - ended < delay) {
      corvane::platform::waitMessage(100);
      Service();
    }
    Row("swept");

    int removed = 0;
    for (uint32_t id : probes) {
      sender_->SetClient(id);
      if (sender_->Send("rest\n") != 0) checks_.Fail("a probe client failed");
      ++sent_;
      if (ListTexts(sender_->Output()) == std::vector<std::string>{"Line=rest"}) ++removed;
      sender_->SendStreamEnd(TaPlugin::StreamEndValue);
    }
    std::printf("probe clients removed by the sweep: %d of %d\n", removed, kProbes);
    if (removed != kProbes) checks_.Fail("the sweep left ended clients in place");
  }

  const uint64_t packets_;
  const uint64_t clients_;
  uint64_t concurrent_ = 1;
  uint64_t lifetime_ = 0;
  Sample start_{};
  Sample previous_{};
  ScriptInstance* instance_ = nullptr;
  bench::ParsePackets* sender_ = nullptr;
  Checks checks_;
  uint32_t nextId_ = 1;
  uint64_t sent_ = 0;
  uint64_t ended_ = 0;
  uint64_t linesSent_ = 0;
  uint64_t linesDelivered_ = 0;
  uint64_t marks_ = 0;
  uint64_t otherLines_ = 0;
};

bool ParseCount(const char* text, uint64_t& count) {
  try {
    size_t used = 0;
    const unsigned long long value = std::stoull(text, &used);
    if (text[used] != '\0' || value == 0) return false;
    count = value;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: soak restart [cycles]             (1000 cycles)\n"
               "       soak packets [packets] [clients]  (10000000 packets, 1000 clients)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  try {
    if (mode == "restart" && argc <= 3) {
      uint64_t cycles = 1000;
      if (argc == 3 && !ParseCount(argv[2], cycles)) return Usage();
      return RunRestarts(cycles);
    }
    if (mode == "packets" && argc <= 4) {
      uint64_t packets = 10000000;
      uint64_t clients = 1000;
      if (argc >= 3 && !ParseCount(argv[2], packets)) return Usage();
      if (argc == 4 && !ParseCount(argv[3], clients)) return Usage();
      return PacketSoak(packets, clients).Run();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "soak: %s\n", error.what());
    return 1;
  }
  return Usage();
}
