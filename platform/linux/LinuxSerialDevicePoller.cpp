// The Linux serial device: the event mask and the waits for events, held
// events, the one poller of the descriptor and the emulated input queue it
// fills.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/LinuxSerialDeviceInternal.h"

namespace platform {

using namespace linux_serial;

namespace {

constexpr uint32_t kAllEvents = 0x1FFF;
constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// The most one read from the kernel asks for: a terminal's line discipline
// never holds more than this for the reader.
constexpr size_t kReadChunk = 4096;

// Removes the zero bytes from p[0, n) in place; returns how many are left.
size_t DropNulls(char* p, size_t n) {
  char* const end = p + n;
  char* to = static_cast<char*>(std::memchr(p, '\0', n));
  if (to == nullptr)
    return n;
  const char* from = to + 1;
  for (;;) {
    const char* zero = static_cast<const char*>(std::memchr(from, '\0', static_cast<size_t>(end - from)));
    const char* stop = zero != nullptr ? zero : end;
    std::memmove(to, from, static_cast<size_t>(stop - from));
    to += stop - from;
    if (zero == nullptr)
      break;
    from = zero + 1;
  }
  return static_cast<size_t>(to - p);
}

}  // namespace

// ---- events --------------------------------------------------------------

bool LinuxSerialDevice::SetCommMask(uint32_t mask) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (mask & ~kAllEvents)
    return Fail(EINVAL);
  mask_ = mask;
  ++maskGeneration_;  // ends a wait in progress with an empty mask
  // Events that occurred and were not yet waited for stay: a wait under
  // the new mask reports those it holds.
  if (mask & kModemEvents)
    EnsureModemHelperLocked();
  ChangedLocked();
  return true;
}

bool LinuxSerialDevice::GetCommMask(uint32_t& mask) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  mask = mask_;
  return true;
}

// Blocks the calling thread (it may become the poller) until an event of
// the mask occurs, the mask changes or the device closes (true, mask 0),
// or the device hangs up (false, EIO). It never returns kErrorIoPending.
bool LinuxSerialDevice::WaitCommEvent(uint32_t& eventMask, Overlapped& overlapped) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (overlapped.Abandon != nullptr && overlapped.Abandon->load(std::memory_order_acquire)) {
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    eventMask = 0;
    return true;  // the caller was told to stop before its wait began
  }
  if (mask_ == 0)
    return Fail(EINVAL);  // nothing could ever end this wait
  BlockingCall call(*this);
  const uint64_t generation = maskGeneration_;
  WaitLocked(lock, [&] {
    return closed_ || hungUp_ || generation != maskGeneration_ || ((history_ & mask_) != 0 && !eventsHeld_.load(std::memory_order_relaxed));
  });
  overlapped.Internal = 0;
  overlapped.InternalHigh = 0;
  if (closed_ || generation != maskGeneration_) {
    eventMask = 0;
    return true;
  }
  if (hungUp_)
    return Fail(EIO);
  eventMask = history_ & mask_;
  history_ &= ~eventMask;
  return true;
}

void LinuxSerialDevice::HoldEvents() {
  // No lock: only the waiting thread holds, before its next wait.
  eventsHeld_.store(true, std::memory_order_relaxed);
}

void LinuxSerialDevice::ReleaseEvents() {
  Lock lock(mutex_);
  eventsHeld_.store(false, std::memory_order_relaxed);
  // Only a waiter that already holds events needs waking.
  if (history_ & mask_)
    ChangedLocked();
}

void LinuxSerialDevice::PutBackEvents(uint32_t events) {
  Lock lock(mutex_);
  const uint32_t history = history_;
  NoteEventsLocked(events);
  WakeForNewEventsLocked(history);
}

uint32_t LinuxSerialDevice::TakeHeldEvents() {
  Lock lock(mutex_);
  if (!eventsHeld_.load(std::memory_order_relaxed) || closed_ || hungUp_)
    return 0;
  const uint32_t events = history_ & mask_;
  history_ &= ~events;
  return events;
}

// ---- driver emulation ----------------------------------------------------

// Waits until 'done' holds. The first waiting thread polls the descriptor
// and does the driver's work; the others sleep until it has finished a
// round, and one of them takes over when it leaves.
void LinuxSerialDevice::WaitLocked(Lock& lock, const std::function<bool()>& done) {
  while (!done() && !closed_ && !hungUp_) {
    if (!pollerActive_)
      PollOnceLocked(lock);
    else
      changed_.wait(lock);
  }
  // Transfers that nobody waits for any more go to the helper.
  if (HasTransfersLocked())
    helperWork_.notify_all();
}

