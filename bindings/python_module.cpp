// Extension modules published by the engine's clients.
#include "bindings/python_module.h"

#include "python/python_engine.h"

namespace corvane {

TPythonModule::TPythonModule(std::string moduleName, std::string docString)
    : name_(std::move(moduleName)), doc_(std::move(docString)) {}

void TPythonModule::AddMethod(std::string name, py::PyCFunction function, std::string docString) {
  const char* namePtr = texts_.emplace_back(std::move(name)).c_str();
  const char* docPtr = texts_.emplace_back(std::move(docString)).c_str();
  methods_.push_back({namePtr, function, py::kMethVarargs, docPtr});
}

void TPythonModule::AddMethodWithKeywords(std::string name, py::PyCFunctionWithKeywords function,
                                          std::string docString) {
  const char* namePtr = texts_.emplace_back(std::move(name)).c_str();
  const char* docPtr = texts_.emplace_back(std::move(docString)).c_str();
  methods_.push_back({namePtr, reinterpret_cast<py::PyCFunction>(reinterpret_cast<void*>(function)),
                      py::kMethVarargs | py::kMethKeywords, docPtr});
}

void TPythonModule::Initialize(TPythonInterface& engine) {
  const py::PythonApi& api = engine.Api();
  methods_.clear();
  texts_.clear();
  if (OnInitialization) OnInitialization(*this);
  methods_.push_back({nullptr, nullptr, 0, nullptr});
  definition_ = {};
  definition_.m_base.ob_base.ob_refcnt = 1;
  definition_.m_name = name_.c_str();
  definition_.m_doc = doc_.empty() ? nullptr : doc_.c_str();
  definition_.m_size = -1;
  definition_.m_methods = methods_.data();
  py::Object module = py::Object::Steal(api, api.PyModule_Create2(&definition_, engine.APIVersion));
  if (!module) engine.RaiseError();
  if (api.PyDict_SetItemString(api.PyImport_GetModuleDict(), name_.c_str(), module.get()) != 0) engine.RaiseError();
  // The module dictionary keeps the module alive until the interpreter ends.
  module_ = module.get();
  initialized_ = true;
}

void TPythonModule::Finalize() {
  module_ = nullptr;
  initialized_ = false;
}

}  // namespace corvane
