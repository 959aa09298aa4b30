// Script output: cutting into lines, the bounded queue, delivery on the
// creating thread, and the streams of a running script.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/message_window.h"
#include "platform/thread.h"
#include "python/python_io.h"
#include "python_test_support.h"

namespace corvane {
namespace {

struct Collected {
  std::vector<std::string> lines;
  std::vector<uint32_t> threads;
  void attach(TPythonInputOutput& io) {
    io.OnSendData = [this](TPythonInputOutput&, std::string_view text) {
      lines.emplace_back(text);
      threads.push_back(platform::currentThreadId());
    };
  }
};

TEST(ScriptOutput, LinesEndAtLineFeedsAndControlCharactersAreDropped) {
  TPythonInputOutput io;
  Collected out;
  out.attach(io);
  io.Write(u"a\r\nb");
  EXPECT_EQ(out.lines, std::vector<std::string>{"a"});
  io.Write(u"\t\x01" u"c\n\n");  // the unfinished line continues; an empty line is delivered too
  EXPECT_EQ(out.lines, (std::vector<std::string>{"a", "b\tc", ""}));

  io.SetRawOutput(true);
  io.Write(u"x\ny");
  EXPECT_EQ(out.lines.back(), "x\ny");
}

TEST(ScriptOutput, LongTextIsCutAfterTheMaximumLength) {
  TPythonInputOutput io;
  Collected out;
  out.attach(io);
  io.Write(std::u16string(600, u'x'));
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[0].size(), 257u);
  EXPECT_EQ(out.lines[1].size(), 257u);
  io.Write(u"\n");
  ASSERT_EQ(out.lines.size(), 3u);
  EXPECT_EQ(out.lines[2].size(), 86u);
}

TEST(ScriptOutput, EachThreadHasItsOwnUnfinishedLine) {
  TPythonInputOutput io;
  Collected out;
  out.attach(io);
  io.Write(u"main ");
  std::thread([&] { io.Write(u"other "); }).join();
  io.Write(u"line\n");
  std::thread([&] { io.Write(u"again\n"); }).join();
  // Thread ids may be reused by a new thread; a reused id continues its line.
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[0], "main line");
  EXPECT_TRUE(out.lines[1] == "other again" || out.lines[1] == "again") << out.lines[1];

  TPythonInputOutput wide;
  wide.SetUnicodeIO(true);
  std::u16string received;
  wide.OnSendUniData = [&](TPythonInputOutput&, std::u16string_view text) { received = text; };
  wide.Write(u"\u20ac\U0001F600\n");
  EXPECT_EQ(received, u"\u20ac\U0001F600");
}

TEST(ScriptOutput, DelayedLinesKeepTheNewestThousandAndArriveOnTheCreatingThread) {
  TPythonGUIInputOutput io;
  io.SetDelayWrites(true);
  Collected out;
  out.attach(io);
  std::thread([&] {
    for (int i = 0; i < 1500; ++i) {
      const std::string text = "line " + std::to_string(i) + "\n";
      io.Write(std::u16string(text.begin(), text.end()));
    }
  }).join();
  EXPECT_TRUE(out.lines.empty()) << "nothing arrives before the creating thread pumps";
  EXPECT_EQ(io.QueuedLines(), 1000);
  while (platform::pumpMessages() > 0) {
  }
  ASSERT_EQ(out.lines.size(), 1000u);
  EXPECT_EQ(out.lines.front(), "line 500");
  EXPECT_EQ(out.lines.back(), "line 1499");
  for (uint32_t thread : out.threads) ASSERT_EQ(thread, platform::currentThreadId());
  EXPECT_EQ(io.QueuedLines(), 0);
  EXPECT_FALSE(io.WriteOutput());
}

TEST(ScriptOutput, ARedirectorFreedFromAnotherThreadDeliversNothingMore) {
  std::atomic<int> delivered{0};
  std::unique_ptr<TPythonGUIInputOutput> io;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable created;
  std::thread owner([&] {
    {
      std::lock_guard lock(mutex);
      io = std::make_unique<TPythonGUIInputOutput>();
      io->SetDelayWrites(true);
      io->OnSendData = [&](TPythonInputOutput&, std::string_view) { ++delivered; };
    }
    created.notify_all();
    while (!stop) platform::waitMessage(20), platform::pumpMessages();
  });
  {
    std::unique_lock lock(mutex);
    created.wait(lock, [&] { return io != nullptr; });
  }
  // Queued lines whose notifications the owner has not handled yet.
  for (int i = 0; i < 200; ++i) io->Write(u"x\n");
  io.reset();
  const int atDestruction = delivered;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  owner.join();
  EXPECT_EQ(delivered, atDestruction);
}

TEST(ScriptOutput, AScriptsStreamsReachTheRedirector) {
  CORVANE_REQUIRE_PYTHON();
  testing::TestEngine t({"import sys, pyio", "print('a\\r\\nb')", "sys.stderr.write('to stderr\\n')",
                         "line = sys.stdin.readline()", "print('read %r' % line)", "print('no line feed', end='')"});
  t.engine.RegisterTypeStats([] { return std::vector<TTypeStats>{{"kivParamsList", 2, 5, 3}}; });
  t.engine.RegisterTypeStats([] { return std::vector<TTypeStats>{{"FIFOStream", 0, 1, 1}}; });
  t.engine.LoadDll();
  EXPECT_EQ(t.output, (std::vector<std::string>{"a", "b", "to stderr", "read ''"}));
  t.engine.ExecString("print(' and then')");
  EXPECT_EQ(t.output.back(), "no line feed and then");

  t.engine.ExecString(
      "print(pyio.GetTypesStats())\n"
      "print(pyio.GetTypesStats('FIFOStream'))\n"
      "print(pyio.write.__doc__)\n"
      "print(pyio.GetTypesStats.__doc__)\n"
      "try:\n  pyio.write()\nexcept TypeError as e:\n  print('TypeError')\n"
      "pyio.SetMaxLines(3)\npyio.SetDelayWrites(1)\n");
  const size_t n = t.output.size();
  EXPECT_EQ(t.output[n - 5], "[('kivParamsList', 2, 5, 3), ('FIFOStream', 0, 1, 1)]");
  EXPECT_EQ(t.output[n - 4], "[('FIFOStream', 0, 1, 1)]");
  EXPECT_EQ(t.output[n - 3], "write(String) -> None");
  EXPECT_EQ(t.output[n - 2],
            "GetTypesStats( [type name] ) -> a list of tuple (TypeName, InstanceCount, CreateHits, DeleteHits)");
  EXPECT_EQ(t.output[n - 1], "TypeError");
  EXPECT_EQ(t.io.MaxLines(), 3);
  EXPECT_TRUE(t.io.DelayWrites());
}

}  // namespace
}  // namespace corvane
