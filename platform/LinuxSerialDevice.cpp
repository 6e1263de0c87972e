#include "platform/LinuxSerialDevice.h"

#include <fcntl.h>
#include <linux/major.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/LastError.h"
#include "platform/LineCounters.h"

namespace platform {

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr uint32_t kAllEvents = 0x1FFF;
constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr uint32_t kAllPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr uint8_t kOneAndHalfStopBits = 1;
// A limit beyond any practical wait, so deadlines never overflow the clock.
constexpr uint64_t kLongestTimeoutMs = uint64_t{1} << 40;

// The most one read from the kernel asks for: a terminal's line discipline
// never holds more than this for the reader.
constexpr size_t kReadChunk = 4096;

bool IsGone(int code) { return IsDeviceGone(code); }

// The terminal side of a pseudo-terminal, by its device number.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
    return false;
  const unsigned int kind = major(st.st_rdev);
  return kind == PTY_SLAVE_MAJOR ||
         (kind >= UNIX98_PTY_SLAVE_MAJOR && kind < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT);
}

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

// Modem-line ioctls fail like this on devices that have no modem lines
// (pseudo-terminals): there is nothing to drive, which is no error.
bool HasNoModemLines(int code) { return code == ENOTTY || code == EINVAL; }

// A modem-line change is waited for in TIOCMIWAIT, which only a signal can
// interrupt. This signal, with a handler that does nothing and without
// SA_RESTART, is how Close interrupts it. False when the signal is already
// in use by someone else; then modem-line events are not offered.
int ModemWakeSignal() { return SIGRTMAX - 3; }

bool InstallModemWakeSignal() {
  static const bool installed = [] {
    struct sigaction old {};
    if (::sigaction(ModemWakeSignal(), nullptr, &old) != 0)
      return false;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler != SIG_DFL)
      return false;
    if ((old.sa_flags & SA_SIGINFO) && old.sa_sigaction != nullptr)
      return false;
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    return ::sigaction(ModemWakeSignal(), &sa, nullptr) == 0;
  }();
  return installed;
}

}  // namespace

// A call that blocks without the mutex. Made and destroyed with the mutex
// held.
class LinuxSerialDevice::BlockingCall {
 public:
  explicit BlockingCall(LinuxSerialDevice& device) : device_(device) {
    ++device_.blockingCalls_;
    device_.changed_.notify_all();  // for AwaitBlockedCalls
  }
  ~BlockingCall() {
    if (--device_.blockingCalls_ == 0 && device_.closed_)
      device_.changed_.notify_all();
  }
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  LinuxSerialDevice& device_;
};

SerialDevicePtr OpenSerialDevice(const std::string& name) { return LinuxSerialDevice::Open(name); }

// ---- opening and closing -------------------------------------------------

std::shared_ptr<LinuxSerialDevice> LinuxSerialDevice::Open(const std::string& name) {
  // Only character devices are opened at all: a regular file, a fifo or a
  // folder is refused before anything is done to it.
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    SetLastError(errno);
    return nullptr;
  }
  if (!S_ISCHR(st.st_mode)) {
    SetLastError(ENOTTY);
    return nullptr;
  }
  // Never O_CREAT; O_NONBLOCK so the open does not wait for a carrier and
  // no later call blocks in the kernel.
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno);
    return nullptr;
  }
  bool exclusive = false;
  auto fail = [&](int code) -> std::shared_ptr<LinuxSerialDevice> {
    if (exclusive)
      ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the lock
    SetLastError(code);
    return nullptr;
  };
  if (!::isatty(fd))
    return fail(ENOTTY);
  // The lock first: it also stops a privileged process, which TIOCEXCL does
  // not. Setting TIOCEXCL before it could leave the flag behind on a
  // terminal that someone else holds.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (::ioctl(fd, TIOCEXCL) != 0)
    return fail(errno);
  exclusive = true;
  if (!MakeRaw(fd))
    return fail(errno);
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0)
    return fail(errno);
  return std::shared_ptr<LinuxSerialDevice>(new LinuxSerialDevice(fd, wakeFd));
}

