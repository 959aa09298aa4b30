// CallContext: prepares a host's call record before the module object sees
// it and restores it afterwards. During the call Params always addresses an
// IkivParamsListA reference and list items always carry type 9 (the address
// of an IkivParamsListW reference), whichever form the host used: a native
// list object of the shared layout is wrapped into a slot the context owns,
// an interface reference is held. The context lives on the caller's stack
// for the duration of one call; its slots go with it, so no item is left
// addressing one.
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
  // Restores CallOptions and a replaced Params, gives every item (input or
  // output) that still addresses one of the context's slots back the form
  // the host gave for that slot, and drops the references the context holds.
  // Only when entered.
  void Leave() noexcept;

  bool Active() const { return record_ != nullptr; }
  const TPluginCallRecord& Original() const { return original_; }
  // The address the input item's Pointer holds while the call runs, when
  // the context wrapped it (0 otherwise).
  uintptr_t InputSlot() const { return inputWrapped_ ? reinterpret_cast<uintptr_t>(input_.address()) : 0; }

 private:
  static bool HoldsNativeList(uintptr_t address);
  static bool WrapItem(TPluginDataItem& item, InterfaceRef<IkivParamsListW>& slot);
  void GiveBackSlots() noexcept;

  TPluginCallRecord* record_ = nullptr;
  TPluginCallRecord original_{};
  InterfaceRef<IkivParamsListA> params_;
  InterfaceRef<IkivParamsListW> input_;
  InterfaceRef<IkivParamsListW> output_;
  bool paramsReplaced_ = false;
  bool inputWrapped_ = false;
  bool outputWrapped_ = false;
};

}  // namespace corvane
