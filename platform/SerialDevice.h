// The serial device as the component sees it: a Win32-shaped driver
// interface (device control block, timeouts, purge, event mask and wait,
// asynchronous transfers with completion events, line-error fetch) that the
// Linux backend emulates on a tty descriptor. Test doubles derive from
// SerialDevice too, so the component never knows which one it drives.
//
// Every operation returns false on failure and leaves the code in the
// calling thread's last error (LastError.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#ifdef _WIN32
// <windows.h> defines the Win32 names below as macros with the same values.
// They are set aside here, so these constants can be declared whichever
// header comes first, and restored at the end.
#pragma push_macro("DTR_CONTROL_DISABLE")
#undef DTR_CONTROL_DISABLE
#pragma push_macro("DTR_CONTROL_ENABLE")
#undef DTR_CONTROL_ENABLE
#pragma push_macro("DTR_CONTROL_HANDSHAKE")
#undef DTR_CONTROL_HANDSHAKE
#pragma push_macro("RTS_CONTROL_DISABLE")
#undef RTS_CONTROL_DISABLE
#pragma push_macro("RTS_CONTROL_ENABLE")
#undef RTS_CONTROL_ENABLE
#pragma push_macro("RTS_CONTROL_HANDSHAKE")
#undef RTS_CONTROL_HANDSHAKE
#pragma push_macro("RTS_CONTROL_TOGGLE")
#undef RTS_CONTROL_TOGGLE
#pragma push_macro("PURGE_TXABORT")
#undef PURGE_TXABORT
#pragma push_macro("PURGE_RXABORT")
#undef PURGE_RXABORT
#pragma push_macro("PURGE_TXCLEAR")
#undef PURGE_TXCLEAR
#pragma push_macro("PURGE_RXCLEAR")
#undef PURGE_RXCLEAR
#pragma push_macro("EV_RXCHAR")
#undef EV_RXCHAR
#pragma push_macro("EV_RXFLAG")
#undef EV_RXFLAG
#pragma push_macro("EV_TXEMPTY")
#undef EV_TXEMPTY
#pragma push_macro("EV_CTS")
#undef EV_CTS
#pragma push_macro("EV_DSR")
#undef EV_DSR
#pragma push_macro("EV_RLSD")
#undef EV_RLSD
#pragma push_macro("EV_BREAK")
#undef EV_BREAK
#pragma push_macro("EV_ERR")
#undef EV_ERR
#pragma push_macro("EV_RING")
#undef EV_RING
#pragma push_macro("EV_PERR")
#undef EV_PERR
#pragma push_macro("EV_RX80FULL")
#undef EV_RX80FULL
#pragma push_macro("EV_EVENT1")
#undef EV_EVENT1
#pragma push_macro("EV_EVENT2")
#undef EV_EVENT2
#pragma push_macro("CE_RXOVER")
#undef CE_RXOVER
#pragma push_macro("CE_OVERRUN")
#undef CE_OVERRUN
#pragma push_macro("CE_RXPARITY")
#undef CE_RXPARITY
#pragma push_macro("CE_FRAME")
#undef CE_FRAME
#pragma push_macro("CE_BREAK")
#undef CE_BREAK
#pragma push_macro("CE_TXFULL")
#undef CE_TXFULL
#pragma push_macro("CE_PTO")
#undef CE_PTO
#pragma push_macro("CE_IOE")
#undef CE_IOE
#pragma push_macro("CE_DNS")
#undef CE_DNS
#pragma push_macro("CE_OOP")
#undef CE_OOP
#pragma push_macro("CE_MODE")
#undef CE_MODE
#pragma push_macro("SETXOFF")
#undef SETXOFF
#pragma push_macro("SETXON")
#undef SETXON
#pragma push_macro("SETRTS")
#undef SETRTS
#pragma push_macro("CLRRTS")
#undef CLRRTS
#pragma push_macro("SETDTR")
#undef SETDTR
#pragma push_macro("CLRDTR")
#undef CLRDTR
#pragma push_macro("RESETDEV")
#undef RESETDEV
#pragma push_macro("SETBREAK")
#undef SETBREAK
#pragma push_macro("CLRBREAK")
#undef CLRBREAK
#pragma push_macro("MS_CTS_ON")
#undef MS_CTS_ON
#pragma push_macro("MS_DSR_ON")
#undef MS_DSR_ON
#pragma push_macro("MS_RING_ON")
#undef MS_RING_ON
#pragma push_macro("MS_RLSD_ON")
#undef MS_RLSD_ON
#endif

