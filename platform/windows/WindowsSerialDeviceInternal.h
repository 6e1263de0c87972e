// What the WindowsSerialDevice*.cpp files share: the marker of a call that
// uses the handle. Not for code outside the device.
#pragma once

#include "platform/windows/WindowsSerialDevice.h"

namespace platform {

class WindowsSerialDevice::Call {
 public:
  explicit Call(WindowsSerialDevice& device) : device_(device) {
    std::lock_guard lock(device_.mutex_);
    entered_ = !device_.closed_;
    if (entered_)
      ++device_.inside_;
  }
  ~Call() {
    if (!entered_)
      return;
    // The lock's own system calls must not replace the code the call left.
    const DWORD code = ::GetLastError();
    {
      std::lock_guard lock(device_.mutex_);
      --device_.inside_;
      ++device_.leaves_;
    }
    device_.left_.notify_all();
    ::SetLastError(code);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  explicit operator bool() const { return entered_; }

 private:
  WindowsSerialDevice& device_;
  bool entered_ = false;
};

}  // namespace platform
