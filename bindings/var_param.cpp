// The VarParam script type and its registration record "VarParam".
#include "bindings/var_param.h"

#include "bindings/callback_guard.h"
#include "bindings/python_errors.h"
#include "bindings/wrapper.h"

namespace corvane::py {

namespace {

constexpr const char* kTypeName = "VarParam";

struct TVarParamObject {
  PyObject Head;
  const PythonApi* Api;
  TPyDelphiWrapper* Wrapper;
  PyObject* Value;  // owned; null while empty
};

TVarParamObject* asVarParam(PyObject* object) { return reinterpret_cast<TVarParamObject*>(object); }

const TAuxiliaryTypeDef& varParamDef();

bool isHolder(const TVarParamObject& self, PyObject* object) {
  return object != nullptr && IsVarParam(*self.Wrapper, object);
}

void setValue(TVarParamObject& self, PyObject* value) {
  if (value == self.Value || isHolder(self, value)) return;
  PyObject* old = self.Value;
  self.Api->Py_IncRef(value);
  self.Value = value;
  if (old != nullptr) self.Api->Py_DecRef(old);
}

PyObject* heldOrNone(const TVarParamObject& self) { return self.Value != nullptr ? self.Value : self.Api->None(); }

int varParamTraverse(PyObject* object, visitproc visit, void* arg) {
  TVarParamObject* self = asVarParam(object);
  if (self->Value != nullptr) {
    if (const int result = visit(self->Value, arg)) return result;
  }
  return visit(reinterpret_cast<PyObject*>(object->ob_type), arg);
}

int varParamClear(PyObject* object) {
  TVarParamObject* self = asVarParam(object);
  if (PyObject* value = self->Value) {
    self->Value = nullptr;
    self->Api->Py_DecRef(value);
  }
  return 0;
}

void varParamDealloc(PyObject* object) {
  TVarParamObject* self = asVarParam(object);
  const PythonApi* api = self->Api;
  api->PyObject_GC_UnTrack(object);
  varParamClear(object);
  varParamDef().Counters.Delete();
  PyObject* type = reinterpret_cast<PyObject*>(object->ob_type);
  api->PyObject_GC_Del(object);
  api->Py_DecRef(type);
}

PyObject* varParamRepr(PyObject* object) {
  TVarParamObject* self = asVarParam(object);
  return GuardedObject(*self->Api, [&] {
    const PythonApi& api = *self->Api;
    Object text = Checked(api, api.PyObject_Repr(heldOrNone(*self)));
    const std::string held = self->Wrapper->Engine().PythonToText(text);
    ThrowIfPythonError(api);
    return self->Wrapper->Engine().TextToPython("<VarParameter containing: " + held + ">");
  });
}

PyObject* varParamRichCompare(PyObject* left, PyObject* right, int op) {
  TVarParamObject* self = asVarParam(left);
  return self->Api->PyObject_RichCompare(heldOrNone(*self), right, op);
}

PyObject* getValue(PyObject* object, void*) {
  TVarParamObject* self = asVarParam(object);
  PyObject* held = heldOrNone(*self);
  self->Api->Py_IncRef(held);
  return held;
}

int putValue(PyObject* object, PyObject* value, void*) {
  TVarParamObject* self = asVarParam(object);
  if (value == nullptr) value = self->Api->None();
  setValue(*self, value);
  return 0;
}

PyGetSetDef kProperties[] = {
    {"Value", &getValue, &putValue, "Provides access to the Value associated with the Var parameter", nullptr},
    {"value", &getValue, &putValue, "Provides access to the Value associated with the Var parameter", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* createVarParam(PyObject* self, PyObject* args) {
  TPyDelphiWrapper& wrapper = TPyDelphiWrapper::FromSelf(self);
  const PythonApi& api = wrapper.Api();
  return GuardedObject(api, [&] {
    Handle type = wrapper.AuxiliaryType(kTypeName);
    Object result = Checked(api, api.PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type.ptr()), 0));
    TVarParamObject* holder = asVarParam(result.ptr());
    holder->Api = &api;
    holder->Wrapper = &wrapper;
    holder->Value = nullptr;
    varParamDef().Counters.Create();
    if (api.PyTuple_Size(args) > 0) setValue(*holder, api.PyTuple_GetItem(args, 0));
    return result;
  });
}

TAuxiliaryTypeDef makeVarParamDef() {
  TAuxiliaryTypeDef def;
  def.TypeName = kTypeName;
  def.BasicSize = sizeof(TVarParamObject);
  def.Flags = kTpFlagsBaseType | kTpFlagsHaveGc;
  def.Slots = {
      {kSlotTpDealloc, reinterpret_cast<void*>(&varParamDealloc)},
      {kSlotTpNew, reinterpret_cast<void*>(&RefuseConstruction)},
      {kSlotTpTraverse, reinterpret_cast<void*>(&varParamTraverse)},
      {kSlotTpClear, reinterpret_cast<void*>(&varParamClear)},
      {kSlotTpRepr, reinterpret_cast<void*>(&varParamRepr)},
      {kSlotTpStr, reinterpret_cast<void*>(&varParamRepr)},
      {kSlotTpRichcompare, reinterpret_cast<void*>(&varParamRichCompare)},
      {kSlotTpGetset, kProperties},
      {kSlotTpDoc, const_cast<char*>("Container object allowing modification of native var parameters from Python")},
  };
  def.Create = &createVarParam;
  def.CreateDoc = std::string("Creates a new instance of type ") + kTypeName;
  return def;
}

const TAuxiliaryTypeDef& varParamDef() {
  static const TAuxiliaryTypeDef def = makeVarParamDef();
  return def;
}

class TVarParamUnit : public TRegisteredUnit {
 public:
  const char* Name() const override { return "VarParam"; }
  void RegisterWrappers(TPyDelphiWrapper& wrapper) override { wrapper.RegisterAuxiliaryType(varParamDef()); }
};

}  // namespace

TRegisteredUnit& VarParamUnit() {
  static TVarParamUnit unit;
  return unit;
}

bool IsVarParam(const TPyDelphiWrapper& wrapper, Handle object) {
  Handle type = wrapper.AuxiliaryType(kTypeName);
  return object && type && reinterpret_cast<PyObject*>(object.ptr()->ob_type) == type.ptr();
}

Object VarParamValue(const PythonApi& api, Handle holder) {
  return Object::Borrow(api, heldOrNone(*asVarParam(holder.ptr())));
}

void SetVarParamValue(const PythonApi& api, Handle holder, Handle value) {
  (void)api;
  setValue(*asVarParam(holder.ptr()), value.ptr());
}

}  // namespace corvane::py
