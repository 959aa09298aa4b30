// Cutting script output into lines, queueing and delivering them.
#include "python/python_io.h"

#include <algorithm>
#include <mutex>

#include "platform/code_page.h"
#include "platform/thread.h"

namespace corvane {

int32_t TPythonInputOutput::MaxLines() const {
  std::lock_guard guard(lock_);
  return maxLines_;
}
void TPythonInputOutput::SetMaxLines(int32_t value) {
  std::lock_guard guard(lock_);
  maxLines_ = value;
}
int32_t TPythonInputOutput::MaxLineLength() const {
  std::lock_guard guard(lock_);
  return maxLineLength_;
}
void TPythonInputOutput::SetMaxLineLength(int32_t value) {
  std::lock_guard guard(lock_);
  maxLineLength_ = value;
}
bool TPythonInputOutput::DelayWrites() const {
  std::lock_guard guard(lock_);
  return delayWrites_;
}
void TPythonInputOutput::SetDelayWrites(bool value) {
  std::lock_guard guard(lock_);
  delayWrites_ = value;
}
bool TPythonInputOutput::RawOutput() const {
  std::lock_guard guard(lock_);
  return rawOutput_;
}
void TPythonInputOutput::SetRawOutput(bool value) {
  std::lock_guard guard(lock_);
  rawOutput_ = value;
}
bool TPythonInputOutput::UnicodeIO() const {
  std::lock_guard guard(lock_);
  return unicodeIO_;
}
void TPythonInputOutput::SetUnicodeIO(bool value) {
  std::lock_guard guard(lock_);
  unicodeIO_ = value;
}

int32_t TPythonInputOutput::QueuedLines() const {
  std::lock_guard guard(lock_);
  return static_cast<int32_t>(queue_.size());
}

void TPythonInputOutput::FinishLine(std::u16string& line, std::vector<std::u16string>& immediate, int32_t& pending) {
  if (delayWrites_) {
    queue_.push_back(std::move(line));
    if (static_cast<int64_t>(queue_.size()) > maxLines_)
      queue_.pop_front();  // the oldest line goes; nothing new to deliver
    else
      ++pending;
  } else {
    immediate.push_back(std::move(line));
  }
  line.clear();
}

void TPythonInputOutput::Write(std::u16string_view text) {
  std::vector<std::u16string> immediate;
  int32_t pending = 0;
  {
    std::lock_guard guard(lock_);
    const uint32_t thread = platform::currentThreadId();
    auto slot = std::find_if(partialLines_.begin(), partialLines_.end(),
                             [&](const auto& entry) { return entry.first == thread; });
    std::u16string line = slot != partialLines_.end() ? std::move(slot->second) : std::u16string();
    if (rawOutput_) {
      line.append(text);
      FinishLine(line, immediate, pending);
    } else {
      for (const char16_t c : text) {
        if (c == u'\n') {
          FinishLine(line, immediate, pending);
        } else if (c > 31 || c == u'\t') {
          line.push_back(c);
          if (static_cast<int64_t>(line.size()) > maxLineLength_) FinishLine(line, immediate, pending);
        }
        // Other control characters, carriage returns included, are dropped.
      }
    }
    if (line.empty()) {
      if (slot != partialLines_.end()) partialLines_.erase(slot);
    } else if (slot != partialLines_.end()) {
      slot->second = std::move(line);
    } else {
      partialLines_.emplace_back(thread, std::move(line));
    }
  }
  // Handlers run outside the lock, so a handler may write again.
  for (int32_t i = 0; i < pending; ++i) PendingWriteAdded();
  for (const std::u16string& line : immediate) Deliver(line);
}

bool TPythonInputOutput::WriteOutput() {
  std::lock_guard delivery(deliveryLock_);
  std::u16string line;
  {
    std::lock_guard guard(lock_);
    if (queue_.empty()) return false;
    line = std::move(queue_.front());
    queue_.pop_front();
  }
  Deliver(line);
  return true;
}

void TPythonInputOutput::DeliverAll() {
  std::lock_guard delivery(deliveryLock_);
  while (WriteOutput()) {
  }
}

void TPythonInputOutput::ClearHandlers() {
  std::lock_guard delivery(deliveryLock_);
  OnSendData = nullptr;
  OnSendUniData = nullptr;
}

void TPythonInputOutput::Deliver(const std::u16string& line) {
  if (UnicodeIO()) {
    if (OnSendUniData) OnSendUniData(*this, line);
  } else if (OnSendData) {
    OnSendData(*this, platform::wideToAnsi(line));
  }
}

TPythonGUIInputOutput::TPythonGUIInputOutput()
    : window_(
          [this](uint32_t message, uintptr_t, intptr_t, intptr_t& result) {
            if (message != kWriteOutputMessage) return false;
            WriteOutput();
            result = 0;
            return true;
          },
          kDestroyMessage) {}

void TPythonGUIInputOutput::PendingWriteAdded() {
  platform::postMessage(window_.Handle(), kWriteOutputMessage, 0, 0);
}

}  // namespace corvane
