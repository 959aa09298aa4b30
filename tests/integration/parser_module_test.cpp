// A parser module through the exports: parse results delivered into the
// host's block and list, filters, export completion lines, failing
// handlers, and per-client state.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "integration_support.h"

using namespace corvane;
using namespace integration;

namespace {

constexpr uint8_t kParse = 0x02;
constexpr uint8_t kExport = 0x04;
constexpr uint8_t kFilter = 0x20;

class ParserModuleTest : public ::testing::TestWithParam<ListForm> {
 protected:
  // Sends one packet for a client; the answer list is the host's output.
  int32_t Send(uint8_t roles, const std::string& bytes, uint32_t clientId = 1, const char* clientName = "client") {
    TPluginCallRecord& record = instance.Record();
    record.Params = params.Params();
    record.RoleFlags = roles;
    record.ClientId = clientId;
    std::memset(record.ClientName, 0, sizeof record.ClientName);
    std::memcpy(record.ClientName, clientName, std::min(std::strlen(clientName), sizeof record.ClientName));
    FreeBlock(record.InputItem);
    record.InputItem = SharedBlock(bytes);
    record.OutputItem = output.Item();
    return instance.Plugin().ProcessData(&record);
  }
  std::string Block() { return BlockText(instance.Record().InputItem); }
  std::string Clients() {
    OleVariant answer;
    EXPECT_EQ(instance.Command("CLIENTS", {}, &answer), 0);
    return TextOf(answer);
  }

  void TearDown() override { FreeBlock(instance.Record().InputItem); }

  Instance instance{TestModule(), GetParam()};
  HostList params{GetParam()};
  HostList output{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Lists, ParserModuleTest, ::testing::Values(ListForm::Native, ListForm::Interface),
                         [](const auto& info) { return std::string(ListFormName(info.param)); });

TEST_P(ParserModuleTest, ParseResultsFollowThePacketInItsBlock) {
  // A block of 8 bytes or fewer gets no separator.
  EXPECT_EQ(Send(kParse, "a=1;b=2\n"), 2);
  EXPECT_EQ(Block(), "a=1;b=2\nparsed a=1;b=2");
  EXPECT_EQ(uint32_t(instance.Record().OutputItem.Count), 1);
  EXPECT_EQ(instance.Record().OutputItem.Type, output.Item().Type) << "the output item keeps the host's form";
  EXPECT_EQ(uintptr_t(instance.Record().OutputItem.Pointer), uintptr_t(output.Item().Pointer));
  EXPECT_EQ(output.List().Count(), 2);
  EXPECT_EQ(TextOf(output.Value("b")), "2");

  // A longer block gets the separator between packet and parse text; two
  // lines in one packet give two deliveries, each after a separator.
  EXPECT_EQ(Send(kParse, "alpha=1\nbeta=2\n"), 2);
  EXPECT_EQ(Block(), "alpha=1\nbeta=2\n<{[::]}>parsed alpha=1<{[::]}>parsed beta=2");
  EXPECT_EQ(uint32_t(instance.Record().OutputItem.Count), 2);
  EXPECT_EQ(output.List().Count(), 4) << "parse results are appended to the host's list";

  // A block that already ends in the separator gets none.
  EXPECT_EQ(Send(kParse, "gamma=3\n<{[::]}>"), 1);
  EXPECT_EQ(Block(), "gamma=3\n<{[::]}>parsed gamma=3");
}

TEST_P(ParserModuleTest, ClientsCollectTheirBytesUntilALineIsComplete) {
  EXPECT_EQ(Send(kParse, "x=", 7, "10.0.0.5:502"), 0);
  EXPECT_EQ(Block(), "x=") << "nothing parsed yet";
  EXPECT_EQ(Send(kParse, "1;y=2\n", 8, "plain"), 1);
  EXPECT_EQ(Block(), "1;y=2\nparsed 1;y=2") << "another client's bytes do not mix in";
  EXPECT_EQ(Send(kParse, "9\n", 7, "10.0.0.5:502"), 1);
  EXPECT_EQ(Block(), "9\nparsed x=9");
  EXPECT_EQ(Clients(), "7:2:10.0.0.5:502:10.0.0.5\r\n8:1:plain:\r\n");
}

TEST_P(ParserModuleTest, SpareClientsAreTakenOverAndSweptWhenIdle) {
  EXPECT_EQ(Send(kParse, "", 0, "__UT__reserve"), 0);
  EXPECT_EQ(Send(kParse, "", 0, "__UT__other"), 0) << "a spare name keeps the client spare";
  EXPECT_EQ(Clients(), "0:2:__UT__reserve:\r\n");
  EXPECT_EQ(Send(kParse, "", 5, "host.example"), 0);
  EXPECT_EQ(Clients(), "5:3:host.example:host\r\n") << "the spare serves the new client";
  EXPECT_EQ(Send(kParse, "", 0, "zero"), 0);
  EXPECT_EQ(Clients(), "0:1:zero:\r\n5:3:host.example:host\r\n")
      << "a new client of the old key does not replace the one taken over";

  OleVariant remaining;
  EXPECT_EQ(instance.Command("SWEEP", {{"IDLE", OleVariant::fromI4(3600000)}}, &remaining), 0);
  EXPECT_EQ(remaining.raw().lVal, 2);
  EXPECT_EQ(instance.Command("SWEEP", {{"IDLE", OleVariant::fromI4(0)}}, &remaining), 0);
  EXPECT_EQ(remaining.raw().lVal, 0);
  EXPECT_EQ(Clients(), "");
}

TEST_P(ParserModuleTest, FiltersReplaceTheBlockAndTheList) {
  output.Add("stale", Text("value"));
  EXPECT_EQ(Send(kFilter, "quiet text"), 1);
  EXPECT_EQ(Block(), "QUIET TEXT");
  EXPECT_EQ(output.List().Count(), 0) << "a filter's result replaces the list";
  EXPECT_EQ(uint32_t(instance.Record().OutputItem.Count), 1);
}

TEST_P(ParserModuleTest, ExportsAndFailuresAreLogged) {
  EXPECT_EQ(Send(kExport, "12345"), 1);
  EXPECT_EQ(Send(kExport, "raise"), -3);
  EXPECT_EQ(Send(kParse, "raise"), -3);
  EXPECT_EQ(instance.DrainLog(),
            "\x03" "exported 5 bytes\r\n"
            "\x03" "Data have been processed successfully\r\n"
            "\x02" "Data have been processed with errors: raised on request x2\r\n");
}

}  // namespace
