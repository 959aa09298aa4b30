// The wrapper machinery that lets scripts hold native objects.
//
// A registration record (TRegisteredUnit) per unit that provides script
// types is kept in one process-wide list. The wrapper component
// (TPyDelphiWrapper, an engine client) asks each record to register its
// wrapper types, in list order; when the interpreter starts it makes one
// heap type per registered class (PyType_FromSpec, so nothing depends on the
// runtime's type object layout), publishes the types in the script module
// and lets the records define their module functions. Wrap turns a native
// object into a script object of the type registered for its class, or for
// its nearest registered ancestor; the first registration of a class wins.
//
// Type definitions live as long as the process: the runtime keeps pointers
// into their method and property tables for as long as the types exist.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "bindings/engine_client.h"
#include "bindings/native_class.h"
#include "bindings/native_guard.h"
#include "bindings/py_object.h"
#include "bindings/python_interface.h"

namespace corvane {
class TPythonModule;
}

namespace corvane::py {

class TPyDelphiWrapper;
struct TWrapperTypeDef;

// The head of every script object that refers to native memory.
struct TNativeRefObject {
  PyObject Head;
  const PythonApi* Api;       // the engine's table; outlives every object of its interpreter
  TPyDelphiWrapper* Wrapper;  // the component that made the object
  TGuardLink Link;            // alive while the native object is
};

// An item object that its maker holds on to, so that once nobody else holds
// it, it can stand for the next item instead of being freed and another made.
struct TSpareItem {
  PyObject* Object = nullptr;     // a reference of the holder's own, or null
  const void* ClassId = nullptr;  // the class of the item it was made for
};

// A wrapper object: a script object bound to one native object.
struct TWrapperObject {
  TNativeRefObject Base;
  const TWrapperTypeDef* Def;
  void* Native;
  const TNativeKind* Kind;
  TNativeGuard* OwnGuard;  // the guard of an object the wrapper owns, else null
  bool Owned;
  bool Parked;  // an item object kept for reuse that no script holds: already counted as deleted
};

// The wrapper object of a type with container access (Def->Access): also
// what its iterations and its methods returning items keep for reuse. Only
// these types carry it, so that other objects stay small to make.
struct TContainerWrapperObject {
  TWrapperObject Wrapper;
  // The iterator last made over the items (a reference of its own, or
  // null), made again from scratch only while a script holds it.
  PyObject* Iterator;
  TSpareItem Spare;  // the item object a method returned last
};

inline TContainerWrapperObject& AsContainerWrapper(TWrapperObject& wrapper) {
  return *reinterpret_cast<TContainerWrapperObject*>(&wrapper);
}

// What a container access works on: the native container, the guard its
// item objects link to, and the component that wraps them.
struct TAccessTarget {
  TPyDelphiWrapper* Wrapper = nullptr;
  void* Native = nullptr;
  TNativeGuard* Guard = nullptr;
};

// Access to the items of a native container.
struct TContainerAccessDef {
  const char* Name;  // used in messages and representations
  Py_ssize_t (*Count)(const TAccessTarget& target);
  Object (*Item)(const TAccessTarget& target, Py_ssize_t index);  // index checked by the caller
  // The index of a script object in the container, or -1; null: not supported.
  Py_ssize_t (*IndexOf)(const TAccessTarget& target, Handle object) = nullptr;
  // Stores item i; null: not supported.
  void (*Store)(const TAccessTarget& target, Py_ssize_t index, Handle value) = nullptr;
  // For containers whose Item wraps item i by WrapItem: that native item and
  // the identity of its class (objects of one class get one wrapper type),
  // or no object when index >= Count. Iterators then rebind item objects
  // nobody holds any more instead of making new ones. Null: iterators use
  // Count and Item.
  TNativeObject (*NativeItem)(const TAccessTarget& target, Py_ssize_t index, const void** classId) = nullptr;
};

// Live-instance counters of one script type (all under the interpreter lock).
struct TTypeCounters {
  int32_t Live = 0;
  int32_t Created = 0;
  int32_t Deleted = 0;
  void Create() {
    ++Live;
    ++Created;
  }
  void Delete() {
    --Live;
    ++Deleted;
  }
};

// A wrapper type for one native class.
struct TWrapperTypeDef {
  std::string TypeName;  // the class name without its leading T
  TNativeClass Class;
  std::string Doc;
  std::vector<PyMethodDef> Methods;     // the type's own, without the terminator
  std::vector<PyGetSetDef> Properties;  // likewise
  const TContainerAccessDef* Access = nullptr;
  reprfunc Repr = nullptr;  // null: "<Object of type %s at %X>"
  mutable TTypeCounters Counters;

