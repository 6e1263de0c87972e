// Arrival and removal of USB devices and serial ports, as notices read one
// at a time on the thread that made the monitor (the user-interface
// thread).
//
// Notices:
//  - port: the port's name ("ttyUSB0", "COM5");
//  - device interface: a USB device, by the system's path for it (a sysfs
//    path on Linux, the device interface path on Windows).
// One plugged-in USB serial adapter thus gives a device-interface notice and
// a port notice.
//
// How a monitor tells that notices may be waiting differs by system, and
// the caller serves both ways:
//  - Linux (platform/linux/LinuxDeviceMonitor.h): a descriptor that is
//    readable while a notice may be waiting (udev and inotify behind it);
//  - Windows (platform/windows/WindowsDeviceMonitor.h): the monitor has a
//    hidden window of its own, registered for device-interface notices of
//    the USB class (RegisterDeviceNotificationA); its window takes the
//    device-change messages (WM_DEVICECHANGE) and posts itself a message
//    that the thread's message loop hands to TakeMessage.
// The caller watches Descriptor() when it is not -1 and hands every native
// message of the thread's message loop to TakeMessage; after either says
// so, it reads Next() until it gives nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/DeviceNames.h"

namespace platform {

struct DeviceNotice {
  enum class Kind { Arrival, Removal };
  enum class Type { Port, DeviceInterface };
  Kind kind = Kind::Arrival;
  Type type = Type::Port;
  std::string name;  // port name, or the device interface path

  friend bool operator==(const DeviceNotice&, const DeviceNotice&) = default;
};

class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;

  // Readable while a notice may be waiting (level-triggered); -1 for a
  // monitor whose notices come through messages.
  virtual int Descriptor() const = 0;
  // Takes a native message of the thread's message loop (a Windows MSG;
  // nothing else is read). True when it was this monitor's: notices may be
  // waiting. Messages are never changed or used up.
  virtual bool TakeMessage(const void* message) = 0;
  // The next notice, or nothing once every source is drained for now.
  virtual std::optional<DeviceNotice> Next() = 0;

  // The system's monitor for the devices of 'devRoot', whose registered
  // ports 'sysRoot' tells (Linux; Windows watches the system's devices and
  // passes over both). Null, with the last error set, when it cannot be
  // made. Made, read and destroyed on one thread, which runs a message
  // loop on Windows.
  static std::unique_ptr<DeviceMonitor> CreateForSystem(const std::string& devRoot = kDefaultDevRoot,
                                                        const std::string& sysRoot = kDefaultSysRoot);

 protected:
  DeviceMonitor() = default;
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;
};

}  // namespace platform
