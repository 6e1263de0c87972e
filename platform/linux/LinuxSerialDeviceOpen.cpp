// The Linux serial device: opening and closing, the device control block
// and the terminal, timeouts, queue sizes, purge and flush.
#include <fcntl.h>
#include <linux/major.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/linux/LinuxSerialDeviceInternal.h"

namespace platform {

using namespace linux_serial;

namespace {

constexpr uint32_t kAllPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr uint8_t kOneAndHalfStopBits = 1;

// The terminal side of a pseudo-terminal, by its device number.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
    return false;
  const unsigned int kind = major(st.st_rdev);
  return kind == PTY_SLAVE_MAJOR ||
         (kind >= UNIX98_PTY_SLAVE_MAJOR && kind < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT);
}

}  // namespace

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
  if (HoldsOutputLocked() || draining_ || drainRequested_)
    ::tcflush(fd_, TCOFLUSH);
  aheadChar_.reset();
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
  if (!IsValidDcb(dcb))
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
  if (flags & PURGE_TXCLEAR) {
    aheadChar_.reset();
    if (::tcflush(fd_, TCOFLUSH) != 0)
      return Fail(errno);
  }
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
  WaitLocked(lock, [this] { return !HoldsOutputLocked() || closed_ || hungUp_; });
  if (!UsableLocked())
    return false;
  int error = 0;
  const int result = DrainUnlocked(lock, error);
  if (closed_)
    return Fail(EBADF);
  if (result != 0) {
    if (IsGone(error))
      HangUpLocked();
    return Fail(error);
  }
  return true;
}

}  // namespace platform
