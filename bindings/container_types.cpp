// Container objects (what a property such as Items returns) and iterators
// over a container access. Both refer to the native container, so both are
// linked to its guard and die with it.
#include "bindings/callback_guard.h"
#include "bindings/python_errors.h"
#include "bindings/wrapper.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace corvane::py {

namespace {

struct TContainerObject {
  TNativeRefObject Base;
  const TContainerAccessDef* Access;
  void* Native;
  Py_ssize_t Position;  // iterators: the next index
  // Iterators over an access with NativeItem: the objects of the last two
  // steps. In a for loop the loop variable still holds the previous step's
  // object when the next step is taken, but no longer the one before; that
  // one, held by nobody else, is bound to the new item instead of freeing
  // it and making another.
  TSpareItem Spares[2];
  int NextSpare;
};

TContainerObject* asContainer(PyObject* object) { return reinterpret_cast<TContainerObject*>(object); }

TTypeCounters& countersOf(PyObject* object);

[[noreturn]] void throwGone(const TContainerObject& self) {
  throw EPyReferenceError(std::string("The native container of this ") + self.Access->Name + " no longer exists");
}

TContainerObject& bound(PyObject* object) {
  TContainerObject* self = asContainer(object);
  if (!self->Base.Link.Alive()) throwGone(*self);
  return *self;
}

TAccessTarget targetOf(const TContainerObject& self) {
  return {self.Base.Wrapper, self.Native, self.Base.Link.Guard};
}

// Fills the iterator's empty spares with item objects an ended iteration left.
void takeKeptSpares(TContainerObject& self) {
  if (self.Access->NativeItem == nullptr) return;
  for (TSpareItem& spare : self.Spares) self.Base.Wrapper->TakeKeptSpare(spare);
}

void containerDealloc(PyObject* object) {
  TContainerObject* self = asContainer(object);
  const PythonApi* api = self->Base.Api;
  TNativeGuard::Unlink(self->Base.Link);
  countersOf(object).Delete();
  for (TSpareItem& spare : self->Spares) {
    if (spare.Object != nullptr) self->Base.Wrapper->ReleaseSpare(spare);
  }
  FreeHeapObject(*api, object);
}

PyObject* containerRepr(PyObject* object) {
  TContainerObject* self = asContainer(object);
  return GuardedObject(*self->Base.Api, [&] {
    char address[32];
    std::snprintf(address, sizeof address, "%" PRIXPTR, reinterpret_cast<uintptr_t>(object));
    return self->Base.Wrapper->Engine().TextToPython(std::string("<Container access ") + self->Access->Name +
                                                      " at " + address + ">");
  });
}

Py_ssize_t containerLength(PyObject* object) {
  return Guarded(*asContainer(object)->Base.Api, Py_ssize_t{-1}, [&] {
    TContainerObject& self = bound(object);
    return self.Access->Count(targetOf(self));
  });
}

PyObject* containerItem(PyObject* object, Py_ssize_t index) {
  return GuardedObject(*asContainer(object)->Base.Api, [&] {
    TContainerObject& self = bound(object);
    const TAccessTarget target = targetOf(self);
    CheckIndex(index, self.Access->Count(target));
    return self.Access->Item(target, index);
  });
}

int containerStore(PyObject* object, Py_ssize_t index, PyObject* value) {
  return Guarded(*asContainer(object)->Base.Api, -1, [&] {
    TContainerObject& self = bound(object);
    if (self.Access->Store == nullptr)
      throw EPySystemError(std::string("Container ") + self.Access->Name + " does not support indexed write (f[i] = x)");
    const TAccessTarget target = targetOf(self);
    CheckIndex(index, self.Access->Count(target));
    self.Access->Store(target, index, value);
    return 0;
  });
}

int containerContains(PyObject* object, PyObject* value) {
  return Guarded(*asContainer(object)->Base.Api, -1, [&] {
    TContainerObject& self = bound(object);
    if (self.Access->IndexOf == nullptr)
      throw EPySystemError(std::string("Container ") + self.Access->Name + " does not support the Contains protocol");
    return self.Access->IndexOf(targetOf(self), value) >= 0 ? 1 : 0;
  });
}

PyObject* containerIter(PyObject* object) {
  return GuardedObject(*asContainer(object)->Base.Api, [&] {
    TContainerObject& self = bound(object);
    return NewIterator(*self.Base.Wrapper, *self.Access, targetOf(self));
  });
}

PyObject* iteratorSelf(PyObject* object) {
  asContainer(object)->Base.Api->Py_IncRef(object);
  return object;
}

// The end of an iteration is set directly: it comes once per loop, and a
// C++ throw would cost more than the whole iteration.
Object stopIteration(const PythonApi& api) {
  api.PyErr_SetString(*api.PyExc_StopIteration, "StopIteration");
  return Object();
}

// The item object of the next step, by rebinding a spare object where one
// is free.
Object nextItemObject(TContainerObject& self, const TAccessTarget& target) {
  const void* classId = nullptr;
  // No item past the end; read at every step, so items appended meanwhile
  // are visited.
  const TNativeObject item = self.Access->NativeItem(target, self.Position, &classId);
  if (item.Object == nullptr) return stopIteration(*self.Base.Api);
  ++self.Position;
  TSpareItem& spare = self.Spares[self.NextSpare];
  self.NextSpare ^= 1;
  return self.Base.Wrapper->WrapItem(item, *target.Guard, classId, spare);
}

PyObject* iteratorNext(PyObject* object) {
  return GuardedObject(*asContainer(object)->Base.Api, [&] {
    TContainerObject& self = bound(object);
    const TAccessTarget target = targetOf(self);
    if (self.Access->NativeItem != nullptr) return nextItemObject(self, target);
    // The count is read at every step, so items appended meanwhile are visited.
    if (self.Position >= self.Access->Count(target)) return stopIteration(*self.Base.Api);
    return self.Access->Item(target, self.Position++);
  });
}

TAuxiliaryTypeDef makeContainerDef() {
  TAuxiliaryTypeDef def;
  def.TypeName = "Container";
  def.BasicSize = sizeof(TContainerObject);
  def.Published = false;
  def.Slots = {
      {kSlotTpDealloc, reinterpret_cast<void*>(&containerDealloc)},
      {kSlotTpNew, reinterpret_cast<void*>(&RefuseConstruction)},
      {kSlotTpRepr, reinterpret_cast<void*>(&containerRepr)},
      {kSlotTpIter, reinterpret_cast<void*>(&containerIter)},
      {kSlotSqLength, reinterpret_cast<void*>(&containerLength)},
      {kSlotSqItem, reinterpret_cast<void*>(&containerItem)},
      {kSlotSqAssItem, reinterpret_cast<void*>(&containerStore)},
      {kSlotSqContains, reinterpret_cast<void*>(&containerContains)},
      {kSlotTpDoc, const_cast<char*>("Container of the items of a native object")},
  };
  return def;
}

TAuxiliaryTypeDef makeIteratorDef() {
  TAuxiliaryTypeDef def;
  def.TypeName = "Iterator";
  def.BasicSize = sizeof(TContainerObject);
  def.Published = false;
  def.Slots = {
      {kSlotTpDealloc, reinterpret_cast<void*>(&containerDealloc)},
      {kSlotTpNew, reinterpret_cast<void*>(&RefuseConstruction)},
      {kSlotTpIter, reinterpret_cast<void*>(&iteratorSelf)},
      {kSlotTpIternext, reinterpret_cast<void*>(&iteratorNext)},
      {kSlotTpDoc, const_cast<char*>("Iterator over the items of a native object")},
  };
  return def;
}

const TAuxiliaryTypeDef& containerDef() {
  static const TAuxiliaryTypeDef def = makeContainerDef();
  return def;
}

const TAuxiliaryTypeDef& iteratorDef() {
  static const TAuxiliaryTypeDef def = makeIteratorDef();
  return def;
}

TTypeCounters& countersOf(PyObject* object) {
  return asContainer(object)->Position < 0 ? containerDef().Counters : iteratorDef().Counters;
}

Object newAccessObject(TPyDelphiWrapper& wrapper, const TAuxiliaryTypeDef& def, const TContainerAccessDef& access,
                       const TAccessTarget& target, Py_ssize_t position) {
  const PythonApi& api = wrapper.Api();
  Handle type = wrapper.AuxiliaryType(def);
  Object result = Checked(api, api.PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type.ptr()), 0));
  TContainerObject* self = asContainer(result.ptr());
  self->Base.Api = &api;
  self->Base.Wrapper = &wrapper;
  self->Base.Link = {};
  self->Access = &access;
  self->Native = target.Native;
  self->Position = position;
  self->Spares[0] = self->Spares[1] = {nullptr, nullptr};
  self->NextSpare = 0;
  if (position >= 0) takeKeptSpares(*self);
  if (target.Guard != nullptr) target.Guard->Link(self->Base.Link);
  def.Counters.Create();
  return result;
}

}  // namespace

Object NewContainer(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target) {
  return newAccessObject(wrapper, containerDef(), access, target, -1);
}

Object NewIterator(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target) {
  return newAccessObject(wrapper, iteratorDef(), access, target, 0);
}

Object NewIterator(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target,
                   PyObject*& cache) {
  const PythonApi& api = wrapper.Api();
  if (cache != nullptr && cache->ob_refcnt == 1) {
    TContainerObject* self = asContainer(cache);
    if (self->Access == &access && self->Native == target.Native && self->Base.Link.Guard == target.Guard &&
        target.Guard != nullptr) {
      // Unseen by anyone since its loop ended: as good as a new one.
      self->Position = 0;
      takeKeptSpares(*self);
      iteratorDef().Counters.Delete();
      iteratorDef().Counters.Create();
      return Object::Borrow(api, cache);
    }
  }
  Object made = NewIterator(wrapper, access, target);
  if (cache != nullptr) api.Py_DecRef(cache);
  cache = Object::Borrow(api, made.ptr()).release();
  return made;
}

std::vector<const TAuxiliaryTypeDef*> MechanismTypes() { return {&containerDef(), &iteratorDef()}; }

}  // namespace corvane::py
