// The Windows device monitor (platform/DeviceMonitor.h): a hidden top-level
// window of its own, registered for the device-interface notices of the
// USB device class (RegisterDeviceNotificationA); as a top-level window it
// also gets the port notices the system broadcasts. In a session without a
// desktop, where no top-level window can be made, the window is a
// message-only one: it gets the device-interface notices, not the port
// broadcasts. Its window procedure
// reads each device-change message (WM_DEVICECHANGE: DBT_DEVICEARRIVAL and
// DBT_DEVICEREMOVECOMPLETE with a DBT_DEVTYP_PORT or
// DBT_DEVTYP_DEVICEINTERFACE record), queues its notice and posts the
// window a wake-up message; the thread's message loop hands that message
// to TakeMessage, which says notices are waiting.
//
// The window is an ANSI window, so the names in the records come as 8-bit
// text. Made, read and destroyed on one thread, which runs a message loop
// (the user-interface thread).
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>

#include "platform/DeviceMonitor.h"

namespace platform {

class WindowsDeviceMonitor final : public DeviceMonitor {
 public:
  // The window and its registration. Null, with the last error set, when
  // either cannot be made.
  static std::unique_ptr<WindowsDeviceMonitor> Create();
  ~WindowsDeviceMonitor() override;

  int Descriptor() const override { return -1; }
  bool TakeMessage(const void* message) override;
  std::optional<DeviceNotice> Next() override;

  // The hidden window the notices are sent to.
  HWND Window() const { return window_; }

  // Reads one device-change message: 'event' its event code, 'record' its
  // broadcast record. An arrival or a removal of a port or of a device
  // interface is queued; everything else is passed over. What the window
  // procedure does with WM_DEVICECHANGE.
  void TakeDeviceChange(WPARAM event, LPARAM record);

 private:
  WindowsDeviceMonitor() = default;

  HWND window_ = nullptr;
  HDEVNOTIFY registration_ = nullptr;
  std::deque<DeviceNotice> pending_;
  bool wakePosted_ = false;  // a wake-up message is on its way
};

}  // namespace platform
