// TaPlugin: starting and stopping the script's engine, and its output.
#include <atomic>

#include "bindings/gil.h"
#include "bindings/params_list_type.h"
#include "platform/files.h"
#include "platform/os_error.h"
#include "plugin/plugin_library.h"
#include "python/python_runtime.h"
#include "script_host/plugin_functions.h"
#include "script_host/ta_plugin.h"

namespace corvane {

namespace {

// The position just after the last path delimiter, 0 when there is none.
size_t fileNameStart(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::isPathDelimiter(path[i - 1])) return i;
  }
  return 0;
}

std::string withTrailingDelimiter(std::string folder) {
  if (!folder.empty() && !platform::isPathDelimiter(folder.back())) folder += platform::pathDelimiter();
  return folder;
}

std::vector<std::string> scriptLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

// The library-release request ends the interpreter the instances shared
// (once none is left); asked for whenever an engine starts, at most once
// between two releases.
std::atomic<bool> releaseEndsRuntime{false};

void endRuntimeOnRelease() {
  if (releaseEndsRuntime.exchange(true)) return;
  if (PluginLibrary* library = PluginLibrary::Current()) {
    library->AddReleaseCallback([] {
      releaseEndsRuntime = false;
      EndSharedRuntime();
    });
  }
}

}  // namespace

bool TaPlugin::EngineRunning() const {
  std::lock_guard lock(ScriptLock());
  return engine_ != nullptr;
}

std::string TaPlugin::RuntimePath() const {
  std::lock_guard lock(ScriptLock());
  return runtimeFolder_ + runtimeFileName_;
}

bool TaPlugin::ChooseRuntime(TkivPythonEngine& engine) {
  const std::string option = DllOption();
  if (!option.empty()) {
    const size_t cut = fileNameStart(option);
    runtimeFileName_ = option.substr(cut);
    runtimeFolder_ = cut > 0 ? withTrailingDelimiter(option.substr(0, cut)) : std::string();
    engine.DllName = runtimeFileName_;
    engine.UseLastKnownVersion = false;
    engine.DllPath = runtimeFolder_;
    engine.APIVersion = 1013;
    return true;
  }
  if (platform::fileExists(ModulePath() + "python32.dll")) {
    engine.DllName = "python32.dll";
    engine.UseLastKnownVersion = false;
    engine.DllPath = runtimeFolder_;
    engine.APIVersion = 1013;
    runtimeFileName_ = "python32.dll";
    return true;
  }
  runtimeFolder_.clear();
  runtimeFileName_.clear();
  for (const TPythonVersion& version : GetRegisteredPythonVersions()) {
    if (!version.IsRegistered) continue;
    runtimeFolder_ = withTrailingDelimiter(version.DLLPath);
    runtimeFileName_ = version.DLLName();
    version.AssignTo(engine);
    return true;
  }
  return false;
}

void TaPlugin::StartEngine() {
  if (engine_) return;
  auto engine = std::make_unique<TkivPythonEngine>();
  runtimeFolder_ = ModulePath();
  ChooseRuntime(*engine);
  if (runtimeFolder_.empty() || !platform::fileExists(runtimeFolder_ + runtimeFileName_)) {
    AddLog(lkError, texts_.Text(txNoRuntime));
    return;
  }
  // Every instance of the process runs in the one interpreter the first
  // started: one runtime library per process.
  if (const std::string conflict = SharedRuntimeConflict(runtimeFolder_ + runtimeFileName_); !conflict.empty()) {
    AddLog(lkError, conflict);
    return;
  }

  auto io = std::make_shared<TPythonGUIInputOutput>();
  io->SetDelayWrites(true);
  io->SetReleaseWait(ReleaseWaitMs);
  io->OnSendData = [this](TPythonInputOutput&, std::string_view text) {
    if (!text.empty()) AddLog(lkInformation, text);
  };
  {
    std::lock_guard guard(ioLock_);
    io_ = io;
  }
  engine->SetIO(io.get());
  engine->RedirectIO = true;
  engine->InitThreads = true;
  engine->OnAfterInit = [this](TPythonEngine& started) { ResolveEntryFunctions(started); };

  callbackModule_ = std::make_unique<TPythonModule>("plugin");
  callbackModule_->OnInitialization = [](TPythonModule& module) { AddPluginFunctions(module); };
  callbackModule_->SetContext(this);
  engine->AddClient(*callbackModule_);
  wrapper_ = std::make_unique<py::TPyDelphiWrapper>();
  wrapper_->SetModule(*callbackModule_);
  wrapper_->OnInitialization = [](py::TPyDelphiWrapper& wrapper) { py::RegisterExtendedListWrappers(wrapper); };
  engine->AddClient(*wrapper_);

  engine->InitScript = scriptLines(scriptText_);
  engine->ProgramName = config_ != nullptr ? config_->edtFile_Text : std::string();
  engine->ScriptFile = config_ != nullptr ? StripQuotes(config_->edtFile_Text) : std::string();
  engine->ShareRuntime = true;
  endRuntimeOnRelease();
  engine_ = std::move(engine);

  std::string failure;
  try {
    engine_->LoadDll();
  } catch (const std::exception& error) {
    failure = error.what();
  }
  if (engine_->Initialized() && engine_->HoldsLock()) {
    // Initialisation failed before the entry functions were resolved: the
    // interpreter lock is still this thread's.
    engine_->SaveThread();
  }
  if (engine_->IsHandleValid()) {
    // Running, whatever the script did; a start that failed says why (a
    // Python error has printed its traceback as well).
    if (!failure.empty()) AddLog(lkError, failure);
    return;
  }
  if (failure.empty()) failure = engine_->LastLoadError();
  const std::string text = SystemErrorText(11);
  AddLog(lkError, (failure.empty() ? std::string() : failure + ": ") + text + ": " + runtimeFolder_ + runtimeFileName_);
  StopEngine();
}

