// The work of the exported entry points, in C++: each takes the host's call
// record, finds the instance through the process-wide list and answers with
// a result code. No exception leaves these functions.
#pragma once

#include <cstdint>

#include "plugin/call_record.h"

namespace corvane {

int32_t CreatePluginInstance(TPluginCallRecord* record) noexcept;
int32_t FreePluginInstance(TPluginCallRecord* record) noexcept;
uint8_t GetModuleInfo(TPluginCallRecord* record, void* buffer, uint32_t* size) noexcept;
int32_t GetLogEx(TPluginCallRecord* record) noexcept;
// Answers the options dialog block in the caller's buffer (InputItem), or a
// status in OutputItem: 1 no instance, 2 nothing to deliver, 3 buffer too
// small (OutputItem.Size then tells the size needed).
void GetOptionsDialog(TPluginCallRecord* record) noexcept;
// Hands one data packet to the instance's processing path.
int32_t ProcessData(TPluginCallRecord* record) noexcept;
// Runs the command named by the list's "COMMAND" value.
int32_t ExecutePluginCommand(TPluginCallRecord* record) noexcept;
// The answer is a status in OutputItem: 2 no instance, 3 no handler, 4 the
// handler started but did not finish, otherwise the handler's result.
void ShowOptionsDialog(TPluginCallRecord* record) noexcept;

}  // namespace corvane
