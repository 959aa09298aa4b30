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
  WrapItem(record.InputItem, input_);
  WrapItem(record.OutputItem, output_);
}

void CallContext::WrapItem(TPluginDataItem& item, InterfaceRef<IkivParamsListW>& slot) {
  const bool wrap = item.Type == ditWrappedParamsList ||
                    (item.Type == ditParamsList && (item.Pointer == 0 || HoldsNativeList(item.Pointer)));
  if (!wrap) return;
  slot = TkivParamsListWrap::NewInterfaceW(reinterpret_cast<TkivParamsList*>(item.Pointer), true);
  item.Type = ditListInterface;
  item.Pointer = reinterpret_cast<uintptr_t>(slot.address());
}

void CallContext::Leave() noexcept {
  if (record_ == nullptr) return;
  record_->CallOptions = original_.CallOptions;
  if (paramsReplaced_) {
    record_->Params = original_.Params;
    paramsReplaced_ = false;
  }
  params_.reset();
  input_.reset();
  output_.reset();
  record_ = nullptr;
}

}  // namespace corvane
