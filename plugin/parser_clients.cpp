#include "plugin/parser_clients.h"

#include <vector>

#include "platform/thread.h"

namespace corvane {
namespace {

constexpr int32_t ClientFifoMinShift = 64;

bool isSpareName(std::string_view name) { return name.starts_with(SpareClientPrefix); }

std::string baseNameOf(const std::string& name) {
  const size_t cut = name.find_last_of(".:");
  return cut == std::string::npos ? std::string() : name.substr(0, cut);
}

// The client of a ClientId (active ones only when asked), else the first
// spare client. Clients are filed under their ClientId, so the match is one
// look-up; only a miss walks the list for a spare. Under the list's read or
// write lock.
struct Search {
  TCustomParserClient* match = nullptr;
  TCustomParserClient* spare = nullptr;
};

Search search(const TkivPtrUIntObjectHashList<TCustomParserClient>& clients, uint32_t clientId, bool onlyActive) {
  Search found;
  TCustomParserClient* filed = nullptr;
  if (clients.Find(clientId, filed) && !(onlyActive && filed->Paused())) {
    found.match = filed;
    return found;
  }
  clients.ForEach([&](uintptr_t, TCustomParserClient* client) {
    if (!client->Spare()) return true;
    found.spare = client;
    return false;
  });
  return found;
}

}  // namespace

TCustomParserClient::TCustomParserClient(TkivPlugin* owner, const TPluginCallRecord& record, int32_t fifoCapacity)
    : owner_(owner),
      fifoCapacity_(fifoCapacity),
      fifo_(fifoCapacity, ClientFifoMinShift, true),
      clientId_(record.ClientId),
      dataSourceId_(record.DataSourceId),
      stream_(record.InputItem.Type == ditClientStream),
      lastActivity_(platform::tickCount64()) {
  SetName(record);
  spare_ = isSpareName(clientName_);
}

void TCustomParserClient::SetName(const TPluginCallRecord& record) {
  clientName_ = ClientNameOf(record);
  baseName_ = baseNameOf(clientName_);
}

void TCustomParserClient::Touch() { SetLastActivity(platform::tickCount64()); }

void TCustomParserClient::TouchUnlessPaused() {
  if (!Paused()) Touch();
}

void TCustomParserClient::SetFirstState(bool state) {
  firstState_ = state;
  Touch();
}

void TCustomParserClient::Reset() {
  secondState_ = true;
  firstText_.clear();
  secondText_.clear();
  Touch();
}

void TCustomParserClient::ClearFifo() { fifo_.Clear(); }

void TCustomParserClient::WriteText(std::string_view text) {
  fifo_.Write(text.data(), static_cast<int32_t>(text.size()));
  TouchUnlessPaused();
}

void TCustomParserClient::WriteBytes(const void* data, int32_t length) {
  fifo_.Write(data, length);
  TouchUnlessPaused();
}

void TCustomParserClient::TakeOver(const TPluginCallRecord& record) {
  clientId_ = record.ClientId;
  SetName(record);
  spare_ = clientId_ == 0;
  if (!spare_ && record.InputItem.Type == ditClientStream) stream_ = true;
}

TCustomParserClient* FindClient(TCustomParserClientList& list, const TPluginCallRecord& record, bool onlyActive,
                                const TParserClientClass& clientClass) {
  {
    ListReadLock lock(list);
    const Search found = search(lock.List(), record.ClientId, onlyActive);
    if (found.match != nullptr) return found.match;
    if (found.spare == nullptr && !clientClass) return nullptr;
  }

  // Taking over a spare or adding a client changes the list: search again
  // under the write lock, since another thread may have done either
  // meanwhile.
  ListWriteLock lock(list);
  auto& clients = lock.List();
  const Search found = search(clients, record.ClientId, onlyActive);
  if (found.match != nullptr) return found.match;
  if (found.spare != nullptr) {
    if (isSpareName(ClientNameOf(record))) return found.spare;
    // Refiled under the new ClientId, so that a later client of the old
    // key cannot replace (and free) the one taken over.
    const uintptr_t oldKey = found.spare->ClientId();
    TCustomParserClient* client = clients.Extract(oldKey);
    client->TakeOver(record);
    clients.Add(client->ClientId(), client);
    return client;
  }
  if (!clientClass) return nullptr;
  std::unique_ptr<TCustomParserClient> created = clientClass(record);
  if (!created) return nullptr;
  TCustomParserClient* client = created.get();
  clients.Add(record.ClientId, created.release());
  return client;
}

void SweepClients(TCustomParserClientList& list, uint64_t idleMs, bool remove) {
  const uint64_t now = platform::tickCount64();
  const auto idle = [&](const TCustomParserClient* client) { return now - client->LastActivity() >= idleMs; };
  bool any = false;
  {
    ListReadLock lock(list);
    lock.List().ForEach([&](uintptr_t, TCustomParserClient* client) {
      if (idle(client)) {
        client->SetPaused(true);
        any = true;
      }
      return true;
    });
  }
  if (!remove || !any) return;

  // A client refreshed since (through SetFirstState or Reset) stays.
  ListWriteLock lock(list);
  std::vector<uintptr_t> keys;
  lock.List().ForEach([&](uintptr_t key, TCustomParserClient* client) {
    if (client->Paused() && idle(client)) keys.push_back(key);
    return true;
  });
  for (uintptr_t key : keys) lock.List().Remove(key);
}

}  // namespace corvane
