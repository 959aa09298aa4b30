// The wrapper component: registration, types per interpreter, Wrap, and the
// members and services every wrapper type shares.
#include "bindings/wrapper.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <mutex>

#include "bindings/callback_guard.h"
#include "bindings/python_errors.h"
#include "bindings/python_module.h"
#include "platform/ascii.h"

namespace corvane::py {

namespace {

// The self of the component's creation functions.
struct TComponentObject {
  TNativeRefObject Base;
};

void componentDealloc(PyObject* object) { FreeHeapObject(*reinterpret_cast<TComponentObject*>(object)->Base.Api, object); }

const TAuxiliaryTypeDef& componentDef() {
  static const TAuxiliaryTypeDef def = [] {
    TAuxiliaryTypeDef d;
    d.TypeName = "WrapperComponent";
    d.BasicSize = sizeof(TComponentObject);
    d.Published = false;
    d.Slots = {{kSlotTpDealloc, reinterpret_cast<void*>(&componentDealloc)},
               {kSlotTpNew, reinterpret_cast<void*>(&RefuseConstruction)}};
    return d;
  }();
  return def;
}

TWrapperObject* asWrapperObject(PyObject* object) { return reinterpret_cast<TWrapperObject*>(object); }

// Names handed to the runtime as type names must outlive every interpreter.
const char* internName(const std::string& name) {
  static std::mutex lock;
  static std::deque<std::string> names;
  std::lock_guard guard(lock);
  for (const std::string& known : names) {
    if (known == name) return known.c_str();
  }
  return names.emplace_back(name).c_str();
}

std::string hexAddress(const void* address) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%" PRIXPTR, reinterpret_cast<uintptr_t>(address));
  return buffer;
}

// ---- Slots of every wrapper type ---------------------------------------------------

void wrapperDealloc(PyObject* object) {
  TWrapperObject* self = asWrapperObject(object);
  const PythonApi* api = self->Base.Api;
  TNativeGuard::Unlink(self->Base.Link);
  if (self->OwnGuard != nullptr) {
    self->OwnGuard->RevokeAll();
    delete self->OwnGuard;
    if (self->Owned && self->Native != nullptr) self->Kind->Free(self->Native);
  }
  if (!self->Parked) self->Def->Counters.Delete();
  if (self->Def->Access != nullptr) {
    TContainerWrapperObject& container = AsContainerWrapper(*self);
    if (container.Iterator != nullptr) api->Py_DecRef(std::exchange(container.Iterator, nullptr));
    if (container.Spare.Object != nullptr) self->Base.Wrapper->ReleaseSpare(container.Spare);
  }
  FreeHeapObject(*api, object);
}

PyObject* wrapperRepr(PyObject* object) {
  TWrapperObject* self = asWrapperObject(object);
  return GuardedObject(*self->Base.Api, [&] {
    if (!self->Base.Link.Alive()) return WrapperRepr(*self, self->Def->Class.Name);
    return WrapperRepr(*self, ChainOf(*self).Classes[0].Name);
  });
}

// The identity a wrapper compares by: its native object while that lives.
const void* identityOf(const TWrapperObject& wrapper) {
  return wrapper.Base.Link.Alive() ? wrapper.Native : static_cast<const void*>(&wrapper);
}

PyObject* boolObject(const PythonApi& api, bool value) {
  PyObject* answer = value ? api.True() : api.False();
  api.Py_IncRef(answer);
  return answer;
}

PyObject* compareResult(const PythonApi& api, int order, int op) {
  bool result = false;
  switch (op) {
    case kCompareLt: result = order < 0; break;
    case kCompareLe: result = order <= 0; break;
    case kCompareEq: result = order == 0; break;
    case kCompareNe: result = order != 0; break;
    case kCompareGt: result = order > 0; break;
    case kCompareGe: result = order >= 0; break;
    default: break;
  }
  return boolObject(api, result);
}

PyObject* wrapperRichCompare(PyObject* left, PyObject* right, int op) {
  TWrapperObject* self = asWrapperObject(left);
  const PythonApi& api = *self->Base.Api;
  TWrapperObject* other = self->Base.Wrapper != nullptr ? self->Base.Wrapper->AsWrapper(right) : nullptr;
  int order = -1;  // a wrapper is "less" than anything else
  if (other != nullptr) {
    const auto a = reinterpret_cast<uintptr_t>(identityOf(*self));
    const auto b = reinterpret_cast<uintptr_t>(identityOf(*other));
    order = a == b ? 0 : (a < b ? -1 : 1);
  }
  return compareResult(api, order, op);
}

Py_ssize_t wrapperHash(PyObject* object) {
  const auto address = reinterpret_cast<uintptr_t>(identityOf(*asWrapperObject(object)));
  const auto hash = static_cast<Py_ssize_t>(address >> 4);
  return hash == -1 ? -2 : hash;
}

TAccessTarget targetOf(TWrapperObject& self) { return {self.Base.Wrapper, self.Native, self.Base.Link.Guard}; }

Py_ssize_t wrapperLength(PyObject* object) {
  TWrapperObject* self = asWrapperObject(object);
  return Guarded(*self->Base.Api, Py_ssize_t{-1}, [&] {
    TWrapperObject& bound = BoundWrapper(object);
    return bound.Def->Access->Count(targetOf(bound));
  });
}

PyObject* wrapperItem(PyObject* object, Py_ssize_t index) {
  TWrapperObject* self = asWrapperObject(object);
  return GuardedObject(*self->Base.Api, [&] {
    TWrapperObject& bound = BoundWrapper(object);
    const TAccessTarget target = targetOf(bound);
    CheckIndex(index, bound.Def->Access->Count(target));
    return bound.Def->Access->Item(target, index);
  });
}

int wrapperStore(PyObject* object, Py_ssize_t index, PyObject* value) {
  TWrapperObject* self = asWrapperObject(object);
  return Guarded(*self->Base.Api, -1, [&] {
    TWrapperObject& bound = BoundWrapper(object);
    const TAccessTarget target = targetOf(bound);
    CheckIndex(index, bound.Def->Access->Count(target));
    bound.Def->Access->Store(target, index, value);
    return 0;
  });
}

int wrapperContains(PyObject* object, PyObject* value) {
  TWrapperObject* self = asWrapperObject(object);
  return Guarded(*self->Base.Api, -1, [&] {
    TWrapperObject& bound = BoundWrapper(object);
    return bound.Def->Access->IndexOf(targetOf(bound), value) >= 0 ? 1 : 0;
  });
}

PyObject* wrapperIter(PyObject* object) {
  TWrapperObject* self = asWrapperObject(object);
  return GuardedObject(*self->Base.Api, [&] {
    TWrapperObject& bound = BoundWrapper(object);
    return NewIterator(*bound.Base.Wrapper, *bound.Def->Access, targetOf(bound), AsContainerWrapper(bound).Iterator);
  });
}


// ---- Members every wrapper shares ---------------------------------------------------------

PyObject* getClassName(PyObject* object, void*) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] {
    TWrapperObject& self = BoundWrapper(object);
    return self.Base.Wrapper->Engine().TextToPython(ChainOf(self).Classes[0].Name);
  });
}

