// The Linux serial device: line errors and queue counts, the character
// sent ahead, break, the escape functions and the modem lines (their
// status and the helper thread that waits for their changes).
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "platform/linux/LineCounters.h"
#include "platform/linux/LinuxSerialDeviceInternal.h"

namespace platform {

using namespace linux_serial;

namespace {

// Installs the handler of ModemWakeSignal. False when the signal is already
// in use by someone else; then modem-line events are not offered.
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
    if (aheadChar_)
      ++unsent;
    const uint64_t received = QueuedLocked() + static_cast<uint64_t>(std::max(kernelIn, 0));
    status->cbInQue = static_cast<uint32_t>(std::min<uint64_t>(received, kMaxDword));
    status->cbOutQue = static_cast<uint32_t>(std::min<uint64_t>(unsent, kMaxDword));
  }
  errors = lineErrors_;
  lineErrors_ = 0;
  return true;
}

// ---- line control --------------------------------------------------------

// The character goes out ahead of the writes still queued here, as the
// driver's immediate character does. When the kernel has no room for it now
// (its buffer full, or output stopped by flow control), it is kept and
// sent first when room comes; the call does not wait. Like the driver, the
// device keeps one such character: a second one before the first has gone
// out is refused with EBUSY.
bool LinuxSerialDevice::TransmitCommChar(char c) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  if (aheadChar_)
    return Fail(EBUSY);
  aheadChar_ = c;
  const uint32_t history = history_;
  const int error = SendAheadCharLocked();
  if (error == EAGAIN) {
    EnsureTransferHelperLocked();
    ChangedLocked();  // the poller waits for room
    return true;
  }
  WakeForNewEventsLocked(history);  // EV_TXEMPTY
  return error == 0 ? true : Fail(error);
}

bool LinuxSerialDevice::SetCommBreak() { return EscapeCommFunction(SETBREAK); }
bool LinuxSerialDevice::ClearCommBreak() { return EscapeCommFunction(CLRBREAK); }

bool LinuxSerialDevice::EscapeCommFunction(uint32_t function) {
  Lock lock(mutex_);
  if (!UsableLocked())
    return false;
  // A device without modem lines fails SETDTR to CLRRTS with ENOTTY.
  int result = 0;
  int line = 0;
  switch (function) {
    case SETXOFF: result = HoldOutputLocked(xoffHold_, true); break;  // as if XOFF had come
    case SETXON: result = HoldOutputLocked(xoffHold_, false); break;
    case SETRTS: line = TIOCM_RTS; result = ::ioctl(fd_, TIOCMBIS, &line); break;
    case CLRRTS: line = TIOCM_RTS; result = ::ioctl(fd_, TIOCMBIC, &line); break;
    case SETDTR: line = TIOCM_DTR; result = ::ioctl(fd_, TIOCMBIS, &line); break;
    case CLRDTR: line = TIOCM_DTR; result = ::ioctl(fd_, TIOCMBIC, &line); break;
    case RESETDEV: return true;  // a printer function; serial devices ignore it
    // A break also suspends transmission: what is written meanwhile waits
    // here instead of going out under the break condition.
    case SETBREAK: result = ::ioctl(fd_, TIOCSBRK) == 0 ? HoldOutputLocked(breakHold_, true) : -1; break;
    case CLRBREAK: result = ::ioctl(fd_, TIOCCBRK) == 0 ? HoldOutputLocked(breakHold_, false) : -1; break;
    default: return Fail(EINVAL);
  }
  if (result == 0)
    return true;
  const int error = errno;
  if (IsGone(error))
    HangUpLocked();
  return Fail(error);
}

// Output is stopped while either hold (XOFF, break) is on and resumes when
// the last one is released; 0 or -1 with errno, as the calls it makes.
int LinuxSerialDevice::HoldOutputLocked(bool& hold, bool on) {
  const bool wasHeld = xoffHold_ || breakHold_;
  hold = on;
  if (xoffHold_ || breakHold_) return wasHeld ? 0 : ::tcflow(fd_, TCOOFF);
  // The last release also resumes output that the far end's XOFF stopped,
  // as XON always did.
  return ::tcflow(fd_, TCOON);
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

// ---- modem-line helper thread -------------------------------------------

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
