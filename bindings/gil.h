// Scoped holds of the interpreter lock. TGilAcquire takes it for the calling
// thread (with a thread state of that thread's own), enters the engine's
// script session, and gives both back when the scope ends; TGilRelease lets
// go of it around blocking work or a call into the host and takes it back on
// the same thread. The interpreter lock is the innermost lock: never take
// another lock while holding it.
#pragma once

#include "bindings/python_interface.h"

namespace corvane::py {

class TGilAcquire {
 public:
  explicit TGilAcquire(TPythonInterface& engine)
      : engine_(engine), state_(engine.Lock()), session_(engine.SessionId()) {}
  TGilAcquire(const TGilAcquire&) = delete;
  TGilAcquire& operator=(const TGilAcquire&) = delete;
  ~TGilAcquire() { engine_.Unlock(state_); }

 private:
  TPythonInterface& engine_;
  PyGILState_STATE state_;
  TSessionScope session_;
};

class TGilRelease {
 public:
  explicit TGilRelease(TPythonInterface& engine) : engine_(engine), saved_(engine.SaveThread()) {}
  TGilRelease(const TGilRelease&) = delete;
  TGilRelease& operator=(const TGilRelease&) = delete;
  ~TGilRelease() { engine_.RestoreThread(saved_); }

 private:
  TPythonInterface& engine_;
  PyThreadState* saved_;
};

}  // namespace corvane::py