PyObject* getBound(PyObject* object, void*) {
  TWrapperObject* self = asWrapperObject(object);
  return boolObject(*self->Base.Api, self->Base.Link.Alive() && self->Native != nullptr);
}

PyObject* getOwned(PyObject* object, void*) {
  TWrapperObject* self = asWrapperObject(object);
  return boolObject(*self->Base.Api, self->Owned);
}

PyObject* getPublished(PyObject* object, void*) {
  // The classes wrapped here publish no properties.
  const PythonApi& api = *asWrapperObject(object)->Base.Api;
  return api.PyList_New(0);
}

PyObject* methodSetProps(PyObject* object, PyObject* args, PyObject* kwargs) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] {
    TWrapperObject& self = BoundWrapper(object);
    const PythonApi& api = *self.Base.Api;
    if (api.PyTuple_Size(args) != 0) throw EPyTypeError("SetProps accepts only keyword arguments");
    if (kwargs != nullptr) {
      Py_ssize_t position = 0;
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      if (api.PyDict_Next(kwargs, &position, &key, &value) != 0) {
        const std::string name = self.Base.Wrapper->Engine().PythonToText(key);
        throw EPyAttributeError("\"" + name + "\" is not a published property of " +
                                std::string(ChainOf(self).Classes[0].Name));
      }
    }
    return self.Base.Wrapper->Engine().None();
  });
}

