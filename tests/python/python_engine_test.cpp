// The engine with a real Python runtime: starting, calling, errors, one
// engine per process, restarts and the interpreter lock across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/diagnostics.h"
#include "platform/thread.h"
#include "python/python_engine.h"
#include "python_test_support.h"

namespace corvane {
namespace {

using testing::TestEngine;

TEST(PythonEngine, RunsTheScriptAsMainAndCallsItsFunctions) {
  CORVANE_REQUIRE_PYTHON();
  TestEngine t({"import sys\r", "def Greet(name):\r", "    return 'hello ' + name\r", "Builtin = len",
                "class NotAFunction: pass", "callable_instance = NotAFunction()", "print('started', __name__)"});
  t.engine.LoadDll();
  ASSERT_TRUE(t.engine.Initialized());
  EXPECT_TRUE(t.engine.IsPython3000());
  EXPECT_EQ(t.engine.BuiltinModuleName(), "builtins");
  EXPECT_EQ(t.output, std::vector<std::string>{"started __main__"});
  EXPECT_EQ(t.CallText("Greet", {"world"}), "hello world");

  // Only functions and built-in functions count.
  EXPECT_TRUE(t.engine.FindFunction("Builtin"));
  EXPECT_FALSE(t.engine.FindFunction("NotAFunction"));
  EXPECT_FALSE(t.engine.FindFunction("callable_instance"));
  EXPECT_FALSE(t.engine.FindFunction("Missing"));
  EXPECT_EQ(t.engine.Api().PyErr_Occurred(), nullptr);

  // sys.argv starts with an empty element, and the script's folder rules
  // of a program run from a file apply.
  t.engine.ExecString("import sys\nprint(repr(sys.argv[0]), repr(sys.path[0]))\n");
  EXPECT_TRUE(t.Printed("'' ''"));
}

TEST(PythonEngine, SyntaxErrorNamesLineOffsetAndSource) {
  CORVANE_REQUIRE_PYTHON();
  {
  TestEngine t({"a = 1", "b = 2", "c = (1 +* 2)"});
  try {
    t.engine.LoadDll();
    FAIL() << "no error";
  } catch (const EPySyntaxError& error) {
    EXPECT_EQ(error.ELineNumber, 3);
    EXPECT_EQ(error.ELineText.substr(0, 12), "c = (1 +* 2)");
    EXPECT_EQ(std::string(error.what()), "SyntaxError: invalid syntax (line 3, offset " +
                                             std::to_string(error.EOffset) + "): 'c = (1 +* 2)'");
    EXPECT_GT(error.EOffset, 0);
  }
  // The failure inside initialisation keeps the library, and the traceback
  // went to the script's stderr.
  EXPECT_TRUE(t.engine.IsHandleValid());
  EXPECT_TRUE(t.Printed("SyntaxError"));
  }
  TestEngine indented({"if True:", "x = 1"});
  EXPECT_THROW(indented.engine.LoadDll(), EPyIndentationError);
}

TEST(PythonEngine, PythonErrorsBecomeTheirHostClassesWithTypeAndValue) {
  CORVANE_REQUIRE_PYTHON();
  TestEngine t({"class MyError(Exception): pass", "class Odd(BaseException): pass",
                "def Raise(kind):",
                "    if kind == 'key': {}['missing']",
                "    if kind == 'zero': 1 / 0",
                "    if kind == 'decode': b'\\xff'.decode('utf-8')",
                "    if kind == 'mine': raise MyError('mine')",
                "    if kind == 'odd': raise Odd()",
                "    if kind == 'bare': raise ValueError()",
                "    if kind == 'name': undefined_name",
                "    if kind == 'os': open('/nonexistent/folder/file')",
                "    if kind == 'warning': raise UserWarning('careful')"});
  t.engine.LoadDll();
  const auto message = [&](const char* kind) {
    try {
      t.Call("Raise", {kind});
    } catch (const EPythonError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("key"), "KeyError: 'missing'");
  EXPECT_THROW(t.Call("Raise", {"key"}), EPyKeyError);
  EXPECT_THROW(t.Call("Raise", {"zero"}), EPyZeroDivisionError);
  EXPECT_THROW(t.Call("Raise", {"decode"}), UnicodeDecodeError);
  EXPECT_THROW(t.Call("Raise", {"name"}), EPyNameError);
  EXPECT_THROW(t.Call("Raise", {"warning"}), EPyUserWarning);
  EXPECT_THROW(t.Call("Raise", {"os"}), EPyEnvironmentError);
  EXPECT_EQ(message("mine"), "MyError: mine");
  EXPECT_THROW(t.Call("Raise", {"mine"}), EPyException);
  EXPECT_EQ(message("bare"), "ValueError");
  try {
    t.Call("Raise", {"odd"});
    FAIL() << "no error";
  } catch (const EPyException&) {
    FAIL() << "a BaseException subclass is no Exception";
  } catch (const EPyExecError& error) {
    EXPECT_EQ(error.EName(), "Odd");
  }
  // Each traceback reached the script's stderr.
  EXPECT_TRUE(t.Printed("Traceback (most recent call last):"));
  EXPECT_TRUE(t.Printed("KeyError: 'missing'"));
  // The engine keeps working after errors.
  t.engine.ExecString("print('still here')");
  EXPECT_TRUE(t.Printed("still here"));
}

// sys.exit() must never end the host: the runtime's own error printing would
// end the process for SystemExit.
TEST(PythonEngine, SystemExitIsAnErrorNotTheEndOfTheHost) {
  CORVANE_REQUIRE_PYTHON();
  {
    TestEngine t({"import sys", "print('before')", "sys.exit(3)", "print('after')"});
    try {
      t.engine.LoadDll();
      FAIL() << "no error";
    } catch (const EPySystemExit& error) {
      EXPECT_EQ(std::string(error.what()), "SystemExit: 3");
    }
    EXPECT_TRUE(t.Printed("before"));
    EXPECT_FALSE(t.Printed("after"));
  }
  TestEngine t({"import sys", "def Quit(): sys.exit('bye')", "def Fine(): return 'fine'"});
  t.engine.LoadDll();
  EXPECT_THROW(t.Call("Quit"), EPySystemExit);
  EXPECT_EQ(t.CallText("Fine"), "fine");
  EXPECT_TRUE(t.Printed("SystemExit: bye"));
  // Nor through a replaced exception hook that exits.
  t.engine.ExecString("sys.excepthook = lambda *info: sys.exit(9)\ndef Fail(): raise ValueError('v')\n");
  EXPECT_THROW(t.Call("Fail"), EPyValueError);
  EXPECT_EQ(t.CallText("Fine"), "fine");
}

TEST(PythonEngine, ASecondEngineIsRefusedAndItsEndLeavesTheFirstWorking) {
  CORVANE_REQUIRE_PYTHON();
  TestEngine first({"import pyio", "def Echo(text):", "    print(text)", "    return text"});
  first.engine.LoadDll();
  ASSERT_TRUE(first.engine.Initialized());
  EXPECT_EQ(&GetPythonEngine(), &first.engine);
  {
    TestEngine second({"print('second script ran')"});
    try {
      second.engine.LoadDll();
      FAIL() << "no error";
    } catch (const Exception& error) {
      EXPECT_EQ(std::string(error.what()), "There is already one instance of TPythonEngine running");
    }
    EXPECT_FALSE(second.engine.Initialized());
    EXPECT_TRUE(second.engine.IsHandleValid());
  }
  EXPECT_EQ(&GetPythonEngine(), &first.engine);
  EXPECT_EQ(first.CallText("Echo", {"first still works"}), "first still works");
  EXPECT_TRUE(first.Printed("first still works"));
  EXPECT_FALSE(first.Printed("second script ran"));
}

TEST(PythonEngine, WithoutAnEngineTheProcessReferenceAndCallsFail) {
  try {
    GetPythonEngine();
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()), "No Python engine was created");
  }
  TkivPythonEngine engine;
  try {
    engine.CallFunction(nullptr, {});
    FAIL() << "no error";
  } catch (const EPythonError& error) {
    EXPECT_EQ(std::string(error.what()), "Python is not properly initialized");
  }
}

// A restart runs the new script from the top in a fresh interpreter: no
// name, module or state of the old script remains.
TEST(PythonEngine, ARestartStartsAFreshInterpreter) {
  CORVANE_REQUIRE_PYTHON();
  const std::vector<std::string> firstScript = {
      "import sys, json, _json, datetime", "sys.corvane_marker = 'old'", "old_name = 1",
      "counter = 0", "def Count():", "    global counter", "    counter += 1", "    return str(counter)"};
  {
    TestEngine t(firstScript);
    t.engine.LoadDll();
    EXPECT_EQ(t.CallText("Count"), "1");
    EXPECT_EQ(t.CallText("Count"), "2");
  }
  {
    TestEngine t({"import sys", "def State():",
                  "    return '%s %s %s' % (hasattr(sys, 'corvane_marker'), 'old_name' in globals(), 'json' in sys.modules)"});
    t.engine.LoadDll();
    EXPECT_EQ(t.CallText("State"), "False False False");
    EXPECT_FALSE(t.engine.FindFunction("Count"));
  }
  // The old script again, now ended from another thread than the one that
  // started it: it runs from the top once more.
  auto t = std::make_unique<TestEngine>(firstScript);
  t->engine.LoadDll();
  EXPECT_EQ(t->CallText("Count"), "1");
  py::PyThreadState* saved = t->engine.SaveThread();
  EXPECT_NE(saved, nullptr);
  std::thread([&] { t.reset(); }).join();
  TestEngine again(firstScript);
  again.engine.LoadDll();
  EXPECT_EQ(again.CallText("Count"), "1");
}

// Calls come from any host thread: each gets a thread state of its own.
TEST(PythonEngine, TheLockServesCallsFromManyThreads) {
  CORVANE_REQUIRE_PYTHON();
  TestEngine t({"import threading", "seen = set()", "calls = 0", "def Work(tag):", "    global calls",
                "    calls += 1", "    seen.add(threading.get_ident())", "    return tag",
                "def Summary():", "    return '%d %d' % (calls, len(seen))"});
  t.engine.LoadDll();
  py::PyThreadState* saved = t.engine.SaveThread();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < 25; ++n) {
        const py::PyGILState_STATE outer = t.engine.Lock();
        const py::PyGILState_STATE inner = t.engine.Lock();  // nested on the same thread
        try {
          if (t.CallText("Work", {std::to_string(i)}) != std::to_string(i)) ++failures;
        } catch (...) {
          ++failures;
        }
        t.engine.Unlock(inner);
        t.engine.Unlock(outer);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  t.engine.RestoreThread(saved);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(t.CallText("Summary"), "100 4");
}

TEST(PythonEngine, LoadFailuresNameTheLibraryAndLeaveNone) {
  std::vector<std::string> boxes;
  platform::setMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t flags) {
    boxes.push_back(std::string(caption) + "|" + std::string(text) + "|" + std::to_string(flags));
    return platform::kIdOk;
  });
  platform::testing::ScratchFolder folder;
  {
    TkivPythonEngine engine;
    engine.DllPath = folder.path();
    engine.DllName = "python39.dll";
    engine.LoadDll();
    EXPECT_FALSE(engine.IsHandleValid());
    EXPECT_EQ(engine.RegVersion, "3.9");
    EXPECT_EQ(engine.LastLoadError(), "Error 126: Could not open Dll \"python39.dll\"");
  }
  {
    // A library without the runtime's names: the first missing one is named.
    const std::string library = platform::testing::windowsPlatform()
                                    ? std::string("kernel32.dll")
                                    : platform::moduleFileNameOfAddress(reinterpret_cast<const void*>(&platform::fileExists));
    TkivPythonEngine engine;
    const size_t slash = library.find_last_of("/\\");
    engine.DllPath = slash == std::string::npos ? std::string() : library.substr(0, slash);
    engine.DllName = slash == std::string::npos ? library : library.substr(slash + 1);
    engine.LoadDll();
    EXPECT_FALSE(engine.IsHandleValid());
    EXPECT_EQ(engine.LastLoadError(), "Error 127: could not map symbol \"Py_Initialize\"");
    // A name without "python" tells no version.
    EXPECT_EQ(engine.RegVersion, "");
    EXPECT_EQ(engine.MajorVersion(), 2);
    EXPECT_EQ(engine.MinorVersion(), 7);
  }
  platform::setMessageBoxHook(nullptr);
  const std::string flags = std::to_string(platform::kMbIconError | platform::kMbTaskModal);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "Error|Error 126: Could not open Dll \"python39.dll\"|" + flags);
  EXPECT_EQ(boxes[1], "Error|Error 127: could not map symbol \"Py_Initialize\"|" + flags);
}

}  // namespace
}  // namespace corvane
