// CallContext: prepares a host's call record before the module object sees
// it and restores it afterwards. During the call Params always addresses an
// IkivParamsListA reference and list items always carry type 9 (the address
// of an IkivParamsListW reference), whichever form the host used: a native
// list object of the shared layout is wrapped, an interface reference is
// held. The context lives on the caller's stack for the duration of one call.
#pragma once

#include <cstdint>

#include "common/params_list_interfaces.h"
#include "plugin/call_record.h"

namespace corvane {

class CallContext {
 public:
  CallContext() = default;
  CallContext(const CallContext&) = delete;
  CallContext& operator=(const CallContext&) = delete;
  ~CallContext() { Leave(); }

  void Enter(TPluginCallRecord& record);
  // Restores CallOptions and a replaced Params and drops the references the
  // context holds; item types stay 9. Only when entered.
  void Leave() noexcept;

  bool Active() const { return record_ != nullptr; }
  const TPluginCallRecord& Original() const { return original_; }
  // The address an item's Pointer holds while the call runs (0 for an item
  // the context did not wrap).
  uintptr_t InputSlot() const { return reinterpret_cast<uintptr_t>(input_.address()); }

 private:
  static bool HoldsNativeList(uintptr_t address);
  void WrapItem(TPluginDataItem& item, InterfaceRef<IkivParamsListW>& slot);

  TPluginCallRecord* record_ = nullptr;
  TPluginCallRecord original_{};
  InterfaceRef<IkivParamsListA> params_;
  InterfaceRef<IkivParamsListW> input_;
  InterfaceRef<IkivParamsListW> output_;
  bool paramsReplaced_ = false;
};

}  // namespace corvane
