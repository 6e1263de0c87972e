// The serial device on Windows: the system's comm device itself, opened for
// overlapped I/O. Reads, writes and the event wait are the driver's own
// asynchronous requests; the caller's platform::Overlapped carries the
// system's OVERLAPPED record (Overlapped::System) and its event object
// (Event::NativeHandle), so nothing is emulated or relayed.
//
// What the device adds to the Win32 model, as SerialDevice describes:
// - Close() makes every later call fail with ERROR_INVALID_HANDLE, ends a
//   pending wait (SetCommMask(0), then CancelIoEx for everything issued on
//   the handle), waits for the calls inside the device to leave, waits for
//   the pending transfers whose events are manual-reset to end (so their
//   records are no longer written once Close has returned), and closes the
//   handle, which lets the port be opened again at once. A wait that Close
//   cancelled reports success with an empty mask.
// - A wait under mask 0 fails with ERROR_INVALID_PARAMETER; a wait whose
//   Abandon flag is set returns at once with mask 0. The flag is read, and
//   the system's wait issued, under the same lock that SetCommMask takes,
//   so a wait never begins under a mask set after its thread was stopped.
// - PutBackEvents keeps events that the next wait returns at once; a wait
//   already pending is ended (by setting the mask again) so its thread
//   comes back for them.
// - The device does not hold events (HoldEvents keeps its default): the
//   component waits for a running batch before it hands on the next.
// - A record that is still in flight is refused when it is issued again.
//
// Records without an event, or with an auto-reset event, are the caller's
// to keep until their transfer has ended, as on Win32 itself: Close cannot
// wait on such an event without taking the signal meant for its owner.
//
// A device whose driver cannot wait for events (one without modem lines
// under Wine, such as a pseudo-terminal: the system's wait ends at once,
// cancelled, whenever it cannot read the lines, and it never reports the
// event character) gets waits of the device's own
// (WindowsSerialDeviceOwnWait.cpp): the wait blocks the calling thread on a
// one-byte read of the device's that stands ahead of the caller's reads.
// The bytes it takes are held for the caller's next read, which returns
// them first, and are counted in the input queue; each that came after the
// last report reports EV_RXCHAR, and EV_RXFLAG when it is the event
// character (bytes that the caller's own reads take straight from the
// driver are not looked at); bytes already queued at a report are covered
// by it. While the caller does not read, the wait goes on reading ahead, a
// byte at a time, up to the input queue size, so every arrival is reported
// as the driver would. Nothing polls: the wait sleeps until a byte comes,
// the caller takes bytes, the mask changes, events are put back or the
// device closes. EV_TXEMPTY and the modem and error events are not
// reported there. Every Windows port driver answers GetCommModemStatus, so
// on Windows itself the system's wait is always the one used.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SerialDevice.h"

namespace platform {

class WindowsSerialDevice final : public SerialDevice {
 public:
  // Opens 'name' as OpenSerialDevice describes. Null with the last error set.
  static std::shared_ptr<WindowsSerialDevice> Open(const std::string& name);

  ~WindowsSerialDevice() override;
  WindowsSerialDevice(const WindowsSerialDevice&) = delete;
  WindowsSerialDevice& operator=(const WindowsSerialDevice&) = delete;

  // WindowsSerialDevice.cpp: closing, configuration, purge and flush.
  void Close() override;
  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool PurgeComm(uint32_t flags) override;
  bool FlushFileBuffers() override;

  // WindowsSerialDeviceEvents.cpp: the event mask and the wait.
  bool SetCommMask(uint32_t mask) override;
  bool GetCommMask(uint32_t& mask) override;
  bool WaitCommEvent(uint32_t& eventMask, Overlapped& overlapped) override;
  void PutBackEvents(uint32_t events) override;

  // WindowsSerialDeviceTransfer.cpp: reads, writes and their results.
  bool ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) override;
  bool WriteFile(const void* buffer, uint32_t count, Overlapped& overlapped) override;
  bool GetOverlappedResult(Overlapped& overlapped, uint32_t& transferred, bool wait) override;

  // Blocks until at least 'count' waits are under way in the device (a
  // wait of its own blocked, or the system's wait pending) or the device is
  // closed. Lets a test act exactly when a wait is known to be waiting.
  void AwaitBlockedCalls(int count);
  // True when the device waits for events by itself (the driver cannot).
  bool OwnWaits() const { return ownWaits_; }

  // WindowsSerialDeviceLines.cpp: line errors, line control, modem lines.
  bool ClearCommError(uint32_t& errors, COMSTAT* status) override;
  bool TransmitCommChar(char c) override;
  bool SetCommBreak() override;
  bool ClearCommBreak() override;
  bool EscapeCommFunction(uint32_t function) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

 private:
  WindowsSerialDevice(HANDLE handle, bool ownWaits);

  // A call that uses the handle: refused once the device is closed, and
  // counted while it runs, so Close can wait for it to leave. It keeps the
  // thread's last error as the call left it.
  class Call;

  static bool Fail(DWORD code);
  // False with the system's last error of the call that just failed.
  static bool FailWithSystemError();
  static OVERLAPPED& SystemRecord(Overlapped& overlapped) { return Part(overlapped).record; }
  // Prepares the system's record of a transfer or wait about to be issued;
  // false (invalid parameter) when the record is still in flight.
  static bool PrepareRecord(Overlapped& overlapped);

