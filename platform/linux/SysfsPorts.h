// Which devices are serial ports on Linux: the port rules that the port
// list, the device lists and the device monitor share.
//
//  - the tty class of sysfs (<sys>/class/tty/*): an entry is a port when its
//    device is bound to a driver; a UART entry whose `type` attribute is 0 is
//    a ghost (a slot the driver reserved, with no hardware) and is skipped.
//    Bluetooth RFCOMM entries are taken as they are: they have no driver of
//    their own.
//  - symbolic links directly in <dev> that lead, within <dev>, to a
//    pseudo-terminal slave (<dev>/pts/<number>) or to a port found in sysfs:
//    virtual ports, such as a gateway simulator publishes. Hidden names do
//    not count (PortOfDevEntry below).
//
// The roots are parameters so that tests can point them at a built tree.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPortList.h"

namespace platform {

// The ports drivers registered: the sysfs entries taken, in the order the
// tty class folder gives them.
std::vector<SerialPortEntry> ListRegisteredPorts(const std::string& sysRoot = kDefaultSysRoot);

// Which entries directly in <dev> are serial ports: the one rule the port
// lists and the device monitor both follow. An entry is a port when its
// name is not hidden (no leading ".") and
//  - its name is that of a registered port (a sysfs entry that
//    ListRegisteredPorts takes): the port's own node, or
//  - it is a symbolic link that leads, every step inside <dev>, to a
//    pseudo-terminal slave (<dev>/pts/<number>) or to the node of a
//    registered port: a virtual port.
// A character node unknown to sysfs is no port, whatever its name.
struct DevPort {
  bool registered = false;      // the node of a registered port; else a virtual port
  std::filesystem::path node;   // where the port is reached: the entry itself, or the link's end
};
// What the entry 'name' directly in 'devRoot' (canonical) is by that rule;
// nothing when it is absent or no port.
std::optional<DevPort> PortOfDevEntry(const std::string& sysRoot, const std::filesystem::path& devRoot,
                                      const std::string& name);

}  // namespace platform
