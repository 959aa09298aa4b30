// The input of `corvane-host run`, read and checked before the script runs,
// so that bad input costs no run: the bytes of a parse run cut into packets,
// or one JSON object per packet for the other roles.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/run_options.h"
#include "platform/ole_variant.h"

namespace corvane::host {

struct InputPacket {
  std::string Bytes;                                              // parse
  std::string EventName;                                          // event
  std::vector<std::pair<std::string, platform::OleVariant>> Values;  // the packet's items, or the event's parameters
};

// The files one after another ("-" or none: standard input). Throws
// RunError naming the file, and for JSON Lines the line, at fault.
std::vector<InputPacket> ReadInput(const RunOptions& options);

// The parse run's cutting, on its own for the tests.
std::vector<std::string> SplitBytes(const std::string& bytes, const SplitRule& rule);

}  // namespace corvane::host
