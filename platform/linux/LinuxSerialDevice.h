// The serial device on a Linux tty descriptor, emulating the driver model
// that SerialDevice describes.
//
// Configuration: the device control block is translated to termios2 (any
// integer rate, CMSPAR for mark and space, CRTSCTS, IXON/IXOFF) and DTR/RTS
// are driven with TIOCMBIS/TIOCMBIC. What termios cannot hold (the flag bits
// and characters without a terminal equivalent, 1.5 stop bits, the XON/XOFF
// limits) is kept beside the terminal settings, so GetCommState returns what
// SetCommState was given as long as the terminal still holds it.
//
// Driver emulation, without a relay thread: the input queue lives here in
// user space. A thread that has to wait (the port's event thread in
// WaitCommEvent, a caller of GetOverlappedResult with wait) becomes the one
// poller of the descriptor: it sleeps in poll() on the descriptor and on an
// eventfd that wakes it when the mask, the transfers or the open state
// change, and does the driver's work inline when data comes (bytes into the
// queue, event character, 80 % fill, pending reads served, line errors
// from TIOCGICOUNT). A full queue leaves the input in the kernel; a read
// that makes room wakes the poller to take it in. Other waiting threads
// sleep on a condition variable meanwhile. Helper threads exist only for
// work nobody waits on: a transfer still pending after a non-waiting call
// (or a character sent ahead that waits for room), the output drain behind
// EV_TXEMPTY on devices with a hardware queue, and TIOCMIWAIT for modem
// line events on devices that have modem lines. An open, idle port makes
// no wake-ups: nothing runs on a timer.
//
// The provider-specific events EV_EVENT1 and EV_EVENT2 and the printer
// events and errors (EV_PERR, CE_DNS, CE_OOP, CE_PTO, CE_IOE) belong to
// devices Linux does not present as terminals; they never occur here.
#pragma once

#include <linux/serial.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialDevice.h"
#include "platform/linux/Termios2.h"

namespace platform {

class LinuxSerialDevice final : public SerialDevice {
 public:
  // Opens 'name' as OpenSerialDevice describes. Null with the last error set.
  static std::shared_ptr<LinuxSerialDevice> Open(const std::string& name);

  ~LinuxSerialDevice() override;
  LinuxSerialDevice(const LinuxSerialDevice&) = delete;
  LinuxSerialDevice& operator=(const LinuxSerialDevice&) = delete;

  // LinuxSerialDeviceOpen.cpp: closing, configuration, purge and flush.
  void Close() override;
  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool PurgeComm(uint32_t flags) override;
  bool FlushFileBuffers() override;

  // LinuxSerialDevicePoller.cpp: the event mask, waits and held events.
  bool SetCommMask(uint32_t mask) override;
  bool GetCommMask(uint32_t& mask) override;
  bool WaitCommEvent(uint32_t& eventMask, Overlapped& overlapped) override;
  void HoldEvents() override;
  void ReleaseEvents() override;
  void PutBackEvents(uint32_t events) override;
  uint32_t TakeHeldEvents() override;

  // LinuxSerialDeviceTransfer.cpp: reads and writes.
  bool ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) override;
  bool WriteFile(const void* buffer, uint32_t count, Overlapped& overlapped) override;
  bool GetOverlappedResult(Overlapped& overlapped, uint32_t& transferred, bool wait) override;

  // LinuxSerialDeviceLines.cpp: line errors, line control, modem lines.
  bool ClearCommError(uint32_t& errors, COMSTAT* status) override;
  bool TransmitCommChar(char c) override;
  bool SetCommBreak() override;
  bool ClearCommBreak() override;
  bool EscapeCommFunction(uint32_t function) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

  // Blocks until at least 'count' calls are blocked inside the device
  // (WaitCommEvent, GetOverlappedResult with wait, FlushFileBuffers) or the
  // device is closed. Lets a test act exactly when a call is known to
  // wait: anything that should end such a wait and happens afterwards does.
  void AwaitBlockedCalls(int count) const;

 private:
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<std::mutex>;

  // One read or write in flight. The caller's buffer stays valid until the
  // transfer has ended (the overlapped contract); it is never touched after.
  struct Transfer {
    Overlapped* overlapped = nullptr;
    char* buffer = nullptr;
    uint32_t count = 0;
    uint32_t done = 0;
    bool started = false;      // timers run from the moment it heads its queue
    bool immediate = false;    // ends at once with what is there
    bool returnOnAny = false;  // ends as soon as it holds at least one byte
    uint64_t totalMs = 0;      // 0: no total limit
    uint32_t intervalMs = 0;   // 0: no interval limit
    Clock::time_point totalDeadline{};
    Clock::time_point intervalDeadline{};
  };

  // The bytes received and not yet read, kept in one block: the kernel's
  // bytes are read straight into the free space behind the unread ones, and
  // the block starts over whenever the reader has taken everything.
  class InputQueue {
   public:
    size_t Size() const { return tail_ - head_; }
    // Free space for at least 'n' more bytes behind the unread ones.
    char* Reserve(size_t n);
    // Adds the 'n' bytes just written at the start of the reserved space.
    void Commit(size_t n) { tail_ += n; }
    void Take(char* to, size_t n);
    void Clear() { head_ = tail_ = 0; }

   private:
    std::vector<char> bytes_;
    size_t head_ = 0;  // bytes_[head_, tail_) are the unread bytes
    size_t tail_ = 0;
  };