PyObject* methodFree(PyObject* object, PyObject*) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] {
    TWrapperObject& self = BoundWrapper(object);
    if (!self.Owned)
      throw EPyAttributeError("The object of class " + std::string(ChainOf(self).Classes[0].Name) +
                              " is not owned and cannot be freed");
    void* native = self.Native;
    self.OwnGuard->RevokeAll();  // this wrapper and everything made from it
    self.Native = nullptr;
    self.Owned = false;
    self.Kind->Free(native);
    return self.Base.Wrapper->Engine().None();
  });
}

PyObject* methodInheritsFrom(PyObject* object, PyObject* args) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] {
    TWrapperObject& self = BoundWrapper(object);
    PyObject* name = nullptr;
    if (!self.Base.Api->PyArg_ParseTuple(args, "O:InheritsFrom", &name)) throw EPyErrorPending();
    const std::string className = CheckString(self.Base.Wrapper->Engine(), name, "ClassName");
    const TClassChain chain = ChainOf(self);
    bool inherits = false;
    for (int i = 0; i < chain.Count && !inherits; ++i) inherits = platform::sameTextAscii(chain.Classes[i].Name, className);
    return self.Base.Wrapper->Engine().Bool(inherits);
  });
}

Object itemsAsList(TWrapperObject& self) {
  const PythonApi& api = *self.Base.Api;
  if (self.Def->Access == nullptr)
    throw EPySystemError("Wrapper " + std::string(ChainOf(self).Classes[0].Name) + " does not support sequences");
  const TAccessTarget target = targetOf(self);
  const Py_ssize_t count = self.Def->Access->Count(target);
  Object list = Checked(api, api.PyList_New(0));
  for (Py_ssize_t i = 0; i < count; ++i) {
    Object item = self.Def->Access->Item(target, i);
    if (api.PyList_Append(list.ptr(), item.ptr()) != 0) throw EPyErrorPending();
  }
  return list;
}

PyObject* methodToList(PyObject* object, PyObject*) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] { return itemsAsList(BoundWrapper(object)); });
}

PyObject* methodToTuple(PyObject* object, PyObject*) {
  return GuardedObject(*asWrapperObject(object)->Base.Api, [&] {
    TWrapperObject& self = BoundWrapper(object);
    Object list = itemsAsList(self);
    const PythonApi& api = *self.Base.Api;
    const Py_ssize_t count = api.PyList_Size(list.ptr());
    Object tuple = Checked(api, api.PyTuple_New(count));
    for (Py_ssize_t i = 0; i < count; ++i)
      api.PyTuple_SetItem(tuple.ptr(), i, Object::Borrow(api, api.PyList_GetItem(list.ptr(), i)).release());
    return tuple;
  });
}

const PyGetSetDef kSharedProperties[] = {
    {"ClassName", &getClassName, nullptr, "Returns the TObject.ClassName", nullptr},
    {"__bound__", &getBound, nullptr, "Returns True if the wrapper is still bound to the Delphi instance.", nullptr},
    {"__owned__", &getOwned, nullptr, "Returns True if the wrapper owns the Delphi instance.", nullptr},
    {"__published__", &getPublished, nullptr, "Returns the list of all published properties of this instance.",
     nullptr},
};

