// The class chains of the project's native objects.
#include "bindings/native_class.h"

#include "common/fifo_stream.h"
#include "common/params_list.h"

namespace corvane::py {

namespace {
const char kObjectId = 0;
const char kThreadObjectId = 0;
const char kFifoStreamId = 0;
}  // namespace

const TNativeClass kObjectClass{&kObjectId, "TObject"};
const TNativeClass kThreadObjectClass{&kThreadObjectId, "TThreadObject"};
const TNativeClass kFifoStreamClass{&kFifoStreamId, "TFIFOStream"};

TNativeClass ParamsListClass() { return {&TkivParamsList::Class, TkivParamsList::Class.ClassName}; }
TNativeClass ParamsListItemClass() { return {&TkivParamsListItem::Class, TkivParamsListItem::Class.ClassName}; }

namespace {

void listChain(const void* object, TClassChain& chain) {
  for (const TkivParamsListClass* c = static_cast<const TkivParamsList*>(object)->ClassRef(); c != nullptr;
       c = c->Parent)
    chain.Add({c, c->ClassName});
  chain.Add(kObjectClass);
}

void itemChain(const void* object, TClassChain& chain) {
  for (const TkivParamsListItemClass* c = static_cast<const TkivParamsListItem*>(object)->ClassRef(); c != nullptr;
       c = c->Parent)
    chain.Add({c, c->ClassName});
  chain.Add(kObjectClass);
}

void fifoChain(const void*, TClassChain& chain) {
  chain.Add(kFifoStreamClass);
  chain.Add(kThreadObjectClass);
  chain.Add(kObjectClass);
}

const TNativeKind kListKind{&listChain, [](void* object) { static_cast<TkivParamsList*>(object)->Destroy(); }};
const TNativeKind kItemKind{&itemChain, [](void* object) { static_cast<TkivParamsListItem*>(object)->Destroy(); }};
const TNativeKind kFifoKind{&fifoChain, [](void* object) { delete static_cast<TFIFOStream*>(object); }};

}  // namespace

TNativeObject NativeObject(TkivParamsList* list) { return {list, &kListKind}; }
TNativeObject NativeObject(TkivParamsListItem* item) { return {item, &kItemKind}; }
TNativeObject NativeObject(TFIFOStream* stream) { return {stream, &kFifoKind}; }

}  // namespace corvane::py
