// What the LinuxSerialDevice*.cpp files share: constants of the driver
// model, error classes and the marker of calls that block without the
// device's mutex. Not for code outside the device.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "platform/LastError.h"
#include "platform/linux/LinuxSerialDevice.h"

namespace platform {

namespace linux_serial {

inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

inline bool IsGone(int code) { return IsDeviceGone(code); }

// Modem-line ioctls fail like this on devices that have no modem lines
// (pseudo-terminals). The DTR and RTS settings of a device control block
// pass over them, so such a device can still be configured, and its status
// reads as all lines off; an explicit order to raise or drop a line fails
// with the code, since nothing was done.
inline bool HasNoModemLines(int code) { return code == ENOTTY || code == EINVAL; }

// A modem-line change is waited for in TIOCMIWAIT, which only a signal can
// interrupt. This signal, with a handler that does nothing and without
// SA_RESTART, is how Close interrupts it.
inline int ModemWakeSignal() { return SIGRTMAX - 3; }

}  // namespace linux_serial

// A call that blocks without the mutex. Made and destroyed with the mutex
// held.
class LinuxSerialDevice::BlockingCall {
 public:
  explicit BlockingCall(LinuxSerialDevice& device) : device_(device) {
    ++device_.blockingCalls_;
    device_.changed_.notify_all();  // for AwaitBlockedCalls
  }
  ~BlockingCall() {
    if (--device_.blockingCalls_ == 0 && device_.closed_)
      device_.changed_.notify_all();
  }
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  LinuxSerialDevice& device_;
};

}  // namespace platform