void LinuxSerialDevice::PollOnceLocked(Lock& lock) {
  pollerActive_ = true;
  pollerThread_ = std::this_thread::get_id();
  pollfd fds[2] = {{fd_, 0, 0}, {wakeFd_, POLLIN, 0}};
  pollerReads_ = QueuedLocked() < QueueCapacityLocked();
  if (pollerReads_)
    fds[0].events |= POLLIN;  // a full queue leaves input in the kernel
  if (HoldsOutputLocked())
    fds[0].events |= POLLOUT;
  const int timeout = PollTimeoutLocked();

  lock.unlock();
  const int ready = ::poll(fds, 2, timeout);
  lock.lock();

  pollerActive_ = false;
  pollerThread_ = std::thread::id();
  if (!closed_ && ready > 0) {
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    const short revents = fds[0].revents;
    if (revents & POLLIN)
      ReceiveLocked();
    if (!hungUp_ && (revents & (POLLHUP | POLLERR | POLLNVAL)))
      HangUpLocked();
    if (!hungUp_ && (revents & POLLOUT))
      ServeWritesLocked();
  }
  // The clock is read only when a transfer could have run out of time.
  if (!closed_ && HasTransfersLocked())
    ExpireLocked(Clock::now());
  changed_.notify_all();
}

// Moves what the kernel holds into the input queue, as the driver's receive
// interrupt would, noting the events, and serves pending reads. The bytes
// go from the kernel straight into the queue, a whole read at a time.
void LinuxSerialDevice::ReceiveLocked() {
  if (closed_ || hungUp_)
    return;
  const char eventChar = kept_ ? kept_->EvtChar : 0;
  const bool dropNulls = kept_ && (kept_->Flags & fNull);
  const uint64_t threshold = (uint64_t{inQueueSize_} * 4 + 4) / 5;  // 80 %, rounded up
  bool received = false;
  for (;;) {
    size_t before = QueuedLocked();
    const size_t capacity = QueueCapacityLocked();
    if (before >= capacity && !reads_.empty()) {
      // A pending read makes room, so a read of more than the queue holds
      // takes the kernel's bytes here rather than chunk by chunk through
      // the poller.
      ServeReadsLocked();
      before = QueuedLocked();
    }
    if (before >= capacity)
      break;
    const size_t room = std::min(kReadChunk, capacity - before);
    char* const to = input_.Reserve(room);
    const ssize_t n = ::read(fd_, to, room);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR)
        continue;
      if (IsGone(error))
        HangUpLocked();
      break;  // EAGAIN: nothing more for now
    }
    if (n == 0) {  // end of file: the far end has hung up
      HangUpLocked();
      break;
    }
    received = true;
    const size_t kept = dropNulls ? DropNulls(to, static_cast<size_t>(n)) : static_cast<size_t>(n);
    input_.Commit(kept);
    uint32_t events = 0;
    if (kept > 0 && std::memchr(to, eventChar, kept) != nullptr)
      events |= EV_RXFLAG;
    const size_t after = QueuedLocked();
    if (after > before)
      events |= EV_RXCHAR;
    if (before < threshold && after >= threshold)
      events |= EV_RX80FULL;
    NoteEventsLocked(events);
    ServeReadsLocked();
    if (static_cast<size_t>(n) < room)
      break;
  }
  if (received)
    UpdateCountersLocked();
}

void LinuxSerialDevice::HangUpLocked() {
  if (hungUp_)
    return;
  hungUp_ = true;
  usable_.store(false, std::memory_order_release);
  aheadChar_.reset();
  EndAllLocked(reads_, EIO);
  EndAllLocked(writes_, EIO);
  ChangedLocked();
}

uint32_t LinuxSerialDevice::QueueCapacityLocked() const { return inQueueSize_; }

void LinuxSerialDevice::TakeLocked(char* to, size_t n) {
  const bool wasFull = QueuedLocked() >= QueueCapacityLocked();
  input_.Take(to, n);
  // A full queue left the input in the kernel and the poller stopped asking
  // for it; now that there is room, it must ask again.
  if (wasFull && n > 0)
    ChangedLocked();
  if (input_.Size() == 0) {
    // The reader has taken every byte: a pending "characters received"
    // would only announce bytes that are already gone.
    history_ &= ~EV_RXCHAR;
  }
}

char* LinuxSerialDevice::InputQueue::Reserve(size_t n) {
  if (bytes_.size() - tail_ < n && head_ > 0) {
    // Only what is still unread moves, and only when the end is reached.
    std::memmove(bytes_.data(), bytes_.data() + head_, tail_ - head_);
    tail_ -= head_;
    head_ = 0;
  }
  if (bytes_.size() - tail_ < n)
    bytes_.resize(tail_ + n);
  return bytes_.data() + tail_;
}

void LinuxSerialDevice::InputQueue::Take(char* to, size_t n) {
  std::memcpy(to, bytes_.data() + head_, n);
  head_ += n;
  if (head_ == tail_)
    Clear();
}

// A call that completed at once wakes the poller only when it made a wait
// condition true; otherwise the waiting thread sleeps on undisturbed.
void LinuxSerialDevice::WakeForNewEventsLocked(uint32_t historyBefore) {
  if (history_ & ~historyBefore)
    ChangedLocked();
}

void LinuxSerialDevice::ChangedLocked() {
  changed_.notify_all();
  if (pollerActive_ && pollerThread_ != std::this_thread::get_id())
    Kick();
}

void LinuxSerialDevice::Kick() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace platform
