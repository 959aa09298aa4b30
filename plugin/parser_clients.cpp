#include "plugin/parser_clients.h"

#include <utility>
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
  TParserClientRef match;
  TParserClientRef spare;
};

Search search(const TParserClientMap& clients, uint32_t clientId, bool onlyActive) {
  Search found;
  TParserClientRef filed;
  if (clients.Find(clientId, filed) && !(onlyActive && filed->Paused())) {
    found.match = std::move(filed);
    return found;
  }
  clients.ForEach([&](uintptr_t, const TParserClientRef& client) {
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

void TCustomParserClient::SetIdleFor(uint64_t ms) { SetLastActivity(platform::tickCount64() - ms); }

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

TParserClientRef FindClient(TCustomParserClientList& list, const TPluginCallRecord& record, bool onlyActive,
                            const TParserClientClass& clientClass) {
  const bool spareRecord = isSpareName(ClientNameOf(record));
  Search found;
  {
    ListReadLock lock(list);
    found = search(lock.List(), record.ClientId, onlyActive);
  }
  if (found.match) return found.match;
  if (found.spare && spareRecord) return found.spare;
  if (!found.spare && !clientClass) return nullptr;

  // Taking over a spare or adding a client changes the list: search again
  // under the write lock, since another thread may have done either
  // meanwhile. A spare's own lock is taken before the list's, never while
  // holding it: a call that holds a client's lock may come back here through
  // a host callback, so client before list is the one order of the two.
  for (;;) {
    TCustomParserClient::TLock spareLock;
    if (found.spare) spareLock = found.spare->Lock();
    ListWriteLock lock(list);
    auto& clients = lock.List();
    const Search again = search(clients, record.ClientId, onlyActive);
    if (again.match) return again.match;
    if (again.spare && spareRecord) return again.spare;
    if (again.spare && again.spare == found.spare) {
      // Refiled under the new ClientId, so that a later client of the old
      // key cannot replace the one taken over.
      TParserClientRef client = clients.Extract(again.spare->ClientId());
      client->TakeOver(record);
      clients.Add(client->ClientId(), client);
      return client;
    }
    if (again.spare) {
      // Another thread took the spare over; this one must be locked first.
      found = again;
      continue;
    }
    if (!clientClass) return nullptr;
    TParserClientRef created = clientClass(record);
    if (created) clients.Add(record.ClientId, created);
    return created;
  }
}

void SweepClients(TCustomParserClientList& list, uint64_t idleMs, bool remove) {
  const uint64_t now = platform::tickCount64();
  const auto idle = [&](const TCustomParserClient& client) { return now - client.LastActivity() >= idleMs; };
  bool any = false;
  {
    ListReadLock lock(list);
    lock.List().ForEach([&](uintptr_t, const TParserClientRef& client) {
      if (idle(*client)) {
        client->SetPaused(true);
        any = true;
      }
      return true;
    });
  }
  if (!remove || !any) return;

  // A client refreshed since (through SetFirstState or Reset) stays. The
  // removed ones are let go of after the list's lock, so that a client's
  // destructor never runs under it.
  std::vector<TParserClientRef> removed;
  ListWriteLock lock(list);
  std::vector<uintptr_t> keys;
  lock.List().ForEach([&](uintptr_t key, const TParserClientRef& client) {
    if (client->Paused() && idle(*client)) keys.push_back(key);
    return true;
  });
  for (uintptr_t key : keys) removed.push_back(lock.List().Extract(key));
}

}  // namespace corvane