const PyMethodDef kSharedMethods[] = {
    {"SetProps", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&methodSetProps)),
     kMethVarargs | kMethKeywords, "Sets several properties in one call"},
    {"Free", &methodFree, kMethNoArgs, "Frees the wrapped object"},
    {"InheritsFrom", &methodInheritsFrom, kMethVarargs,
     "Returns True if the wrapped object inherits from the given class name"},
    {"ToTuple", &methodToTuple, kMethNoArgs, "If the wrapped object supports sequences, returns them as a tuple"},
    {"ToList", &methodToList, kMethNoArgs, "If the wrapped object supports sequences, returns them as a list"},
};

}  // namespace

// ---- Type definitions -----------------------------------------------------------------

PyMethodDef* TWrapperTypeDef::AllMethods() const {
  if (allMethods_.empty()) {
    allMethods_.assign(std::begin(kSharedMethods), std::end(kSharedMethods));
    allMethods_.insert(allMethods_.end(), Methods.begin(), Methods.end());
    allMethods_.push_back({nullptr, nullptr, 0, nullptr});
  }
  return allMethods_.data();
}

PyGetSetDef* TWrapperTypeDef::AllProperties() const {
  if (allProperties_.empty()) {
    allProperties_.assign(std::begin(kSharedProperties), std::end(kSharedProperties));
    allProperties_.insert(allProperties_.end(), Properties.begin(), Properties.end());
    allProperties_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  }
  return allProperties_.data();
}

// ---- Services ---------------------------------------------------------------------------

void FreeHeapObject(const PythonApi& api, PyObject* object) {
  PyObject* type = reinterpret_cast<PyObject*>(object->ob_type);
  api.PyObject_Free(object);
  api.Py_DecRef(type);
}

TWrapperObject& BoundWrapper(PyObject* self) {
  TWrapperObject* wrapper = asWrapperObject(self);
  if (!wrapper->Base.Link.Alive() || wrapper->Native == nullptr)
    throw EPyReferenceError("The native object of this " + wrapper->Def->TypeName + " no longer exists");
  return *wrapper;
}

TClassChain ChainOf(const TWrapperObject& wrapper) {
  TClassChain chain;
  wrapper.Kind->Chain(wrapper.Native, chain);
  return chain;
}

Object WrapperRepr(TWrapperObject& wrapper, const char* className) {
  const bool bound = wrapper.Base.Link.Alive() && wrapper.Native != nullptr;
  const std::string text = std::string(bound ? "<Object of type " : "<Unbound wrapper of type ") + className +
                           " at " + hexAddress(&wrapper) + ">";
  return wrapper.Base.Wrapper->Engine().TextToPython(text);
}

int64_t CheckInteger(const PythonApi& api, Handle value, const char* name) {
  if (!value || api.PyObject_IsInstance(value.ptr(), PythonApi::TypeObject(api.PyLong_Type)) != 1) {
    api.PyErr_Clear();
    throw EPyAttributeError(std::string(name) + " receives only integer values");
  }
  const long long result = api.PyLong_AsLongLong(value.ptr());
  if (result == -1) ThrowIfPythonError(api);
  return result;
}

std::string CheckString(TPythonInterface& engine, Handle value, const char* name) {
  const PythonApi& api = engine.Api();
  const bool text = value && (api.PyObject_IsInstance(value.ptr(), PythonApi::TypeObject(api.PyUnicode_Type)) == 1 ||
                              api.PyObject_IsInstance(value.ptr(), PythonApi::TypeObject(api.PyBytes_Type)) == 1);
  if (!text) {
    api.PyErr_Clear();
    throw EPyAttributeError(std::string(name) + " receives only string values");
  }
  std::string result = engine.PythonToText(value);
  ThrowIfPythonError(api);
  return result;
}

