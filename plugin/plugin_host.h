// Error reports of the entry points: the log of the instance and the
// debugger output of the process.
#pragma once

#include <exception>
#include <string_view>

#include "plugin/plugin_module.h"

namespace corvane {

// Logs "{context} message" (just the message for an empty context) as an
// error of the instance, when there is one, and writes it with ": " and the
// call stack of the calling thread to the debugger output. Never raises.
void ReportException(TkivPlugin* instance, std::string_view context, const std::exception& error) noexcept;
void ReportException(TkivPlugin* instance, std::string_view context, std::string_view message) noexcept;

// Logs the call stack of the calling thread as one error line (nothing when
// the system gives none). Never raises.
void LogCallStack(TkivPlugin& instance) noexcept;

}  // namespace corvane
