// Native classes as the wrapper machinery sees them. A wrapper type is made
// for one native class; an object is wrapped by the type of its own class or
// of its nearest registered ancestor. The project's native objects carry
// their class in different ways (a parameter list or item names its class
// table, which names its parent; other classes are fixed), so each kind of
// native object says how to walk its class chain, from its own class up to
// the root class TObject.
#pragma once

#include <string_view>

namespace corvane {
class TkivParamsList;
class TkivParamsListItem;
class TFIFOStream;
}  // namespace corvane

namespace corvane::py {

// A class: its identity (the class table, or a record of its own) and name.
// No member initialisers: a chain's unused entries are never written.
struct TNativeClass {
  const void* Id;
  const char* Name;
  friend bool operator==(const TNativeClass& a, const TNativeClass& b) { return a.Id == b.Id; }
};

// The classes of one object, most derived first, the root class last.
struct TClassChain {
  static constexpr int kMaxDepth = 16;
  TNativeClass Classes[kMaxDepth];
  int Count = 0;
  void Add(const TNativeClass& nativeClass) {
    if (Count < kMaxDepth) Classes[Count++] = nativeClass;
  }
  bool Contains(const TNativeClass& nativeClass) const {
    for (int i = 0; i < Count; ++i) {
      if (Classes[i] == nativeClass) return true;
    }
    return false;
  }
};

struct TNativeKind {
  void (*Chain)(const void* object, TClassChain& chain);
  void (*Free)(void* object);  // frees an object a wrapper owns
};

// An object with the kind that knows its class chain; empty for nil.
struct TNativeObject {
  void* Object = nullptr;
  const TNativeKind* Kind = nullptr;
  TClassChain Chain() const {
    TClassChain chain;
    if (Object != nullptr) Kind->Chain(Object, chain);
    return chain;
  }
};

extern const TNativeClass kObjectClass;          // TObject, the root
extern const TNativeClass kThreadObjectClass;    // TThreadObject
extern const TNativeClass kFifoStreamClass;      // TFIFOStream
TNativeClass ParamsListClass();                  // TkivParamsList
TNativeClass ParamsListItemClass();              // TkivParamsListItem

TNativeObject NativeObject(TkivParamsList* list);
TNativeObject NativeObject(TkivParamsListItem* item);
TNativeObject NativeObject(TFIFOStream* stream);

}  // namespace corvane::py
