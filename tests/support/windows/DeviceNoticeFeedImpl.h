// The Windows device notice feed (support/DeviceNoticeFeed.h): the
// system's monitors, whose hidden windows the feed sends device-change
// messages as the system does.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <vector>

#include "platform/windows/WindowsDeviceMonitor.h"
#include "support/DeviceNoticeFeed.h"
#include "support/WindowsDeviceMessages.h"

struct TDeviceNoticeFeed::TImpl {
  std::vector<HWND> windows;  // of the monitors made; those gone are passed over

  void Send(WPARAM event, DWORD type, const std::string& name) {
    for (HWND window : windows)
      if (::IsWindow(window)) windowstest::SendDeviceChange(window, event, type, name);
  }
};

TDeviceNoticeFeed::TDeviceNoticeFeed() : impl_(std::make_unique<TImpl>()) {}
TDeviceNoticeFeed::~TDeviceNoticeFeed() = default;

std::string TDeviceNoticeFeed::Root() const { return platform::kDefaultDevRoot; }

std::unique_ptr<platform::DeviceMonitor> TDeviceNoticeFeed::MakeMonitor(const std::string&) {
  auto monitor = platform::WindowsDeviceMonitor::Create();
  if (monitor) impl_->windows.push_back(monitor->Window());
  return monitor;
}

void TDeviceNoticeFeed::PlugPort(const std::string& name) { impl_->Send(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, name); }

void TDeviceNoticeFeed::PullPort(const std::string& name) {
  impl_->Send(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, name);
}

void TDeviceNoticeFeed::PlugUsbSerial(const std::string& port, const std::string& usbPort) {
  impl_->Send(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, UsbInterface(usbPort));
  impl_->Send(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, port);
}

void TDeviceNoticeFeed::PullUsbSerial(const std::string& port, const std::string& usbPort) {
  impl_->Send(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, port);
  impl_->Send(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, UsbInterface(usbPort));
}

std::string TDeviceNoticeFeed::UsbInterface(const std::string& usbPort) {
  return windowstest::UsbInterfacePath(usbPort);
}
