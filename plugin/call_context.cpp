#include "plugin/call_context.h"

#include <cstring>

#include "common/params_list.h"
#include "common/params_list_wrap.h"

namespace corvane {

bool CallContext::HoldsNativeList(uintptr_t address) {
  return address != 0 && TkivParamsList::HasSignature(reinterpret_cast<const void*>(address));
}

void CallContext::Enter(TPluginCallRecord& record) {
  Leave();
  std::memcpy(&original_, &record, sizeof record);
  record_ = &record;

  if (record.Params != 0) {
    if (!HoldsNativeList(record.Params)) {
      record.CallOptions |= CallOptionParamsIsInterface;
      params_ = InterfaceRef<IkivParamsListA>::Borrow(*reinterpret_cast<IkivParamsListA* const*>(record.Params));
    } else {
      params_ = TkivParamsListWrap::NewInterfaceA(reinterpret_cast<TkivParamsList*>(record.Params), true);
      record.Params = reinterpret_cast<uintptr_t>(params_.address());
      paramsReplaced_ = true;
    }
  }
  inputWrapped_ = WrapItem(record.InputItem, input_);
  outputWrapped_ = WrapItem(record.OutputItem, output_);
}

bool CallContext::WrapItem(TPluginDataItem& item, InterfaceRef<IkivParamsListW>& slot) {
  const bool wrap = item.Type == ditWrappedParamsList ||
                    (item.Type == ditParamsList && (item.Pointer == 0 || HoldsNativeList(item.Pointer)));
  if (!wrap) return false;
  slot = TkivParamsListWrap::NewInterfaceW(reinterpret_cast<TkivParamsList*>(item.Pointer), true);
  item.Type = ditListInterface;
  item.Pointer = reinterpret_cast<uintptr_t>(slot.address());
  return true;
}

// A slot's address may have moved to the other item (a filter passing its
// input through as output), so both items are checked against both slots.
// Count stays as the call left it: it carries the call's answer.
void CallContext::GiveBackSlots() noexcept {
  struct Slot {
    bool made;
    uintptr_t address;
    const TPluginDataItem* hostForm;
  };
  const Slot slots[] = {
      {inputWrapped_, reinterpret_cast<uintptr_t>(input_.address()), &original_.InputItem},
      {outputWrapped_, reinterpret_cast<uintptr_t>(output_.address()), &original_.OutputItem},
  };
  for (TPluginDataItem* item : {&record_->InputItem, &record_->OutputItem}) {
    for (const Slot& slot : slots) {
      if (!slot.made || item->Pointer != slot.address) continue;
      item->Size = slot.hostForm->Size;
      item->Type = slot.hostForm->Type;
      item->Pointer = slot.hostForm->Pointer;
      break;
    }
  }
}

void CallContext::Leave() noexcept {
  if (record_ == nullptr) return;
  record_->CallOptions = original_.CallOptions;
  if (paramsReplaced_) {
    record_->Params = original_.Params;
    paramsReplaced_ = false;
  }
  GiveBackSlots();
  inputWrapped_ = false;
  outputWrapped_ = false;
  params_.reset();
  input_.reset();
  output_.reset();
  record_ = nullptr;
}

}  // namespace corvane
