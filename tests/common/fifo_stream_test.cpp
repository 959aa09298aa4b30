#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "common/exceptions.h"
#include "common/fifo_stream.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes whose value tells their position, so a misplaced run shows.
Bytes Numbered(size_t count, uint8_t salt = 0) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i ^ (i >> 8)) + salt);
  return bytes;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) { return Bytes(bytes.begin() + from, bytes.begin() + to); }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Contents(TFIFOStream& stream) {
  const uint8_t* data = stream.LockDataForRead();
  Bytes bytes(data, data + stream.DataSize());
  stream.UnlockRead();
  return bytes;
}

void WriteBytes(TFIFOStream& stream, const Bytes& bytes) {
  stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace

TEST(FIFOStream, WriteThatExactlyFillsKeepsEverything) {
  TFIFOStream stream(256, 64, true);
  EXPECT_EQ(stream.DataSize(), 0);
  EXPECT_EQ(stream.FreeSpace(), 256);
  const Bytes first = Numbered(200);
  const Bytes rest = Numbered(56, 7);
  WriteBytes(stream, first);
  WriteBytes(stream, rest);
  EXPECT_EQ(stream.DataSize(), 256);
  EXPECT_EQ(stream.FreeSpace(), 0);
  EXPECT_EQ(Contents(stream), Concat(first, rest));
}

TEST(FIFOStream, OverlongWriteIntoEmptyStreamKeepsNewestBytes) {
  TFIFOStream stream(16384, 64, true);
  const Bytes input = Numbered(16394);
  WriteBytes(stream, input);
  // The first round fills the stream, the second makes room for the last
  // ten bytes by dropping MinShift (64) bytes.
  EXPECT_EQ(stream.DataSize(), 16330);
  EXPECT_EQ(Contents(stream), Slice(input, 64, 16394));
}

TEST(FIFOStream, MakingRoomDropsAtLeastMinShift) {
  TFIFOStream stream(140, 64, true);
  const Bytes stored = Numbered(100);
  const Bytes added = Numbered(50, 99);
  WriteBytes(stream, stored);
  ASSERT_EQ(stream.FreeSpace(), 40);
  WriteBytes(stream, added);
  EXPECT_EQ(stream.DataSize(), 86);
  EXPECT_EQ(Contents(stream), Concat(Slice(stored, 64, 100), added));
}

TEST(FIFOStream, DataSeveralTimesTheCapacityGoesInRounds) {
  TFIFOStream stream(100, 64, true);
  const Bytes old = Numbered(30, 200);
  const Bytes input = Numbered(250);
  WriteBytes(stream, old);
  WriteBytes(stream, input);
  // Rounds: drop 180 (all 30 old) and take 0..99; drop 150 (all) and take
  // 100..199; drop max(50, 64) = 64 (keeping 164..199) and take 200..249.
  EXPECT_EQ(Contents(stream), Slice(input, 164, 250));

  TFIFOStream large(100, 64, true);
  const Bytes many = Numbered(1000);
  WriteBytes(large, many);
  EXPECT_EQ(Contents(large), Slice(many, 900, 1000));
}

TEST(FIFOStream, ShiftDropsOldestBytes) {
  TFIFOStream stream(64, 8, true);
  const Bytes input = Numbered(40);
  WriteBytes(stream, input);

  stream.Shift(0);
  EXPECT_EQ(Contents(stream), input);
  stream.Shift(-5);
  EXPECT_EQ(Contents(stream), input);
  stream.Shift(15);
  EXPECT_EQ(Contents(stream), Slice(input, 15, 40));
  EXPECT_EQ(stream.FreeSpace(), 39);

  stream.Shift(1000);
  EXPECT_EQ(stream.DataSize(), 0);
  EXPECT_EQ(stream.FreeSpace(), 64);

  WriteBytes(stream, input);
  stream.Clear();
  EXPECT_EQ(stream.DataSize(), 0);
  WriteBytes(stream, Numbered(3, 1));
  EXPECT_EQ(Contents(stream), Numbered(3, 1));
}

// Long runs of writes and shifts of every size, against a plain queue that
// drops the oldest bytes the same way: the stored run moves inside the
// buffer, and no move may lose, repeat or reorder a byte.
TEST(FIFOStream, LongRunsKeepTheNewestBytesInOrder) {
  for (const bool autoShift : {true, false}) {
    std::mt19937 random(autoShift ? 7 : 8);
    TFIFOStream stream(100, 7, autoShift);
    std::deque<uint8_t> model;
    uint8_t next = 0;
    for (int step = 0; step < 5000; ++step) {
      if (random() % 3 != 0) {
        Bytes data(random() % 130);
        for (uint8_t& byte : data) byte = next++;
        const size_t room = 100 - model.size();
        if (!autoShift && data.size() > room) {
          EXPECT_THROW(WriteBytes(stream, data), EFIFOStream);
        } else {
          WriteBytes(stream, data);
          for (size_t at = 0; at < data.size();) {
            if (model.size() == 100 || 100 - model.size() < data.size() - at) {
              const size_t drop = std::max<size_t>(data.size() - at - (100 - model.size()), 7);
              model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(std::min(drop, model.size())));
            }
            const size_t chunk = std::min(data.size() - at, 100 - model.size());
            model.insert(model.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                         data.begin() + static_cast<std::ptrdiff_t>(at + chunk));
            at += chunk;
          }
        }
      } else {
        const size_t count = random() % 60;
        stream.Shift(static_cast<int32_t>(count));
        if (autoShift) model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(std::min(count, model.size())));
      }
      ASSERT_EQ(Contents(stream), Bytes(model.begin(), model.end())) << "step " << step;
      ASSERT_EQ(stream.FreeSpace(), static_cast<int32_t>(100 - model.size()));
    }
  }
}

