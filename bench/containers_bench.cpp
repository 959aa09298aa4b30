// Throughput of the shared containers: hash-list lookups against
// std::unordered_map, and FIFO writes and shifts in the pattern of a client
// receive buffer (host appends a packet, the script consumes it).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/fifo_stream.h"
#include "common/hash_list.h"

using namespace corvane;

namespace {

constexpr int kEntries = 10000;

struct Payload {
  int Value;
};

std::vector<uintptr_t> NumberKeys() {
  std::vector<uintptr_t> keys;
  std::mt19937 random(1);
  for (int i = 0; i < kEntries; ++i) keys.push_back(random());
  return keys;
}

std::vector<std::string> StringKeys() {
  std::vector<std::string> keys;
  for (int i = 0; i < kEntries; ++i) keys.push_back("client-" + std::to_string(i * 7919) + ".example:502");
  return keys;
}

// Lookups visit the keys in a shuffled order so that neither container
// profits from insertion order.
template <typename Key>
std::vector<Key> Shuffled(std::vector<Key> keys) {
  std::shuffle(keys.begin(), keys.end(), std::mt19937(2));
  return keys;
}

void BM_HashListFindNumber(benchmark::State& state) {
  const auto keys = NumberKeys();
  TkivPtrUIntObjectHashList<Payload> list;
  for (int i = 0; i < kEntries; ++i) list.Add(keys[i], new Payload{i});
  const auto probes = Shuffled(keys);
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Get(probes[next]));
    next = (next + 1) % probes.size();
  }
}
BENCHMARK(BM_HashListFindNumber);

void BM_UnorderedMapFindNumber(benchmark::State& state) {
  const auto keys = NumberKeys();
  std::unordered_map<uintptr_t, Payload> map;
  for (int i = 0; i < kEntries; ++i) map.emplace(keys[i], Payload{i});
  const auto probes = Shuffled(keys);
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(probes[next]));
    next = (next + 1) % probes.size();
  }
}
BENCHMARK(BM_UnorderedMapFindNumber);

void BM_HashListFindString(benchmark::State& state) {
  const auto keys = StringKeys();
  TkivStringHashListBase<Payload> list(true, state.range(0) != 0);
  for (int i = 0; i < kEntries; ++i) list.Add(keys[i], new Payload{i});
  const auto probes = Shuffled(keys);
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Get(probes[next]));
    next = (next + 1) % probes.size();
  }
}
// Argument: 1 case-sensitive, 0 case-insensitive (each lookup lower-cases).
BENCHMARK(BM_HashListFindString)->Arg(1)->Arg(0);

void BM_UnorderedMapFindString(benchmark::State& state) {
  const auto keys = StringKeys();
  std::unordered_map<std::string, Payload> map;
  for (int i = 0; i < kEntries; ++i) map.emplace(keys[i], Payload{i});
  const auto probes = Shuffled(keys);
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(probes[next]));
    next = (next + 1) % probes.size();
  }
}
BENCHMARK(BM_UnorderedMapFindString);

// One packet in, consumed whole: write then shift by the packet size.
void BM_FIFOWriteShift(benchmark::State& state) {
  const auto packet = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> data(packet, 0x5a);
  TFIFOStream stream(16384, 64, true);
  for (auto _ : state) {
    stream.Write(data.data(), packet);
    stream.Shift(packet);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * packet);
}
BENCHMARK(BM_FIFOWriteShift)->Arg(64)->Arg(1024)->Arg(8192);

// Packets that are never consumed: every write into the full stream shifts
// out old bytes first.
void BM_FIFOWriteWhileFull(benchmark::State& state) {
  const auto packet = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> data(packet, 0xa5);
  TFIFOStream stream(16384, 64, true);
  for (auto _ : state) stream.Write(data.data(), packet);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * packet);
}
BENCHMARK(BM_FIFOWriteWhileFull)->Arg(64)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
