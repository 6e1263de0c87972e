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
#pragma once

#include <windows.h>

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

  // WindowsSerialDeviceLines.cpp: line errors, line control, modem lines.
  bool ClearCommError(uint32_t& errors, COMSTAT* status) override;
  bool TransmitCommChar(char c) override;
  bool SetCommBreak() override;
  bool ClearCommBreak() override;
  bool EscapeCommFunction(uint32_t function) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

 private:
  explicit WindowsSerialDevice(HANDLE handle);

  // A call that uses the handle: refused once the device is closed, and
  // counted while it runs, so Close can wait for it to leave. It keeps the
  // thread's last error as the call left it.
  class Call;

  static bool Fail(DWORD code);
  // False with the system's last error of the call that just failed.
  static bool FailWithSystemError();
  static OVERLAPPED& SystemRecord(Overlapped& overlapped);
  // Prepares the system's record of a transfer or wait about to be issued;
  // false (invalid parameter) when the record is still in flight.
  static bool PrepareRecord(Overlapped& overlapped);

  // WindowsSerialDeviceTransfer.cpp: the pending transfers Close waits for.
  void TrackTransfer(const Overlapped& overlapped);
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

  // Orders the mask, the put-back events and the issue of a wait.
  std::mutex maskMutex_;
  uint32_t mask_ = 0;
  uint32_t putBack_ = 0;
  // The wait in flight, if any, and where the system writes its bits.
  const Overlapped* pendingWait_ = nullptr;
  uint32_t* pendingWaitMask_ = nullptr;
};

}  // namespace platform
