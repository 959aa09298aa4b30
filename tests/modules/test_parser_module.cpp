// A parser module built on the framework, for the suites that drive a
// plug-in library through its exports. Packets are lines of "name=value"
// pairs separated by ";"; each client collects its bytes in its FIFO until
// a line is complete. Parsing delivers the values and the text "parsed
// <line>"; filtering delivers the packet in upper case; export logs a line.
// The text "raise" makes the handler fail. Commands: CLIENTS answers every
// client as "id:packets:name:base" lines in id order; SWEEP (IDLE in ms)
// sweeps idle clients and answers how many remain; SEND hands TEXT to the
// host's DataLogger_SendDataEx and answers its result.
#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "platform/ole_variant.h"
#include "plugin/call_params.h"
#include "plugin/parsed_data.h"
#include "plugin/parser_clients.h"
#include "plugin/plugin_library.h"
#include "plugin/plugin_module.h"
#include "plugin/plugin_values.h"

namespace corvane {
namespace {

std::string blockText(const TPluginDataItem& item) {
  if (item.Type != ditMemoryBlock || item.Pointer == 0 || item.Size <= 0) return {};
  return std::string(reinterpret_cast<const char*>(item.Pointer), static_cast<size_t>(item.Size));
}

// "a=1;b=2" -> the values a and b, as texts.
void parseLine(const std::string& line, TParsedDataList& list) {
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(';', start);
    if (end == std::string::npos) end = line.size();
    const std::string pair = line.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      list.Values().AddItem(pair.substr(0, equals), TextValue(pair.substr(equals + 1)).raw());
    }
    start = end + 1;
  }
}

class TestParserModule : public TkivPlugin {
 public:
  TestParserModule(uintptr_t moduleDllHandle, const TPluginCreation* creation)
      : TkivPlugin(moduleDllHandle, creation) {
    OnCreate = [this](TkivPlugin&) { Setup(); };
  }

 private:
  void Setup() {
    SetDescription("Test parser module");
    SetModuleType(RoleBit(mrQuery) | RoleBit(mrParser) | RoleBit(mrExport) | RoleBit(mrFilter));
    OnProcessData = [this](TkivPlugin&, TPluginCallRecord* record, int32_t& result) { result = Process(*record); };
    OnCommand = [this](TkivPlugin&, const std::string& command, TPluginCallRecord* record, int32_t& result) {
      result = Command(command, *record);
    };
  }

  int32_t Process(TPluginCallRecord& record) {
    const std::string text = blockText(record.InputItem);
    if (text == "raise") throw Exception("raised on request");
    if (HasRole(record, mrParser)) return Parse(record);
    if (HasRole(record, mrFilter)) {
      TParsedDataList list;
      list.Text() = text;
      std::transform(list.Text().begin(), list.Text().end(), list.Text().begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      DeliverParsedData(record, list, false);
      return 1;
    }
    if (HasRole(record, mrExport)) {
      AddLog(lkInformation, "exported " + std::to_string(text.size()) + " bytes");
      return 1;
    }
    return 0;
  }

  // Like a script host's parser: the client's own lock covers the step, the
  // list is locked only to find the client.
  int32_t Parse(TPluginCallRecord& record) {
    const TParserClientRef client = FindClient(clients_, record, false, [this](const TPluginCallRecord& creating) {
      return std::make_unique<TCustomParserClient>(this, creating);
    });
    if (!client) return 0;
    const auto lock = client->Lock();
    const int32_t packet = ++client->Value;
    if (record.InputItem.Type == ditMemoryBlock && record.InputItem.Pointer != 0 && record.InputItem.Size > 0) {
      client->WriteBytes(reinterpret_cast<const void*>(record.InputItem.Pointer), record.InputItem.Size);
    }
    AddLog(lkInformation, "client " + std::to_string(client->ClientId()) + " packet " + std::to_string(packet));

    int32_t parsed = 0;
    TFIFOStream& fifo = client->Fifo();
    while (true) {
      const uint8_t* data = fifo.LockDataForRead();
      const std::string pending(reinterpret_cast<const char*>(data), static_cast<size_t>(fifo.DataSize()));
      fifo.UnlockRead();
      const size_t end = pending.find('\n');
      if (end == std::string::npos) break;
      fifo.Shift(static_cast<int32_t>(end + 1));
      TParsedDataList list;
      parseLine(pending.substr(0, end), list);
      list.Text() = "parsed " + pending.substr(0, end);
      DeliverParsedData(record, list, true);
      parsed += list.Values().Count();
    }
    return parsed;
  }

  int32_t Command(const std::string& command, TPluginCallRecord& record) {
    IkivParamsListA* params = GetPacketParams(record);
    if (command == "CLIENTS") {
      // The clients are collected under the list's lock and read under their
      // own, one at a time.
      std::vector<TParserClientRef> clients;
      {
        ListReadLock lock(clients_);
        lock.List().ForEach([&](uintptr_t, const TParserClientRef& client) {
          clients.push_back(client);
          return true;
        });
      }
      std::map<uint32_t, std::string> lines;
      for (const TParserClientRef& client : clients) {
        const auto lock = client->Lock();
        lines[client->ClientId()] = std::to_string(client->ClientId()) + ":" + std::to_string(client->Value) + ":" +
                                    client->ClientName() + ":" + client->BaseName() + "\r\n";
      }
      std::string answer;
      for (const auto& [id, line] : lines) answer += line;
      WriteParam(params, "RESULT", TextValue(answer).raw());
      return 0;
    }
    if (command == "SWEEP") {
      const int64_t idle = ParamInteger(params, "IDLE").value_or(0);
      SweepClients(clients_, static_cast<uint64_t>(idle), true);
      WriteParam(params, "RESULT", platform::OleVariant::fromI4(clients_.Count()).raw());
      return 0;
    }
    if (command == "SEND") {
      const int32_t sent = SendStringToHost(ModuleIndex(), record.DataSourceId, record.ClientId,
                                            ParamText(params, "TEXT").value_or(""));
      WriteParam(params, "RESULT", platform::OleVariant::fromI4(sent).raw());
      return 0;
    }
    return -2;
  }

  TCustomParserClientList clients_;
};

const PluginClassRegistration registration([](uintptr_t handle, const TPluginCreation* creation) {
  return std::unique_ptr<TkivPlugin>(TkivPlugin::Create<TestParserModule>(handle, creation));
});

}  // namespace
}  // namespace corvane
