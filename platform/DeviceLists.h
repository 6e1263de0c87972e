// Names of devices for the component's device lists, found without opening
// any device. Each list comes in the order the system gives it, with
// nothing sorted and nothing merged; a source that cannot be read adds
// nothing and the walk goes on with the rest.
//
// Linux reads the trees at the roots (parameters so that tests can point
// them at a built tree). Windows reads its own sources and passes over the
// roots: the MS-DOS device names (QueryDosDeviceA), the serial-port map of
// the registry (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) and the devices of the
// "Ports" class that the device-setup library knows.
#pragma once

#include <string>
#include <vector>

#include "platform/DeviceNames.h"

namespace platform {

// Every device name of the system.
// Linux: the character and block device nodes directly in <dev>, and the
// links directly in <dev> that lead, within <dev>, to such a node ("cdrom"
// for cdrom -> sr0); each opens as <dev>/<name>. Subfolders are not walked
// (pts/3, disk/by-id/... are paths, not names), and links that leave <dev>
// (stdin -> /proc/self/fd/0) are passed over, as the serial port list does.
// Windows: every MS-DOS device name ("C:", "NUL", "COM1", ...).
std::vector<std::string> DeviceNodeNames(const std::string& devRoot = kDefaultDevRoot);

// The names of the serial ports.
// Linux: the present ports as the port list finds them (registered ports,
// then <dev> links to pseudo-terminals or ports).
// Windows: the MS-DOS device names that begin with "COM" or "\\.\COM"
// (letter case as written).
std::vector<std::string> SerialPortNames(const std::string& sysRoot = kDefaultSysRoot,
                                         const std::string& devRoot = kDefaultDevRoot);

// The names of the ports drivers registered.
// Linux: sysfs only, no <dev> links.
// Windows: the port names (the text values) of the serial-port map;
// values of any other type are passed over.
std::vector<std::string> RegisteredPortNames(const std::string& sysRoot = kDefaultSysRoot);

// Friendly names of the ports, "<description> (<name>)".
// Linux: one for each present port, in the order of SerialPortNames; a
// port without a description has none.
// Windows: the friendly name of each device of the "Ports" class stored in
// the system, present or not, as stored; a device without one adds nothing.
std::vector<std::string> PortFriendlyNames(const std::string& sysRoot = kDefaultSysRoot,
                                           const std::string& devRoot = kDefaultDevRoot);

}  // namespace platform
