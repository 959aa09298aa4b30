// Per-client state of a parser module: one object per client (connection)
// of a data source, keyed by the packet's ClientId, with a receive FIFO that
// collects the client's bytes until a whole message can be parsed.
//
// The list hands out counted references: a client lives as long as the list
// or any caller holds it, so a call keeps using its client while a sweep
// drops it from the list. The list's lock covers look-up, insertion, take-over
// and the sweep only; each client has a lock of its own for its FIFO and
// state, held by the call that works on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/fifo_stream.h"
#include "common/hash_list.h"
#include "common/thread_lists.h"
#include "platform/sync.h"
#include "plugin/call_record.h"

namespace corvane {

class TkivPlugin;

// Base of per-client objects: one 32-bit value and one operation that a
// descendant may override to handle a call (-2: not handled).
class TkivPluginMulti {
 public:
  virtual ~TkivPluginMulti() = default;
  virtual void Handle(int32_t& result) { result = -2; }

  int32_t Value = 0;
};

// Client names that start with this mark a client kept in reserve.
inline constexpr std::string_view SpareClientPrefix = "__UT__";
inline constexpr int32_t DefaultClientFifoCapacity = 16384;
inline constexpr size_t MaxClientNameLength = 50;

// The FIFO and the state a module keeps are guarded by the client's lock
// (Lock()): callers hold it around every use of them. The lock is re-entrant,
// since a call that holds it may reach the same client again on its own
// thread through a host callback. Id, names and the spare and stream marks
// change only in TakeOver, under both the client's lock and the list's write
// lock, so either lock makes them safe to read; the paused mark and the
// activity stamp may be read and set without a lock.
class TCustomParserClient : public TkivPluginMulti {
 public:
  using TLock = std::unique_lock<platform::CriticalSection>;

  TCustomParserClient(TkivPlugin* owner, const TPluginCallRecord& record,
                      int32_t fifoCapacity = DefaultClientFifoCapacity);

  // Holds the client's lock until the returned object goes.
  [[nodiscard]] TLock Lock() { return TLock(lock_); }

  TkivPlugin* Owner() const { return owner_; }
  TFIFOStream& Fifo() { return fifo_; }
  int32_t FifoCapacity() const { return fifoCapacity_; }

  uint32_t ClientId() const { return clientId_; }
  const std::string& ClientName() const { return clientName_; }
  // The client name cut before its last "." or ":"; empty without either.
  const std::string& BaseName() const { return baseName_; }
  int32_t DataSourceId() const { return dataSourceId_; }
  bool Stream() const { return stream_; }
  bool Spare() const { return spare_; }
  bool Paused() const { return paused_.load(std::memory_order_acquire); }
  void SetPaused(bool paused) { paused_.store(paused, std::memory_order_release); }

  // Milliseconds (platform tick count) of the last activity.
  uint64_t LastActivity() const { return lastActivity_.load(std::memory_order_acquire); }
  void SetLastActivity(uint64_t tick) { lastActivity_.store(tick, std::memory_order_release); }
  // Stamps the client as idle for ms already, so the sweep takes it that
  // much sooner. The stamp may lie before the tick count's zero (early in
  // the system's uptime): it wraps, and the sweep's unsigned difference of
  // ticks still gives the right idle time.
  void SetIdleFor(uint64_t ms);
  uint64_t SecondStamp() const { return secondStamp_; }
  void SetSecondStamp(uint64_t tick) { secondStamp_ = tick; }

  // The state the module keeps per client; the framework only holds it.
  virtual bool GetFirstState() const { return firstState_; }
  virtual void SetFirstState(bool state);  // refreshes the activity stamp
  virtual void Reset();                    // second state true, texts empty, stamp refreshed
  virtual void ClearFifo();
  virtual void WriteText(std::string_view text);
  virtual void AfterWriteText() {}
  virtual void WriteBytes(const void* data, int32_t length);
  virtual void AfterWriteBytes() {}

  bool SecondState() const { return secondState_; }
  void SetSecondState(bool state) { secondState_ = state; }
  std::string& FirstText() { return firstText_; }
  std::string& SecondText() { return secondText_; }

  // Takes over a spare client for the record's client (under the client's
  // lock and the list's write lock).
  void TakeOver(const TPluginCallRecord& record);

 private:
  void SetName(const TPluginCallRecord& record);
  void Touch();
  void TouchUnlessPaused();

  platform::CriticalSection lock_;
  TkivPlugin* owner_;
  int32_t fifoCapacity_;
  TFIFOStream fifo_;
  uint32_t clientId_;
  std::string clientName_;
  std::string baseName_;
  std::atomic<bool> paused_{false};
  int32_t dataSourceId_;
  bool firstState_ = false;
  bool secondState_ = true;
  bool stream_;
  bool spare_;
  std::string firstText_;
  std::string secondText_;
  std::atomic<uint64_t> lastActivity_;
  uint64_t secondStamp_ = 0;
};

using TParserClientRef = std::shared_ptr<TCustomParserClient>;

// Clients filed under their ClientId, each held by a counted reference.
class TParserClientMap : public TkivCustomHashListBase<uintptr_t, uintptr_t, TParserClientRef> {
 protected:
  TKeyItem<uintptr_t> MakeKeyItem(uintptr_t key) const override { return MakePtrUIntKeyItem(key); }
};

// Iterate under the read lock (ListReadLock) to see every client; work on
// one under its own lock after the list's lock is released, since a call
// holding a client's lock may ask the list for a client again.
class TCustomParserClientList : public TThreadGuardedList<TParserClientMap> {};

// Makes a client (with its owner bound in) for a record; an empty class
// makes none.
using TParserClientClass = std::function<std::unique_ptr<TCustomParserClient>(const TPluginCallRecord& record)>;

// The client of the record's ClientId (a paused one only when onlyActive is
// false); else a spare client taken over for it, unless the record's name
// marks it as spare too; else a new client of clientClass, when one is
// given. Empty when none. The list keeps every client filed under its
// current ClientId; the reference keeps the client alive after the list has
// let it go. Taking over a spare waits for that spare's lock, so it must not
// be called under the list's lock.
TParserClientRef FindClient(TCustomParserClientList& list, const TPluginCallRecord& record, bool onlyActive,
                            const TParserClientClass& clientClass);

// Marks every client idle for at least idleMs as paused and, with remove,
// drops the paused clients that are still idle from the list (a client a
// call still holds goes when that call lets go of it).
void SweepClients(TCustomParserClientList& list, uint64_t idleMs, bool remove);

}  // namespace corvane