LinuxSerialDevice::LinuxSerialDevice(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {
  reads_.reserve(2);
  writes_.reserve(2);
  int lines = 0;
  hasModemLines_ = ::ioctl(fd_, TIOCMGET, &lines) == 0;
  hasCounters_ = ::ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
  hasOutputQueue_ = !IsPseudoTerminal(fd_);
}

LinuxSerialDevice::~LinuxSerialDevice() { Close(); }

void LinuxSerialDevice::Close() {
  Lock lock(mutex_);
  if (closed_)
    return;
  closed_ = true;
  usable_.store(false, std::memory_order_release);
  // Output that can no longer be waited for is dropped, so neither a drain
  // in progress nor the kernel's close waits for it.
  if (!writes_.empty() || draining_ || drainRequested_)
    ::tcflush(fd_, TCOFLUSH);
  EndAllLocked(reads_, ECANCELED);
  EndAllLocked(writes_, ECANCELED);
  Kick();
  changed_.notify_all();
  StopHelpers(lock);
  changed_.wait(lock, [this] { return blockingCalls_ == 0; });
  ::ioctl(fd_, TIOCNXCL);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  ::close(wakeFd_);
  fd_ = -1;
  wakeFd_ = -1;
}

void LinuxSerialDevice::StopHelpers(Lock& lock) {
  stopHelpers_ = true;
  helperWork_.notify_all();
  if (modemHelper_.joinable()) {
    // The signal may land just before the helper enters TIOCMIWAIT and be
    // lost; it is sent again until the helper has left.
    while (!modemHelperDone_) {
      ::pthread_kill(modemHelper_.native_handle(), ModemWakeSignal());
      helperWork_.wait_for(lock, std::chrono::milliseconds(20));
    }
  }
  std::thread transfer = std::move(transferHelper_);
  std::thread drain = std::move(drainHelper_);
  std::thread modem = std::move(modemHelper_);
  lock.unlock();
  if (transfer.joinable())
    transfer.join();
  if (drain.joinable())
    drain.join();
  if (modem.joinable())
    modem.join();
  lock.lock();
}

void LinuxSerialDevice::AwaitBlockedCalls(int count) const {
  Lock lock(mutex_);
  changed_.wait(lock, [&] { return blockingCalls_ >= count || closed_; });
}

bool LinuxSerialDevice::Fail(int code) const {
  SetLastError(code);
  return false;
}

bool LinuxSerialDevice::UsableLocked() const {
  if (closed_)
    return Fail(EBADF);
  if (hungUp_)
    return Fail(EIO);
  return true;
}

// ---- configuration -------------------------------------------------------

bool LinuxSerialDevice::ValidateDcb(const DCB& dcb) {
  if (dcb.BaudRate == 0)  // would hang up the line
    return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
    return false;
  if (dcb.Parity > 4 || dcb.StopBits > 2)
    return false;
  if ((dcb.Flags & fDtrControlMask) == fDtrControlMask)  // names no DTR mode
    return false;
  // Software flow control cannot work when XON and XOFF are one character.
  if ((dcb.Flags & (fOutX | fInX)) && dcb.XonChar == dcb.XoffChar)
    return false;
  return true;
}

LineSettings LinuxSerialDevice::LineOfDcb(const DCB& dcb) {
  LineSettings line;
  line.baudRate = dcb.BaudRate;
  line.dataBits = dcb.ByteSize;
  line.parity = static_cast<LineParity>(dcb.Parity);
  // One and a half stop bits are sent as two (what a UART does for more
  // than five data bits).
  line.twoStopBits = dcb.StopBits != 0;
  line.parityCheck = (dcb.Flags & fParity) != 0;
  // The kernel's CRTSCTS covers both directions: CTS gates the output and
  // RTS signals the input side.
  line.rtsCts = (dcb.Flags & fOutxCtsFlow) || (dcb.Flags & fRtsControlMask) == RTS_CONTROL_HANDSHAKE;
  line.xonOutput = (dcb.Flags & fOutX) != 0;
  line.xonInput = (dcb.Flags & fInX) != 0;
  line.xonChar = dcb.XonChar;
  line.xoffChar = dcb.XoffChar;
  return line;
}

// The DCB for what the terminal holds: the terminal's fields, and beside
// them what was kept from the last SetCommState (or, on a fresh device, the
// state of the modem lines).
DCB LinuxSerialDevice::DcbOfLineLocked(const LineSettings& line) const {
  DCB dcb = kept_.value_or(DCB{});
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = line.baudRate;
  dcb.ByteSize = line.dataBits;
  dcb.Parity = static_cast<uint8_t>(line.parity);
  if (!line.twoStopBits)
    dcb.StopBits = 0;
  else if (!kept_ || kept_->StopBits != kOneAndHalfStopBits)
    dcb.StopBits = 2;

  auto setFlag = [&dcb](uint32_t flag, bool on) {
    dcb.Flags = on ? (dcb.Flags | flag) : (dcb.Flags & ~flag);
  };
  setFlag(fBinary, true);  // a terminal in raw mode is always binary
  setFlag(fParity, line.parityCheck);
  setFlag(fOutX, line.xonOutput);
  setFlag(fInX, line.xonInput);

  uint32_t dtr = dcb.Flags & fDtrControlMask;
  uint32_t rts = dcb.Flags & fRtsControlMask;
  if (!kept_) {
    // A fresh device: the lines as they are; a device without modem lines
    // reports them raised, as Linux raises DTR and RTS on open.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (hasModemLines_)
      ::ioctl(fd_, TIOCMGET, &lines);
    dtr = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    rts = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
  // Hardware flow control follows the terminal; what was kept decides only
  // which of the two DCB forms names it.
  const bool keptCts = kept_ && ((kept_->Flags & fOutxCtsFlow) ||
                                 (kept_->Flags & fRtsControlMask) == RTS_CONTROL_HANDSHAKE);
  if (line.rtsCts && !keptCts) {
    setFlag(fOutxCtsFlow, true);
    rts = RTS_CONTROL_HANDSHAKE;
  } else if (!line.rtsCts) {
    setFlag(fOutxCtsFlow, false);
    if (rts == RTS_CONTROL_HANDSHAKE)
      rts = RTS_CONTROL_ENABLE;
  }
  dcb.Flags = (dcb.Flags & ~(fDtrControlMask | fRtsControlMask)) | dtr | rts;
  dcb.XonChar = line.xonChar;
  dcb.XoffChar = line.xoffChar;
  return dcb;
}

bool LinuxSerialDevice::ApplyModemLinesLocked(const DCB& dcb) {
  int raise = 0;
  int drop = 0;
  switch (dcb.Flags & fDtrControlMask) {
    case DTR_CONTROL_DISABLE: drop |= TIOCM_DTR; break;
    default: raise |= TIOCM_DTR; break;  // enabled; a handshake keeps it raised
  }
  switch (dcb.Flags & fRtsControlMask) {
    case RTS_CONTROL_ENABLE:
    case RTS_CONTROL_HANDSHAKE: raise |= TIOCM_RTS; break;  // CRTSCTS drives it from here
    default: drop |= TIOCM_RTS; break;  // disabled; toggle rests low between writes
  }
  if (raise && ::ioctl(fd_, TIOCMBIS, &raise) != 0 && !HasNoModemLines(errno))
    return false;
  if (drop && ::ioctl(fd_, TIOCMBIC, &drop) != 0 && !HasNoModemLines(errno))
    return false;
  return true;
}

bool LinuxSerialDevice::GetCommState(DCB& dcb) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  LineSettings line;
  if (!ReadLineSettings(fd_, line))
    return Fail(errno);
  if (kept_ && line == applied_) {
    dcb = *kept_;
    dcb.DCBlength = sizeof(DCB);
  } else {
    dcb = DcbOfLineLocked(line);
  }
  return true;
}

bool LinuxSerialDevice::SetCommState(const DCB& dcb) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (!ValidateDcb(dcb))
    return Fail(EINVAL);
  const LineSettings line = LineOfDcb(dcb);
  if (!WriteLineSettings(fd_, line))
    return Fail(errno);
  kept_ = dcb;
  if (!ReadLineSettings(fd_, applied_))
    applied_ = line;
  const bool linesSet = ApplyModemLinesLocked(dcb);
  const int linesError = errno;
  ChangedLocked();  // event character and null handling may have changed
  return linesSet ? true : Fail(linesError);
}