TWrapperObject* CheckObject(const TPyDelphiWrapper& wrapper, Handle value, const TNativeClass& required,
                            const char* argument) {
  if (!value || value.ptr() == wrapper.Api().None()) return nullptr;
  TWrapperObject* object = wrapper.AsWrapper(value);
  if (object == nullptr)
    throw EPyAttributeError(std::string(argument) + " must be an object of class " + required.Name);
  TWrapperObject& bound = BoundWrapper(value.ptr());
  const TClassChain chain = ChainOf(bound);
  if (!chain.Contains(required))
    throw EPyAttributeError(std::string(argument) + " must be an object of class " + required.Name + ", not " +
                            chain.Classes[0].Name);
  return object;
}

void CheckIndex(Py_ssize_t index, Py_ssize_t count) {
  if (index < 0 || index >= count) throw EPyIndexError("Index \"" + std::to_string(index) + "\" out of range");
}

// ---- Registration records -------------------------------------------------------------------

TRegisteredUnit& ParamsListUnit();
TRegisteredUnit& FifoBufferUnit();
TRegisteredUnit& VarParamUnit();

std::vector<TRegisteredUnit*>& RegisteredUnits() {
  static std::vector<TRegisteredUnit*> units{&ParamsListUnit(), &FifoBufferUnit(), &VarParamUnit()};
  return units;
}

// ---- The component ------------------------------------------------------------------------------

namespace {

// The root class's wrapper: what an object of no registered class gets.
const TWrapperTypeDef& objectTypeDef() {
  static const TWrapperTypeDef def = [] {
    TWrapperTypeDef d;
    d.TypeName = "Object";
    d.Class = kObjectClass;
    d.Doc = "Wrapper of a native TObject";
    return d;
  }();
  return def;
}

}  // namespace

TPyDelphiWrapper::TPyDelphiWrapper() {
  RegisterAuxiliaryType(componentDef());
  for (const TAuxiliaryTypeDef* def : MechanismTypes()) RegisterAuxiliaryType(*def);
  RegisterWrapperType(objectTypeDef());
  for (TRegisteredUnit* unit : RegisteredUnits()) unit->RegisterWrappers(*this);
}

TPyDelphiWrapper::~TPyDelphiWrapper() = default;

void TPyDelphiWrapper::RegisterWrapperType(const TWrapperTypeDef& def) {
  Assert(!initialized_, "Types are registered before the wrapper initialises", "bindings/wrapper", __LINE__);
  classes_.push_back({&def, Object()});
}

void TPyDelphiWrapper::RegisterAuxiliaryType(const TAuxiliaryTypeDef& def) {
  Assert(!initialized_, "Types are registered before the wrapper initialises", "bindings/wrapper", __LINE__);
  auxiliary_.push_back({&def, Object()});
}

Object TPyDelphiWrapper::MakeType(const TWrapperTypeDef& def) {
  std::vector<PyType_Slot> slots{
      {kSlotTpDealloc, reinterpret_cast<void*>(&wrapperDealloc)},
      {kSlotTpNew, reinterpret_cast<void*>(&RefuseConstruction)},
      {kSlotTpRepr, reinterpret_cast<void*>(def.Repr != nullptr ? def.Repr : &wrapperRepr)},
      {kSlotTpStr, reinterpret_cast<void*>(def.Repr != nullptr ? def.Repr : &wrapperRepr)},
      {kSlotTpRichcompare, reinterpret_cast<void*>(&wrapperRichCompare)},
      {kSlotTpHash, reinterpret_cast<void*>(&wrapperHash)},
      {kSlotTpDoc, const_cast<char*>(def.Doc.c_str())},
      {kSlotTpMethods, def.AllMethods()},
      {kSlotTpGetset, def.AllProperties()},
  };
  if (def.Access != nullptr) {
    slots.push_back({kSlotTpIter, reinterpret_cast<void*>(&wrapperIter)});
    slots.push_back({kSlotSqLength, reinterpret_cast<void*>(&wrapperLength)});
    slots.push_back({kSlotSqItem, reinterpret_cast<void*>(&wrapperItem)});
    if (def.Access->Store != nullptr) slots.push_back({kSlotSqAssItem, reinterpret_cast<void*>(&wrapperStore)});
    if (def.Access->IndexOf != nullptr) slots.push_back({kSlotSqContains, reinterpret_cast<void*>(&wrapperContains)});
  }
  slots.push_back({0, nullptr});
  const std::string name = module_ != nullptr ? module_->ModuleName() + "." + def.TypeName : def.TypeName;
  const size_t size = def.Access != nullptr ? sizeof(TContainerWrapperObject) : sizeof(TWrapperObject);
  PyType_Spec spec{internName(name), static_cast<int>(size), 0, kTpFlagsDefault | kTpFlagsBaseType,
                   slots.data()};
  return Checked(Api(), Api().PyType_FromSpec(&spec));
}

