// The serial ports present on the machine with their descriptions, found
// without opening any device: what the tool lists for its user.
//
// Linux: the tty class of sysfs (<sys>/class/tty/*: an entry whose device
// is bound to a driver; a UART whose `type` attribute is 0 is a ghost and
// is skipped; Bluetooth RFCOMM entries are taken as they are), then the
// symbolic links directly in <dev> that lead, within <dev>, to a
// pseudo-terminal slave or to such a port (virtual ports, "Virtual Serial
// Port"). Descriptions such as "USB Serial Port (FT232R USB UART)". The
// rules are in platform/linux/SysfsPorts.h.
//
// Windows: the present devices of the "Ports" class that the device-setup
// library lists (the library is loaded by its full path in the system
// folder), each with the port name of its device key ("PortName") and its
// device description. Only names "COM" (any letter case) followed by a
// digit are taken: printer ports and other names are passed over. The
// roots are not used.
#pragma once

#include <string>
#include <vector>

#include "platform/DeviceNames.h"

namespace platform {

struct SerialPortEntry {
  std::string name;         // "ttyUSB0", "COM5": what the port opens by
  std::string description;  // "USB Serial Port (FT232R USB UART)"; empty when unknown
};

// Present ports in the order the system gives them. Nothing sorted. A part
// of the system's sources that cannot be read adds nothing.
std::vector<SerialPortEntry> ListPresentPorts(const std::string& sysRoot = kDefaultSysRoot,
                                              const std::string& devRoot = kDefaultDevRoot);

// Present ports, sorted by name (byte order).
std::vector<SerialPortEntry> ListSerialPorts(const std::string& sysRoot = kDefaultSysRoot,
                                             const std::string& devRoot = kDefaultDevRoot);

}  // namespace platform
