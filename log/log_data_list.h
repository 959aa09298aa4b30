// The per-instance queue of pending log lines that the host drains. Lines are
// encoded once when added (marker byte, optional title, message without line
// breaks); a run of identical lines costs one entry whose object slot counts
// the repeats, and is written out with the suffix " x<total>" when the run
// ends or the host drains. The queue keeps at most MaxLines lines, dropping
// the oldest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/thread_lists.h"

namespace corvane {

enum TLogKind : uint8_t { lkError = 0, lkWarning = 1, lkInformation = 2 };

inline constexpr int32_t DefaultLogLines = 51200;

// One encoded line: kind + 1 (or-ed with 0x80 when flagged), then the title
// and ". " when there is a title, then the text with CR and LF as spaces.
std::string EncodeLogLine(TLogKind kind, std::string_view title, std::string_view text, bool flag);

class TLogDataList : public TThreadStringList {
 public:
  explicit TLogDataList(int32_t maxLines = DefaultLogLines) : maxLines_(maxLines) {}

  int32_t MaxLines() const { return maxLines_; }

  // Collapses a repeat of the last line, appends, trims to MaxLines.
  void Add(std::string line);
  // Finishes a pending repeat run and returns all lines, each ended by CR LF.
  std::string TakeText();

  // The host's drain: takes the text, reports its length, and copies it into
  // the buffer when it fits (then the queue is emptied). A capacity of 0
  // discards the pending lines; a too-small buffer (or a negative capacity)
  // keeps them. Returns the
  // number of bytes copied. The lock is held from taking the text to
  // clearing, so no line can slip in between.
  int32_t Drain(char* buffer, int32_t capacity, uint32_t& length);

 private:
  const int32_t maxLines_;
};

}  // namespace corvane
