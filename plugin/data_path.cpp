// The framework's processing of one data packet, around the module's
// OnProcessData handler.
#include <exception>
#include <string>

#include "plugin/call_context.h"
#include "plugin/call_record.h"
#include "plugin/call_result.h"
#include "plugin/plugin_module.h"

namespace corvane {
namespace {

// An input list without values counts as no data.
bool isEmptyList(const TPluginDataItem& item) {
  if (item.Type != ditListInterface || item.Pointer == 0) return false;
  IkivParamsListW* list = *reinterpret_cast<IkivParamsListW* const*>(item.Pointer);
  return list == nullptr || list->GetCount() == 0;
}

}  // namespace

int32_t TkivPlugin::ProcessPacket(TPluginCallRecord* record) {
  if (record == nullptr || record->RecordSize != CallRecordSize) return 0;
  CallContext context;
  context.Enter(*record);
  int32_t result = 0;

  if (record->RoleFlags != 0) {
    if (!HasRole(*record, mrQuery) && isEmptyList(record->InputItem)) record->InputItem.Pointer = 0;
    const bool writes = HasRole(*record, mrExport) || HasRole(*record, mrStore);
    if (HasRole(*record, mrExport) && record->InputItem.Pointer == 0) {
      if (!MsgNoData().empty()) AddLog(lkWarning, MsgNoData());
    } else if (OnProcessData.Assigned()) {
      try {
        OnProcessData.Raise(*this, record, result);
        if (result > 0 && record->InputItem.Pointer == 0) result = 0;
        if (writes) {
          if (result < 0) {
            if (!MsgWriteCompleteError().empty()) AddLog(lkWarning, MsgWriteCompleteError());
          } else if (!MsgWriteComplete().empty()) {
            AddLog(lkInformation, MsgWriteComplete());
          }
        }
      } catch (const std::exception& e) {
        result = kResultFailed;
        if (!MsgWriteCompleteError().empty()) AddLog(lkWarning, MsgWriteCompleteError() + ": " + e.what());
      }
    } else if (HasRole(*record, mrFilter)) {
      // The packet passes through unchanged; a wrapped input list reaches
      // the host again as its own list when the context ends.
      record->OutputItem = record->InputItem;
    }
  }
  return result;
}

}  // namespace corvane