Object TPyDelphiWrapper::MakeType(const TAuxiliaryTypeDef& def) {
  std::vector<PyType_Slot> slots = def.Slots;
  slots.push_back({0, nullptr});
  const std::string name = module_ != nullptr ? module_->ModuleName() + "." + def.TypeName : def.TypeName;
  PyType_Spec spec{internName(name), def.BasicSize, 0, kTpFlagsDefault | def.Flags, slots.data()};
  return Checked(Api(), Api().PyType_FromSpec(&spec));
}

void TPyDelphiWrapper::Publish(const char* name, Handle value) {
  if (module_ == nullptr || !module_->Module()) return;
  if (Api().PyObject_SetAttrString(module_->Module().ptr(), name, value.ptr()) != 0) engine_->RaiseError();
}

namespace {
// Only to report a refused construction, where no object can say which
// runtime it belongs to; every runtime loaded binds the same entry points.
std::atomic<const PythonApi*> constructionApi{nullptr};
}  // namespace

PyObject* RefuseConstruction(PyTypeObject* type, PyObject*, PyObject*) {
  const PythonApi* api = constructionApi.load();
  if (api == nullptr) return nullptr;
  Object name = Object::Steal(*api, api->PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  std::string text = "cannot create instances of this type";
  if (name) {
    Object utf8 = Object::Steal(*api, api->PyUnicode_AsEncodedString(name.ptr(), "utf-8", "replace"));
    if (utf8) text = "cannot create '" + std::string(api->PyBytes_AsString(utf8.ptr())) + "' instances";
  }
  api->PyErr_Clear();
  api->PyErr_SetString(*api->PyExc_TypeError, text.c_str());
  return nullptr;
}

void TPyDelphiWrapper::Initialize(TPythonInterface& engine) {
  engine_ = &engine;
  constructionApi = &engine.Api();
  if (OnInitialization) OnInitialization(*this);
  initialized_ = true;
  outlived_ = false;
  for (TAuxiliaryType& type : auxiliary_) {
    type.Type = MakeType(*type.Def);
    type.OwnReferences = type.Type.get()->ob_refcnt;
    if (type.Def == &componentDef()) {
      self_ = Checked(Api(), Api().PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type.Type.ptr()), 0));
      auto* component = reinterpret_cast<TComponentObject*>(self_.ptr());
      component->Base.Api = &Api();
      component->Base.Wrapper = this;
    }
    if (!type.Def->Published) continue;
    Publish(type.Def->TypeName.c_str(), type.Type);
    if (type.Def->Create != nullptr) {
      type.Def->CreateName = "Create" + type.Def->TypeName;
      type.Def->CreateMethod = {type.Def->CreateName.c_str(), type.Def->Create, kMethVarargs,
                                type.Def->CreateDoc.c_str()};
      Object function = Checked(Api(), Api().PyCFunction_NewEx(&type.Def->CreateMethod, self_.ptr(), nullptr));
      Publish(type.Def->CreateName.c_str(), function);
    }
  }
  for (TRegisteredClass& entry : classes_) {
    entry.Type = MakeType(*entry.Def);
    entry.OwnReferences = entry.Type.get()->ob_refcnt;
    Publish(entry.Def->TypeName.c_str(), entry.Type);
  }
  for (TRegisteredUnit* unit : RegisteredUnits()) {
    unit->DefineFunctions(*this);
    unit->DefineVars(*this);
  }
  engine.RegisterTypeStats([this] { return Stats(); });
}

