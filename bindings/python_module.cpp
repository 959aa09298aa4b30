// Extension modules published by the engine's clients.
#include "bindings/python_module.h"

#include "bindings/python_interface.h"

namespace corvane {

namespace {

// The self of a module's functions.
struct TContextObject {
  py::PyObject Head;
  void* Owner;
  const py::PythonApi* Api;
};

py::PyType_Slot contextSlots[] = {{0, nullptr}};
py::PyType_Spec contextSpec = {"plugin_context", static_cast<int>(sizeof(TContextObject)), 0,
                               py::kTpFlagsDefault, contextSlots};

}  // namespace

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
  definition_.m_methods = methods_.data() + (methods_.size() - 1);  // the functions are added below
  py::Object module = py::Object::Steal(api, api.PyModule_Create2(&definition_, engine.APIVersion));
  if (!module) engine.RaiseError();

  py::Object contextType = py::Object::Steal(api, api.PyType_FromSpec(&contextSpec));
  if (!contextType) engine.RaiseError();
  py::Object context = py::Object::Steal(
      api, api.PyType_GenericAlloc(reinterpret_cast<py::PyTypeObject*>(contextType.get()), 0));
  if (!context) engine.RaiseError();
  auto* contextObject = reinterpret_cast<TContextObject*>(context.get());
  contextObject->Owner = context_;
  contextObject->Api = &api;
  py::Object moduleName = engine.TextToPython(name_);
  for (size_t i = 0; i + 1 < methods_.size(); ++i) {
    py::Object function =
        py::Object::Steal(api, api.PyCFunction_NewEx(&methods_[i], context.get(), moduleName.get()));
    if (!function || api.PyObject_SetAttrString(module.get(), methods_[i].ml_name, function.get()) != 0)
      engine.RaiseError();
  }
  engine.PublishModule(name_, module);
  module_ = std::move(module);
  contextObject_ = std::move(context);
  outlived_ = false;
  initialized_ = true;
}

void TPythonModule::SetContext(void* context) {
  context_ = context;
  if (contextObject_) reinterpret_cast<TContextObject*>(contextObject_.get())->Owner = context;
}

TPythonModule::TContext TPythonModule::ContextOf(py::PyObject* self) {
  if (self == nullptr) return {nullptr, nullptr};
  const auto* object = reinterpret_cast<const TContextObject*>(self);
  return {object->Owner, object->Api};
}

void TPythonModule::Finalize() {
  // The module reads its definition when it goes, and its functions read
  // the method table: if anything but this client still holds either, the
  // definition has to stay.
  const auto heldElsewhere = [](const py::Object& object) { return object && object.get()->ob_refcnt > 1; };
  outlived_ = heldElsewhere(module_);
  module_.reset();
  outlived_ = heldElsewhere(contextObject_) || outlived_;
  contextObject_.reset();
  initialized_ = false;
}

}  // namespace corvane
