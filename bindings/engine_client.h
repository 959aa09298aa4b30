// Clients of the engine: objects that publish something into the
// interpreter when it starts (extension modules, script types) and withdraw
// it before the interpreter ends. The engine initialises them in the order
// they were added, with the interpreter lock held.
#pragma once

namespace corvane {

class TPythonInterface;

class TEngineClient {
 public:
  virtual ~TEngineClient() = default;
  virtual void Initialize(TPythonInterface& engine) = 0;
  virtual void Finalize() = 0;
  bool Initialized() const { return initialized_; }
  // After Finalize, in an interpreter that keeps running: whether objects it
  // still holds (kept by a library module, say) use this client, which then
  // has to live as long as the interpreter.
  virtual bool Outlived() const { return false; }

 protected:
  bool initialized_ = false;
};

}  // namespace corvane