void TPyDelphiWrapper::Finalize() {
  while (parkedCount_ > 0) Api().Py_DecRef(parked_[--parkedCount_].Object);
  std::fill(std::begin(known_), std::end(known_), TKnownClass{});
  // Objects of these types point at this component and the engine's
  // function table. Each holds its type, so a type counted more often than
  // when it was made (the module that published it gone) still has objects,
  // or someone who can make them.
  outlived_ = self_ && self_.get()->ob_refcnt > 1;
  self_.reset();
  for (TRegisteredClass& entry : classes_) {
    outlived_ = outlived_ || (entry.Type && entry.Type.get()->ob_refcnt > entry.OwnReferences);
    entry.Type.reset();
  }
  for (TAuxiliaryType& type : auxiliary_) {
    outlived_ = outlived_ || (type.Type && type.Type.get()->ob_refcnt > type.OwnReferences);
    type.Type.reset();
  }
  initialized_ = false;
}

TPyDelphiWrapper& TPyDelphiWrapper::FromSelf(PyObject* self) {
  return *reinterpret_cast<TComponentObject*>(self)->Base.Wrapper;
}

const TPyDelphiWrapper::TRegisteredClass* TPyDelphiWrapper::Find(const TClassChain& chain) const {
  // The most derived registered class wins; among registrations of one
  // class, the first.
  for (int i = 0; i < chain.Count; ++i) {
    for (const TRegisteredClass& entry : classes_) {
      if (entry.Def->Class == chain.Classes[i]) return &entry;
    }
  }
  return nullptr;
}

const TPyDelphiWrapper::TRegisteredClass* TPyDelphiWrapper::TypeFor(const TNativeObject& object,
                                                                    const void* classId) {
  if (classId != nullptr) {
    for (const TKnownClass& known : known_) {
      if (known.Id == classId) return known.Entry;
    }
  }
  const TClassChain chain = object.Chain();
  if (chain.Count == 0) return nullptr;
  const void* id = chain.Classes[0].Id;
  for (const TKnownClass& known : known_) {
    if (known.Id == id) return known.Entry;
  }
  const TRegisteredClass* entry = Find(chain);
  if (entry != nullptr && entry->Type) {
    known_[nextKnown_] = {id, entry};
    nextKnown_ = (nextKnown_ + 1) % kKnownClasses;
  }
  return entry;
}

Object TPyDelphiWrapper::NewWrapper(const TNativeObject& object, const void* classId) {
  const TRegisteredClass* entry = TypeFor(object, classId);
  Assert(entry != nullptr && entry->Type, "Assertion failure: no wrapper type for the class", "bindings/wrapper",
         __LINE__);
  const PythonApi& api = Api();
  Object result = Checked(api, api.PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(entry->Type.ptr()), 0));
  TWrapperObject* self = asWrapperObject(result.ptr());
  self->Base.Api = &api;
  self->Base.Wrapper = this;
  self->Base.Link = {};
  self->Def = entry->Def;
  self->Native = object.Object;
  self->Kind = object.Kind;
  self->OwnGuard = nullptr;
  self->Owned = false;
  self->Parked = false;
  if (entry->Def->Access != nullptr) {
    TContainerWrapperObject& container = AsContainerWrapper(*self);
    container.Iterator = nullptr;
    container.Spare = {};
  }
  entry->Def->Counters.Create();
  return result;
}

Object TPyDelphiWrapper::Wrap(const TNativeObject& object, TNativeGuard& guard) {
  if (object.Object == nullptr) return engine_->None();
  Object result = NewWrapper(object);
  guard.Link(asWrapperObject(result.ptr())->Base.Link);
  return result;
}