bool LinuxSerialDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  // The sizes come from signed settings: anything above INT32_MAX was
  // negative there.
  if (inQueue == 0 || outQueue == 0 || inQueue > INT32_MAX || outQueue > INT32_MAX)
    return Fail(EINVAL);
  inQueueSize_ = inQueue;
  outQueueSize_ = outQueue;
  ChangedLocked();  // a larger queue may take more input now
  return true;
}

bool LinuxSerialDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  timeouts = timeouts_;
  return true;
}

bool LinuxSerialDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  // "Return on the first byte" needs a finite constant.
  if (timeouts.ReadIntervalTimeout == kMaxDword && timeouts.ReadTotalTimeoutMultiplier == kMaxDword &&
      timeouts.ReadTotalTimeoutConstant == kMaxDword)
    return Fail(EINVAL);
  timeouts_ = timeouts;
  return true;
}

bool LinuxSerialDevice::PurgeComm(uint32_t flags) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (flags & ~kAllPurgeFlags)
    return Fail(EINVAL);
  if (flags & PURGE_TXABORT)
    EndAllLocked(writes_, ECANCELED);
  if (flags & PURGE_RXABORT)
    EndAllLocked(reads_, ECANCELED);
  if ((flags & PURGE_TXCLEAR) && ::tcflush(fd_, TCOFLUSH) != 0)
    return Fail(errno);
  if (flags & PURGE_RXCLEAR) {
    if (::tcflush(fd_, TCIFLUSH) != 0)
      return Fail(errno);
    input_.Clear();
  }
  ChangedLocked();
  return true;
}