  // The tables handed to the runtime: the members every wrapper shares,
  // then the type's own, terminated. Built once, on first use.
  PyMethodDef* AllMethods() const;
  PyGetSetDef* AllProperties() const;

 private:
  mutable std::vector<PyMethodDef> allMethods_;
  mutable std::vector<PyGetSetDef> allProperties_;
};

// A type that wraps no native class (VarParam, the container and iterator
// types): its own setup supplies name, size, flags and services.
struct TAuxiliaryTypeDef {
  std::string TypeName;
  int BasicSize = 0;
  unsigned int Flags = 0;
  std::vector<PyType_Slot> Slots;  // without the terminator
  bool Published = true;           // entered in the script module under its name
  // A module function "Create" + TypeName (null: none); its self names the
  // component (TPyDelphiWrapper::FromSelf).
  PyCFunction Create = nullptr;
  std::string CreateDoc;
  mutable TTypeCounters Counters;
  mutable PyMethodDef CreateMethod{};
  mutable std::string CreateName;
};

// A unit that provides script types.
class TRegisteredUnit {
 public:
  virtual ~TRegisteredUnit() = default;
  virtual const char* Name() const = 0;
  virtual void RegisterWrappers(TPyDelphiWrapper& wrapper) { (void)wrapper; }
  virtual void DefineVars(TPyDelphiWrapper& wrapper) { (void)wrapper; }
  virtual void DefineFunctions(TPyDelphiWrapper& wrapper) { (void)wrapper; }
};

// The process-wide list of registration records, in registration order:
// "kivParamsList", "FifoBuffer", "VarParam".
std::vector<TRegisteredUnit*>& RegisteredUnits();

class TPyDelphiWrapper : public TEngineClient {
 public:
  TPyDelphiWrapper();
  ~TPyDelphiWrapper() override;

  // The script module the types are published in (initialised before this).
  void SetModule(TPythonModule& module) { module_ = &module; }
  // Runs first when the component initialises (more types may be
  // registered there).
  std::function<void(TPyDelphiWrapper& wrapper)> OnInitialization;

  void RegisterWrapperType(const TWrapperTypeDef& def);
  void RegisterAuxiliaryType(const TAuxiliaryTypeDef& def);

  void Initialize(TPythonInterface& engine) override;
  void Finalize() override;
  bool Outlived() const override { return outlived_; }

  TPythonInterface& Engine() const { return *engine_; }
  const PythonApi& Api() const { return engine_->Api(); }

  // A script object for a native object that the guard's owner keeps alive
  // (None for nil); it dies when the guard is revoked.
  Object Wrap(const TNativeObject& object, TNativeGuard& guard);
  Object Wrap(const TNativeObject& object, TWrapScope& scope) { return Wrap(object, scope.GuardOf(object.Object)); }
  // A script object for an item of the list the guard keeps: it dies with
  // the list or when that item is deleted.
  // classId, when the caller knows it, is the item's own class (the first
  // of its chain), which spares walking the chain.
  Object WrapItem(const TNativeObject& item, TNativeGuard& listGuard, const void* classId = nullptr);
  // WrapItem through a spare: the spare's own object, bound to the item as
  // if it had died and a new one been made, when nobody else holds it and
  // it stands for an item of the same class; otherwise a new object, which
  // the spare then holds.
  Object WrapItem(const TNativeObject& item, TNativeGuard& listGuard, const void* classId, TSpareItem& spare);
  // Lets go of a spare. An object nobody else holds is kept (unbound and
  // counted as deleted) for the spares of the next iteration.
  void ReleaseSpare(TSpareItem& spare);
  // Fills an empty spare with an object kept that way, if there is one.
  void TakeKeptSpare(TSpareItem& spare);
  // A script object that owns its native object and frees it.
  Object WrapOwned(const TNativeObject& object);

  // The wrapper object behind a script object, or null when it is none.
  TWrapperObject* AsWrapper(Handle object) const;
  // The component a creation function was published by, from the function's self.
  static TPyDelphiWrapper& FromSelf(PyObject* self);
  Handle AuxiliaryType(const std::string& typeName) const;
  Handle AuxiliaryType(const TAuxiliaryTypeDef& def) const;
  Handle TypeOf(const TWrapperTypeDef& def) const;
  std::vector<TTypeStats> Stats() const;

 private:
  struct TRegisteredClass {
    const TWrapperTypeDef* Def;
    Object Type;  // per interpreter
    Py_ssize_t OwnReferences = 0;  // the type's count when made: every object of it adds one
  };
  struct TAuxiliaryType {
    const TAuxiliaryTypeDef* Def;
    Object Type;
    Py_ssize_t OwnReferences = 0;
  };

