// The Windows serial device: overlapped reads and writes, their results,
// and the system's records they travel in.
#include "platform/LastError.h"
#include "platform/windows/WindowsSerialDeviceInternal.h"

namespace platform {

// ---- the system's records ------------------------------------------------

WindowsSerialDevice::SystemPart& WindowsSerialDevice::Part(Overlapped& overlapped) {
  static_assert(sizeof(SystemPart) <= sizeof(Overlapped::System) && alignof(SystemPart) <= 8);
  return *reinterpret_cast<SystemPart*>(overlapped.System);
}

bool WindowsSerialDevice::PrepareRecord(Overlapped& overlapped) {
  OVERLAPPED& system = SystemRecord(overlapped);
  // Issuing a record the driver still writes to would corrupt both
  // requests.
  if (system.Internal == STATUS_PENDING)
    return Fail(ERROR_INVALID_PARAMETER);
  system = OVERLAPPED{};
  Part(overlapped).ahead = 0;
  system.hEvent = overlapped.hEvent != nullptr ? static_cast<HANDLE>(overlapped.hEvent->NativeHandle()) : nullptr;
  overlapped.Internal = static_cast<uint32_t>(kErrorIoPending);
  overlapped.InternalHigh = 0;
  return true;
}

bool WindowsSerialDevice::Issued(Overlapped& overlapped, BOOL done) {
  if (done) {
    overlapped.Internal = 0;
    const SystemPart& part = Part(overlapped);
    overlapped.InternalHigh = static_cast<uint32_t>(part.record.InternalHigh) + part.ahead;
    return true;
  }
  const DWORD code = ::GetLastError();
  if (code == ERROR_IO_PENDING)
    return Fail(code);  // the record stays marked in flight
  overlapped.Internal = code != 0 ? code : ERROR_GEN_FAILURE;
  overlapped.InternalHigh = 0;
  return Fail(overlapped.Internal);
}

// ---- pending transfers ---------------------------------------------------

void WindowsSerialDevice::TrackTransfer(Overlapped& overlapped, const OVERLAPPED*& pending) {
  {
    // A record in flight is in one direction only.
    std::lock_guard lock(mutex_);
    const OVERLAPPED* record = &SystemRecord(overlapped);
    if (pendingRead_ == record)
      pendingRead_ = nullptr;
    if (pendingWrite_ == record)
      pendingWrite_ = nullptr;
    pending = record;
  }
  const Event* event = overlapped.hEvent;
  // Waiting on an auto-reset event would take the signal meant for its
  // owner; such a transfer is the owner's to see to its end.
  if (event == nullptr || !event->ManualReset())
    return;
  HANDLE own = nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, static_cast<HANDLE>(event->NativeHandle()), process, &own, SYNCHRONIZE, FALSE, 0))
    return;  // short of handles: Close then cannot wait for this one
  std::lock_guard lock(mutex_);
  HANDLE& entry = pendingTransfers_[event];
  if (entry != nullptr)
    ::CloseHandle(entry);
  entry = own;
}

void WindowsSerialDevice::ForgetTransfer(const Event* event) {
  if (event == nullptr)
    return;
  std::lock_guard lock(mutex_);
  const auto it = pendingTransfers_.find(event);
  if (it == pendingTransfers_.end())
    return;
  ::CloseHandle(it->second);
  pendingTransfers_.erase(it);
}

// ---- transfers -----------------------------------------------------------

bool WindowsSerialDevice::ReadFile(void* buffer, uint32_t count, Overlapped& overlapped) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (count > 0 && buffer == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!PrepareRecord(overlapped))
    return false;
  // The caller issues a transfer with its event only once the last one
  // with it has ended.
  ForgetTransfer(overlapped.hEvent);
  bool ok = false;
  if (ownWaits_) {
    std::lock_guard lock(aheadMutex_);
    ok = ReadWithAheadLocked(buffer, count, overlapped);
  } else {
    ok = Issued(overlapped, ::ReadFile(handle_, buffer, count, nullptr, &SystemRecord(overlapped)));
  }
  if (!ok && overlapped.Internal == static_cast<uint32_t>(kErrorIoPending)) {
    TrackTransfer(overlapped, pendingRead_);
    ::SetLastError(ERROR_IO_PENDING);
  }
  return ok;
}

bool WindowsSerialDevice::WriteFile(const void* buffer, uint32_t count, Overlapped& overlapped) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (count > 0 && buffer == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!PrepareRecord(overlapped))
    return false;
  ForgetTransfer(overlapped.hEvent);
  // Not while the device's own read ahead has set its timeouts for a moment.
  std::unique_lock lock(aheadMutex_, std::defer_lock);
  if (ownWaits_)
    lock.lock();
  const BOOL done = ::WriteFile(handle_, buffer, count, nullptr, &SystemRecord(overlapped));
  if (lock.owns_lock())
    lock.unlock();
  const bool ok = Issued(overlapped, done);
  if (!ok && overlapped.Internal == static_cast<uint32_t>(kErrorIoPending)) {
    TrackTransfer(overlapped, pendingWrite_);
    ::SetLastError(ERROR_IO_PENDING);
  }
  return ok;
}

bool WindowsSerialDevice::GetOverlappedResult(Overlapped& overlapped, uint32_t& transferred, bool wait) {
  // Also after Close: the record then holds how its request ended (Close
  // has ended every one), and the handle is not needed to read it.
  Call call(*this);
  const HANDLE handle = call ? handle_ : nullptr;
  DWORD count = 0;
  BOOL ok = ::GetOverlappedResult(handle, &SystemRecord(overlapped), &count, wait ? TRUE : FALSE);
  DWORD code = ok ? 0 : ::GetLastError();
  if (!ok && code == ERROR_IO_INCOMPLETE) {
    transferred = count;
    return Fail(ERROR_IO_PENDING);  // still in flight: the "queued" code
  }
  // A read that began with the device's own byte ahead returns it too.
  count += Part(overlapped).ahead;
  transferred = count;
  {
    std::lock_guard lock(maskMutex_);
    if (pendingWait_ == &overlapped) {
      // A wait that Close cancelled, or that the system cancelled because
      // the mask changed, ends as the device promises: with no events.
      if (!ok && code == ERROR_OPERATION_ABORTED && (!call || pendingWaitGeneration_ != maskGeneration_)) {
        *pendingWaitMask_ = 0;
        ok = TRUE;
        code = 0;
      }
      pendingWait_ = nullptr;
      pendingWaitMask_ = nullptr;
      NoteWaiting(-1);
    }
  }
  ForgetTransfer(overlapped.hEvent);  // it has ended
  {
    std::lock_guard lock(mutex_);
    if (pendingRead_ == &SystemRecord(overlapped))
      pendingRead_ = nullptr;
    if (pendingWrite_ == &SystemRecord(overlapped))
      pendingWrite_ = nullptr;
  }
  overlapped.Internal = code;
  overlapped.InternalHigh = count;
  return ok ? true : Fail(code != 0 ? code : ERROR_GEN_FAILURE);
}

}  // namespace platform
