// The plug-in library's eight exported entry points: stdcall, undecorated
// names, C linkage. Each only forwards to the C++ implementation, which
// never lets an exception out.
#include "platform/abi.h"
#include "plugin/call_record.h"
#include "plugin/entry_points.h"

using corvane::TPluginCallRecord;

extern "C" {

CV_EXPORT int32_t CV_STDCALL CreatePluginInstance(TPluginCallRecord* record) {
  return corvane::CreatePluginInstance(record);
}

CV_EXPORT int32_t CV_STDCALL FreePluginInstance(TPluginCallRecord* record) {
  return corvane::FreePluginInstance(record);
}

CV_EXPORT uint8_t CV_STDCALL GetModuleInfo(TPluginCallRecord* record, void* buffer, uint32_t* size) {
  return corvane::GetModuleInfo(record, buffer, size);
}

CV_EXPORT int32_t CV_STDCALL GetLogEx(TPluginCallRecord* record) { return corvane::GetLogEx(record); }

CV_EXPORT void CV_STDCALL GetOptionsDialog(TPluginCallRecord* record) { corvane::GetOptionsDialog(record); }

CV_EXPORT void CV_STDCALL ShowOptionsDialog(TPluginCallRecord* record) { corvane::ShowOptionsDialog(record); }

CV_EXPORT int32_t CV_STDCALL ExecutePluginCommand(TPluginCallRecord* record) {
  return corvane::ExecutePluginCommand(record);
}

CV_EXPORT int32_t CV_STDCALL ProcessData(TPluginCallRecord* record) { return corvane::ProcessData(record); }

}  // extern "C"