TEST(FIFOStream, WithoutAutoShiftNothingIsDropped) {
  TFIFOStream stream(50, 10, false);
  const Bytes input = Numbered(30);
  WriteBytes(stream, input);
  stream.Shift(10);
  EXPECT_EQ(Contents(stream), input);

  const Bytes tooLong = Numbered(21, 5);
  try {
    WriteBytes(stream, tooLong);
    FAIL() << "an over-long write must fail";
  } catch (const EFIFOStream& error) {
    EXPECT_STREQ(error.what(), "Buffer over-run.");
  }
  EXPECT_EQ(Contents(stream), input);
  // A write that fits still works, up to the last byte.
  const Bytes fits = Numbered(20, 9);
  WriteBytes(stream, fits);
  EXPECT_EQ(Contents(stream), Concat(input, fits));
  EXPECT_THROW(WriteBytes(stream, Numbered(1)), EFIFOStream);
}

TEST(FIFOStream, DegenerateSizes) {
  EXPECT_THROW(TFIFOStream(-1, 64, true), EAssertionFailed);

  // A zero-capacity stream can never make room; its writes must end.
  TFIFOStream empty(0, 64, true);
  WriteBytes(empty, Numbered(10));
  EXPECT_EQ(empty.DataSize(), 0);
  TFIFOStream strict(0, 64, false);
  EXPECT_THROW(WriteBytes(strict, Numbered(1)), EFIFOStream);

  // MinShift below 1 still makes exactly the room needed.
  TFIFOStream noMinimum(10, -3, true);
  const Bytes input = Numbered(12);
  WriteBytes(noMinimum, Slice(input, 0, 8));
  WriteBytes(noMinimum, Slice(input, 8, 12));
  EXPECT_EQ(Contents(noMinimum), Slice(input, 2, 12));

  TFIFOStream stream(10, 4, true);
  WriteBytes(stream, Numbered(4));
  stream.Write(nullptr, 0);
  stream.Write(nullptr, -7);
  EXPECT_EQ(Contents(stream), Numbered(4));
}