  // What the device keeps in Overlapped::System: the system's record and
  // the number of bytes a read took from the device's own byte ahead.
  struct SystemPart {
    OVERLAPPED record;
    uint32_t ahead;
  };
  static SystemPart& Part(Overlapped& overlapped);

  // WindowsSerialDeviceOwnWait.cpp: waits of the device's own.
  bool OwnWait(uint32_t& eventMask, uint64_t generation);
  // Issues the one-byte read ahead of the caller's; false with the code
  // when the device fails it.
  bool StartAheadLocked();
  // Takes the outcome of the read ahead once it has ended (with 'wait',
  // waits for that); a failure's code in 'error' (0 when there was none).
  void HoldAheadByteLocked();
  size_t HeldLocked() const { return held_.size() - heldFirst_; }
  void CollectAheadLocked(bool wait, DWORD& error);
  // Ends a read ahead under way, holding the byte it may have taken: a
  // byte it has taken from the driver is counted nowhere else until then.
  // A failure's code in 'error' (0 when there was none, or it was ended).
  void EndAheadLocked(DWORD& error);
  // ReadFile when bytes the device read ahead may be held.
  bool ReadWithAheadLocked(void* buffer, uint32_t count, Overlapped& overlapped);
  // Wakes a wait of the device's own (a mask change, put-back events, Close).
  void WakeOwnWait();
  // A wait of the device's own reports 'events': the bytes then waiting in
  // the driver's queue are covered by that report.
  void AnnounceLocked(uint32_t events, uint32_t& eventMask);
  // Issues the caller's read of 'count' bytes straight from the driver.
  bool ReadFromDriverLocked(void* buffer, uint32_t count, Overlapped& overlapped);

  // WindowsSerialDeviceTransfer.cpp: the pending transfers Close waits for.
  void TrackTransfer(Overlapped& overlapped, const OVERLAPPED*& pending);
  void ForgetTransfer(const Event* event);
  // The outcome of an issued transfer or wait, into the caller's record.
  bool Issued(Overlapped& overlapped, BOOL done);

  HANDLE handle_;

  std::mutex mutex_;
  std::condition_variable left_;  // a call left the device
  bool closed_ = false;
  int inside_ = 0;
  uint64_t leaves_ = 0;
  // Own handles on the manual-reset events of transfers that went on in
  // the background, by the caller's event: a caller reuses an event only
  // once its transfer has ended, so one entry per event is enough.
  std::map<const Event*, HANDLE> pendingTransfers_;
  // The last read and write that went on in the background, by their
  // system records: PurgeComm cancels them by record for PURGE_RXABORT and
  // PURGE_TXABORT, also where the driver would leave them running (Wine).
  // Only compared and handed to CancelIoEx, never read.
  const OVERLAPPED* pendingRead_ = nullptr;
  const OVERLAPPED* pendingWrite_ = nullptr;
  int waiting_ = 0;  // waits under way (AwaitBlockedCalls)
  std::condition_variable waitingChanged_;
  void NoteWaiting(int change);

  // Orders the mask, the put-back events and the issue of a wait.
  std::mutex maskMutex_;
  uint32_t mask_ = 0;
  uint32_t putBack_ = 0;
  // Counts the mask changes (and the put-backs that end a wait): a wait
  // that the system cancelled after one ends with no events.
  uint64_t maskGeneration_ = 0;
  // The wait in flight, if any, where the system writes its bits, and the
  // mask generation it began under.
  const Overlapped* pendingWait_ = nullptr;
  uint32_t* pendingWaitMask_ = nullptr;
  uint64_t pendingWaitGeneration_ = 0;

  // Waits of the device's own, for a driver that cannot wait.
  bool ownWaits_ = false;
  std::atomic<char> eventChar_{0};
  HANDLE wake_ = nullptr;  // auto-reset: a blocked own wait must look again
  std::mutex aheadMutex_;  // the byte ahead, and the caller's timeouts
  ::COMMTIMEOUTS timeouts_{};
  OVERLAPPED aheadRecord_{};
  HANDLE aheadDone_ = nullptr;  // manual-reset: the read ahead has ended
  char aheadByte_ = 0;     // where the read ahead puts its byte
  bool aheadPending_ = false;
  std::string held_;       // bytes read ahead, not yet taken by the caller
  size_t heldFirst_ = 0;   // held_[heldFirst_, end) are still held
  bool fresh_ = false;     // bytes came that no wait has reported yet
  bool freshFlag_ = false;  // ... and the event character was among them
  // Bytes that were in the driver's queue when a wait last reported
  // EV_RXCHAR, and that no read has taken yet: that report covered them,
  // so reading them ahead later reports nothing new, as the driver's own
  // wait reports each arrival once. They are the oldest in the queue, so a
  // read from the driver takes them first; it is counted when issued (the
  // component need not ask for a result it already has): should it take
  // fewer, a later byte is reported once more rather than not at all.
  uint64_t announced_ = 0;
  uint32_t keptErrors_ = 0;  // line errors a wait's queue count cleared
  uint32_t inQueueSize_ = 4096;  // the most bytes held, as the driver's queue
};

}  // namespace platform