  const TRegisteredClass* Find(const TClassChain& chain) const;
  Object WrapItemReplacingSpare(const TNativeObject& item, TNativeGuard& listGuard, const void* classId,
                                TSpareItem& spare);
  // Find by the object's own class, remembered for the classes met so far.
  const TRegisteredClass* TypeFor(const TNativeObject& object, const void* classId);
  Object NewWrapper(const TNativeObject& object, const void* classId = nullptr);
  Object MakeType(const TWrapperTypeDef& def);
  Object MakeType(const TAuxiliaryTypeDef& def);
  void Publish(const char* name, Handle value);

  std::deque<TRegisteredClass> classes_;
  // What Find answered for the most derived classes of recent objects
  // (valid while the types are made, cleared with them).
  struct TKnownClass {
    const void* Id = nullptr;
    const TRegisteredClass* Entry = nullptr;
  };
  static constexpr int kKnownClasses = 8;
  TKnownClass known_[kKnownClasses];
  int nextKnown_ = 0;
  struct TParkedItem {
    PyObject* Object;
    const void* ClassId;
  };
  static constexpr int kParkedItems = 4;  // what an iteration and one nested in it use
  TParkedItem parked_[kParkedItems] = {};
  int parkedCount_ = 0;
  std::deque<TAuxiliaryType> auxiliary_;
  TPythonModule* module_ = nullptr;
  TPythonInterface* engine_ = nullptr;
  Object self_;  // self of the creation functions: an object that names this component
  bool outlived_ = false;
};

// Inline: iterators take this path at every step.
inline Object TPyDelphiWrapper::WrapItem(const TNativeObject& item, TNativeGuard& listGuard, const void* classId,
                                         TSpareItem& spare) {
  // A count of one is the spare's own reference; any other head (a runtime
  // that keeps more in the count word) only means no reuse.
  PyObject* object = spare.Object;
  if (object == nullptr || item.Object == nullptr || classId == nullptr || spare.ClassId != classId ||
      object->ob_refcnt != 1)
    return WrapItemReplacingSpare(item, listGuard, classId, spare);
  auto* self = reinterpret_cast<TWrapperObject*>(object);
  if (self->Base.Link.Guard == &listGuard) {
    self->Base.Link.Item = item.Object;
  } else {
    TNativeGuard::Unlink(self->Base.Link);
    listGuard.Link(self->Base.Link, item.Object);
  }
  self->Native = item.Object;
  self->Kind = item.Kind;
  // Counted as the death of one object and the birth of another.
  if (!self->Parked) self->Def->Counters.Delete();
  self->Parked = false;
  self->Def->Counters.Create();
  return Object::Borrow(*self->Base.Api, object);
}

// ---- Services for the concrete types

// The end of a non-collected object of a heap type: its memory, then the
// reference it held to its type.
void FreeHeapObject(const PythonApi& api, PyObject* object);

// The bound wrapper behind self; ReferenceError when its native object is gone.
TWrapperObject& BoundWrapper(PyObject* self);
// The class chain of a bound wrapper's native object.
TClassChain ChainOf(const TWrapperObject& wrapper);
// "<Object of type %s at %X>", or "<Unbound wrapper of type %s at %X>".
Object WrapperRepr(TWrapperObject& wrapper, const char* className);

// Argument checks: AttributeError "%s receives only integer values" /
// "%s receives only string values" with the given name.
int64_t CheckInteger(const PythonApi& api, Handle value, const char* name);
std::string CheckString(TPythonInterface& engine, Handle value, const char* name);
// None gives null; otherwise a live wrapper whose native object is of the
// required class or derived from it, else AttributeError naming the
// argument and the class.
TWrapperObject* CheckObject(const TPyDelphiWrapper& wrapper, Handle value, const TNativeClass& required,
                            const char* argument);
// IndexError "Index "%d" out of range" unless 0 <= index < count.
void CheckIndex(Py_ssize_t index, Py_ssize_t count);

// A new container object over the target's items, and an iterator over
// them; both die with the target's guard.
Object NewContainer(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target);
Object NewIterator(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target);
// The same, by restarting the iterator in cache when nobody else holds it
// (an ended loop's); otherwise a new one, which the cache then keeps.
Object NewIterator(TPyDelphiWrapper& wrapper, const TContainerAccessDef& access, const TAccessTarget& target,
                   PyObject*& cache);
// The container and iterator types every component makes first.
std::vector<const TAuxiliaryTypeDef*> MechanismTypes();
// Sets a TypeError for a script that calls a type without a constructor.
PyObject* RefuseConstruction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace corvane::py
