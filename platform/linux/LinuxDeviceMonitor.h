// The Linux device monitor (platform/DeviceMonitor.h): arrival and removal
// of USB devices and serial ports, as one descriptor to wait on and a call
// that reads the next notice.
//
// Two sources feed it:
//  - the udev monitor (USB devices and tty devices): source "udev" while
//    udevd runs, else the kernel's own messages;
//  - inotify on <dev>: nodes and symbolic links made, removed or renamed
//    directly in <dev>, and on <dev>/pts: pseudo-terminal slaves made and
//    removed. Virtual ports (a link to a pseudo-terminal slave,
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
// Which entries of <dev> are ports is what the port lists take there
// (PortOfDevEntry in platform/linux/SysfsPorts.h): the node of a port registered in
// sysfs, or a link leading, every step inside <dev>, to a pseudo-terminal
// slave (<dev>/pts/<n>) or to such a node. Hidden names (leading "."),
// character nodes unknown to sysfs and everything else pass without
// notice. The monitor keeps, for each present port, where it leads: a name
// that comes to lead elsewhere (a link renamed over by a link to another
// pseudo-terminal) is reported as a removal, then an arrival. What a link
// leads to may come or go without the link changing, so every link in
// <dev> is looked at again after each change that <dev>, <dev>/pts or udev
// reports: a link whose pseudo-terminal or port appears later arrives then,
// one whose pseudo-terminal goes is removed. A removed entry can no longer
// be resolved: its removal is reported when its name was known as a port.
// A tty device udev reports is taken by its name (LooksLikePortName).
//
// Single-threaded: create it, wait on Descriptor() and call Next() on one
// thread. The roots are parameters so tests can watch a built tree;
// the udev part is an interface so tests can feed it (udev refuses built
// /sys trees).
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/DeviceMonitor.h"

namespace platform {

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

class LinuxDeviceMonitor final : public DeviceMonitor {
 public:
  // Watches 'devRoot' and, when given, 'udev' (without one only <dev> is
  // watched); 'sysRoot' tells which nodes are registered ports. Null, with
  // the last error set, when <dev> cannot be watched.
  static std::unique_ptr<LinuxDeviceMonitor> Create(const std::string& devRoot, std::unique_ptr<UdevEventSource> udev,
                                                    const std::string& sysRoot = kDefaultSysRoot);
  // The same with the system's udev monitor, where it can be made.
  static std::unique_ptr<LinuxDeviceMonitor> CreateWithSystemUdev(const std::string& devRoot,
                                                                  const std::string& sysRoot);

  ~LinuxDeviceMonitor() override;

  // Readable while a notice may be waiting (level-triggered); never blocks
  // the caller of Next().
  int Descriptor() const override { return epoll_; }
  // Notices come through the descriptor only: no message is this monitor's.
  bool TakeMessage(const void*) override { return false; }
  // The next notice, or nothing once every source is drained for now.
  std::optional<DeviceNotice> Next() override;

  // The ports known to be present in <dev> and through udev.
  std::set<std::string> PresentPorts() const;

 private:
  LinuxDeviceMonitor(std::string sysRoot, std::filesystem::path devRoot, int epoll, int inotify, int watch, int ptsWatch,
                std::unique_ptr<UdevEventSource> udev);

  void ReadInotify();
  void ReadUdev();
  // Looks at the entry 'name' of <dev> (made, removed, renamed, or a link
  // whose end may have changed) and reports what changed for it.
  void Evaluate(const std::string& name);
  void RecheckLinks();
  // inotify lost events: look at everything in <dev> and everything known.
  void Rescan();
  void PortArrived(const std::string& name, const std::string& node);
  void PortRemoved(const std::string& name);
  void Translate(const UdevEvent& event);

  std::string sysRoot_;
  std::filesystem::path devRoot_;  // canonical
  int epoll_ = -1;
  int inotify_ = -1;
  int watch_ = -1;
  int ptsWatch_ = -1;  // <dev>/pts; -1 when it cannot be watched
  std::unique_ptr<UdevEventSource> udev_;
  std::map<std::string, std::string> present_;  // port name -> where it leads
  std::set<std::string> links_;                 // the links directly in <dev>
  std::deque<DeviceNotice> pending_;
};

}  // namespace platform
