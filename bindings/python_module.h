// TPythonModule, the engine client that publishes one extension module
// whose functions are native callbacks.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "bindings/engine_client.h"
#include "bindings/py_object.h"
#include "bindings/python_api.h"

namespace corvane {

// The module definition and method table must outlive the interpreter's
// module object, so a module client is destroyed only after the engine
// that initialised it.
class TPythonModule : public TEngineClient {
 public:
  explicit TPythonModule(std::string moduleName, std::string docString = {});
  // Unfinalized, the references are let go without touching the
  // interpreter, which may have ended.
  ~TPythonModule() override {
    (void)module_.release();
    (void)contextObject_.release();
  }

  const std::string& ModuleName() const { return name_; }
  // Fills the method table; runs when the module initialises.
  std::function<void(TPythonModule& module)> OnInitialization;
  void AddMethod(std::string name, py::PyCFunction function, std::string docString);
  void AddMethodWithKeywords(std::string name, py::PyCFunctionWithKeywords function, std::string docString);

  // What the module's functions work for (their owner). Each function's
  // self is a small object of the module's own that holds it, so that every
  // interpreter's module reaches its own owner without a process-wide
  // variable. Setting it while the module lives (the interpreter lock held)
  // detaches the functions from an owner that goes.
  void SetContext(void* context);
  // The context and runtime table behind a function's self; context null
  // once detached. The table stays valid as long as the interpreter does.
  struct TContext {
    void* Owner;
    const py::PythonApi* Api;
  };
  static TContext ContextOf(py::PyObject* self);

  // Creates the module and has the engine publish it, so that
  // "import <name>" finds it.
  void Initialize(TPythonInterface& engine) override;
  void Finalize() override;
  bool Outlived() const override { return outlived_; }
  py::Handle Module() const { return module_; }

 private:
  std::string name_;
  std::string doc_;
  std::deque<std::string> texts_;  // names and docstrings the table points into
  std::vector<py::PyMethodDef> methods_;
  py::PyModuleDef definition_{};
  py::Object module_;
  py::Object contextObject_;  // the self of the module's functions
  void* context_ = nullptr;
  bool outlived_ = false;
};

}  // namespace corvane
