// The Linux device notice feed (support/DeviceNoticeFeed.h): monitors of a
// built <dev> tree that take the udev messages the feed pushes.
#pragma once

#include "platform/linux/LinuxDeviceMonitor.h"
#include "support/DeviceNoticeFeed.h"
#include "support/FakeTree.h"
#include "support/FakeUdevSource.h"

struct TDeviceNoticeFeed::TImpl {
  FakeTree tree;
  std::shared_ptr<FakeUdevFeed> udev = std::make_shared<FakeUdevFeed>();
};

TDeviceNoticeFeed::TDeviceNoticeFeed() : impl_(std::make_unique<TImpl>()) {}
TDeviceNoticeFeed::~TDeviceNoticeFeed() = default;

std::string TDeviceNoticeFeed::Root() const { return impl_->tree.Dev(); }

std::unique_ptr<platform::DeviceMonitor> TDeviceNoticeFeed::MakeMonitor(const std::string&) {
  return platform::LinuxDeviceMonitor::Create(impl_->tree.Dev(), std::make_unique<FakeUdevSource>(impl_->udev));
}

void TDeviceNoticeFeed::PlugPort(const std::string& name) { impl_->udev->Push({"add", "tty", "", "/dev/" + name, ""}); }

void TDeviceNoticeFeed::PullPort(const std::string& name) {
  impl_->udev->Push({"remove", "tty", "", "/dev/" + name, ""});
}

void TDeviceNoticeFeed::PlugUsbSerial(const std::string& port, const std::string& usbPort) {
  impl_->udev->PlugUsbSerial(port, usbPort);
}

void TDeviceNoticeFeed::PullUsbSerial(const std::string& port, const std::string& usbPort) {
  impl_->udev->PullUsbSerial(port, usbPort);
}

std::string TDeviceNoticeFeed::UsbInterface(const std::string& usbPort) { return FakeUdevFeed::UsbPath(usbPort); }
