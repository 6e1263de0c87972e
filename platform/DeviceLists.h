// Names of devices for the component's device lists, found without opening
// any device. Each list comes in the order the system gives it (directory
// order), with nothing sorted and nothing merged; a part of the trees that
// cannot be read adds nothing and the walk goes on with the rest.
//
// The roots are parameters so that tests can point them at a built tree.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The device node names of <dev>: the character and block device nodes
// directly in <dev>, and the links directly in <dev> that lead, within
// <dev>, to such a node ("cdrom" for cdrom -> sr0). Each is a name that
// opens as <dev>/<name>. Subfolders are not walked (pts/3, disk/by-id/...
// are paths, not names), and links that leave <dev> (stdin ->
// /proc/self/fd/0) are passed over, as the serial port list does.
std::vector<std::string> DeviceNodeNames(const std::string& devRoot = "/dev");

// The names of the present serial ports, as the port list finds them
// (registered ports, then <dev> links to pseudo-terminals or ports), in
// system order.
std::vector<std::string> SerialPortNames(const std::string& sysRoot = "/sys",
                                         const std::string& devRoot = "/dev");

// The names of the ports drivers registered (sysfs only, no <dev> links).
std::vector<std::string> RegisteredPortNames(const std::string& sysRoot = "/sys");

// "<description> (<name>)" for each present port, in the order of
// SerialPortNames; a port without a description has no such name and is
// passed over.
std::vector<std::string> PortFriendlyNames(const std::string& sysRoot = "/sys",
                                           const std::string& devRoot = "/dev");

}  // namespace platform