bool LinuxSerialDevice::FlushFileBuffers() {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  BlockingCall call(*this);
  // First the writes still queued here, then the kernel's output queue.
  WaitLocked(lock, [this] { return writes_.empty() || closed_ || hungUp_; });
  if (!UsableLocked())
    return false;
  draining_ = true;
  lock.unlock();
  const int result = ::tcdrain(fd_);
  const int error = errno;
  lock.lock();
  draining_ = false;
  if (closed_)
    return Fail(EBADF);
  if (result != 0) {
    if (IsGone(error))
      HangUpLocked();
    return Fail(error);
  }
  return true;
}

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

// ---- transfers -----------------------------------------------------------

bool LinuxSerialDevice::ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (IsQueuedLocked(overlapped) || (count > 0 && buffer == nullptr))
    return Fail(EINVAL);
  overlapped.Internal = static_cast<uint32_t>(kErrorIoPending);
  overlapped.InternalHigh = 0;
  if (overlapped.hEvent)
    overlapped.hEvent->Reset();
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
  if (!UsableLocked())
    return false;
  if (IsQueuedLocked(overlapped) || (count > 0 && buffer == nullptr))
    return Fail(EINVAL);
  overlapped.Internal = static_cast<uint32_t>(kErrorIoPending);
  overlapped.InternalHigh = 0;
  if (overlapped.hEvent)
    overlapped.hEvent->Reset();
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

bool LinuxSerialDevice::ClearCommError(uint32_t& errors, COMSTAT* status) {
  // Without the driver's counters no line error is ever noted: on a usable
  // device the error word is 0, and the check takes no lock (the component
  // checks after every transfer).
  if (status == nullptr && !hasCounters_ && usable_.load(std::memory_order_acquire)) {
    errors = 0;
    return true;
  }
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  const uint32_t history = history_;
  // Zero bytes still in the kernel will be dropped: what is there is taken
  // in (and filtered) first, and what the queue cannot hold yet is left
  // out of the count, so the count holds only bytes a read can deliver.
  const bool dropNulls = status && kept_ && (kept_->Flags & fNull);
  if (dropNulls) {
    ReceiveLocked();
    if (!UsableLocked())
      return false;
  }
  UpdateCountersLocked();
  WakeForNewEventsLocked(history);
  if (status) {
    // A thread polling for input takes in what the kernel holds as soon as
    // it is there, as the driver's receive interrupt would; until then those
    // bytes are on their way (like bytes in a UART's FIFO) and are not
    // counted, which spares a system call on every count while events are
    // watched.
    int kernelIn = 0;
    const bool taken = pollerActive_ && pollerReads_;
    if (!dropNulls && !taken && ::ioctl(fd_, FIONREAD, &kernelIn) != 0) {
      const int error = errno;
      if (IsGone(error))
        HangUpLocked();
      return Fail(error);
    }
    int kernelOut = 0;
    if (hasOutputQueue_ && ::ioctl(fd_, TIOCOUTQ, &kernelOut) != 0)
      kernelOut = 0;
    uint64_t unsent = static_cast<uint64_t>(std::max(kernelOut, 0));
    for (const Transfer& t : writes_)
      unsent += t.count - t.done;
    const uint64_t received = QueuedLocked() + static_cast<uint64_t>(std::max(kernelIn, 0));
    status->cbInQue = static_cast<uint32_t>(std::min<uint64_t>(received, kMaxDword));
    status->cbOutQue = static_cast<uint32_t>(std::min<uint64_t>(unsent, kMaxDword));
  }
  errors = lineErrors_;
  lineErrors_ = 0;
  return true;
}

// ---- line control --------------------------------------------------------

bool LinuxSerialDevice::TransmitCommChar(char c) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  for (;;) {
    const ssize_t n = ::write(fd_, &c, 1);
    if (n == 1)
      return true;
    const int error = n < 0 ? errno : EAGAIN;
    if (error == EINTR)
      continue;
    if (IsGone(error))
      HangUpLocked();
    return Fail(error);
  }
}

bool LinuxSerialDevice::SetCommBreak() { return EscapeCommFunction(SETBREAK); }
bool LinuxSerialDevice::ClearCommBreak() { return EscapeCommFunction(CLRBREAK); }

