// Stopping an engine whose script started threads: the stop never hangs,
// threads that see the request end before the interpreter does, and an
// interpreter whose threads cannot be stopped is left running until a later
// start finds them ended.
//
// These run after the other engine suites of this executable (files are
// built in name order): a failure here may leave an abandoned interpreter in
// the process, which each test ends before it returns when it can.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/scratch_folder.h"
#include "platform/thread.h"
#include "python/python_engine.h"
#include "python_test_support.h"

namespace corvane {
namespace {

using testing::TestEngine;

// A stop that takes this long hangs; the tests do not measure speed.
constexpr uint64_t kHangBoundMs = 15000;

template <class Step>
uint64_t millisecondsOf(Step step) {
  const uint64_t start = platform::tickCount64();
  step();
  return platform::tickCount64() - start;
}

// Starts an engine, retrying while an earlier interpreter still runs.
std::unique_ptr<TestEngine> startOnceFree(const std::vector<std::string>& script) {
  const uint64_t deadline = platform::tickCount64() + kHangBoundMs;
  for (;;) {
    auto t = std::make_unique<TestEngine>(script);
    try {
      t->engine.LoadDll();
      return t;
    } catch (const Exception&) {
      if (platform::tickCount64() >= deadline) throw;
    }
    platform::sleepMs(50);
  }
}

// A path as a Python string literal.
std::string literal(const std::string& path) { return "r'" + path + "'"; }

// Creates a file when the scope ends (the signal a test script waits for),
// so that a failing test still lets its script's threads go.
class FlagFile {
 public:
  explicit FlagFile(std::string path) : path_(std::move(path)) {}
  ~FlagFile() { Raise(); }
  void Raise() { std::ofstream(path_) << "go"; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const std::vector<std::string> kFreshScript = {
    "import sys, _thread", "def State():",
    "    return '%d %s' % (_thread._count(), hasattr(sys, 'corvane_old'))"};

struct ThreadKind {
  const char* name;
  std::vector<std::string> script;
  bool stopFromAnotherThread;
};

TEST(ScriptThreads, ThreadsThatSeeTheRequestStopBeforeTheInterpreterEnds) {
  CORVANE_REQUIRE_PYTHON();
  const std::vector<std::string> loop = {"import sys, threading, _thread, time", "sys.corvane_old = True",
                                         "def loop():", "    while True: time.sleep(0.05)",
                                         "def Running(): return str(_thread._count())"};
  const auto with = [&](std::vector<std::string> start) {
    std::vector<std::string> script = loop;
    script.insert(script.end(), start.begin(), start.end());
    return script;
  };
  const ThreadKind kinds[] = {
      {"non-daemon thread", with({"threading.Thread(target=loop).start()"}), false},
      {"non-daemon thread, stopped from another thread", with({"threading.Thread(target=loop).start()"}), true},
      {"daemon thread", with({"threading.Thread(target=loop, daemon=True).start()"}), false},
      {"thread of the _thread module",
       with({"started = _thread.allocate_lock()", "started.acquire()",
             "def raw():", "    started.release()", "    loop()",
             "_thread.start_new_thread(raw, ())", "started.acquire()"}),
       false},
      {"timer", with({"threading.Timer(60, print, ('late',)).start()"}), false},
      {"threads started by a thread",
       with({"def starter():", "    for i in range(3): threading.Thread(target=loop).start()", "    loop()",
             "threading.Thread(target=starter).start()", "time.sleep(0.1)"}),
       true},
  };
  for (const ThreadKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    auto t = std::make_unique<TestEngine>(kind.script);
    t->engine.LoadDll();
    ASSERT_TRUE(t->engine.Initialized());
    EXPECT_NE(t->CallText("Running"), "0");
    const uint64_t took = millisecondsOf([&] {
      if (kind.stopFromAnotherThread) {
        py::PyThreadState* saved = t->engine.SaveThread();
        EXPECT_NE(saved, nullptr);
        std::thread([&] { t->engine.UnloadDll(); }).join();
      } else {
        t->engine.UnloadDll();
      }
    });
    EXPECT_LT(took, kHangBoundMs);
    EXPECT_EQ(t->engine.StopReport(), "");
    EXPECT_FALSE(t->engine.IsHandleValid());
    t.reset();

    // The next start is immediate and fresh.
    TestEngine next(kFreshScript);
    next.engine.LoadDll();
    ASSERT_TRUE(next.engine.Initialized());
    EXPECT_EQ(next.CallText("State"), "0 False");
  }
}

// A thread waiting on an event cannot be interrupted, and one that catches
// SystemExit goes on: the interpreter stays until both have ended.
TEST(ScriptThreads, AnInterpreterWithThreadsThatDoNotStopIsLeftUntilTheyEnd) {
  CORVANE_REQUIRE_PYTHON();
  platform::testing::ScratchFolder folder;
  FlagFile release(folder / "release");
  auto t = std::make_unique<TestEngine>(std::vector<std::string>{
      "import os, sys, threading, time", "sys.corvane_old = True", "blocker = threading.Event()",
      "def blocked(): blocker.wait()",
      "def stubborn():",
      "    while True:",
      "        try:",
      "            while not os.path.exists(" + literal(release.Path()) + "): time.sleep(0.02)",
      "            blocker.set()",
      "            return",
      "        except SystemExit:",
      "            pass",
      "threading.Thread(target=blocked).start()", "threading.Thread(target=stubborn, daemon=True).start()"});
  t->engine.ThreadStopWaitMs = 300;
  t->engine.LoadDll();
  ASSERT_TRUE(t->engine.Initialized());

  EXPECT_LT(millisecondsOf([&] { t->engine.UnloadDll(); }), kHangBoundMs);
  EXPECT_EQ(t->engine.StopReport(), "2 script threads did not stop; the Python runtime stays loaded");
  EXPECT_FALSE(t->engine.Initialized());
  try {
    GetPythonEngine();
    ADD_FAILURE() << "no error";
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()), "No Python engine was created");
  }
  EXPECT_LT(millisecondsOf([&] { t.reset(); }), kHangBoundMs);

