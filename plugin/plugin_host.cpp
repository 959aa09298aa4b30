// The module's ways to the host: log lines and their notification, data and
// events through DataLogger_SendDataEx, and the error reports of the entry
// points.
#include <exception>
#include <string>

#include "common/exceptions.h"
#include "common/params_list_wrap.h"
#include "platform/call_stack.h"
#include "platform/code_page.h"
#include "platform/diagnostics.h"
#include "platform/message_window.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_values.h"

namespace corvane {

void TkivPlugin::AddLog(TLogKind kind, std::string_view text, bool flag) noexcept {
  if (closing_ || !log_) return;
  try {
    log_->Add(EncodeLogLine(kind, LogTitle(), text, flag));
    NotifyLogPending();
  } catch (...) {
    // Logging never disturbs its caller.
  }
}

void TkivPlugin::NotifyLogPending() noexcept {
  const uintptr_t hostWindow = HostWindow();
  if (hostWindow == 0) return;
  try {
    const auto window = reinterpret_cast<platform::WindowHandle>(hostWindow);
    if (!platform::postMessage(window, HostMsgLogPending, moduleIndex_, 0)) {
      // A full queue: wait a little for the host, but never for a hung one.
      intptr_t ignored = 0;
      platform::sendMessageTimeout(window, HostMsgLogPending, moduleIndex_, 0, platform::kSmtoAbortIfHung, 1000,
                                   &ignored);
    }
  } catch (...) {
  }
}

int32_t TkivPlugin::SendDataToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, int32_t kind,
                                   void* data, int32_t count) const {
  if (hostFunctions_.SendDataEx == nullptr) return -1;
  return hostFunctions_.SendDataEx(hostId, dataSourceId, clientId, 0, kind, data, count);
}

int32_t TkivPlugin::SendByteToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, uint8_t value) const {
  // The host reads one byte from a 32-bit slot.
  uint32_t slot = value;
  return SendDataToHost(hostId, dataSourceId, clientId, HostSendBytes, &slot, 1);
}

int32_t TkivPlugin::SendBytesToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId, const void* data,
                                    int32_t count) const {
  if (count == 1) return SendByteToHost(hostId, dataSourceId, clientId, *static_cast<const uint8_t*>(data));
  return SendDataToHost(hostId, dataSourceId, clientId, HostSendBytes, const_cast<void*>(data), count);
}

int32_t TkivPlugin::SendStringToHost(uint32_t hostId, int32_t dataSourceId, uint32_t clientId,
                                     std::string_view text) const {
  if (hostFunctions_.SendDataEx == nullptr) return -1;
  if (text.empty()) return 0;  // an empty text is never sent
  return SendDataToHost(hostId, dataSourceId, clientId, HostSendString, const_cast<char*>(text.data()),
                        static_cast<int32_t>(text.size()));
}

int32_t TkivPlugin::RaiseHostEvent(bool global, std::string_view eventType, const TkivParamsList* params,
                                   uint32_t hostId, int32_t dataSourceId, uint32_t clientId) const {
  if (hostFunctions_.SendDataEx == nullptr) return -1;
  ParamsListPtr event = TkivParamsList::Create();
  bool isGlobal = global;
  if (params != nullptr) {
    if (const TkivParamsListItem* item = params->ItemByName("EVENT-GLOBAL")) {
      isGlobal = BoolOf(item->ValueRef()).value_or(false);
    }
  }
  if (isGlobal) event->AddItem("EVENT-GLOBAL", platform::OleVariant::fromBool(true).raw());
  event->AddItem("EVENT-TYPE", TextValue(platform::ansiUpper(eventType)).raw());
  if (params != nullptr) event->CopyFrom(params);
  // The interface is valid only during the call; the wrapper does not own
  // the list, which goes with `event`.
  ParamsListWrapPtr wrapper(TkivParamsListWrap::Create(event.get(), true));
  return SendDataToHost(hostId, dataSourceId, clientId, HostSendEvent, wrapper->GetInterface(), 0);
}

void ReportException(TkivPlugin* instance, std::string_view context, std::string_view message) noexcept {
  try {
    std::string text(message);
    if (!context.empty()) text = "{" + std::string(context) + "} " + text;
    if (instance != nullptr) instance->AddLog(lkError, text);
    platform::outputDebugString(text + ": " + platform::callStackText());
  } catch (...) {
  }
}

void ReportException(TkivPlugin* instance, std::string_view context, const std::exception& error) noexcept {
  ReportException(instance, context, FailureText(error));
  // A broken invariant also names the place in the code for the debugger.
  if (const auto* assertion = dynamic_cast<const EAssertionFailed*>(&error)) {
    try {
      const SourceLocation& where = assertion->Where();
      platform::outputDebugString(std::string("{") + std::string(context) + "} assertion at " + where.file_name() +
                                  ":" + std::to_string(where.line()) + " in " + where.function_name());
    } catch (...) {
    }
  }
}

void LogCallStack(TkivPlugin& instance) noexcept {
  try {
    const std::string stack = platform::callStackText();
    if (!stack.empty()) instance.AddLog(lkError, stack);
  } catch (...) {
  }
}

}  // namespace corvane
