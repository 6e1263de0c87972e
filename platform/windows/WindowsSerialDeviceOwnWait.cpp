// The Windows serial device: waits of the device's own, for a driver that
// cannot wait for events itself (WindowsSerialDevice.h says when). The wait
// blocks its thread on one-byte reads that stand ahead of the caller's
// reads; the bytes they take are handed to the caller's next read first.
#include <algorithm>
#include <cstring>

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
      if (fresh_) {
        uint32_t events = mask & EV_RXCHAR;
        if ((mask & EV_RXFLAG) && freshFlag_)
          events |= EV_RXFLAG;
        if (events != 0) {
          AnnounceLocked(events, eventMask);
          return true;
        }
      }
      // Reading ahead goes on while the mask asks for received bytes and
      // the held bytes stay within the queue size.
      if (!aheadPending_ && (mask & (EV_RXCHAR | EV_RXFLAG)) && HeldLocked() < inQueueSize_) {
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

void WindowsSerialDevice::AnnounceLocked(uint32_t events, uint32_t& eventMask) {
  fresh_ = false;
  freshFlag_ = false;
  eventMask = events;
  DWORD errors = 0;
  ::COMSTAT status{};
  if (::ClearCommError(handle_, &errors, &status)) {
    announced_ = status.cbInQue;
    keptErrors_ |= errors;  // still the caller's to fetch
  }
}

bool WindowsSerialDevice::ReadFromDriverLocked(void* buffer, uint32_t count, Overlapped& overlapped) {
  announced_ -= std::min<uint64_t>(announced_, count);
  return Issued(overlapped, ::ReadFile(handle_, buffer, count, nullptr, &SystemRecord(overlapped)));
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
    // Without a time limit a read ends short only at the end of the data:
    // the far end is gone.
    if (aheadRecord_.InternalHigh != 1)
      return Fail(ERROR_BROKEN_PIPE);
    HoldAheadByteLocked();
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
  if (count == 1)
    HoldAheadByteLocked();
  else
    error = ERROR_BROKEN_PIPE;  // ended short without a time limit: no more data
}

void WindowsSerialDevice::EndAheadLocked(DWORD& error) {
  error = 0;
  if (!aheadPending_)
    return;
  ::CancelIoEx(handle_, &aheadRecord_);
  CollectAheadLocked(true, error);
  if (error == ERROR_OPERATION_ABORTED)
    error = 0;
  WakeOwnWait();  // the wait reads ahead again
}

void WindowsSerialDevice::HoldAheadByteLocked() {
  if (heldFirst_ == held_.size()) {
    held_.clear();  // start over once everything was taken
    heldFirst_ = 0;
  }
  held_.push_back(aheadByte_);
  if (announced_ > 0) {
    --announced_;  // already reported
    return;
  }
  fresh_ = true;
  if (aheadByte_ == eventChar_.load(std::memory_order_relaxed))
    freshFlag_ = true;
}

bool WindowsSerialDevice::ReadWithAheadLocked(void* buffer, uint32_t count, Overlapped& overlapped) {
  if (count > 0) {
    // The read ahead would take a byte after this read's: it ends first,
    // and what it took comes first here.
    DWORD error = 0;
    EndAheadLocked(error);
    if (error != 0) {
      overlapped.Internal = error;
      return Fail(error);
    }
  }
  const size_t held = HeldLocked();
  if (held == 0 || count == 0)
    return ReadFromDriverLocked(buffer, count, overlapped);
  // The held bytes come first, as the oldest received.
  const uint32_t taken = static_cast<uint32_t>(std::min<size_t>(held, count));
  std::memcpy(buffer, held_.data() + heldFirst_, taken);
  heldFirst_ += taken;
  if (HeldLocked() == 0)
    fresh_ = freshFlag_ = false;  // nothing left to announce
  Part(overlapped).ahead = taken;
  WakeOwnWait();  // a wait that stopped at the queue size reads ahead again
  if (taken == count) {
    // Complete at once, as the system completes a read it can serve.
    SystemRecord(overlapped).Internal = 0;
    if (overlapped.hEvent != nullptr)
      overlapped.hEvent->Set();
    overlapped.Internal = 0;
    overlapped.InternalHigh = taken;
    return true;
  }
  return ReadFromDriverLocked(static_cast<char*>(buffer) + taken, count - taken, overlapped);
}

}  // namespace platform
