#include "host/run_input.h"

#include <iostream>
#include <sstream>

#include "host/variant_json.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace corvane::host {

namespace {

struct InputFile {
  std::string Name;
  std::string Content;
};

std::vector<InputFile> readFiles(const std::vector<std::string>& names) {
  std::vector<InputFile> files;
  const auto standardInput = [] {
    std::ostringstream content;
    content << std::cin.rdbuf();
    return InputFile{"<stdin>", content.str()};
  };
  if (names.empty()) files.push_back(standardInput());
  for (const std::string& name : names) {
    if (name == "-") {
      files.push_back(standardInput());
      continue;
    }
    if (!platform::fileExists(name)) throw RunError(name + ": no such file");
    try {
      files.push_back({name, platform::readFile(name)});
    } catch (const std::exception& error) {
      throw RunError(name + ": cannot be read: " + error.what());
    }
  }
  return files;
}

// SplitMix64: the same sizes from the same seed on every target, so an
// expected-output file made on one serves all.
class SizeSequence {
 public:
  explicit SizeSequence(uint64_t seed) : state_(seed) {}
  size_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return 1 + static_cast<size_t>((z ^ (z >> 31)) % 64);
  }

 private:
  uint64_t state_;
};

std::vector<std::pair<std::string, platform::OleVariant>> valuesOf(const Json& object, const std::string& where) {
  std::vector<std::pair<std::string, platform::OleVariant>> values;
  for (const auto& [name, value] : object.items()) {
    try {
      values.emplace_back(platform::utf8ToAnsi(name), JsonToVariant(value));
    } catch (const std::invalid_argument& error) {
      throw RunError(where + ": \"" + name + "\": " + error.what());
    }
  }
  return values;
}

InputPacket packetOf(const Json& line, RunRole role, const std::string& where) {
  if (!line.is_object()) throw RunError(where + ": each line must be a JSON object");
  InputPacket packet;
  if (role != RunRole::Event) {
    packet.Values = valuesOf(line, where);
    return packet;
  }
  const auto name = line.find("event");
  if (name == line.end() || !name->is_string() || name->get<std::string>().empty()) {
    throw RunError(where + ": an event line needs \"event\": NAME");
  }
  packet.EventName = platform::utf8ToAnsi(name->get<std::string>());
  for (const auto& [key, value] : line.items()) {
    if (key != "event" && key != "params") throw RunError(where + ": unknown key \"" + key + "\" in an event line");
  }
  if (const auto params = line.find("params"); params != line.end()) {
    if (!params->is_object()) throw RunError(where + ": \"params\" must be an object");
    packet.Values = valuesOf(*params, where);
  }
  return packet;
}

void readJsonLines(const InputFile& file, RunRole role, std::vector<InputPacket>& packets) {
  size_t lineNumber = 0;
  for (size_t start = 0; start < file.Content.size();) {
    size_t end = file.Content.find('\n', start);
    if (end == std::string::npos) end = file.Content.size();
    std::string_view line(file.Content.data() + start, end - start);
    start = end + 1;
    ++lineNumber;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const std::string where = file.Name + ":" + std::to_string(lineNumber);
    Json parsed;
    try {
      parsed = Json::parse(line);
    } catch (const Json::parse_error& error) {
      std::string what = error.what();
      // "[json.exception.parse_error.101] parse error at line 1, column 5: ..." -> from "column" on
      const size_t column = what.find("column");
      throw RunError(where + ": malformed JSON" + (column == std::string::npos ? "" : " at " + what.substr(column)));
    } catch (const Json::out_of_range& error) {
      // A number beyond a double's range ("1e999") is well-formed JSON that
      // no value can hold: "[json.exception.out_of_range.406] number
      // overflow parsing '1e999'" -> from "number" on.
      std::string what = error.what();
      const size_t text = what.find("] ");
      throw RunError(where + ": " + (text == std::string::npos ? what : what.substr(text + 2)));
    }
    packets.push_back(packetOf(parsed, role, where));
  }
}

}  // namespace

std::vector<std::string> SplitBytes(const std::string& bytes, const SplitRule& rule) {
  std::vector<std::string> pieces;
  SizeSequence sizes(rule.seed);
  for (size_t start = 0; start < bytes.size();) {
    size_t length = 0;
    switch (rule.kind) {
      case SplitRule::Lines: {
        const size_t end = bytes.find('\n', start);
        length = end == std::string::npos ? bytes.size() - start : end + 1 - start;
        break;
      }
      case SplitRule::Chunks:
        length = rule.chunkSize;
        break;
      case SplitRule::Random:
        length = sizes.Next();
        break;
    }
    pieces.push_back(bytes.substr(start, length));
    start += length;
  }
  return pieces;
}

std::vector<InputPacket> ReadInput(const RunOptions& options) {
  const std::vector<InputFile> files = readFiles(options.inputs);
  std::vector<InputPacket> packets;
  if (options.role == RunRole::Parse) {
    std::string bytes;
    for (const InputFile& file : files) bytes += file.Content;
    for (std::string& piece : SplitBytes(bytes, options.split)) packets.push_back({std::move(piece), {}, {}});
    return packets;
  }
  for (const InputFile& file : files) readJsonLines(file, options.role, packets);
  return packets;
}

}  // namespace corvane::host