Object TPyDelphiWrapper::WrapItem(const TNativeObject& item, TNativeGuard& listGuard, const void* classId) {
  if (item.Object == nullptr) return engine_->None();
  Object result = NewWrapper(item, classId);
  listGuard.Link(asWrapperObject(result.ptr())->Base.Link, item.Object);
  return result;
}

Object TPyDelphiWrapper::WrapItemReplacingSpare(const TNativeObject& item, TNativeGuard& listGuard,
                                                const void* classId, TSpareItem& spare) {
  Object made = WrapItem(item, listGuard, classId);
  if (item.Object == nullptr) return made;
  ReleaseSpare(spare);
  spare = {Object::Borrow(Api(), made.ptr()).release(), classId};
  return made;
}

void TPyDelphiWrapper::ReleaseSpare(TSpareItem& spare) {
  PyObject* object = std::exchange(spare.Object, nullptr);
  if (object == nullptr) return;
  // Kept only while the types live: a later interpreter must never meet it.
  if (object->ob_refcnt != 1 || !initialized_ || parkedCount_ == kParkedItems) {
    Api().Py_DecRef(object);
    return;
  }
  TWrapperObject* self = asWrapperObject(object);
  TNativeGuard::Unlink(self->Base.Link);
  if (!self->Parked) self->Def->Counters.Delete();
  self->Parked = true;
  parked_[parkedCount_++] = {object, spare.ClassId};
}

void TPyDelphiWrapper::TakeKeptSpare(TSpareItem& spare) {
  if (spare.Object != nullptr || parkedCount_ == 0) return;
  const TParkedItem taken = parked_[--parkedCount_];
  spare = {taken.Object, taken.ClassId};
}

Object TPyDelphiWrapper::WrapOwned(const TNativeObject& object) {
  if (object.Object == nullptr) return engine_->None();
  Object result = NewWrapper(object);
  TWrapperObject* self = asWrapperObject(result.ptr());
  self->OwnGuard = new TNativeGuard(object.Object);
  self->OwnGuard->Link(self->Base.Link);
  self->Owned = true;
  return result;
}

TWrapperObject* TPyDelphiWrapper::AsWrapper(Handle object) const {
  if (!object) return nullptr;
  PyObject* type = reinterpret_cast<PyObject*>(object.ptr()->ob_type);
  for (const TRegisteredClass& entry : classes_) {
    if (entry.Type.ptr() == type) return asWrapperObject(object.ptr());
  }
  return nullptr;
}

Handle TPyDelphiWrapper::AuxiliaryType(const std::string& typeName) const {
  for (const TAuxiliaryType& type : auxiliary_) {
    if (type.Def->TypeName == typeName) return type.Type;
  }
  return {};
}

Handle TPyDelphiWrapper::AuxiliaryType(const TAuxiliaryTypeDef& def) const {
  for (const TAuxiliaryType& type : auxiliary_) {
    if (type.Def == &def) return type.Type;
  }
  return {};
}

Handle TPyDelphiWrapper::TypeOf(const TWrapperTypeDef& def) const {
  for (const TRegisteredClass& entry : classes_) {
    if (entry.Def == &def) return entry.Type;
  }
  return {};
}

std::vector<TTypeStats> TPyDelphiWrapper::Stats() const {
  std::vector<TTypeStats> result;
  const auto add = [&](const std::string& name, const TTypeCounters& counters) {
    for (const TTypeStats& known : result) {
      if (known.TypeName == name) return;
    }
    result.push_back({name, counters.Live, counters.Created, counters.Deleted});
  };
  for (const TAuxiliaryType& type : auxiliary_) add(type.Def->TypeName, type.Def->Counters);
  for (const TRegisteredClass& entry : classes_) add(entry.Def->TypeName, entry.Def->Counters);
  return result;
}

}  // namespace corvane::py
