// The FIFOStream script type (registration record "FifoBuffer"): a client's
// receive buffer, read with GetBytes and consumed with Shift.
#include "bindings/callback_guard.h"
#include "bindings/fast_args.h"
#include "bindings/wrapper.h"
#include "common/fifo_stream.h"

namespace corvane::py {

namespace {

TFIFOStream& streamOf(PyObject* self) { return *static_cast<TFIFOStream*>(BoundWrapper(self).Native); }
const PythonApi& apiOf(PyObject* self) { return *reinterpret_cast<TWrapperObject*>(self)->Base.Api; }

PyObject* getSize(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    return Checked(apiOf(self), apiOf(self).PyLong_FromLongLong(streamOf(self).DataSize()));
  });
}

PyObject* methodClear(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    const PythonApi& api = apiOf(self);
    ParseFastArgs(api, args, nargs, ":Clear");
    streamOf(self).Clear();
    return Object::Borrow(api, api.None());
  });
}

PyObject* methodShift(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    const PythonApi& api = apiOf(self);
    int count = 0;
    ParseFastArgs(api, args, nargs, "i:Shift", &count);
    streamOf(self).Shift(count);
    return Object::Borrow(api, api.None());
  });
}

PyObject* methodGetBytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    const PythonApi& api = apiOf(self);
    ParseFastArgs(api, args, nargs, ":GetBytes");
    TFIFOStream& stream = streamOf(self);
    // The data lock is a leaf lock (its holders only copy bytes), so taking
    // it under the interpreter lock cannot deadlock. The copy is a snapshot.
    const uint8_t* data = stream.LockData();
    PyObject* bytes = api.PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), stream.DataSize());
    stream.UnlockWrite();
    return Checked(api, bytes);
  });
}

TWrapperTypeDef makeDef() {
  TWrapperTypeDef def;
  def.TypeName = "FIFOStream";
  def.Class = kFifoStreamClass;
  def.Doc = "Wrapper of a native TFIFOStream: a client's receive buffer";
  def.Methods = {
      FastMethod("Clear", &methodClear, "TFifoBuffer.Clear()\nClears the buffer"),
      FastMethod("Shift", &methodShift, "TFifoBuffer.Shift()\nDeletes first N bytes from the buffer"),
      FastMethod("GetBytes", &methodGetBytes, "TFifoBuffer.GetBytes()\nReturns the buffer content as bytes"),
  };
  def.Properties = {
      {"Size", &getSize, nullptr, "The number of bytes in the buffer", nullptr},
  };
  return def;
}

class TFifoBufferUnit : public TRegisteredUnit {
 public:
  const char* Name() const override { return "FifoBuffer"; }
  void RegisterWrappers(TPyDelphiWrapper& wrapper) override {
    static const TWrapperTypeDef def = makeDef();
    wrapper.RegisterWrapperType(def);
  }
};

}  // namespace

TRegisteredUnit& FifoBufferUnit() {
  static TFifoBufferUnit unit;
  return unit;
}

}  // namespace corvane::py
