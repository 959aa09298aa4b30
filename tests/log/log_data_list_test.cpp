#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "log/log_data_list.h"

using namespace corvane;

namespace {

std::string drainAll(TLogDataList& log) {
  std::string buffer(1 << 20, '\0');
  uint32_t length = 0;
  const int32_t copied = log.Drain(buffer.data(), static_cast<int32_t>(buffer.size()), length);
  EXPECT_EQ(static_cast<uint32_t>(copied), length);
  buffer.resize(static_cast<size_t>(copied));
  return buffer;
}

}  // namespace

TEST(LogLine, MarkerTitleAndLineBreaks) {
  EXPECT_EQ(EncodeLogLine(lkError, "", "boom", false), "\x01" "boom");
  EXPECT_EQ(EncodeLogLine(lkInformation, "Corvane", "a\r\nb", false), "\x03" "Corvane. a  b");
  EXPECT_EQ(EncodeLogLine(lkWarning, "T\nx", "m", true), std::string("\x82T\nx. m"))
      << "only the message loses its line breaks";
}

TEST(LogDataList, RepeatsCollapseWithTheirTotal) {
  TLogDataList log;
  const std::string noData = EncodeLogLine(lkWarning, "", "No data for processing", false);
  for (int i = 0; i < 3; ++i) log.Add(noData);
  log.Add(EncodeLogLine(lkError, "", "other", false));
  EXPECT_EQ(log.Count(), 2);
  EXPECT_EQ(drainAll(log), "\x02No data for processing x3\r\n\x01other\r\n");
  EXPECT_EQ(log.Count(), 0);
}

TEST(LogDataList, KindsAreNotCollapsedTogether) {
  TLogDataList log;
  log.Add(EncodeLogLine(lkWarning, "", "same", false));
  log.Add(EncodeLogLine(lkError, "", "same", false));
  EXPECT_EQ(drainAll(log), "\x02same\r\n\x01same\r\n");
}

TEST(LogDataList, PendingRunIsSuffixedOnceAcrossDrains) {
  TLogDataList log;
  const std::string line = EncodeLogLine(lkInformation, "", "tick", false);
  log.Add(line);
  log.Add(line);
  char small[4];
  uint32_t length = 0;
  EXPECT_EQ(log.Drain(small, sizeof small, length), 0);
  EXPECT_EQ(length, std::string("\x03tick x2\r\n").size()) << "the needed size is reported";
  EXPECT_EQ(log.Count(), 1) << "a too-small buffer keeps the lines";
  EXPECT_EQ(drainAll(log), "\x03tick x2\r\n");
  // The same line after a drain starts a new run.
  log.Add(line);
  EXPECT_EQ(drainAll(log), "\x03tick\r\n");
}

TEST(LogDataList, ZeroCapacityDiscardsButReportsLength) {
  TLogDataList log;
  log.Add(EncodeLogLine(lkError, "", "lost", false));
  uint32_t length = 0;
  EXPECT_EQ(log.Drain(nullptr, 0, length), 0);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(log.Count(), 0);
  EXPECT_EQ(log.Drain(nullptr, 0, length), 0);
  EXPECT_EQ(length, 0u);
}

TEST(LogDataList, OldestLinesGiveWay) {
  TLogDataList log(5);
  for (int i = 0; i < 6; ++i) log.Add(EncodeLogLine(lkInformation, "", std::to_string(i), false));
  EXPECT_EQ(drainAll(log), "\x03" "1\r\n\x03" "2\r\n\x03" "3\r\n\x03" "4\r\n\x03" "5\r\n");
  TLogDataList full;
  for (int i = 0; i <= DefaultLogLines; ++i) full.Add(std::to_string(i));
  EXPECT_EQ(full.Count(), DefaultLogLines);
  EXPECT_EQ(full.LockListRead().Strings(0), "1");
  full.UnlockListRead();
}

TEST(LogDataList, ConcurrentWritersAndDrainsLoseNothing) {
  TLogDataList log;
  constexpr int kThreads = 3;
  constexpr int kLines = 2000;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) log.Add("w" + std::to_string(t) + "-" + std::to_string(i));
    });
  }
  std::string collected;
  std::thread drainer([&] {
    for (int i = 0; i < 200; ++i) collected += drainAll(log);
  });
  for (auto& w : writers) w.join();
  drainer.join();
  collected += drainAll(log);
  size_t lines = 0;
  for (size_t pos = 0; (pos = collected.find("\r\n", pos)) != std::string::npos; pos += 2) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_NE(collected.find("w" + std::to_string(t) + "-" + std::to_string(kLines - 1) + "\r\n"), std::string::npos);
  }
}

TEST(LogDataList, NegativeCapacityKeepsTheLines) {
  TLogDataList log;
  log.Add(EncodeLogLine(lkError, "", "kept", false));
  char buffer[64];
  uint32_t length = 0;
  EXPECT_EQ(log.Drain(buffer, -1, length), 0);
  EXPECT_EQ(log.Count(), 1) << "a broken request is not a request to discard";
}
