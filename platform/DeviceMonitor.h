// Arrival and removal of USB devices and serial ports, as one descriptor to
// wait on and a call that reads the next notice.
//
// Two sources feed it:
//  - the udev monitor (USB devices and tty devices): source "udev" while
//    udevd runs, else the kernel's own messages;
//  - inotify on <dev>: nodes and symbolic links made, removed or renamed
//    directly in <dev>. Virtual ports (a link to a pseudo-terminal slave,
//    such as a gateway simulator publishes) are seen only here.
//
// Notices:
//  - port: the port's device node name ("ttyUSB0", "ttyGW0");
//  - device interface: a USB device, named by its sysfs path
//    ("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"), which both the
//    arrival and the removal message carry (its /dev/bus/usb node only
//    where usbfs nodes are made), or by its device node when a message has
//    no sysfs path.
//
// One plugged-in USB serial adapter thus gives a device-interface notice and
// a port notice. A port seen by both sources (udev and its node in <dev>)
// is reported once: the monitor keeps the set of ports present (seeded from
// <dev> when it starts), reports an arrival only for a port not in it and a
// removal only for a port in it.
//
// Which entries of <dev> are ports: a character device whose name looks
// like a port (below), or a symbolic link that leads, every step inside
// <dev> as the port lists follow links, to a pseudo-terminal slave (<dev>/pts/<n>) or to such a character device.
// Hidden names (leading ".") and everything else pass without notice. A
// removed link can no longer be resolved: its removal is reported when its
// name was known as a port.
//
// Single-threaded: create it, wait on Descriptor() and call Next() on one
// thread. The <dev> root is a parameter so tests can watch a built tree;
// the udev part is an interface so tests can feed it (udev refuses built
// /sys trees).
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace platform {

struct DeviceNotice {
  enum class Kind { Arrival, Removal };
  enum class Type { Port, DeviceInterface };
  Kind kind = Kind::Arrival;
  Type type = Type::Port;
  std::string name;  // port name, or the device interface path

  friend bool operator==(const DeviceNotice&, const DeviceNotice&) = default;
};

// One message of the udev monitor, in udev's words.
struct UdevEvent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string subsystem;  // "tty", "usb", ...
  std::string devtype;    // "usb_device", "usb_interface", or empty
  std::string devname;    // device node, "/dev/ttyUSB0"; may be empty
  std::string syspath;    // "/sys/devices/.../ttyUSB0"; may be empty
};

// Where udev messages come from.
class UdevEventSource {
 public:
  virtual ~UdevEventSource() = default;
  // Becomes readable when a message may be waiting.
  virtual int Descriptor() const = 0;
  // The next message, or nothing when none is waiting. A readable
  // descriptor may still give nothing (a message the filter dropped).
  virtual std::optional<UdevEvent> Receive() = 0;
};

// The system's udev monitor filtered to USB devices (devtype usb_device)
// and tty devices. Null, with the last error set, when it cannot be made.
std::unique_ptr<UdevEventSource> OpenUdevEventSource();

// True for names of serial port nodes: "tty" followed by more than a
// number (tty0..tty63 are virtual consoles), or "rfcomm...".
bool LooksLikePortName(const std::string& name);

class DeviceMonitor {
 public:
  // Watches 'devRoot' and, when given, 'udev' (without one only <dev> is
  // watched). Null, with the last error set, when <dev> cannot be watched.
  static std::unique_ptr<DeviceMonitor> Create(const std::string& devRoot, std::unique_ptr<UdevEventSource> udev);
  // The same with the system's udev monitor, where it can be made.
  static std::unique_ptr<DeviceMonitor> Create(const std::string& devRoot);

  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // Readable while a notice may be waiting (level-triggered); never blocks
  // the caller of Next().
  int Descriptor() const { return epoll_; }
  // The next notice, or nothing once every source is drained for now.
  std::optional<DeviceNotice> Next();

  // The ports known to be present in <dev> and through udev.
  const std::set<std::string>& PresentPorts() const { return present_; }

 private:
  DeviceMonitor(std::string devRoot, int epoll, int inotify, int watch, std::unique_ptr<UdevEventSource> udev);

  void ReadInotify();
  void ReadUdev();
  // An entry of <dev> was made, or renamed to 'name'.
  void EntryAppeared(const std::string& name);
  // An entry of <dev> was removed, or renamed away from 'name'.
  void EntryGone(const std::string& name);
  // inotify lost events: compare <dev> with what is known.
  void Rescan();
  void PortArrived(const std::string& name);
  void PortRemoved(const std::string& name);
  void Translate(const UdevEvent& event);

  std::string devRoot_;  // canonical
  int epoll_ = -1;
  int inotify_ = -1;
  int watch_ = -1;
  std::unique_ptr<UdevEventSource> udev_;
  std::set<std::string> present_;
  std::deque<DeviceNotice> pending_;
};

}  // namespace platform