  // Refused while the threads run, with the reason.
  {
    TestEngine refused({"print('ran')"});
    try {
      refused.engine.LoadDll();
      ADD_FAILURE() << "no error";
    } catch (const Exception& error) {
      EXPECT_EQ(std::string(error.what()),
                "There is already one instance of TPythonEngine running: an earlier script's interpreter, "
                "left running because 2 script threads did not stop");
    }
    EXPECT_FALSE(refused.engine.Initialized());
    EXPECT_FALSE(refused.Printed("ran"));
  }

  // Once they have ended, a start ends that interpreter and runs fresh.
  release.Raise();
  std::unique_ptr<TestEngine> next = startOnceFree(kFreshScript);
  EXPECT_EQ(next->CallText("State"), "0 False");
}

// A request reaches a sleeping thread only when its sleep ends: the
// interpreter waits, alive, for that, and the thread then stops at once.
TEST(ScriptThreads, ASleepingThreadStopsWhenItWakesInTheLeftInterpreter) {
  CORVANE_REQUIRE_PYTHON();
  platform::testing::ScratchFolder folder;
  const std::string woke = folder / "woke";
  auto t = std::make_unique<TestEngine>(std::vector<std::string>{
      "import threading, time",
      "def sleeper():", "    time.sleep(1.5)", "    open(" + literal(woke) + ", 'w').close()",
      "threading.Thread(target=sleeper).start()"});
  t->engine.ThreadStopWaitMs = 100;
  t->engine.LoadDll();
  // Stopped from another thread, which lets go of a thread state of its own.
  EXPECT_NE(t->engine.SaveThread(), nullptr);
  std::thread([&] { t->engine.UnloadDll(); }).join();
  EXPECT_EQ(t->engine.StopReport(), "1 script thread did not stop; the Python runtime stays loaded");
  t.reset();
  {
    TestEngine early;
    EXPECT_THROW(early.engine.LoadDll(), Exception);
  }

  std::unique_ptr<TestEngine> next = startOnceFree(kFreshScript);
  EXPECT_EQ(next->CallText("State"), "0 False");
  EXPECT_FALSE(std::ifstream(woke).good()) << "the thread ran on after its sleep";
}

}  // namespace
}  // namespace corvane