bool LinuxSerialDevice::EscapeCommFunction(uint32_t function) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  int result = 0;
  int line = 0;
  switch (function) {
    case SETXOFF: result = ::tcflow(fd_, TCOOFF); break;  // as if XOFF had come
    case SETXON: result = ::tcflow(fd_, TCOON); break;
    case SETRTS: line = TIOCM_RTS; result = ::ioctl(fd_, TIOCMBIS, &line); break;
    case CLRRTS: line = TIOCM_RTS; result = ::ioctl(fd_, TIOCMBIC, &line); break;
    case SETDTR: line = TIOCM_DTR; result = ::ioctl(fd_, TIOCMBIS, &line); break;
    case CLRDTR: line = TIOCM_DTR; result = ::ioctl(fd_, TIOCMBIC, &line); break;
    case RESETDEV: return true;  // a printer function; serial devices ignore it
    case SETBREAK: result = ::ioctl(fd_, TIOCSBRK); break;
    case CLRBREAK: result = ::ioctl(fd_, TIOCCBRK); break;
    default: return Fail(EINVAL);
  }
  if (result == 0 || (line != 0 && HasNoModemLines(errno)))
    return true;
  const int error = errno;
  if (IsGone(error))
    HangUpLocked();
  return Fail(error);
}

bool LinuxSerialDevice::GetCommModemStatus(uint32_t& modemStatus) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
    const int error = errno;
    if (!HasNoModemLines(error))
      return Fail(error);
    lines = 0;  // no modem lines: none is on
  }
  modemStatus = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
                ((lines & TIOCM_RI) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
  return true;
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
  if (!writes_.empty())
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

// Line errors and modem-line changes from the driver's counters, where the
// device keeps them (real UARTs and most USB adapters; not pseudo-terminals).
void LinuxSerialDevice::UpdateCountersLocked() {
  if (!hasCounters_ || closed_ || hungUp_)
    return;
  serial_icounter_struct now {};
  if (::ioctl(fd_, TIOCGICOUNT, &now) != 0)
    return;
  const CounterChanges changes = CompareCounters(counters_, now);
  counters_ = now;
  lineErrors_ |= changes.errors;
  NoteEventsLocked(changes.events);
}

void LinuxSerialDevice::HangUpLocked() {
  if (hungUp_)
    return;
  hungUp_ = true;
  usable_.store(false, std::memory_order_release);
  EndAllLocked(reads_, EIO);
  EndAllLocked(writes_, EIO);
  ChangedLocked();
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
    draining_ = true;
    lock.unlock();
    const int result = ::tcdrain(fd_);
    const int error = errno;
    lock.lock();
    draining_ = false;
    if (stopHelpers_)
      return;
    if (result == 0 && writes_.empty()) {
      NoteEventsLocked(EV_TXEMPTY);
      ChangedLocked();
    } else if (result != 0 && IsGone(error)) {
      HangUpLocked();
    }
  }
}

void LinuxSerialDevice::EnsureModemHelperLocked() {
  if (!hasModemLines_ || modemHelper_.joinable() || stopHelpers_)
    return;
  if (!InstallModemWakeSignal())
    return;
  modemHelperDone_ = false;
  modemHelper_ = std::thread(&LinuxSerialDevice::ModemHelperMain, this);
}

// Sleeps in TIOCMIWAIT and reports CTS, DSR, ring and carrier changes.
void LinuxSerialDevice::ModemHelperMain() {
  Lock lock(mutex_);
  int lines = 0;
  ::ioctl(fd_, TIOCMGET, &lines);
  while (!stopHelpers_) {
    lock.unlock();
    const int result = ::ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
    const int error = errno;
    lock.lock();
    if (stopHelpers_ || closed_)
      break;
    if (result != 0 && error == EINTR)
      continue;
    if (result != 0) {
      if (IsGone(error))
        HangUpLocked();
      break;  // the driver cannot wait for modem lines
    }
    if (hasCounters_) {
      UpdateCountersLocked();
    } else {
      int now = 0;
      if (::ioctl(fd_, TIOCMGET, &now) == 0) {
        const int changed = now ^ lines;
        lines = now;
        NoteEventsLocked(((changed & TIOCM_CTS) ? EV_CTS : 0) | ((changed & TIOCM_DSR) ? EV_DSR : 0) |
                         ((changed & TIOCM_CD) ? EV_RLSD : 0) | ((changed & TIOCM_RNG) ? EV_RING : 0));
      }
    }
    ChangedLocked();
  }
  modemHelperDone_ = true;
  helperWork_.notify_all();
}

}  // namespace platform
