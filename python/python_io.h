// Redirection of a script's output. The engine replaces sys.stdout,
// sys.stderr and sys.stdin by an object that forwards to the module "pyio",
// which hands the text to a redirector: it cuts the text into lines per
// writing thread, queues finished lines and delivers them one by one.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/thread_window.h"
#include "platform/sync.h"

namespace corvane {

class TPythonInputOutput {
 public:
  using TSendDataEvent = std::function<void(TPythonInputOutput& sender, std::string_view text)>;
  using TSendUniDataEvent = std::function<void(TPythonInputOutput& sender, std::u16string_view text)>;

  TPythonInputOutput() = default;
  TPythonInputOutput(const TPythonInputOutput&) = delete;
  TPythonInputOutput& operator=(const TPythonInputOutput&) = delete;
  virtual ~TPythonInputOutput() = default;

  int32_t MaxLines() const;
  void SetMaxLines(int32_t value);
  int32_t MaxLineLength() const;
  void SetMaxLineLength(int32_t value);
  bool DelayWrites() const;
  void SetDelayWrites(bool value);
  bool RawOutput() const;
  void SetRawOutput(bool value);
  bool UnicodeIO() const;
  void SetUnicodeIO(bool value);

  // Receives each delivered line as 8-bit text (ANSI code page), or as
  // wide text with UnicodeIO.
  TSendDataEvent OnSendData;
  TSendUniDataEvent OnSendUniData;

  // Writes text of the calling thread (any thread).
  void Write(std::u16string_view text);
  // Input for the script; this redirector has none.
  virtual std::u16string Read() { return {}; }

  // Delivers the oldest queued line, if any; true when one was delivered.
  bool WriteOutput();
  // Delivers every queued line, oldest first (from any thread: deliveries
  // never overtake each other).
  void DeliverAll();
  // No line reaches a handler afterwards; a delivery in progress finishes
  // first.
  void ClearHandlers();
  int32_t QueuedLines() const;

 protected:
  // A finished line was queued (delay writes). Here it is delivered at
  // once; the window-bound redirector posts it to its thread instead.
  virtual void PendingWriteAdded() { WriteOutput(); }

 private:
  void FinishLine(std::u16string& line, std::vector<std::u16string>& immediate, int32_t& pending);
  void Deliver(const std::u16string& line);

  mutable platform::CriticalSection lock_;
  // Held from taking a line until it is delivered, so that lines reach the
  // handler in queue order whichever thread delivers them. Taken before
  // lock_, never while holding it.
  std::recursive_mutex deliveryLock_;
  int32_t maxLines_ = 1000;
  int32_t maxLineLength_ = 256;
  bool delayWrites_ = false;
  bool rawOutput_ = false;
  bool unicodeIO_ = false;
  std::vector<std::pair<uint32_t, std::u16string>> partialLines_;  // per writing thread
  std::deque<std::u16string> queue_;
};

// Delivers queued lines on the thread that created it, through a hidden
// window, while that thread pumps its messages.
class TPythonGUIInputOutput : public TPythonInputOutput {
 public:
  static constexpr uint32_t kWriteOutputMessage = 1025;  // the window's user message + 1
  static constexpr uint32_t kDestroyMessage = 1026;

  TPythonGUIInputOutput();
  ~TPythonGUIInputOutput() override { window_.Close(releaseWaitMs_); }

  // How long destruction from another thread waits for the owner thread to
  // destroy the window. Waiting only frees the window sooner: no line is
  // delivered once destruction has begun.
  void SetReleaseWait(uint32_t milliseconds) { releaseWaitMs_ = milliseconds; }

 protected:
  void PendingWriteAdded() override;

 private:
  uint32_t releaseWaitMs_ = TThreadWindow::kDefaultWaitMs;
  TThreadWindow window_;
};

}  // namespace corvane
