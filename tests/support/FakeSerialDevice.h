// A scripted serial device in memory, for tests of the code above the
// platform layer. It keeps a device control block, timeouts, queue sizes and
// an event mask, counts and logs every call, lets a test make any operation
// fail with a chosen code, and lets a test play the far end and the driver:
// received bytes, line events, line errors, modem lines.
//
// Thread-safe: the component's event thread may block in WaitCommEvent while
// the test thread scripts events or calls other operations.
//
// WaitCommEvent blocks the caller like the Linux device does (returns true
// with the bits); SetWaitStyle(WaitStyle::Pending) switches it to the queued
// form instead (returns false with kErrorIoPending and sets the wait record's
// event later), so callers can be tested with both.
#pragma once

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/SerialDevice.h"

namespace testsupport {

class FakeSerialDevice : public platform::SerialDevice {
 public:
  enum class Op {
    Close,
    GetCommState,
    SetCommState,
    SetupComm,
    GetCommTimeouts,
    SetCommTimeouts,
    PurgeComm,
    FlushFileBuffers,
    SetCommMask,
    GetCommMask,
    WaitCommEvent,
    ReadFile,
    WriteFile,
    GetOverlappedResult,
    ClearCommError,
    TransmitCommChar,
    SetCommBreak,
    ClearCommBreak,
    EscapeCommFunction,
    GetCommModemStatus,
  };

  enum class WaitStyle { Blocking, Pending };

  FakeSerialDevice() {
    // What a freshly opened device of the driver typically reports.
    dcb_.BaudRate = 9600;
    dcb_.ByteSize = 8;
    dcb_.Flags = platform::fBinary | platform::DTR_CONTROL_ENABLE | platform::RTS_CONTROL_ENABLE;
    dcb_.XonChar = 17;
    dcb_.XoffChar = 19;
  }

  // ---- scripting (test side) ------------------------------------------

  // Every later call of 'op' fails with 'code' (0 clears the failure).
  void FailWith(Op op, int code) {
    std::lock_guard lock(m_);
    if (code == 0)
      failures_.erase(op);
    else
      failures_[op] = code;
  }

  // Only the next call of 'op' fails with 'code'.
  void FailOnce(Op op, int code) {
    std::lock_guard lock(m_);
    failOnce_[op] = code;
  }

  void SetWaitStyle(WaitStyle style) {
    std::lock_guard lock(m_);
    waitStyle_ = style;
  }

  // Bytes arriving from the far end: appended to the input queue, EV_RXCHAR
  // raised (and EV_RXFLAG when the event character is among them); pending
  // reads take what they need.
  void Receive(const std::string& bytes) {
    std::lock_guard lock(m_);
    if (bytes.empty())
      return;
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    uint32_t events = platform::EV_RXCHAR;
    if (bytes.find(dcb_.EvtChar) != std::string::npos)
      events |= platform::EV_RXFLAG;
    if (inQueueSize_ > 0 && input_.size() * 5 >= static_cast<size_t>(inQueueSize_) * 4)
      events |= platform::EV_RX80FULL;
    RaiseLocked(events);
    ServeReadLocked(false);
  }

  // Driver events (EV_ bits); those in the current mask end a wait.
  void RaiseEvents(uint32_t events) {
    std::lock_guard lock(m_);
    RaiseLocked(events);
  }

  // Line errors (CE_ bits) accumulate until ClearCommError; EV_ERR raised.
  void AddLineErrors(uint32_t ceBits) {
    std::lock_guard lock(m_);
    lineErrors_ |= ceBits;
    uint32_t events = platform::EV_ERR;
    if (ceBits & platform::CE_BREAK)
      events |= platform::EV_BREAK;
    RaiseLocked(events);
  }

