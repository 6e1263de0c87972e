// The Linux serial device: reads and writes, their timeouts and results,
// and the helper threads for transfers nobody waits on and for the output
// drain behind EV_TXEMPTY.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/linux/LinuxSerialDeviceInternal.h"

namespace platform {

using namespace linux_serial;

namespace {

// A limit beyond any practical wait, so deadlines never overflow the clock.
constexpr uint64_t kLongestTimeoutMs = uint64_t{1} << 40;

}  // namespace

// ---- transfers -----------------------------------------------------------

bool LinuxSerialDevice::IssueLocked(Overlapped& overlapped, const void* buffer, uint32_t count) {
  if (!UsableLocked())
    return false;
  if (IsQueuedLocked(overlapped) || (count > 0 && buffer == nullptr))
    return Fail(EINVAL);
  overlapped.Internal = static_cast<uint32_t>(kErrorIoPending);
  overlapped.InternalHigh = 0;
  if (overlapped.hEvent)
    overlapped.hEvent->Reset();
  return true;
}

int LinuxSerialDevice::DrainUnlocked(Lock& lock, int& error) {
  draining_ = true;
  lock.unlock();
  const int result = ::tcdrain(fd_);
  error = errno;
  lock.lock();
  draining_ = false;
  return result;
}

bool LinuxSerialDevice::ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) {
  Lock lock(mutex_);
  if (!IssueLocked(overlapped, buffer, count))
    return false;
  reads_.push_back(Transfer{&overlapped, static_cast<char*>(buffer), count});
  const uint32_t history = history_;
  if (QueuedLocked() < count)
    ReceiveLocked();  // what the kernel already holds belongs to this read
  ServeReadsLocked();
  if (!IsQueuedLocked(overlapped)) {
    WakeForNewEventsLocked(history);
    return overlapped.Internal == 0 ? true : Fail(static_cast<int>(overlapped.Internal));
  }
  EnsureTransferHelperLocked();
  ChangedLocked();  // the poller takes up the new read and its timers
  return Fail(kErrorIoPending);
}

bool LinuxSerialDevice::WriteFile(const void* buffer, uint32_t count, Overlapped& overlapped) {
  Lock lock(mutex_);
  if (!IssueLocked(overlapped, buffer, count))
    return false;
  writes_.push_back(
      Transfer{&overlapped, static_cast<char*>(const_cast<void*>(buffer)), count});
  const uint32_t history = history_;
  ServeWritesLocked();  // goes out at once unless earlier writes wait
  if (!IsQueuedLocked(overlapped)) {
    WakeForNewEventsLocked(history);  // EV_TXEMPTY
    return overlapped.Internal == 0 ? true : Fail(static_cast<int>(overlapped.Internal));
  }
  EnsureTransferHelperLocked();
  ChangedLocked();
  return Fail(kErrorIoPending);
}

bool LinuxSerialDevice::GetOverlappedResult(Overlapped& overlapped, uint32_t& transferred, bool wait) {
  Lock lock(mutex_);
  if (wait && IsQueuedLocked(overlapped)) {
    BlockingCall call(*this);
    WaitLocked(lock, [&] { return !IsQueuedLocked(overlapped); });
  }
  transferred = overlapped.InternalHigh;
  if (IsQueuedLocked(overlapped))
    return Fail(kErrorIoPending);
  // Also a record that was never handed to this device reports what it
  // holds, so a stray call cannot block for ever.
  if (overlapped.Internal != 0)
    return Fail(static_cast<int>(overlapped.Internal));
  return true;
}

// Read timeouts with the Win32 meaning: an interval limit between bytes, a
// total limit of multiplier * count + constant, and the special forms of an
// interval of MAXDWORD: with no totals, return at once with what is there;
// with a finite constant, return as soon as any byte is there.
void LinuxSerialDevice::StartReadLocked(Transfer& t) const {
  t.started = true;
  const COMMTIMEOUTS& to = timeouts_;
  uint64_t total = 0;
  if (to.ReadIntervalTimeout == kMaxDword) {
    if (to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0) {
      t.immediate = true;
    } else if (to.ReadTotalTimeoutConstant != kMaxDword) {
      t.returnOnAny = true;
      total = to.ReadTotalTimeoutMultiplier == kMaxDword
                  ? to.ReadTotalTimeoutConstant
                  : uint64_t{to.ReadTotalTimeoutMultiplier} * t.count + to.ReadTotalTimeoutConstant;
    }
  } else {
    total = uint64_t{to.ReadTotalTimeoutMultiplier} * t.count + to.ReadTotalTimeoutConstant;
    t.intervalMs = to.ReadIntervalTimeout;
  }
  t.totalMs = std::min(total, kLongestTimeoutMs);
  if (t.totalMs)
    t.totalDeadline = Clock::now() + std::chrono::milliseconds(t.totalMs);
}