namespace platform {

// Device control block, field for field as the Win32 driver defines it.
struct DCB {
  uint32_t DCBlength = sizeof(DCB);
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;  // the Win32 bit fields, as one word (masks below)
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "the device control block is 28 bytes");

// Masks of DCB::Flags.
inline constexpr uint32_t fBinary = 0x0001;
inline constexpr uint32_t fParity = 0x0002;
inline constexpr uint32_t fOutxCtsFlow = 0x0004;
inline constexpr uint32_t fOutxDsrFlow = 0x0008;
inline constexpr uint32_t fDtrControlMask = 0x0030;
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0x0000;
inline constexpr uint32_t DTR_CONTROL_ENABLE = 0x0010;
inline constexpr uint32_t DTR_CONTROL_HANDSHAKE = 0x0020;
inline constexpr uint32_t fDsrSensitivity = 0x0040;
inline constexpr uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr uint32_t fOutX = 0x0100;
inline constexpr uint32_t fInX = 0x0200;
inline constexpr uint32_t fErrorChar = 0x0400;
inline constexpr uint32_t fNull = 0x0800;
inline constexpr uint32_t fRtsControlMask = 0x3000;
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0x0000;
inline constexpr uint32_t RTS_CONTROL_ENABLE = 0x1000;
inline constexpr uint32_t RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr uint32_t RTS_CONTROL_TOGGLE = 0x3000;
inline constexpr uint32_t fAbortOnError = 0x4000;

// True for a block a serial device takes (SetCommState refuses any other
// with kErrorInvalidParameter): a rate, 5 to 8 data bits, a parity and a number of stop
// bits the block names, a DTR mode, and two characters for XON and XOFF
// under software flow control.
bool IsValidDcb(const DCB& dcb);

struct COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
  uint32_t cbInQue = 0;   // bytes received and not yet read
  uint32_t cbOutQue = 0;  // bytes written and not yet sent
};

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Communication event bits (SetCommMask / WaitCommEvent).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// Accumulated line-error bits (ClearCommError).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_PTO = 0x0200;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_DNS = 0x0800;
inline constexpr uint32_t CE_OOP = 0x1000;
inline constexpr uint32_t CE_MODE = 0x8000;

// EscapeCommFunction codes.
inline constexpr uint32_t SETXOFF = 1;
inline constexpr uint32_t SETXON = 2;
inline constexpr uint32_t SETRTS = 3;
inline constexpr uint32_t CLRRTS = 4;
inline constexpr uint32_t SETDTR = 5;
inline constexpr uint32_t CLRDTR = 6;
inline constexpr uint32_t RESETDEV = 7;
inline constexpr uint32_t SETBREAK = 8;
inline constexpr uint32_t CLRBREAK = 9;

