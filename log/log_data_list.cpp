#include "log/log_data_list.h"

#include <cstring>

namespace corvane {
namespace {

// Rewrites the last line with its repeat total and resets its counter.
void finishRepeatRun(TStringList& list) {
  const int32_t last = list.Count() - 1;
  if (last < 0) return;
  const intptr_t repeats = list.Objects(last);
  if (repeats == 0) return;
  list.SetStrings(last, list.Strings(last) + " x" + std::to_string(repeats + 1));
  list.SetObjects(last, 0);
}

}  // namespace

std::string EncodeLogLine(TLogKind kind, std::string_view title, std::string_view text, bool flag) {
  std::string line;
  line.reserve(1 + title.size() + 2 + text.size());
  line += static_cast<char>((kind + 1) | (flag ? 0x80 : 0));
  if (!title.empty()) {
    line += title;
    line += ". ";
  }
  const size_t start = line.size();
  line += text;
  for (size_t i = start; i < line.size(); ++i) {
    if (line[i] == '\r' || line[i] == '\n') line[i] = ' ';
  }
  return line;
}

void TLogDataList::Add(std::string line) {
  StringListWriteLock lock(*this);
  TStringList& list = lock.List();
  const int32_t last = list.Count() - 1;
  if (last >= 0 && list.Strings(last) == line) {
    list.SetObjects(last, list.Objects(last) + 1);
  } else {
    finishRepeatRun(list);
    list.AddObject(std::move(line), 0);
  }
  while (list.Count() > maxLines_) list.Delete(0);
}

std::string TLogDataList::TakeText() {
  StringListWriteLock lock(*this);
  TStringList& list = lock.List();
  finishRepeatRun(list);
  size_t size = 0;
  for (int32_t i = 0; i < list.Count(); ++i) size += list.Strings(i).size() + 2;
  std::string text;
  text.reserve(size);
  for (int32_t i = 0; i < list.Count(); ++i) {
    text += list.Strings(i);
    text += "\r\n";
  }
  return text;
}

int32_t TLogDataList::Drain(char* buffer, int32_t capacity, uint32_t& length) {
  length = 0;
  StringListWriteLock lock(*this);  // TakeText takes it again on this thread
  const std::string text = TakeText();
  length = static_cast<uint32_t>(text.size());
  if (text.empty()) return 0;
  if (capacity == 0) {
    lock.List().Clear();
    return 0;
  }
  // A negative capacity is a broken request, not a request to discard.
  if (capacity < 0 || text.size() > static_cast<size_t>(capacity) || buffer == nullptr) return 0;
  std::memcpy(buffer, text.data(), text.size());
  lock.List().Clear();
  return static_cast<int32_t>(text.size());
}

}  // namespace corvane
