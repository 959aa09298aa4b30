// The input file of `corvane-host run`: input is
//   a role byte (parse, filter, export, query, event), a split byte (lines,
//   chunks of 1 to 64 bytes, random sizes), a seed byte, then the file.
// Reading either fails with the bench's own error or succeeds. A parse run's
// packets joined are the file, cut by the rule (lines end with their line
// feed, chunks have the size asked for, random pieces 1 to 64 bytes). For
// JSON Lines, every packet is one of the file's non-blank lines, in order,
// and each value comes back as the JSON it was read from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "host/run_input.h"
#include "host/variant_json.h"

namespace {

using corvane::host::Json;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "host_run_input: %s\n", what);
  std::abort();
}

const std::string& inputFile() {
  static const std::string* path = [] {
    static char folder[] = "/tmp/corvane-fuzz-run.XXXXXX";
    if (mkdtemp(folder) == nullptr) fail("no scratch folder");
    auto* file = new std::string(std::string(folder) + "/input");
    std::atexit([] {
      unlink((std::string(folder) + "/input").c_str());
      rmdir(folder);
    });
    return file;
  }();
  return *path;
}

void checkParse(const std::string& content, const corvane::host::SplitRule& rule,
                const std::vector<corvane::host::InputPacket>& packets) {
  std::string joined;
  for (size_t i = 0; i < packets.size(); ++i) {
    const std::string& piece = packets[i].Bytes;
    const bool last = i + 1 == packets.size();
    if (piece.empty()) fail("an empty packet");
    switch (rule.kind) {
      case corvane::host::SplitRule::Lines:
        if (piece.find('\n') != (last && piece.back() != '\n' ? std::string::npos : piece.size() - 1))
          fail("a line packet is not one line");
        break;
      case corvane::host::SplitRule::Chunks:
        if (piece.size() != rule.chunkSize && !(last && piece.size() < rule.chunkSize))
          fail("a chunk has another size");
        break;
      case corvane::host::SplitRule::Random:
        if (piece.size() > 64 && !last) fail("a random piece is longer than 64 bytes");
        break;
    }
    joined += piece;
  }
  if (joined != content) fail("the packets joined are not the input");
}

void checkJson(const std::string& content, corvane::host::RunRole role,
               const std::vector<corvane::host::InputPacket>& packets) {
  size_t next = 0;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    start = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (next == packets.size()) fail("a line has no packet");
    const corvane::host::InputPacket& packet = packets[next++];
    const Json parsed = Json::parse(line);
    const Json& values = role == corvane::host::RunRole::Event ? parsed.value("params", Json::object()) : parsed;
    if (role == corvane::host::RunRole::Event && packet.EventName != parsed["event"].get<std::string>())
      fail("an event's name changed");
    if (values.size() != packet.Values.size()) fail("a packet has another number of values");
    size_t i = 0;
    for (const auto& [name, value] : values.items()) {
      if (packet.Values[i].first != name) fail("a value's name changed");
      if (corvane::host::VariantToJson(packet.Values[i].second.raw()) != value) fail("a value changed");
      ++i;
    }
  }
  if (next != packets.size()) fail("a packet has no line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  corvane::host::RunOptions options;
  options.role = static_cast<corvane::host::RunRole>(data[0] % 5);
  options.split.kind = static_cast<corvane::host::SplitRule::Kind>(data[1] % 3);
  options.split.chunkSize = 1 + data[2] % 64;
  options.split.seed = data[2];
  const std::string content(reinterpret_cast<const char*>(data) + 3, size - 3);
  std::ofstream(inputFile(), std::ios::binary | std::ios::trunc) << content;
  options.inputs = {inputFile()};

  std::vector<corvane::host::InputPacket> packets;
  try {
    packets = corvane::host::ReadInput(options);
  } catch (const corvane::host::RunError& error) {
    // Bad input is refused with the file and, for JSON Lines, the line.
    if (std::string(error.what()).rfind(inputFile(), 0) != 0) fail("an error does not name the file");
    if (options.role == corvane::host::RunRole::Parse) fail("a parse run refused its input");
    return 0;
  }
  if (options.role == corvane::host::RunRole::Parse)
    checkParse(content, options.split, packets);
  else
    checkJson(content, options.role, packets);
  return 0;
}