// GetCommModemStatus bits.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// A waitable flag, the platform's event object: manual-reset events stay set
// until Reset; auto-reset events are cleared by the one Wait they release.
class Event {
 public:
  Event(bool manualReset, bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Blocks until set (no time limit). An auto-reset event is cleared again.
  void Wait();

  bool ManualReset() const;
  // The system's own event object for the device's asynchronous records
  // (a Win32 event handle on Windows); null where the system has none.
  void* NativeHandle() const;

 private:
  struct State;
  std::unique_ptr<State> d;
};

// One asynchronous transfer or wait, as handed to the device: the caller
// zeroes it and gives it its event; the device sets the event when the
// transfer has ended and keeps the outcome until GetOverlappedResult.
struct Overlapped {
  Event* hEvent = nullptr;
  // Filled by the device; callers only read them through
  // GetOverlappedResult. 'Internal' is 0 on success, kErrorIoPending while
  // in flight, or the failing code; 'InternalHigh' is the byte count.
  uint32_t Internal = 0;
  uint32_t InternalHigh = 0;
  // Waits only: a flag of the caller's. When it holds true as the wait
  // begins, WaitCommEvent returns at once, true with mask 0. Whoever tells
  // a waiter to stop sets it before changing the mask, so the waiter can
  // never begin a wait under a mask set after it was stopped.
  const std::atomic<bool>* Abandon = nullptr;
#ifdef _WIN32
  // The system's own record (OVERLAPPED) of the transfer or wait, and a
  // word of the device's, kept by the device from the call that issues it
  // until it has ended: it lives here, so it lasts exactly as long as the
  // caller keeps this record for the transfer, as the system requires.
  // Zeroed with the record.
  alignas(8) unsigned char System[40] = {};
#endif
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Releases the device at once: wakes every call blocked in it (a pending
  // WaitCommEvent returns with an empty mask, pending transfers end with an
  // error), waits only for those calls to leave the descriptor (never for
  // anything that depends on the calling thread), then closes the
  // descriptor and drops its locks so the device can be opened again
  // straight away. Every later call fails. Idempotent.
  virtual void Close() = 0;

  virtual bool GetCommState(DCB& dcb) = 0;
  virtual bool SetCommState(const DCB& dcb) = 0;
  virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
  virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual bool PurgeComm(uint32_t flags) = 0;
  virtual bool FlushFileBuffers() = 0;  // drain: returns once all output is sent

  // Event mask and wait. SetCommMask wakes a thread blocked in
  // WaitCommEvent, which then returns true with mask 0. A wait while the
  // mask is 0 fails at once with kErrorInvalidParameter: no event could
  // ever end it (this
  // is how a thread stopped between its checks learns it must go), and a
  // wait whose record's Abandon flag is set returns at once (above).
  // SetCommMask keeps the events that occurred and were not yet waited for.
  // WaitCommEvent may block the calling thread until an event of the mask
  // occurs (the Linux backend does: it returns true with the bits), or
  // return false with kErrorIoPending and set overlapped.hEvent later (the
  // Windows backend does: the system writes the bits into 'eventMask' when
  // the wait ends, so it must stay valid until then, like the record, and
  // GetOverlappedResult tells how the wait ended); callers handle both.
  virtual bool SetCommMask(uint32_t mask) = 0;
  virtual bool GetCommMask(uint32_t& mask) = 0;
  virtual bool WaitCommEvent(uint32_t& eventMask, Overlapped& overlapped) = 0;

  // Holding events (beyond the Win32 model): after HoldEvents a blocking
  // WaitCommEvent goes on with the driver's work but returns no events
  // until ReleaseEvents; a mask change, a close or a hang-up still end it.
  // A thread that hands a batch of events on without waiting for it holds
  // the device's events while the batch runs, so the next batch never
  // reports what the running one has made moot (bytes its handlers read).
  // A device that does not hold returns events as they come; its caller
  // then waits for the running batch before handing on the next.
  virtual void HoldEvents() {}
  virtual void ReleaseEvents() {}
  // While held: takes the events that came meanwhile, as a wait would, and
  // keeps holding; 0 when there are none. Lets the thread that ran a batch
  // run the next one at once instead of handing it over again.
  virtual uint32_t TakeHeldEvents() { return 0; }
  // Puts events back as not yet waited for (beyond the Win32 model), so the
  // next wait returns them whenever it begins: a batch whose thread was
  // stopped before it could run goes to the thread that follows. Events
  // outside the current mask are dropped.
  virtual void PutBackEvents(uint32_t events) = 0;

  // Asynchronous transfers: true when finished at once (the count is in
  // overlapped.InternalHigh and the event is set), false with
  // kErrorIoPending when it goes on in the background; the device then sets
  // overlapped.hEvent when it ends. The buffer must stay valid until then.
  virtual bool ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) = 0;
  virtual bool WriteFile(const void* buffer, uint32_t count, Overlapped& overlapped) = 0;
  // The outcome of a transfer; with wait true blocks until it has ended.
  virtual bool GetOverlappedResult(Overlapped& overlapped, uint32_t& transferred, bool wait) = 0;

