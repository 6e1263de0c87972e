// The Windows serial device: line errors and queue counts, the character
// sent ahead, break, the escape functions and the modem lines.
#include "platform/LastError.h"
#include "platform/windows/WindowsSerialDeviceInternal.h"

namespace platform {

bool WindowsSerialDevice::ClearCommError(uint32_t& errors, COMSTAT* status) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  DWORD bits = 0;
  ::COMSTAT system{};
  std::unique_lock lock(aheadMutex_, std::defer_lock);
  if (ownWaits_) {
    lock.lock();
    // The byte of a read ahead under way has left the driver's queue and
    // is not held yet: it is counted once it is.
    DWORD error = 0;
    EndAheadLocked(error);
  }
  if (!::ClearCommError(handle_, &bits, &system))
    return FailWithSystemError();
  errors = bits | keptErrors_;
  keptErrors_ = 0;
  if (status != nullptr) {
    // The bytes read ahead wait for the caller's next read.
    status->cbInQue = system.cbInQue + static_cast<uint32_t>(HeldLocked());
    status->cbOutQue = system.cbOutQue;
  }
  return true;
}

bool WindowsSerialDevice::TransmitCommChar(char c) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (!::TransmitCommChar(handle_, c))
    return FailWithSystemError();
  return true;
}

bool WindowsSerialDevice::SetCommBreak() {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (!::SetCommBreak(handle_))
    return FailWithSystemError();
  return true;
}

bool WindowsSerialDevice::ClearCommBreak() {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (!::ClearCommBreak(handle_))
    return FailWithSystemError();
  return true;
}

bool WindowsSerialDevice::EscapeCommFunction(uint32_t function) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (function < SETXOFF || function > CLRBREAK)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!::EscapeCommFunction(handle_, function))
    return FailWithSystemError();
  return true;
}

bool WindowsSerialDevice::GetCommModemStatus(uint32_t& modemStatus) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  DWORD status = 0;
  if (!::GetCommModemStatus(handle_, &status)) {
    // A driver that could not read the lines at the open (a pseudo-terminal
    // under Wine) has none: none is on, as for such a device on Linux.
    if (!ownWaits_)
      return FailWithSystemError();
    status = 0;
  }
  modemStatus = status;
  return true;
}

}  // namespace platform
