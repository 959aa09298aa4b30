#include "host/log_drain.h"

namespace corvane::host {

std::vector<LogLine> DrainLog(LoadedPlugin& plugin, const TPluginCallRecord& instance) {
  std::vector<char> buffer(1 << 16);
  std::string text;
  for (int attempt = 0; attempt < 8; ++attempt) {
    TPluginCallRecord record = instance;
    record.InputItem = {0, static_cast<int32_t>(buffer.size()), ditMemoryBlock, reinterpret_cast<uintptr_t>(buffer.data())};
    const int32_t copied = plugin.GetLogEx(&record);
    const auto pending = static_cast<size_t>(record.OutputItem.Pointer);
    if (copied > 0) {
      text.assign(buffer.data(), static_cast<size_t>(copied));
      break;
    }
    if (pending <= buffer.size()) break;  // nothing pending
    buffer.resize(pending + 4096);       // lines arrived meanwhile get room too
  }
  std::vector<LogLine> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    if (end == start) continue;
    const int kind = static_cast<unsigned char>(text[start]) & 0x7F;
    lines.push_back({kind >= 1 && kind <= 3 ? kind : 0, text.substr(start + 1, end - start - 1)});
  }
  return lines;
}

const char* LogKindName(int kind) {
  static const char* const names[] = {"?", "error", "warning", "info"};
  return names[kind >= 1 && kind <= 3 ? kind : 0];
}

}  // namespace corvane::host