  // Fetches and clears the accumulated CE_ bits, and the queue counts.
  virtual bool ClearCommError(uint32_t& errors, COMSTAT* status) = 0;

  virtual bool TransmitCommChar(char c) = 0;
  virtual bool SetCommBreak() = 0;
  virtual bool ClearCommBreak() = 0;
  virtual bool EscapeCommFunction(uint32_t function) = 0;
  virtual bool GetCommModemStatus(uint32_t& modemStatus) = 0;
};

using SerialDevicePtr = std::shared_ptr<SerialDevice>;

// Opens a device by its name exactly as given (a path such as /dev/ttyUSB0
// or a pseudo-terminal slave path on Linux, \\.\COM5 or COM5 on Windows):
// read and write, exclusive, never creating anything, refusing what is not
// a terminal (a comm device). Null on failure, with the last error set.
SerialDevicePtr OpenSerialDevice(const std::string& name);

}  // namespace platform

#ifdef _WIN32
#pragma pop_macro("DTR_CONTROL_DISABLE")
#pragma pop_macro("DTR_CONTROL_ENABLE")
#pragma pop_macro("DTR_CONTROL_HANDSHAKE")
#pragma pop_macro("RTS_CONTROL_DISABLE")
#pragma pop_macro("RTS_CONTROL_ENABLE")
#pragma pop_macro("RTS_CONTROL_HANDSHAKE")
#pragma pop_macro("RTS_CONTROL_TOGGLE")
#pragma pop_macro("PURGE_TXABORT")
#pragma pop_macro("PURGE_RXABORT")
#pragma pop_macro("PURGE_TXCLEAR")
#pragma pop_macro("PURGE_RXCLEAR")
#pragma pop_macro("EV_RXCHAR")
#pragma pop_macro("EV_RXFLAG")
#pragma pop_macro("EV_TXEMPTY")
#pragma pop_macro("EV_CTS")
#pragma pop_macro("EV_DSR")
#pragma pop_macro("EV_RLSD")
#pragma pop_macro("EV_BREAK")
#pragma pop_macro("EV_ERR")
#pragma pop_macro("EV_RING")
#pragma pop_macro("EV_PERR")
#pragma pop_macro("EV_RX80FULL")
#pragma pop_macro("EV_EVENT1")
#pragma pop_macro("EV_EVENT2")
#pragma pop_macro("CE_RXOVER")
#pragma pop_macro("CE_OVERRUN")
#pragma pop_macro("CE_RXPARITY")
#pragma pop_macro("CE_FRAME")
#pragma pop_macro("CE_BREAK")
#pragma pop_macro("CE_TXFULL")
#pragma pop_macro("CE_PTO")
#pragma pop_macro("CE_IOE")
#pragma pop_macro("CE_DNS")
#pragma pop_macro("CE_OOP")
#pragma pop_macro("CE_MODE")
#pragma pop_macro("SETXOFF")
#pragma pop_macro("SETXON")
#pragma pop_macro("SETRTS")
#pragma pop_macro("CLRRTS")
#pragma pop_macro("SETDTR")
#pragma pop_macro("CLRDTR")
#pragma pop_macro("RESETDEV")
#pragma pop_macro("SETBREAK")
#pragma pop_macro("CLRBREAK")
#pragma pop_macro("MS_CTS_ON")
#pragma pop_macro("MS_DSR_ON")
#pragma pop_macro("MS_RING_ON")
#pragma pop_macro("MS_RLSD_ON")
#endif
