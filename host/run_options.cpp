#include "host/run_options.h"

#include <charconv>

namespace corvane::host {

const char* const RunUsage =
    "usage: corvane-host run SCRIPT [INPUT...] [options]\n"
    "  --role parse|filter|export|query|event   the entry function fed (default parse)\n"
    "  --split lines|chunk:N|random:SEED        how parse input is cut into packets (default lines)\n"
    "  --client ID                              the client of the packets (default 1)\n"
    "  --clients K                              deal packets round-robin to K clients from ID on\n"
    "  --param NAME=VALUE                       a module parameter of every packet (repeatable)\n"
    "  --python PATH                            the Python runtime library\n"
    "  --json                                   JSON Lines output, one object per packet\n"
    "  --expect FILE                            compare the JSON Lines output with FILE\n"
    "Input for filter, export and query: JSON Lines, one object of name to value per packet;\n"
    "for event: {\"event\": NAME, \"params\": {...}} per line.\n";

namespace {

template <class Number>
Number number(const std::string& text, const std::string& option, Number minimum) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < minimum) {
    throw RunError(option + ": \"" + text + "\" is not a number of at least " + std::to_string(minimum));
  }
  return value;
}

RunRole role(const std::string& text) {
  if (text == "parse") return RunRole::Parse;
  if (text == "filter") return RunRole::Filter;
  if (text == "export") return RunRole::Export;
  if (text == "query") return RunRole::Query;
  if (text == "event") return RunRole::Event;
  throw RunError("--role: \"" + text + "\" is none of parse, filter, export, query, event");
}

SplitRule split(const std::string& text) {
  SplitRule rule;
  if (text == "lines") return rule;
  if (text.rfind("chunk:", 0) == 0) {
    rule.kind = SplitRule::Chunks;
    rule.chunkSize = number<size_t>(text.substr(6), "--split chunk", 1);
    return rule;
  }
  if (text.rfind("random:", 0) == 0) {
    rule.kind = SplitRule::Random;
    rule.seed = number<uint64_t>(text.substr(7), "--split random", 0);
    return rule;
  }
  throw RunError("--split: \"" + text + "\" is none of lines, chunk:N, random:SEED");
}

}  // namespace

RunOptions ParseRunOptions(const std::vector<std::string>& arguments) {
  RunOptions options;
  bool scriptSeen = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw RunError(argument + " needs a value");
      return arguments[++i];
    };
    if (argument == "--role") {
      options.role = role(value());
    } else if (argument == "--split") {
      options.split = split(value());
    } else if (argument == "--client") {
      options.client = number<uint32_t>(value(), "--client", 0);
    } else if (argument == "--clients") {
      options.clients = number<uint32_t>(value(), "--clients", 1);
    } else if (argument == "--param") {
      const std::string& pair = value();
      const size_t equals = pair.find('=');
      if (equals == std::string::npos || equals == 0) throw RunError("--param: \"" + pair + "\" is not NAME=VALUE");
      options.params.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    } else if (argument == "--python") {
      options.python = value();
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--expect") {
      options.expect = value();
    } else if (argument.size() > 1 && argument[0] == '-' && argument != "-") {
      throw RunError("unknown option " + argument);
    } else if (!scriptSeen) {
      options.script = argument;
      scriptSeen = true;
    } else {
      options.inputs.push_back(argument);
    }
  }
  if (!scriptSeen) throw RunError("no script given");
  return options;
}

}  // namespace corvane::host
