// The Windows serial device: waits of the device's own, for a driver that
// cannot wait for events itself (WindowsSerialDevice.h says when). The wait
// blocks its thread on a one-byte read that stands ahead of the caller's
// reads; the byte it takes is handed to the caller's next read first.
#include "platform/LastError.h"
#include "platform/windows/WindowsSerialDeviceInternal.h"

namespace platform {

void WindowsSerialDevice::WakeOwnWait() { ::SetEvent(wake_); }

bool WindowsSerialDevice::OwnWait(uint32_t& eventMask, uint64_t generation) {
  for (;;) {
    HANDLE handles[2] = {wake_, aheadDone_};
    DWORD count = 1;
    {
      std::lock_guard lock(aheadMutex_);
      DWORD error = 0;
      CollectAheadLocked(false, error);
      // A read ahead that a purge or the caller's read ended is issued
      // again; any other failure (the far end hung up) ends the wait.
      if (error != 0 && error != ERROR_OPERATION_ABORTED)
        return Fail(error);
      uint32_t mask = 0;
      bool stop = false;
      {
        std::lock_guard maskLock(maskMutex_);
        mask = mask_;
        stop = maskGeneration_ != generation;
      }
      {
        std::lock_guard stateLock(mutex_);
        stop = stop || closed_;
      }
      if (stop) {
        eventMask = 0;
        return true;
      }
      if (holding_ && !reported_) {
        uint32_t events = mask & EV_RXCHAR;
        if ((mask & EV_RXFLAG) && aheadByte_ == eventChar_.load(std::memory_order_relaxed))
          events |= EV_RXFLAG;
        if (events != 0) {
          reported_ = true;
          eventMask = events;
          return true;
        }
      }
      if (!holding_ && !aheadPending_ && (mask & (EV_RXCHAR | EV_RXFLAG))) {
        if (!StartAheadLocked())
          return false;
        continue;  // it may have found its byte at once
      }
      if (aheadPending_)
        count = 2;
    }
    // Until the byte comes, or someone wants this wait to look again.
    NoteWaiting(+1);
    ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    NoteWaiting(-1);
  }
}

bool WindowsSerialDevice::StartAheadLocked() {
  // The read ahead waits for its byte without a limit; the caller's reads
  // keep their own timeouts, which the system takes as each read is issued.
  ::COMMTIMEOUTS none{};
  if (!::SetCommTimeouts(handle_, &none))
    return FailWithSystemError();
  aheadRecord_ = OVERLAPPED{};
  aheadRecord_.hEvent = aheadDone_;
  const BOOL done = ::ReadFile(handle_, &aheadByte_, 1, nullptr, &aheadRecord_);
  const DWORD code = done ? 0 : ::GetLastError();
  ::SetCommTimeouts(handle_, &timeouts_);
  if (done) {
    if (aheadRecord_.InternalHigh == 1) {
      holding_ = true;
      reported_ = false;
    }
    return true;
  }
  if (code == ERROR_IO_PENDING) {
    aheadPending_ = true;
    return true;
  }
  return Fail(code != 0 ? code : ERROR_GEN_FAILURE);
}

void WindowsSerialDevice::CollectAheadLocked(bool wait, DWORD& error) {
  error = 0;
  if (!aheadPending_)
    return;
  DWORD count = 0;
  if (!::GetOverlappedResult(handle_, &aheadRecord_, &count, wait ? TRUE : FALSE)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_IO_INCOMPLETE)
      return;  // still in flight
    aheadPending_ = false;
    error = code != 0 ? code : ERROR_GEN_FAILURE;
    return;
  }
  aheadPending_ = false;
  if (count == 1) {
    holding_ = true;
    reported_ = false;
  }
}

bool WindowsSerialDevice::ReadWithAheadLocked(void* buffer, uint32_t count, Overlapped& overlapped) {
  if (aheadPending_ && count > 0) {
    // The read ahead would take a byte after this read's: it ends first,
    // and what it took comes first here.
    ::CancelIoEx(handle_, &aheadRecord_);
    DWORD error = 0;
    CollectAheadLocked(true, error);
    if (error != 0 && error != ERROR_OPERATION_ABORTED) {
      overlapped.Internal = error;
      return Fail(error);
    }
  }
  if (!holding_ || count == 0)
    return Issued(overlapped, ::ReadFile(handle_, buffer, count, nullptr, &SystemRecord(overlapped)));
  static_cast<char*>(buffer)[0] = aheadByte_;
  holding_ = false;
  reported_ = false;
  Part(overlapped).ahead = 1;
  WakeOwnWait();  // a wait that reported the byte reads ahead again
  if (count == 1) {
    // Complete at once, as the system completes a read it can serve.
    SystemRecord(overlapped).Internal = 0;
    if (overlapped.hEvent != nullptr)
      overlapped.hEvent->Set();
    overlapped.Internal = 0;
    overlapped.InternalHigh = 1;
    return true;
  }
  return Issued(overlapped,
                ::ReadFile(handle_, static_cast<char*>(buffer) + 1, count - 1, nullptr, &SystemRecord(overlapped)));
}

}  // namespace platform