  // Modem lines (MS_ bits); a change raises EV_CTS/EV_DSR/EV_RLSD/EV_RING.
  void SetModemStatus(uint32_t ms) {
    std::lock_guard lock(m_);
    const uint32_t changed = ms ^ modemStatus_;
    modemStatus_ = ms;
    uint32_t events = 0;
    if (changed & platform::MS_CTS_ON)
      events |= platform::EV_CTS;
    if (changed & platform::MS_DSR_ON)
      events |= platform::EV_DSR;
    if (changed & platform::MS_RLSD_ON)
      events |= platform::EV_RLSD;
    if ((changed & platform::MS_RING_ON) && (ms & platform::MS_RING_ON))
      events |= platform::EV_RING;
    RaiseLocked(events);
  }

  // Makes the wait that is blocked now (or the next one) fail with 'code',
  // as a device that went away does (EIO).
  void FailWait(int code) {
    std::lock_guard lock(m_);
    waitError_ = code;
    cv_.notify_all();
    SignalWaitLocked();
  }

  // The next WaitCommEvent stops as it begins, before it looks at anything,
  // until ResumeWait: a test acts while a thread is known to be on its way
  // into a wait. Closing releases it too.
  void PauseNextWait() {
    std::lock_guard lock(m_);
    pauseNextWait_ = true;
  }
  void AwaitPausedWait() const {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return waitPaused_; });
  }
  void ResumeWait() {
    std::lock_guard lock(m_);
    waitPaused_ = false;
    cv_.notify_all();
  }

  // Bytes still counted as unsent (ClearCommError's cbOutQue).
  void SetOutputQueue(uint32_t count) {
    std::lock_guard lock(m_);
    outQueue_ = count;
  }

  // While held, each write stays pending until ReleaseWrites (which ends
  // the pending one and keeps holding later ones) or HoldWrites(false).
  void HoldWrites(bool hold) {
    std::lock_guard lock(m_);
    holdWrites_ = hold;
    if (!hold)
      ServeWriteLocked();
  }
  void ReleaseWrites() {
    std::lock_guard lock(m_);
    ServeWriteLocked();
  }
  bool WritePending() const {
    std::lock_guard lock(m_);
    return write_.active;
  }

  // Ends a pending read with the bytes that are there now, as expiring read
  // timeouts do.
  void ExpireRead() {
    std::lock_guard lock(m_);
    ServeReadLocked(true);
  }

  // ---- inspection (test side) -----------------------------------------

  int Calls(Op op) const {
    std::lock_guard lock(m_);
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
  }
  std::vector<Op> CallLog() const {
    std::lock_guard lock(m_);
    return log_;
  }
  void ClearCallLog() {
    std::lock_guard lock(m_);
    log_.clear();
    calls_.clear();
  }
  platform::DCB Dcb() const {
    std::lock_guard lock(m_);
    return dcb_;
  }
  void SetDcb(const platform::DCB& dcb) {  // what the driver reports
    std::lock_guard lock(m_);
    dcb_ = dcb;
  }
  platform::COMMTIMEOUTS Timeouts() const {
    std::lock_guard lock(m_);
    return timeouts_;
  }
  uint32_t InQueueSize() const {
    std::lock_guard lock(m_);
    return inQueueSize_;
  }
  uint32_t OutQueueSize() const {
    std::lock_guard lock(m_);
    return outQueueSize_;
  }
  uint32_t Mask() const {
    std::lock_guard lock(m_);
    return mask_;
  }
  std::vector<uint32_t> PurgeFlags() const {
    std::lock_guard lock(m_);
    return purges_;
  }
  std::vector<uint32_t> EscapeFunctions() const {
    std::lock_guard lock(m_);
    return escapes_;
  }
  bool BreakOn() const {
    std::lock_guard lock(m_);
    return breakOn_;
  }
  std::string Written() const {  // every byte written or transmitted, in order
    std::lock_guard lock(m_);
    return written_;
  }
  std::string InputQueue() const {
    std::lock_guard lock(m_);
    return std::string(input_.begin(), input_.end());
  }
  bool IsClosed() const {
    std::lock_guard lock(m_);
    return closed_;
  }
  // True while a thread is blocked in WaitCommEvent (or a queued wait is
  // outstanding).
  bool Waiting() const {
    std::lock_guard lock(m_);
    return waiters_ > 0 || pendingWait_ != nullptr;
  }
  // Blocks the test until a thread waits in WaitCommEvent (no time limit;
  // the test program's own timeout catches a hang).
  void AwaitWaiter() const {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return waiters_ > 0 || pendingWait_ != nullptr || closed_; });
  }

  // ---- SerialDevice -----------------------------------------------------

  void Close() override {
    std::lock_guard lock(m_);
    Count(Op::Close);
    if (closed_)
      return;
    closed_ = true;
    if (pendingWait_) {
      *pendingWaitMask_ = 0;
      pendingWait_->Internal = 0;
      SignalWaitLocked();
    }
    // As the Linux device does: transfers in flight end as cancelled.
    EndTransferLocked(read_, ECANCELED);
    EndTransferLocked(write_, ECANCELED);
    cv_.notify_all();
  }

  bool GetCommState(platform::DCB& dcb) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::GetCommState))
      return false;
    dcb = dcb_;
    return true;
  }
  bool SetCommState(const platform::DCB& dcb) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::SetCommState))
      return false;
    dcb_ = dcb;
    return true;
  }
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::SetupComm))
      return false;
    inQueueSize_ = inQueue;
    outQueueSize_ = outQueue;
    return true;
  }
  bool GetCommTimeouts(platform::COMMTIMEOUTS& t) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::GetCommTimeouts))
      return false;
    t = timeouts_;
    return true;
  }
  bool SetCommTimeouts(const platform::COMMTIMEOUTS& t) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::SetCommTimeouts))
      return false;
    timeouts_ = t;
    return true;
  }
  bool PurgeComm(uint32_t flags) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::PurgeComm))
      return false;
    purges_.push_back(flags);
    if (flags & platform::PURGE_RXABORT)
      EndTransferLocked(read_, ECANCELED);
    if (flags & platform::PURGE_TXABORT)
      EndTransferLocked(write_, ECANCELED);
    if (flags & platform::PURGE_RXCLEAR)
      input_.clear();
    if (flags & platform::PURGE_TXCLEAR)
      outQueue_ = 0;
    return true;
  }
  bool FlushFileBuffers() override {
    std::lock_guard lock(m_);
    if (!Enter(Op::FlushFileBuffers))
      return false;
    outQueue_ = 0;
    return true;
  }

  bool SetCommMask(uint32_t mask) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::SetCommMask))
      return false;
    mask_ = mask;
    ++maskGeneration_;
    if (pendingWait_) {  // a queued wait ends with an empty mask
      *pendingWaitMask_ = 0;
      pendingWait_->Internal = 0;
      SignalWaitLocked();
    }
    cv_.notify_all();
    return true;
  }
  bool GetCommMask(uint32_t& mask) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::GetCommMask))
      return false;
    mask = mask_;
    return true;
  }

  bool WaitCommEvent(uint32_t& eventMask, platform::Overlapped& ov) override {
    std::unique_lock lock(m_);
    if (pauseNextWait_) {
      pauseNextWait_ = false;
      waitPaused_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return !waitPaused_ || closed_; });
      waitPaused_ = false;
    }
    if (!Enter(Op::WaitCommEvent))
      return false;
    if (waitError_ != 0) {
      const int code = waitError_;
      waitError_ = 0;
      platform::SetLastError(code);
      return false;
    }
    if (ov.Abandon != nullptr && ov.Abandon->load()) {
      eventMask = 0;
      ov.Internal = 0;
      return true;
    }
    if (mask_ == 0) {
      platform::SetLastError(platform::kErrorInvalidParameter);  // as the devices do: nothing could end this wait
      return false;
    }
    eventMask = 0;
    if (waitStyle_ == WaitStyle::Pending) {
      const uint32_t hit = events_ & mask_;
      if (hit) {
        events_ &= ~hit;
        eventMask = hit;
        ov.Internal = 0;
        if (ov.hEvent)
          ov.hEvent->Set();
        return true;
      }
      pendingWait_ = &ov;
      pendingWaitMask_ = &eventMask;
      ov.Internal = platform::kErrorIoPending;
      cv_.notify_all();
      platform::SetLastError(platform::kErrorIoPending);
      return false;
    }
    const uint64_t generation = maskGeneration_;
    ++waiters_;
    cv_.notify_all();
    cv_.wait(lock, [&] {
      return closed_ || waitError_ != 0 || generation != maskGeneration_ || (events_ & mask_) != 0;
    });
    --waiters_;
    if (waitError_ != 0) {
      const int code = waitError_;
      waitError_ = 0;
      platform::SetLastError(code);
      return false;
    }
    if (closed_ || generation != maskGeneration_)
      return true;  // woken by Close or SetCommMask: mask 0
    eventMask = events_ & mask_;
    events_ &= ~eventMask;
    return true;
  }

  bool ReadFile(void* buffer, uint32_t count, platform::Overlapped& ov) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::ReadFile))
      return false;
    read_ = Transfer{&ov, static_cast<char*>(buffer), count, 0, true};
    ov.Internal = platform::kErrorIoPending;
    ov.InternalHigh = 0;
    if (ov.hEvent)
      ov.hEvent->Reset();
    ServeReadLocked(false);
    if (read_.active) {
      platform::SetLastError(platform::kErrorIoPending);
      return false;
    }
    return true;
  }

  bool WriteFile(const void* buffer, uint32_t count, platform::Overlapped& ov) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::WriteFile))
      return false;
    write_ = Transfer{&ov, static_cast<char*>(const_cast<void*>(buffer)), count, 0, true};
    ov.Internal = platform::kErrorIoPending;
    ov.InternalHigh = 0;
    if (ov.hEvent)
      ov.hEvent->Reset();
    if (holdWrites_) {
      // The bytes are taken now, as a driver copies them into its queue.
      heldData_.assign(static_cast<const char*>(buffer), count);
      platform::SetLastError(platform::kErrorIoPending);
      return false;
    }
    written_.append(static_cast<const char*>(buffer), count);
    write_.done = count;
    EndTransferLocked(write_, 0);
    return true;
  }

  bool GetOverlappedResult(platform::Overlapped& ov, uint32_t& transferred, bool wait) override {
    std::unique_lock lock(m_);
    if (!Enter(Op::GetOverlappedResult))
      return false;
    if (wait)
      cv_.wait(lock, [&] { return ov.Internal != platform::kErrorIoPending; });
    transferred = ov.InternalHigh;
    if (ov.Internal == platform::kErrorIoPending) {
      platform::SetLastError(platform::kErrorIoPending);
      return false;
    }
    if (ov.Internal != 0) {
      platform::SetLastError(static_cast<int>(ov.Internal));
      return false;
    }
    return true;
  }

  bool ClearCommError(uint32_t& errors, platform::COMSTAT* status) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::ClearCommError))
      return false;
    errors = lineErrors_;
    lineErrors_ = 0;
    if (status) {
      status->cbInQue = static_cast<uint32_t>(input_.size());
      status->cbOutQue = outQueue_;
    }
    return true;
  }

  bool TransmitCommChar(char c) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::TransmitCommChar))
      return false;
    written_.push_back(c);
    return true;
  }
  bool SetCommBreak() override {
    std::lock_guard lock(m_);
    if (!Enter(Op::SetCommBreak))
      return false;
    breakOn_ = true;
    return true;
  }
  bool ClearCommBreak() override {
    std::lock_guard lock(m_);
    if (!Enter(Op::ClearCommBreak))
      return false;
    breakOn_ = false;
    return true;
  }
  bool EscapeCommFunction(uint32_t function) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::EscapeCommFunction))
      return false;
    escapes_.push_back(function);
    if (function == platform::SETBREAK)
      breakOn_ = true;
    if (function == platform::CLRBREAK)
      breakOn_ = false;
    return true;
  }
  bool GetCommModemStatus(uint32_t& modemStatus) override {
    std::lock_guard lock(m_);
    if (!Enter(Op::GetCommModemStatus))
      return false;
    modemStatus = modemStatus_;
    return true;
  }

 private:
  struct Transfer {
    platform::Overlapped* ov = nullptr;
    char* buffer = nullptr;
    uint32_t count = 0;
    uint32_t done = 0;
    bool active = false;
  };

  void Count(Op op) {
    ++calls_[op];
    log_.push_back(op);
  }

  // Counts the call and applies a scripted failure; false = fail now.
  bool Enter(Op op) {
    Count(op);
    int code = 0;
    if (auto it = failOnce_.find(op); it != failOnce_.end()) {
      code = it->second;
      failOnce_.erase(it);
    } else if (auto f = failures_.find(op); f != failures_.end()) {
      code = f->second;
    } else if (closed_ && op != Op::Close && op != Op::GetOverlappedResult) {
      // A record's outcome stays readable after Close, as on the real device.
      code = platform::kErrorInvalidHandle;
    }
    if (code == 0)
      return true;
    platform::SetLastError(code);
    return false;
  }

  void PutBackEvents(uint32_t events) override {
    std::lock_guard lock(m_);
    RaiseLocked(events & mask_);
  }

  void RaiseLocked(uint32_t events) {
    if (closed_)
      return;
    events_ |= events;
    if (pendingWait_) {
      const uint32_t hit = events_ & mask_;
      if (hit) {
        events_ &= ~hit;
        *pendingWaitMask_ = hit;
        pendingWait_->Internal = 0;
        SignalWaitLocked();
      }
    }
    cv_.notify_all();
  }

  void SignalWaitLocked() {
    if (!pendingWait_)
      return;
    platform::Overlapped* ov = pendingWait_;
    pendingWait_ = nullptr;
    pendingWaitMask_ = nullptr;
    if (waitError_ != 0) {
      ov->Internal = static_cast<uint32_t>(waitError_);
      waitError_ = 0;
    }
    if (ov->hEvent)
      ov->hEvent->Set();
  }

  void ServeReadLocked(bool expire) {
    if (!read_.active)
      return;
    const size_t take = std::min<size_t>(read_.count - read_.done, input_.size());
    if (take > 0) {
      std::copy_n(input_.begin(), take, read_.buffer + read_.done);
      input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(take));
      read_.done += static_cast<uint32_t>(take);
    }
    if (read_.done == read_.count || expire)
      EndTransferLocked(read_, 0);
  }

  void ServeWriteLocked() {
    if (!write_.active)
      return;
    written_ += heldData_;
    write_.done = static_cast<uint32_t>(heldData_.size());
    heldData_.clear();
    EndTransferLocked(write_, 0);
  }

  void EndTransferLocked(Transfer& t, int code) {
    if (!t.active)
      return;
    t.active = false;
    t.ov->InternalHigh = t.done;
    t.ov->Internal = static_cast<uint32_t>(code);
    if (t.ov->hEvent)
      t.ov->hEvent->Set();
    cv_.notify_all();
  }

  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::map<Op, int> calls_;
  std::vector<Op> log_;
  std::map<Op, int> failures_;
  std::map<Op, int> failOnce_;

  platform::DCB dcb_;
  platform::COMMTIMEOUTS timeouts_;
  uint32_t inQueueSize_ = 0;
  uint32_t outQueueSize_ = 0;
  uint32_t mask_ = 0;
  uint64_t maskGeneration_ = 0;
  uint32_t events_ = 0;
  uint32_t lineErrors_ = 0;
  uint32_t modemStatus_ = 0;
  uint32_t outQueue_ = 0;
  bool breakOn_ = false;
  bool closed_ = false;
  bool holdWrites_ = false;
  int waitError_ = 0;
  int waiters_ = 0;
  bool pauseNextWait_ = false;
  bool waitPaused_ = false;
  WaitStyle waitStyle_ = WaitStyle::Blocking;
  platform::Overlapped* pendingWait_ = nullptr;
  uint32_t* pendingWaitMask_ = nullptr;

  std::deque<char> input_;
  std::string written_;
  std::string heldData_;
  std::vector<uint32_t> purges_;
  std::vector<uint32_t> escapes_;
  Transfer read_;
  Transfer write_;
};

}  // namespace testsupport
