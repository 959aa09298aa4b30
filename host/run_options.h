// The command line of `corvane-host run`.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvane::host {

// A usage fault or bad input: the run stops with the message and exit code 2.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RunRole { Parse, Filter, Export, Query, Event };

// How the bytes of a parse run are cut into packets.
struct SplitRule {
  enum Kind { Lines, Chunks, Random } kind = Lines;
  size_t chunkSize = 0;  // Chunks
  uint64_t seed = 0;     // Random: sizes 1 to 64 from this seed
};

struct RunOptions {
  std::string script;
  std::vector<std::string> inputs;  // none: standard input
  RunRole role = RunRole::Parse;
  SplitRule split;
  uint32_t client = 1;
  uint32_t clients = 1;  // packets dealt round-robin to clients client .. client + clients - 1
  std::vector<std::pair<std::string, std::string>> params;
  std::string python;
  bool json = false;
  std::string expect;
};

// Throws RunError naming the option at fault.
RunOptions ParseRunOptions(const std::vector<std::string>& arguments);

extern const char* const RunUsage;

}  // namespace corvane::host