  LinuxSerialDevice(int fd, int wakeFd);

  // Calls that block without the mutex are counted, so Close can wait for
  // them to leave the descriptor (LinuxSerialDeviceInternal.h).
  class BlockingCall;

  // LinuxSerialDeviceOpen.cpp: the device's state, and the translation
  // between the device control block and the terminal.
  bool Fail(int code) const;
  // False with the last error set (EBADF closed, EIO hung up) when the
  // device cannot be used.
  bool UsableLocked() const;
  static LineSettings LineOfDcb(const DCB& dcb);
  DCB DcbOfLineLocked(const LineSettings& line) const;
  bool ApplyModemLinesLocked(const DCB& dcb);
  void StopHelpers(Lock& lock);

  // LinuxSerialDevicePoller.cpp: driver emulation, all with the mutex held.
  void WaitLocked(Lock& lock, const std::function<bool()>& done);
  void PollOnceLocked(Lock& lock);
  void ReceiveLocked();
  void NoteEventsLocked(uint32_t events) { history_ |= events & mask_; }
  void HangUpLocked();
  uint32_t QueueCapacityLocked() const;
  size_t QueuedLocked() const { return input_.Size(); }
  void TakeLocked(char* to, size_t n);
  void ChangedLocked();  // wakes the poller and the waiting threads
  void WakeForNewEventsLocked(uint32_t historyBefore);
  void Kick();

  // LinuxSerialDeviceTransfer.cpp: transfers in flight, their time limits,
  // and the helper threads for work nobody waits on.
  void StartReadLocked(Transfer& t) const;
  void StartWriteLocked(Transfer& t) const;
  // Output kept back here: queued writes and the character sent ahead.
  bool HoldsOutputLocked() const { return !writes_.empty() || aheadChar_.has_value(); }
  bool HasTransfersLocked() const { return !reads_.empty() || HoldsOutputLocked(); }
  void ServeReadsLocked();
  void ServeWritesLocked();
  void ExpireLocked(Clock::time_point now);
  void EndTransferLocked(std::vector<Transfer>& queue, std::vector<Transfer>::iterator it, int code);
  void EndAllLocked(std::vector<Transfer>& queue, int code);
  int SendAheadCharLocked();
  void WriteDrainedLocked();
  bool IsQueuedLocked(const Overlapped& overlapped) const;
  // Checks a transfer about to be issued and marks its record pending;
  // false (with the error set) when it cannot be issued.
  bool IssueLocked(Overlapped& overlapped, const void* buffer, uint32_t count);
  // tcdrain with the lock released (draining_ set meanwhile); the errno of
  // a failure in 'error'.
  int DrainUnlocked(Lock& lock, int& error);
  int PollTimeoutLocked() const;  // -1 when nothing has a time limit
  void EnsureTransferHelperLocked();
  void TransferHelperMain();
  void EnsureDrainHelperLocked();
  void DrainHelperMain();

  // LinuxSerialDeviceLines.cpp: the driver's counters and the modem-line
  // helper thread.
  void UpdateCountersLocked();
  // Sets one of the output holds and stops or resumes output to match.
  int HoldOutputLocked(bool& hold, bool on);
  void EnsureModemHelperLocked();
  void ModemHelperMain();

  int fd_;
  int wakeFd_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;  // any state change
  std::condition_variable helperWork_;       // work for the helper threads
  bool closed_ = false;
  bool hungUp_ = false;
  std::atomic<bool> usable_{true};  // neither closed nor hung up; read without the lock
  int blockingCalls_ = 0;
  bool pollerActive_ = false;
  bool pollerReads_ = false;  // the poller takes in input as it comes
  std::thread::id pollerThread_;

  // Configuration.
  std::optional<DCB> kept_;     // the last DCB that was set
  LineSettings applied_;        // what the terminal held right after it
  COMMTIMEOUTS timeouts_;
  uint32_t inQueueSize_ = 4096;
  uint32_t outQueueSize_ = 2048;
  bool hasModemLines_ = false;  // TIOCMGET works (not on a pseudo-terminal)
  bool hasCounters_ = false;    // TIOCGICOUNT works
  // TIOCOUTQ counts unsent bytes; a pseudo-terminal has no output queue of
  // its own (it always reads 0 there), so the call is left out.
  bool hasOutputQueue_ = true;
  serial_icounter_struct counters_{};

  // Events and line errors.
  uint32_t mask_ = 0;
  uint64_t maskGeneration_ = 0;
  uint32_t history_ = 0;  // events of the mask that occurred since the last wait
  std::atomic<bool> eventsHeld_{false};  // HoldEvents: a wait returns no events
  uint32_t lineErrors_ = 0;

  // The emulated input queue.
  InputQueue input_;

  // The transfers in flight, oldest first. Their storage is kept from one
  // transfer to the next: issuing one allocates nothing.
  std::vector<Transfer> reads_;
  std::vector<Transfer> writes_;
  // TransmitCommChar's character while the kernel has no room for it: it
  // goes out before the rest of the writes.
  std::optional<char> aheadChar_;
  // Output held by SETXOFF and by a break, each until its own release.
  bool xoffHold_ = false;
  bool breakHold_ = false;

  std::thread transferHelper_;
  std::thread drainHelper_;
  std::thread modemHelper_;
  bool stopHelpers_ = false;
  bool drainRequested_ = false;
  bool draining_ = false;
  bool modemHelperDone_ = false;
};

}  // namespace platform
