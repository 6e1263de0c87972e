// A udev message source that tests feed by hand: a USB adapter plugged in or
// pulled out, as udev would report it. The feed and the source share one
// queue; the source's descriptor (an eventfd) is readable while the feed
// has pushed something not yet received, including an empty wake-up (what
// a filtered monitor does when it drops a message).
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/LinuxDeviceMonitor.h"

class FakeUdevFeed {
 public:
  FakeUdevFeed() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~FakeUdevFeed() { ::close(fd_); }
  FakeUdevFeed(const FakeUdevFeed&) = delete;
  FakeUdevFeed& operator=(const FakeUdevFeed&) = delete;

  void Push(const platform::UdevEvent& event) {
    queue_.push_back(event);
    Signal();
  }
  // Wakes the descriptor with nothing to receive.
  void WakeEmpty() {
    queue_.push_back(std::nullopt);
    Signal();
  }

  // A USB serial converter: its USB device and its tty, in the order udev
  // reports them on plugging (device first) and pulling (tty first).
  static std::string UsbPath(const std::string& usbPort) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbPort;
  }
  void PlugUsbSerial(const std::string& tty, const std::string& usbPort) {
    Push({"add", "usb", "usb_device", "/dev/bus/usb/001/004", UsbPath(usbPort)});
    Push({"add", "tty", "", "/dev/" + tty, UsbPath(usbPort) + "/" + usbPort + ":1.0/" + tty + "/tty/" + tty});
  }
  void PullUsbSerial(const std::string& tty, const std::string& usbPort) {
    Push({"remove", "tty", "", "/dev/" + tty, UsbPath(usbPort) + "/" + usbPort + ":1.0/" + tty + "/tty/" + tty});
    Push({"remove", "usb", "usb_device", "/dev/bus/usb/001/004", UsbPath(usbPort)});
  }

  int Descriptor() const { return fd_; }

  // One queued entry (nothing for an empty wake-up or an empty queue).
  std::optional<platform::UdevEvent> Take() {
    if (queue_.empty()) return std::nullopt;
    std::optional<platform::UdevEvent> event = std::move(queue_.front());
    queue_.pop_front();
    if (queue_.empty()) {
      std::uint64_t count = 0;
      (void)!::read(fd_, &count, sizeof count);  // no longer readable
    }
    return event;
  }

 private:
  void Signal() {
    const std::uint64_t one = 1;
    (void)!::write(fd_, &one, sizeof one);
  }

  int fd_;
  std::deque<std::optional<platform::UdevEvent>> queue_;
};

class FakeUdevSource final : public platform::UdevEventSource {
 public:
  explicit FakeUdevSource(std::shared_ptr<FakeUdevFeed> feed) : feed_(std::move(feed)) {}
  int Descriptor() const override { return feed_->Descriptor(); }
  std::optional<platform::UdevEvent> Receive() override { return feed_->Take(); }

 private:
  std::shared_ptr<FakeUdevFeed> feed_;
};
