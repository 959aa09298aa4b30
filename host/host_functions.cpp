// The host function the plug-in calls to send data, text and events to the
// host's data sources. Exported from the executable, where the plug-in finds
// it through the module handle given as "HANDLE".
#include <cstdio>
#include <mutex>

#include "common/params_list_interfaces.h"
#include "host/host_calls.h"
#include "platform/abi.h"
#include "platform/code_page.h"

namespace corvane::host {
namespace {

std::mutex sinkLock;
std::function<void(HostCall)>& currentSink() {
  static std::function<void(HostCall)> sink;
  return sink;
}

// The event's list is valid only during the call: its items are read now.
void readEvent(IkivParamsListA* list, HostCall& call) {
  for (int32_t i = 0; i < list->GetCount(); ++i) {
    IkivParamsListItemA* item = nullptr;
    if (platform::failed(list->GetItem(i, &item)) || item == nullptr) continue;
    platform::Variant value{};
    item->GetValue(&value);
    const char* name = item->GetName();
    const std::string itemName = name ? platform::ansiToUtf8(name) : "";
    Json converted = VariantToJson(value);
    if (itemName == "EVENT-TYPE" && converted.is_string()) {
      call.Event = converted.get<std::string>();
    } else {
      call.Params[itemName] = std::move(converted);
    }
    platform::variantClear(&value);
    item->Release();
  }
}

}  // namespace

void SetHostCallSink(std::function<void(HostCall)> sink) {
  std::lock_guard guard(sinkLock);
  currentSink() = std::move(sink);
}

}  // namespace corvane::host

extern "C" CV_EXPORT int32_t CV_STDCALL DataLogger_SendDataEx(uint32_t hostId, int32_t dataSourceId,
                                                              uint32_t clientId, int32_t, int32_t kind, void* data,
                                                              int32_t count) {
  using namespace corvane;
  try {
    host::HostCall call;
    call.HostId = hostId;
    call.DataSourceId = dataSourceId;
    call.ClientId = clientId;
    call.Kind = kind;
    if (kind == 7 && data != nullptr) {
      host::readEvent(static_cast<IkivParamsListA*>(data), call);
    } else if (data != nullptr && count > 0) {
      call.Bytes.assign(static_cast<const char*>(data), static_cast<size_t>(count));
    }
    std::lock_guard guard(host::sinkLock);
    if (host::currentSink()) {
      host::currentSink()(std::move(call));
    } else {
      std::printf("send: instance %u, data source %d, client %u, kind %d, %d bytes\n", hostId, dataSourceId, clientId,
                  kind, kind == 7 ? 0 : count);
    }
    return 0;
  } catch (...) {
    return -1;
  }
}