namespace {

// What kind of function calling does not run: a generator or coroutine
// function only makes an object that nobody would iterate or await. Null for
// anything else (a plain function, a class, a callable object).
const char* idleFunctionKind(const py::PythonApi& api, py::PyObject* function) {
  constexpr long long kGenerator = 0x20, kCoroutine = 0x80, kIterableCoroutine = 0x100, kAsyncGenerator = 0x200;
  py::Object code = py::Object::Steal(api, api.PyObject_GetAttrString(function, "__code__"));
  py::Object flags = code ? py::Object::Steal(api, api.PyObject_GetAttrString(code.get(), "co_flags")) : py::Object();
  const long long value = flags ? api.PyLong_AsLongLong(flags.get()) : 0;
  api.PyErr_Clear();
  if (value == -1) return nullptr;
  if (value & kAsyncGenerator) return "an asynchronous generator function";
  if (value & kCoroutine) return "a coroutine function";
  if (value & (kGenerator | kIterableCoroutine)) return "a generator function";
  return nullptr;
}

}  // namespace

void TaPlugin::ResolveEntryFunctions(TPythonEngine& engine) {
  const py::PythonApi& api = engine.Api();
  const py::Handle main = engine.Namespace();
  api.PyErr_Clear();
  std::vector<std::string> refused;
  for (int i = 0; i < efCount; ++i) {
    entryFunctions_[i] = {};
    if (!main) continue;
    const char* name = EntryFunctionName(static_cast<TEntryFunction>(i));
    py::Object function = engine.FindFunction(name);
    api.PyErr_Clear();
    if (!function) continue;
    if (const char* kind = idleFunctionKind(api, function.get())) {
      refused.push_back(std::string("\"") + name + "\" is " + kind +
                        ": calling it would not run its body, so it is not used");
      continue;
    }
    entryFunctions_[i] = std::move(function);
  }
  engine.SaveThread();
  for (const std::string& line : refused) AddLog(lkError, line);
}

void TaPlugin::StopEngine() noexcept {
  // With the script lock held.
  if (engine_) {
    if (engine_->Initialized()) {
      py::TGilAcquire gil(*engine_);
      for (py::Object& function : entryFunctions_) function = {};
      // Threads the script started may still call "plugin" while the engine
      // stops; from now on they get an error instead of this instance.
      if (callbackModule_) callbackModule_->SetContext(nullptr);
    } else {
      for (py::Object& function : entryFunctions_) function.release();
    }
  }
  std::string report;
  bool keep = false;
  if (engine_) {
    try {
      engine_->UnloadDll();
    } catch (...) {
    }
    report = engine_->StopReport();
    keep = engine_->LeftObjectsBehind();
  }
  FlushScriptOutput();
  std::shared_ptr<TPythonGUIInputOutput> io;
  {
    std::lock_guard guard(ioLock_);
    io = std::move(io_);
  }
  if (!report.empty() || keep) {
    // Threads of the script that did not stop, or objects of the script that
    // a library module keeps, still use the engine's function table, the
    // definitions of the module "plugin" and of the script types, and the
    // output redirector: those stay for the life of the process; none of it
    // reaches this instance.
    if (io) {
      io->ClearHandlers();
      new std::shared_ptr<TPythonGUIInputOutput>(io);  // deliberately never freed
    }
    (void)engine_.release();
    (void)callbackModule_.release();
    (void)wrapper_.release();
    if (!report.empty()) AddLog(lkWarning, report);
    return;
  }
  engine_.reset();
  io.reset();
  callbackModule_.reset();
  wrapper_.reset();
}

void TaPlugin::FlushScriptOutput() noexcept {
  std::shared_ptr<TPythonGUIInputOutput> io;
  {
    std::lock_guard guard(ioLock_);
    io = io_;
  }
  if (!io) return;
  try {
    io->DeliverAll();
  } catch (...) {
  }
}

}  // namespace corvane
