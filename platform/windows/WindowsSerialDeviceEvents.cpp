// The Windows serial device: the event mask and the driver's own
// asynchronous event wait, with the rules SerialDevice adds to it (mask 0,
// the Abandon flag, put-back events).
#include "platform/LastError.h"
#include "platform/windows/WindowsSerialDeviceInternal.h"

namespace platform {

namespace {

constexpr uint32_t kAllEvents = 0x1FFF;

}  // namespace

bool WindowsSerialDevice::SetCommMask(uint32_t mask) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (mask & ~kAllEvents)
    return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(maskMutex_);
  // The driver ends a wait in progress with no events.
  if (!::SetCommMask(handle_, mask))
    return FailWithSystemError();
  mask_ = mask;
  ++maskGeneration_;
  if (ownWaits_)
    WakeOwnWait();
  return true;
}

bool WindowsSerialDevice::GetCommMask(uint32_t& mask) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard lock(maskMutex_);
  mask = mask_;
  return true;
}

bool WindowsSerialDevice::WaitCommEvent(uint32_t& eventMask, Overlapped& overlapped) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  std::unique_lock maskLock(maskMutex_);
  if (overlapped.Abandon != nullptr && overlapped.Abandon->load(std::memory_order_acquire)) {
    // The caller was told to stop before its wait began.
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    eventMask = 0;
    return true;
  }
  if (mask_ == 0)
    return Fail(ERROR_INVALID_PARAMETER);  // nothing could ever end this wait
  if (const uint32_t back = putBack_ & mask_) {
    putBack_ = 0;
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    eventMask = back;
    return true;
  }
  if (ownWaits_) {
    const uint64_t generation = maskGeneration_;
    maskLock.unlock();
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    return OwnWait(eventMask, generation);
  }
  if (!PrepareRecord(overlapped))
    return false;
  static_assert(sizeof(DWORD) == sizeof(uint32_t));
  eventMask = 0;
  const BOOL done = ::WaitCommEvent(handle_, reinterpret_cast<DWORD*>(&eventMask), &SystemRecord(overlapped));
  if (!done && ::GetLastError() == ERROR_IO_PENDING) {
    pendingWait_ = &overlapped;
    pendingWaitMask_ = &eventMask;
    pendingWaitGeneration_ = maskGeneration_;
    NoteWaiting(+1);
  }
  return Issued(overlapped, done);
}

void WindowsSerialDevice::PutBackEvents(uint32_t events) {
  Call call(*this);
  if (!call)
    return;
  std::lock_guard lock(maskMutex_);
  const uint32_t before = putBack_;
  putBack_ |= events & mask_;
  // A wait already in the driver would not see them: setting the mask
  // again ends it with no events, and its thread comes back for them.
  if (putBack_ == before)
    return;
  ++maskGeneration_;
  if (ownWaits_)
    WakeOwnWait();
  else if (pendingWait_ != nullptr)
    ::SetCommMask(handle_, mask_);
}

}  // namespace platform