void LinuxSerialDevice::StartWriteLocked(Transfer& t) const {
  t.started = true;
  const uint64_t total =
      uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * t.count + timeouts_.WriteTotalTimeoutConstant;
  t.totalMs = std::min(total, kLongestTimeoutMs);
  if (t.totalMs)
    t.totalDeadline = Clock::now() + std::chrono::milliseconds(t.totalMs);
}

void LinuxSerialDevice::ServeReadsLocked() {
  while (!reads_.empty()) {
    Transfer& t = reads_.front();
    if (!t.started)
      StartReadLocked(t);
    const size_t n = std::min<size_t>(QueuedLocked(), t.count - t.done);
    if (n > 0) {
      TakeLocked(t.buffer + t.done, n);
      t.done += static_cast<uint32_t>(n);
      // The clock is read only for a read that has an interval limit.
      if (t.intervalMs)
        t.intervalDeadline = Clock::now() + std::chrono::milliseconds(t.intervalMs);
    }
    if (t.done == t.count || t.immediate || (t.returnOnAny && t.done > 0)) {
      EndTransferLocked(reads_, reads_.begin(), 0);
      continue;
    }
    break;
  }
}

void LinuxSerialDevice::ServeWritesLocked() {
  if (aheadChar_ && SendAheadCharLocked() == EAGAIN)
    return;  // it goes first; the writes after it wait with it
  while (!writes_.empty() && !hungUp_) {
    Transfer& t = writes_.front();
    if (!t.started)
      StartWriteLocked(t);
    int error = 0;
    while (t.done < t.count) {
      const ssize_t n = ::write(fd_, t.buffer + t.done, t.count - t.done);
      if (n > 0) {
        t.done += static_cast<uint32_t>(n);
        continue;
      }
      error = n < 0 ? errno : EAGAIN;
      if (error == EINTR)
        continue;
      break;
    }
    if (t.done < t.count) {
      if (error == EAGAIN)
        return;  // the rest when the kernel has room (POLLOUT)
      if (IsGone(error)) {
        HangUpLocked();
        return;
      }
      EndTransferLocked(writes_, writes_.begin(), error);
      continue;
    }
    EndTransferLocked(writes_, writes_.begin(), 0);
    if (writes_.empty())
      WriteDrainedLocked();
  }
}

// Hands TransmitCommChar's character to the kernel: 0 when it went out (or
// none was kept), EAGAIN while the kernel has no room (it stays kept), the
// error code when the write failed (it is dropped).
int LinuxSerialDevice::SendAheadCharLocked() {
  if (!aheadChar_)
    return 0;
  for (;;) {
    const ssize_t n = ::write(fd_, &*aheadChar_, 1);
    if (n == 1)
      break;
    const int error = n < 0 ? errno : EAGAIN;
    if (error == EINTR)
      continue;
    if (error == EAGAIN)
      return EAGAIN;
    aheadChar_.reset();
    if (IsGone(error))
      HangUpLocked();
    return error;
  }
  aheadChar_.reset();
  if (writes_.empty())
    WriteDrainedLocked();
  return 0;
}

// All queued writes are in the kernel. EV_TXEMPTY when its output queue is
// empty too; a device with a hardware queue still sending is drained by the
// drain helper, which reports the event when done.
void LinuxSerialDevice::WriteDrainedLocked() {
  if (!(mask_ & EV_TXEMPTY))
    return;
  int unsent = 0;
  if (hasOutputQueue_ && ::ioctl(fd_, TIOCOUTQ, &unsent) == 0 && unsent > 0) {
    drainRequested_ = true;
    EnsureDrainHelperLocked();
    helperWork_.notify_all();
    return;
  }
  NoteEventsLocked(EV_TXEMPTY);
}

