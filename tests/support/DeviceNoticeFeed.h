// Device arrivals and removals a test makes happen, reported by the
// system's own kind of monitor: on Linux a monitor of a built <dev> tree
// that takes udev messages the feed pushes; on Windows a monitor whose
// hidden window the feed sends device-change messages. A test gives
// MakeMonitor to SetDeviceMonitorFactory and expects the same notices on
// both systems.
//
// The implementations are support/linux/DeviceNoticeFeedImpl.h and
// support/windows/DeviceNoticeFeedImpl.h; each test program that uses the
// feed includes the one of its system from a source file in its linux/ or
// windows/ folder.
#pragma once

#include <memory>
#include <string>

#include "platform/DeviceMonitor.h"

class TDeviceNoticeFeed {
 public:
  TDeviceNoticeFeed();
  ~TDeviceNoticeFeed();
  TDeviceNoticeFeed(const TDeviceNoticeFeed&) = delete;
  TDeviceNoticeFeed& operator=(const TDeviceNoticeFeed&) = delete;

  // A device root monitors may be made for (a built tree on Linux).
  std::string Root() const;
  // A monitor that reports what this feed makes happen from now on
  // (whatever root it is asked for); null when it cannot be made.
  std::unique_ptr<platform::DeviceMonitor> MakeMonitor(const std::string& root);

  // A port appears, or goes.
  void PlugPort(const std::string& name);
  void PullPort(const std::string& name);
  // A USB serial adapter at 'usbPort' with the port 'port': plugged, its
  // device interface arrives, then its port; pulled, the port goes, then
  // the interface.
  void PlugUsbSerial(const std::string& port, const std::string& usbPort);
  void PullUsbSerial(const std::string& port, const std::string& usbPort);
  // The name notices give the adapter's device interface.
  static std::string UsbInterface(const std::string& usbPort);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};