TEST(FIFOStream, LockDataExcludesWritersUntilReleased) {
  TFIFOStream stream(64, 8, true);
  WriteBytes(stream, Numbered(10));
  uint8_t* data = stream.LockData();
  // The holder may use the other operations; they nest in its lock.
  EXPECT_EQ(stream.DataSize(), 10);
  stream.Shift(2);
  EXPECT_EQ(data[0], Numbered(10)[2]);

  std::atomic<bool> written{false};
  std::thread writer([&] {
    WriteBytes(stream, Numbered(5, 50));
    written = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(written);
  EXPECT_EQ(stream.DataSize(), 8);
  stream.UnlockWrite();
  writer.join();
  EXPECT_EQ(stream.DataSize(), 13);
  EXPECT_THROW(stream.UnlockWrite(), EAssertionFailed);
}

TEST(FIFOStream, ReadersShareTheLockAndWritersWait) {
  TFIFOStream stream(64, 8, true);
  WriteBytes(stream, Numbered(10));
  const uint8_t* data = stream.LockDataForRead();

  std::atomic<bool> otherRead{false};
  std::thread reader([&] {
    const uint8_t* seen = stream.LockDataForRead();
    otherRead = seen == data && stream.DataSize() == 10;
    stream.UnlockRead();
  });
  reader.join();
  EXPECT_TRUE(otherRead);

  std::atomic<bool> shifted{false};
  std::thread shifter([&] {
    stream.Shift(4);
    shifted = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(shifted);
  EXPECT_EQ(Bytes(data, data + 10), Numbered(10));
  stream.UnlockRead();
  shifter.join();
  EXPECT_EQ(Contents(stream), Slice(Numbered(10), 4, 10));
}

namespace {

// A record: writer id, sequence number, then bytes derived from both, so a
// record torn apart by another write or a lost byte is detected.
constexpr size_t kRecordSize = 16;

Bytes MakeRecord(uint8_t writer, uint32_t sequence) {
  Bytes record(kRecordSize);
  record[0] = writer;
  std::memcpy(&record[1], &sequence, sizeof sequence);
  for (size_t i = 5; i < kRecordSize; ++i) record[i] = static_cast<uint8_t>(writer * 31 + sequence + i);
  return record;
}

}  // namespace

TEST(FIFOStream, ConcurrentWritersLoseNoRecord) {
  constexpr uint32_t kRecords = 20000;
  // Room for everything, so the writers never drop what the reader has not
  // taken yet.
  TFIFOStream stream(static_cast<int32_t>(2 * kRecords * kRecordSize), 64, true);

  std::atomic<int> writersDone{0};
  auto writeAll = [&](uint8_t writer) {
    for (uint32_t sequence = 0; sequence < kRecords; ++sequence) WriteBytes(stream, MakeRecord(writer, sequence));
    ++writersDone;
  };

  uint32_t expected[2] = {0, 0};
  size_t torn = 0;
  auto drain = [&] {
    uint8_t* data = stream.LockData();
    const int32_t whole = stream.DataSize() / static_cast<int32_t>(kRecordSize) * static_cast<int32_t>(kRecordSize);
    for (int32_t offset = 0; offset < whole; offset += kRecordSize) {
      const uint8_t writer = data[offset];
      uint32_t sequence = 0;
      std::memcpy(&sequence, data + offset + 1, sizeof sequence);
      if (writer > 1 || sequence != expected[writer] ||
          Bytes(data + offset, data + offset + kRecordSize) != MakeRecord(writer, sequence)) {
        ++torn;
        continue;
      }
      ++expected[writer];
    }
    stream.Shift(whole);
    stream.UnlockWrite();
  };

  std::thread first(writeAll, 0);
  std::thread second(writeAll, 1);
  while (writersDone < 2) {
    drain();
    std::this_thread::yield();
  }
  first.join();
  second.join();
  drain();

  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(expected[0], kRecords);
  EXPECT_EQ(expected[1], kRecords);
  EXPECT_EQ(stream.DataSize(), 0);
}

TEST(FIFOStream, ReaderUnderSharedLockSeesWholeRecordsOnly) {
  // Records of 16 equal bytes, counting up; a full stream drops exactly one
  // record (MinShift 16), so the stored data is always whole, consecutive
  // records unless a reader could watch a write in progress.
  TFIFOStream stream(64 * kRecordSize, kRecordSize, true);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (uint32_t sequence = 0; sequence < 20000; ++sequence) {
      WriteBytes(stream, Bytes(kRecordSize, static_cast<uint8_t>(sequence)));
    }
    done = true;
  });

  size_t checks = 0;
  size_t broken = 0;
  while (!done || checks == 0) {
    const uint8_t* data = stream.LockDataForRead();
    const int32_t size = stream.DataSize();
    if (size % kRecordSize != 0) ++broken;
    for (int32_t offset = 0; offset + static_cast<int32_t>(kRecordSize) <= size; offset += kRecordSize) {
      for (size_t i = 1; i < kRecordSize; ++i) broken += data[offset + i] != data[offset];
      if (offset > 0 && data[offset] != static_cast<uint8_t>(data[offset - 1] + 1)) ++broken;
    }
    stream.UnlockRead();
    ++checks;
  }
  writer.join();
  EXPECT_EQ(broken, 0u);
  const Bytes last = Contents(stream);
  ASSERT_EQ(last.size(), 64 * kRecordSize);
  EXPECT_EQ(last.back(), static_cast<uint8_t>(19999));
}