void LinuxSerialDevice::ExpireLocked(Clock::time_point now) {
  while (!reads_.empty()) {
    const Transfer& t = reads_.front();
    const bool total = t.started && t.totalMs && now >= t.totalDeadline;
    const bool interval = t.started && t.intervalMs && t.done > 0 && now >= t.intervalDeadline;
    if (!total && !interval)
      break;
    EndTransferLocked(reads_, reads_.begin(), 0);  // success with fewer bytes
    ServeReadsLocked();
  }
  while (!writes_.empty()) {
    const Transfer& t = writes_.front();
    if (!(t.started && t.totalMs && now >= t.totalDeadline))
      break;
    EndTransferLocked(writes_, writes_.begin(), 0);
    ServeWritesLocked();
  }
}

void LinuxSerialDevice::EndTransferLocked(std::vector<Transfer>& queue, std::vector<Transfer>::iterator it,
                                          int code) {
  Overlapped* overlapped = it->overlapped;
  overlapped->InternalHigh = it->done;
  overlapped->Internal = static_cast<uint32_t>(code);
  queue.erase(it);
  if (overlapped->hEvent)
    overlapped->hEvent->Set();
  changed_.notify_all();
}

void LinuxSerialDevice::EndAllLocked(std::vector<Transfer>& queue, int code) {
  while (!queue.empty())
    EndTransferLocked(queue, queue.begin(), code);
}

bool LinuxSerialDevice::IsQueuedLocked(const Overlapped& overlapped) const {
  // A queued record reads "pending" until it ends (callers only read it).
  if (overlapped.Internal != static_cast<uint32_t>(kErrorIoPending))
    return false;
  auto is = [&](const Transfer& t) { return t.overlapped == &overlapped; };
  return std::any_of(reads_.begin(), reads_.end(), is) || std::any_of(writes_.begin(), writes_.end(), is);
}

int LinuxSerialDevice::PollTimeoutLocked() const {
  std::optional<Clock::time_point> earliest;
  auto consider = [&](Clock::time_point deadline) {
    if (!earliest || deadline < *earliest)
      earliest = deadline;
  };
  if (!reads_.empty() && reads_.front().started) {
    const Transfer& t = reads_.front();
    if (t.totalMs)
      consider(t.totalDeadline);
    if (t.intervalMs && t.done > 0)
      consider(t.intervalDeadline);
  }
  if (!writes_.empty() && writes_.front().started && writes_.front().totalMs)
    consider(writes_.front().totalDeadline);
  if (!earliest)
    return -1;
  const Clock::time_point now = Clock::now();
  if (*earliest <= now)
    return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*earliest - now).count();
  return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

// ---- helper threads ------------------------------------------------------

void LinuxSerialDevice::EnsureTransferHelperLocked() {
  if (!transferHelper_.joinable() && !stopHelpers_)
    transferHelper_ = std::thread(&LinuxSerialDevice::TransferHelperMain, this);
  helperWork_.notify_all();
}

// Serves transfers that are pending while no other thread polls: sleeps
// otherwise.
void LinuxSerialDevice::TransferHelperMain() {
  Lock lock(mutex_);
  for (;;) {
    helperWork_.wait(lock, [this] {
      return stopHelpers_ || (!pollerActive_ && HasTransfersLocked() && !closed_ && !hungUp_);
    });
    if (stopHelpers_)
      return;
    PollOnceLocked(lock);
  }
}

void LinuxSerialDevice::EnsureDrainHelperLocked() {
  if (!drainHelper_.joinable() && !stopHelpers_)
    drainHelper_ = std::thread(&LinuxSerialDevice::DrainHelperMain, this);
}

void LinuxSerialDevice::DrainHelperMain() {
  Lock lock(mutex_);
  for (;;) {
    helperWork_.wait(lock, [this] { return stopHelpers_ || drainRequested_; });
    if (stopHelpers_)
      return;
    drainRequested_ = false;
    int error = 0;
    const int result = DrainUnlocked(lock, error);
    if (stopHelpers_)
      return;
    if (result == 0 && !HoldsOutputLocked()) {
      NoteEventsLocked(EV_TXEMPTY);
      ChangedLocked();
    } else if (result != 0 && IsGone(error)) {
      HangUpLocked();
    }
  }
}

}  // namespace platform
