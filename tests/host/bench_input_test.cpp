// The script bench's command line and input: how bytes are cut into
// packets, and what bad input is told.
#include <gtest/gtest.h>

#include <fstream>
#include <numeric>

#include "host/run_input.h"
#include "host/run_options.h"
#include "platform/files.h"
#include "platform/scratch_folder.h"

using namespace corvane::host;

namespace {

std::string joined(const std::vector<std::string>& pieces) {
  return std::accumulate(pieces.begin(), pieces.end(), std::string());
}

std::string errorOf(const std::vector<std::string>& arguments) {
  try {
    ReadInput(ParseRunOptions(arguments));
  } catch (const RunError& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(BenchSplit, LinesKeepTheirEndAndTheLastPartialLineComesToo) {
  const auto pieces = SplitBytes("a\r\nbb\n\ncc", SplitRule{});
  EXPECT_EQ(pieces, (std::vector<std::string>{"a\r\n", "bb\n", "\n", "cc"}));
}

TEST(BenchSplit, ChunksAreExactWithAShortLastOne) {
  SplitRule rule{SplitRule::Chunks, 4, 0};
  EXPECT_EQ(SplitBytes("0123456789", rule), (std::vector<std::string>{"0123", "4567", "89"}));
}

TEST(BenchSplit, RandomSizesStayWithinOneTo64AndRepeatForTheSeed) {
  const std::string bytes(5000, 'x');
  const SplitRule seven{SplitRule::Random, 0, 7};
  const auto pieces = SplitBytes(bytes, seven);
  EXPECT_EQ(joined(pieces), bytes);
  size_t smallest = 64, largest = 1;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    smallest = std::min(smallest, pieces[i].size());
    largest = std::max(largest, pieces[i].size());
  }
  EXPECT_GE(smallest, 1u);
  EXPECT_LE(largest, 64u);
  EXPECT_LT(smallest, 8u);   // the whole range is used, not one size
  EXPECT_GT(largest, 56u);
  EXPECT_EQ(SplitBytes(bytes, seven), pieces);
  const auto other = SplitBytes(bytes, SplitRule{SplitRule::Random, 0, 8});
  EXPECT_NE(other, pieces);
}

TEST(BenchOptions, ReadsEveryOption) {
  const RunOptions options = ParseRunOptions({"s.py", "in1", "--role", "filter", "--split", "chunk:16", "--client", "5",
                                              "--clients", "3", "--param", "A=1", "--param", "B==x", "--python",
                                              "/lib/py.so", "--json", "--expect", "e.jsonl", "in2"});
  EXPECT_EQ(options.script, "s.py");
  EXPECT_EQ(options.inputs, (std::vector<std::string>{"in1", "in2"}));
  EXPECT_EQ(options.role, RunRole::Filter);
  EXPECT_EQ(options.split.kind, SplitRule::Chunks);
  EXPECT_EQ(options.split.chunkSize, 16u);
  EXPECT_EQ(options.client, 5u);
  EXPECT_EQ(options.clients, 3u);
  ASSERT_EQ(options.params.size(), 2u);
  EXPECT_EQ(options.params[1], (std::pair<std::string, std::string>{"B", "=x"}));
  EXPECT_EQ(options.python, "/lib/py.so");
  EXPECT_TRUE(options.json);
  EXPECT_EQ(options.expect, "e.jsonl");
}

TEST(BenchOptions, FaultsNameTheOption) {
  const auto fault = [](const std::vector<std::string>& arguments) {
    try {
      ParseRunOptions(arguments);
    } catch (const RunError& error) {
      return std::string(error.what());
    }
    return std::string();
  };
  EXPECT_EQ(fault({}), "no script given");
  EXPECT_EQ(fault({"s.py", "--role", "store"}), "--role: \"store\" is none of parse, filter, export, query, event");
  EXPECT_EQ(fault({"s.py", "--split", "chunk:0"}), "--split chunk: \"0\" is not a number of at least 1");
  EXPECT_EQ(fault({"s.py", "--split", "random:x"}), "--split random: \"x\" is not a number of at least 0");
  EXPECT_EQ(fault({"s.py", "--clients", "0"}), "--clients: \"0\" is not a number of at least 1");
  EXPECT_EQ(fault({"s.py", "--param", "=1"}), "--param: \"=1\" is not NAME=VALUE");
  EXPECT_EQ(fault({"s.py", "--python"}), "--python needs a value");
  EXPECT_EQ(fault({"s.py", "--verbose"}), "unknown option --verbose");
}

TEST(BenchInput, JsonLinesBecomePacketsAndFaultsNameFileAndLine) {
  corvane::platform::testing::ScratchFolder folder;
  const std::string good = folder / "good.jsonl";
  std::ofstream(good, std::ios::binary) << "{\"A\": 1, \"B\": \"x\", \"C\": 2.5, \"D\": null, \"E\": true}\r\n\n"
                                        << "{\"Z\": 3000000000}\n";
  const auto packets = ReadInput(ParseRunOptions({"s.py", good, "--role", "query"}));
  ASSERT_EQ(packets.size(), 2u);
  ASSERT_EQ(packets[0].Values.size(), 5u);
  EXPECT_EQ(packets[0].Values[0].first, "A");
  EXPECT_EQ(packets[0].Values[0].second.type(), corvane::platform::vtI4);
  EXPECT_EQ(packets[0].Values[1].second.type(), corvane::platform::vtBstr);
  EXPECT_EQ(packets[0].Values[2].second.type(), corvane::platform::vtR8);
  EXPECT_EQ(packets[0].Values[3].second.type(), corvane::platform::vtNull);
  EXPECT_EQ(packets[0].Values[4].second.type(), corvane::platform::vtBool);
  EXPECT_EQ(packets[1].Values[0].second.type(), corvane::platform::vtI8);

  const std::string nested = folder / "nested.jsonl";
  std::ofstream(nested, std::ios::binary) << "{\"A\": 1}\n{\"A\": [1, 2]}\n";
  EXPECT_EQ(errorOf({"s.py", nested, "--role", "filter"}),
            nested + ":2: \"A\": a value must be a number, a string, true, false or null, not array");
  const std::string notObject = folder / "list.jsonl";
  std::ofstream(notObject, std::ios::binary) << "[1]\n";
  EXPECT_EQ(errorOf({"s.py", notObject, "--role", "export"}), notObject + ":1: each line must be a JSON object");
  const std::string events = folder / "events.jsonl";
  std::ofstream(events, std::ios::binary) << "{\"event\": \"A\", \"params\": {\"x\": 1}}\n{\"event\": \"B\", \"param\": {}}\n";
  EXPECT_EQ(errorOf({"s.py", events, "--role", "event"}), events + ":2: unknown key \"param\" in an event line");
  EXPECT_EQ(errorOf({"s.py", folder / "none.bin"}), (folder / "none.bin") + ": no such file");

  // Well-formed, but a number no value holds: a fault of the line too.
  const std::string huge = folder / "huge.jsonl";
  std::ofstream(huge, std::ios::binary) << "{\"A\": 1}\n{\"A\": 1e999}\n";
  EXPECT_EQ(errorOf({"s.py", huge, "--role", "export"}), huge + ":2: number overflow parsing '1e999'");
}

TEST(BenchInput, ParseInputIsTheFilesOneAfterAnother) {
  corvane::platform::testing::ScratchFolder folder;
  std::ofstream(folder / "a.txt", std::ios::binary) << "one\ntw";
  std::ofstream(folder / "b.txt", std::ios::binary) << "o\nthree";
  const auto packets = ReadInput(ParseRunOptions({"s.py", folder / "a.txt", folder / "b.txt"}));
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[1].Bytes, "two\n");
  EXPECT_EQ(packets[2].Bytes, "three");
}
